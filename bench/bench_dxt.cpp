// bench_dxt: speed and quality of the project's DXT encoder beside the
// packaged peers, on one thread, in one run.
//
// Usage: bench_dxt [--reps N] [--no-iterative] [--only a,b] [--path scalar|sse2|avx2] [folder...]
// --only keeps the encoders whose names contain one of the given words.
// Without folders it reads the folders bench/install-corpus.sh installs.
// DXT1 is scored on the opaque pictures (RGB PSNR), DXT5 on all of them
// (RGBA PSNR); every result is decoded by the project's decoder.
#include "corpus.h"
#include "dxt.h"
#include "peers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <time.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using bench::Picture;

struct Encoder {
    std::string name;
    std::function<void(const Picture&, bool dxt5, std::uint8_t* blocks)> encode;
};

struct Result {
    double seconds = 1e300;  // fastest repetition
    double squaredError = 0;
    double samples = 0;
};

std::vector<Encoder> Encoders(bool iterative)
{
    std::vector<Encoder> list;
    const std::pair<const char*, dxt::Quality> ours[] = {
        {"ours Fast", dxt::Quality::Fast}, {"ours Normal", dxt::Quality::Normal}, {"ours Highest", dxt::Quality::Highest}};
    for (const auto& [name, quality] : ours)
        list.push_back({name, [quality](const Picture& p, bool dxt5, std::uint8_t* blocks) {
                            dxt::EncodeOptions options;
                            options.quality = quality;
                            const std::size_t pitch = (p.width / 4) * (dxt5 ? 16 : 8);
                            dxt::EncodeImage(dxt5 ? D3DFMT_DXT5 : D3DFMT_DXT1, p.rgba.data(), p.width, p.height,
                                             std::size_t{p.width} * 4, blocks, pitch, options);
                        }});
    const std::pair<const char*, bench::Peer> peers[] = {{"squish cluster fit", bench::Peer::SquishCluster},
                                                         {"squish iterative cluster fit", bench::Peer::SquishIterative},
                                                         {"stb_dxt normal", bench::Peer::StbNormal},
                                                         {"stb_dxt highqual", bench::Peer::StbHigh}};
    for (const auto& [name, peer] : peers) {
        if (peer == bench::Peer::SquishIterative && !iterative)
            continue;
        list.push_back({name, [peer](const Picture& p, bool dxt5, std::uint8_t* blocks) {
                            bench::PeerEncode(peer, dxt5, p.rgba.data(), p.width, p.height, blocks);
                        }});
    }
    return list;
}

// Squared error over the picture's RGB (DXT1) or RGBA (DXT5).
double DecodedError(const Picture& p, bool dxt5, const std::vector<std::uint8_t>& blocks,
                    std::vector<std::uint8_t>& scratch)
{
    const D3DFORMAT format = dxt5 ? D3DFMT_DXT5 : D3DFMT_DXT1;
    scratch.resize(p.rgba.size());
    dxt::DecodeImage(format, blocks.data(), (p.width / 4) * dxt::BlockBytes(format), p.width, p.height,
                     scratch.data(), std::size_t{p.width} * 4);
    double error = 0;
    for (std::size_t i = 0; i < scratch.size(); ++i) {
        if (!dxt5 && i % 4 == 3)
            continue;
        const double d = double(scratch[i]) - p.rgba[i];
        error += d * d;
    }
    return error;
}

// CPU time of this thread: the machine is shared, and time spent waiting
// for a core is not the encoder's.
double ThreadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

std::string CpuName()
{
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("model name", 0) == 0)
            return line.substr(line.find(':') + 2);
    return "unknown CPU";
}

const char* PathName(dxt::Path p)
{
    switch (p) {
    case dxt::Path::Scalar: return "scalar";
    case dxt::Path::Sse2: return "sse2";
    case dxt::Path::Avx2: return "avx2";
    default: return "auto";
    }
}

// Sides cropped to multiples of 4, so every encoder sees whole blocks.
void CropToBlocks(Picture& p)
{
    const std::uint32_t w = p.width & ~3u, h = p.height & ~3u;
    std::vector<std::uint8_t> rgba(std::size_t{w} * h * 4);
    for (std::uint32_t y = 0; y < h; ++y)
        std::memcpy(&rgba[std::size_t{y} * w * 4], &p.rgba[std::size_t{y} * p.width * 4], std::size_t{w} * 4);
    p.width = w;
    p.height = h;
    p.rgba.swap(rgba);
}

} // namespace

