// bench_dxt: speed and quality of the project's DXT encoder beside the
// packaged peers, on one thread, in one run, per corpus.
//
// Usage: bench_dxt [--reps N] [--max-mpix M] [--iterative] [--only a,b] [--path scalar|sse2|avx2]
//                  [name=folder | folder ...]
// Each folder is one corpus (searched recursively, sampled to M Mpixels,
// default 4); without folders it reads the Debian texture packages that
// bench/install-corpus.sh and bench/install-realworld.sh install.  The
// generated pictures are always a corpus of their own.  --only keeps the
// encoders whose names contain one of the given words; --iterative adds
// libsquish's iterative cluster fit (slow).  DXT1 is scored on the opaque
// pictures (RGB PSNR), DXT5 on all of them (RGBA PSNR); every result is
// decoded by the project's decoder.
#include "bench/corpus.h"
#include "bench/peers.h"
#include "platform/d3dx8/dxt/dxt.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
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
    double seconds = 0;  // each picture's fastest encode, summed
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

// An encode longer than this is not repeated; shorter ones are repeated in
// batches of at least kBatch seconds, as the clock costs about a
// microsecond a reading and a small picture encodes in a few.
constexpr double kRepeatAbove = 0.5;
constexpr double kBatch = 2e-3;

// Seconds per encode of one picture: the fastest of `reps` batches.  The
// minimum of each picture, taken within milliseconds, leaves out the bursts
// of a shared machine that a minimum over whole runs of a corpus keeps.
double FastestEncode(const Encoder& encoder, const Picture& p, bool dxt5, std::uint8_t* blocks, int reps)
{
    double start = bench::ThreadSeconds();
    encoder.encode(p, dxt5, blocks);
    double fastest = bench::ThreadSeconds() - start;
    if (fastest > kRepeatAbove)
        return fastest;
    const int batch = static_cast<int>(std::clamp(kBatch / std::max(fastest, 1e-9), 1.0, 1e4));
    for (int rep = 0; rep < reps; ++rep) {
        start = bench::ThreadSeconds();
        for (int k = 0; k < batch; ++k)
            encoder.encode(p, dxt5, blocks);
        fastest = std::min(fastest, (bench::ThreadSeconds() - start) / batch);
    }
    return fastest;
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

struct Corpus {
    std::string name;
    std::vector<Picture> pictures;
    double pixels[2] = {0, 0};  // DXT1 (opaque pictures), DXT5 (all)
    std::size_t counts[2] = {0, 0};
};

// Formats: 0 is DXT1 on the opaque pictures, 1 is DXT5 on all.
bool Scored(const Picture& p, int format) { return format == 1 || p.opaque; }

double Psnr(const Result& r)
{
    return r.squaredError > 0 ? 10 * std::log10(255.0 * 255.0 * r.samples / r.squaredError) : 99.0;
}

Result Pooled(const std::vector<Result>& results, std::size_t stride, std::size_t first, std::size_t count)
{
    Result total;
    total.seconds = 0;
    for (std::size_t c = 0; c < count; ++c) {
        const Result& r = results[first + c * stride];
        total.seconds += r.seconds;
        total.squaredError += r.squaredError;
        total.samples += r.samples;
    }
    return total;
}

std::vector<Corpus> LoadCorpora(const std::vector<std::string>& args, double maxPixels)
{
    const auto named = bench::CorpusFolders(args, "bench_dxt");
    std::vector<Corpus> corpora(1);
    corpora[0].name = "generated";
    corpora[0].pictures = bench::GeneratedPictures();
    for (const auto& [name, folder] : named) {
        Corpus c;
        c.name = name;
        c.pictures = bench::LoadPictures(folder, maxPixels);
        if (c.pictures.empty()) {
            std::fprintf(stderr, "bench_dxt: no pictures in %s\n", folder.c_str());
            continue;
        }
        corpora.push_back(std::move(c));
    }
    for (auto& c : corpora)
        for (const auto& p : c.pictures)
            for (int f = 0; f < 2; ++f)
                if (Scored(p, f)) {
                    c.pixels[f] += double(p.width) * p.height;
                    ++c.counts[f];
                }
    return corpora;
}

// Seconds after which an encoder's runs are not repeated: the slow peers
// are timed once, which is plenty at their speed.


// The encoder's targets beside the peers, per corpus: margins in dB and
// speed ratios.
struct Bar {
    const char* what;
    const char* ours;
    const char* peer;
    bool speed;      // a speed ratio (peer seconds / ours), else a PSNR margin
    double minimum;  // the bar: ratio at least, or margin at least (above, when 0)
};
constexpr Bar kBars[] = {
    {"Normal-squish dB", "ours Normal", "squish cluster fit", false, 0.03},
    {"Normal/stb speed", "ours Normal", "stb_dxt normal", true, 1.0},
    {"Highest-squish dB", "ours Highest", "squish cluster fit", false, 0.12},
    {"Highest/squish speed", "ours Highest", "squish cluster fit", true, 2.0},
    {"Fast/stb speed", "ours Fast", "stb_dxt normal", true, 3.0},
    {"Fast-stb dB", "ours Fast", "stb_dxt normal", false, 0.0},
};

} // namespace