int main(int argc, char** argv)
{
    int reps = 3;
    bool iterative = true;
    std::string only;
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--reps" && i + 1 < argc)
            reps = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--no-iterative")
            iterative = false;
        else if (arg == "--only" && i + 1 < argc)
            only = argv[++i];
        else if (arg == "--path" && i + 1 < argc) {
            const std::string name = argv[++i];
            const dxt::Path p = name == "scalar" ? dxt::Path::Scalar : name == "sse2" ? dxt::Path::Sse2 : dxt::Path::Avx2;
            if (!dxt::SetPath(p)) {
                std::fprintf(stderr, "bench_dxt: path %s not available\n", name.c_str());
                return 2;
            }
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "usage: bench_dxt [--reps N] [--no-iterative] [--only a,b] [--path scalar|sse2|avx2] "
                                 "[folder...]\n");
            return 2;
        } else
            folders.push_back(arg);
    }
    if (folders.empty())
        for (const char* f : {"/usr/share/games/etr/terrains", "/usr/share/games/extremetuxracer/terrains",
                              "/usr/share/games/etr/objects", "/usr/share/games/extremetuxracer/objects"})
            if (std::filesystem::is_directory(f))
                folders.push_back(f);

    std::vector<Picture> pictures = bench::GeneratedPictures();
    std::size_t loaded = 0;
    for (const auto& folder : folders) {
        auto more = bench::LoadPngFolder(folder);
        loaded += more.size();
        for (auto& p : more)
            pictures.push_back(std::move(p));
    }
    for (auto& p : pictures)
        CropToBlocks(p);
    std::erase_if(pictures, [](const Picture& p) { return p.width == 0 || p.height == 0; });
    if (loaded == 0)
        std::fprintf(stderr, "bench_dxt: no PNG files found (run bench/install-corpus.sh); generated pictures only\n");

    double pixels[2] = {0, 0};
    std::size_t counts[2] = {0, 0};
    for (const auto& p : pictures)
        for (int f = 0; f < 2; ++f)
            if (f == 1 || p.opaque) {
                pixels[f] += double(p.width) * p.height;
                ++counts[f];
            }

    auto encoders = Encoders(iterative);
    if (!only.empty())
        std::erase_if(encoders, [&](const Encoder& e) {
            std::size_t start = 0;
            while (start <= only.size()) {
                const std::size_t end = std::min(only.find(',', start), only.size());
                if (e.name.find(only.substr(start, end - start)) != std::string::npos)
                    return false;
                start = end + 1;
            }
            return true;
        });
    std::vector<Result> results(encoders.size() * 2);
    std::vector<std::uint8_t> blocks, scratch;
    for (int rep = 0; rep < reps; ++rep) {
        for (std::size_t e = 0; e < encoders.size(); ++e) {
            for (int f = 0; f < 2; ++f) {
                const bool dxt5 = f == 1;
                Result& r = results[e * 2 + f];
                double seconds = 0, error = 0, samples = 0;
                for (const auto& p : pictures) {
                    if (!dxt5 && !p.opaque)
                        continue;
                    blocks.assign(std::size_t{p.width / 4} * (p.height / 4) * (dxt5 ? 16 : 8), 0);
                    const double start = ThreadSeconds();
                    encoders[e].encode(p, dxt5, blocks.data());
                    seconds += ThreadSeconds() - start;
                    if (rep == 0) {
                        error += DecodedError(p, dxt5, blocks, scratch);
                        samples += double(p.width) * p.height * (dxt5 ? 4 : 3);
                    }
                }
                r.seconds = std::min(r.seconds, seconds);
                if (rep == 0) {
                    r.squaredError = error;
                    r.samples = samples;
                }
            }
        }
    }

    char date[64];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    std::printf("bench_dxt  %s  %s  path %s  fastest of %d runs, one thread, thread CPU time\n", date, CpuName().c_str(),
                PathName(dxt::ActivePath()), reps);
    std::printf("corpus: %zu pictures (%zu PNG files); DXT1 on %zu opaque ones (%.2f Mpixels), DXT5 on all %zu "
                "(%.2f Mpixels)\n\n",
                pictures.size(), loaded, counts[0], pixels[0] / 1e6, counts[1], pixels[1] / 1e6);
    std::printf("| encoder | DXT1 Mpix/s | DXT1 RGB PSNR | DXT5 Mpix/s | DXT5 RGBA PSNR |\n");
    std::printf("|---|---:|---:|---:|---:|\n");
    auto psnr = [](const Result& r) {
        return r.squaredError > 0 ? 10 * std::log10(255.0 * 255.0 * r.samples / r.squaredError) : 99.0;
    };
    for (std::size_t e = 0; e < encoders.size(); ++e) {
        const Result& d1 = results[e * 2];
        const Result& d5 = results[e * 2 + 1];
        std::printf("| %s | %.2f | %.3f | %.2f | %.3f |\n", encoders[e].name.c_str(), pixels[0] / d1.seconds / 1e6,
                    psnr(d1), pixels[1] / d5.seconds / 1e6, psnr(d5));
    }
    auto find = [&](const char* name) {
        for (std::size_t e = 0; e < encoders.size(); ++e)
            if (encoders[e].name == name)
                return e;
        return encoders.size();
    };
    const std::size_t normal = find("ours Normal"), squish = find("squish cluster fit"), stb = find("stb_dxt normal");
    if (normal == encoders.size() || squish == encoders.size() || stb == encoders.size())
        return 0;
    std::printf("\nours Normal vs squish cluster fit: DXT1 %+.3f dB, DXT5 %+.3f dB\n",
                psnr(results[normal * 2]) - psnr(results[squish * 2]),
                psnr(results[normal * 2 + 1]) - psnr(results[squish * 2 + 1]));
    std::printf("ours Normal vs stb_dxt normal speed: DXT1 x%.2f, DXT5 x%.2f\n",
                results[stb * 2].seconds / results[normal * 2].seconds,
                results[stb * 2 + 1].seconds / results[normal * 2 + 1].seconds);
    return 0;
}