int main(int argc, char** argv)
{
    bench::CorpusOptions options;
    bool iterative = false;
    std::string only;
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (bench::TakeCorpusOption(argc, argv, i, options))
            continue;
        if (arg == "--iterative")
            iterative = true;
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
            std::fprintf(stderr, "usage: bench_dxt [--reps N] [--max-mpix M] [--iterative] [--only a,b] "
                                 "[--path scalar|sse2|avx2] [name=folder | folder ...]\n");
            return 2;
        } else
            folders.push_back(arg);
    }
    const std::vector<Corpus> corpora = LoadCorpora(folders, options.maxMpix * 1e6);

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
    // results[(c * encoders + e) * 2 + format]
    const std::size_t rowStride = encoders.size() * 2;
    std::vector<Result> results(corpora.size() * rowStride);
    // Each picture goes through every encoder in turn, so that a slow spell
    // of the machine falls on all of them alike.
    std::vector<std::uint8_t> blocks, scratch;
    for (std::size_t c = 0; c < corpora.size(); ++c) {
        for (int f = 0; f < 2; ++f) {
            const bool dxt5 = f == 1;
            for (const auto& p : corpora[c].pictures) {
                if (!Scored(p, f))
                    continue;
                for (std::size_t e = 0; e < encoders.size(); ++e) {
                    Result& r = results[c * rowStride + e * 2 + f];
                    blocks.assign(std::size_t{p.width / 4} * (p.height / 4) * (dxt5 ? 16 : 8), 0);
                    r.seconds += FastestEncode(encoders[e], p, dxt5, blocks.data(), options.reps);
                    r.squaredError += DecodedError(p, dxt5, blocks, scratch);
                    r.samples += double(p.width) * p.height * (dxt5 ? 4 : 3);
                }
            }
        }
    }

    char date[64];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    std::printf("bench_dxt  %s  %s  path %s  per picture the fastest of %d batches of encodes (none above %.1f s), "
                "one thread, thread CPU time\n\n",
                date, CpuName().c_str(), PathName(dxt::ActivePath()), options.reps, kRepeatAbove);
    std::printf("| corpus | pictures | DXT1 on | DXT5 on |\n|---|---:|---:|---:|\n");
    for (const auto& c : corpora)
        std::printf("| %s | %zu | %zu opaque, %.2f Mpix | %zu, %.2f Mpix |\n", c.name.c_str(), c.pictures.size(),
                    c.counts[0], c.pixels[0] / 1e6, c.counts[1], c.pixels[1] / 1e6);

    // One table per corpus, then the total over all of them.
    const std::size_t total = corpora.size();
    auto row = [&](std::size_t c, std::size_t e, int f) {
        return c == total ? Pooled(results, rowStride, e * 2 + f, corpora.size()) : results[c * rowStride + e * 2 + f];
    };
    auto pixels = [&](std::size_t c, int f) {
        double sum = 0;
        for (std::size_t k = 0; k < corpora.size(); ++k)
            if (c == total || c == k)
                sum += corpora[k].pixels[f];
        return sum;
    };
    auto cell = [&](std::size_t c, std::size_t e, int f, bool speed) {
        char text[32];
        const Result r = row(c, e, f);
        if (r.samples == 0)
            return std::string("-");
        std::snprintf(text, sizeof text, speed ? "%.2f" : "%.3f", speed ? pixels(c, f) / r.seconds / 1e6 : Psnr(r));
        return std::string(text);
    };
    for (std::size_t c = 0; c <= total; ++c) {
        std::printf("\n%s\n\n| encoder | DXT1 Mpix/s | DXT1 RGB PSNR | DXT5 Mpix/s | DXT5 RGBA PSNR |\n"
                    "|---|---:|---:|---:|---:|\n",
                    c == total ? "all corpora" : corpora[c].name.c_str());
        for (std::size_t e = 0; e < encoders.size(); ++e)
            std::printf("| %s | %s | %s | %s | %s |\n", encoders[e].name.c_str(), cell(c, e, 0, true).c_str(),
                        cell(c, e, 0, false).c_str(), cell(c, e, 1, true).c_str(), cell(c, e, 1, false).c_str());
    }

    // The bars, per corpus: "!" marks a value below its bar.
    auto find = [&](const char* name) {
        for (std::size_t e = 0; e < encoders.size(); ++e)
            if (encoders[e].name == name)
                return e;
        return encoders.size();
    };
    std::printf("\nbars (DXT1 / DXT5; ! marks a miss)\n\n| corpus |");
    for (const Bar& bar : kBars)
        std::printf(" %s (%s%.2f) |", bar.what, bar.speed ? "x" : bar.minimum > 0 ? "+" : ">", bar.minimum);
    std::printf("\n|---|");
    for (std::size_t b = 0; b < std::size(kBars); ++b)
        std::printf("---:|");
    std::printf("\n");
    int misses = 0;
    for (std::size_t c = 0; c <= total; ++c) {
        std::printf("| %s |", c == total ? "all corpora" : corpora[c].name.c_str());
        for (const Bar& bar : kBars) {
            const std::size_t ours = find(bar.ours), peer = find(bar.peer);
            for (int f = 0; f < 2; ++f) {
                const Result a = ours < encoders.size() ? row(c, ours, f) : Result{};
                const Result b = peer < encoders.size() ? row(c, peer, f) : Result{};
                if (a.samples == 0 || b.samples == 0) {
                    std::printf(f == 0 ? " - /" : " - |");
                    continue;
                }
                const double value = bar.speed ? b.seconds / a.seconds : Psnr(a) - Psnr(b);
                const bool miss = bar.minimum > 0 ? value < bar.minimum : value <= bar.minimum;
                misses += miss;
                std::printf(bar.speed ? " %.2f%s" : " %+.3f%s", value, miss ? "!" : "");
                std::printf(f == 0 ? " /" : " |");
            }
        }
        std::printf("\n");
    }
    std::printf("\n%d values below their bars\n", misses);
    return 0;
}
