// bench_mips: the mip level settings on generated pictures (a one-pixel
// checker, grass blades, a bumpy normal map) and on real textures.  Per
// setting it prints the PSNR of levels 1 to 4 against a reference made
// from level 0 in float, alpha coverage and mean normal length per level,
// and the time per megapixel of a whole chain against the default box.
//
// Usage: bench_mips [--reps N] [--max-mpix M] [name=folder | folder ...]
// Folders as bench_dxt takes them (default: the Debian texture packages),
// each sampled to M Mpixels (default 2).
#include "bench/corpus.h"
#include "platform/d3dx8/pixel/mip_settings.h"
#include "tools/samplegen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

using d3dx::pixel::MipFilter;
using d3dx::pixel::MipPicture;
using d3dx::pixel::MipSettings;
using d3dx::pixel::MipSpace;

constexpr int kLevels = 4;            // levels scored below level 0
constexpr std::uint8_t kTest = 128;   // the alpha test coverage is counted at

struct Setting {
    const char* name;
    MipSettings settings;
};

const Setting kColourSettings[] = {
    {"box (default)", {}},
    {"linear", {.mips = MipSpace::Linear}},
    {"kaiser", {.filter = MipFilter::Kaiser}},
    {"linear kaiser", {.mips = MipSpace::Linear, .filter = MipFilter::Kaiser}},
    {"linear kaiser wrap", {.mips = MipSpace::Linear, .filter = MipFilter::Kaiser, .wrap = true}},
    {"box coverage", {.alphaCoverage = true}},
    {"linear kaiser coverage", {.mips = MipSpace::Linear, .filter = MipFilter::Kaiser, .alphaCoverage = true}},
};
const Setting kNormalSettings[] = {
    {"box (default)", {}},
    {"normal map", {.normalMap = true}},
    {"normal map kaiser", {.filter = MipFilter::Kaiser, .normalMap = true}},
    {"normal map kaiser wrap", {.filter = MipFilter::Kaiser, .wrap = true, .normalMap = true}},
};

struct Set {
    std::string name;
    std::vector<MipPicture> pictures;
    bool normals = false;  // scored as vectors, against a vector reference
    bool real = false;     // a corpus of files, pooled into the real-world total
};

// Sums over a set's pictures for one setting.
struct Score {
    double squaredError[kLevels + 1] = {}, samples[kLevels + 1] = {};
    double covered[kLevels + 1] = {}, alphaTexels[kLevels + 1] = {};  // pictures with alpha
    double length[kLevels + 1] = {}, lengthTexels[kLevels + 1] = {};  // normal maps
    double seconds = 0, pixels = 0;
};

double SrgbToLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
double LinearToSrgb(double v) { return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055; }
std::uint8_t Byte(double v) { return static_cast<std::uint8_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0)); }

// Level k of `top` made at once in float, each texel the box of the 2^k x
// 2^k texels above it: colour in linear light (or vectors, renormalised),
// alpha as stored, then rounded to bytes.  The sides must be multiples of
// 2^k.
MipPicture Reference(const MipPicture& top, int k, bool normals)
{
    const UINT side = 1u << k, w = top.width >> k, h = top.height >> k;
    MipPicture out{w, h, std::vector<std::uint8_t>(std::size_t(w) * h * 4)};
    for (UINT y = 0; y < h; ++y)
        for (UINT x = 0; x < w; ++x) {
            double v[4] = {0, 0, 0, 0};
            for (UINT yy = y * side; yy < (y + 1) * side; ++yy)
                for (UINT xx = x * side; xx < (x + 1) * side; ++xx)
                    for (int c = 0; c < 4; ++c) {
                        const double byte = top.rgba[(std::size_t(yy) * top.width + xx) * 4 + c] / 255.0;
                        v[c] += c == 3 ? byte : normals ? 2 * byte - 1 : SrgbToLinear(byte);
                    }
            std::uint8_t* t = &out.rgba[(std::size_t(y) * w + x) * 4];
            const double length = std::max(1e-9, std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
            for (int c = 0; c < 3; ++c)
                t[c] = Byte(255 * (normals ? (v[c] / length + 1) / 2 : LinearToSrgb(v[c] / side / side)));
            t[3] = Byte(255 * v[3] / side / side);
        }
    return out;
}

// Seconds per chain: the fastest of `reps` batches of at least 2 ms.
double FastestChain(const MipSettings& settings, const MipPicture& top, int reps)
{
    double fastest = 1e30;
    int batch = 1;
    for (int rep = 0; rep <= reps; ++rep) {
        const double start = bench::ThreadSeconds();
        for (int k = 0; k < batch; ++k)
            d3dx::pixel::MipBuildChain(settings, top, kLevels);
        const double seconds = (bench::ThreadSeconds() - start) / batch;
        if (rep == 0)
            batch = static_cast<int>(std::clamp(2e-3 / std::max(seconds, 1e-9), 1.0, 1e4));
        fastest = std::min(fastest, seconds);
    }
    return fastest;
}

void Measure(const Set& set, const MipSettings& settings, int reps, Score& score)
{
    for (const MipPicture& top : set.pictures) {
        const std::vector<MipPicture> chain = d3dx::pixel::MipBuildChain(settings, top, kLevels);
        bool alpha = false;
        for (std::size_t i = 3; i < top.rgba.size() && !alpha; i += 4)
            alpha = top.rgba[i] != 255;
        for (int k = 0; k <= static_cast<int>(chain.size()); ++k) {
            const MipPicture& level = k == 0 ? top : chain[k - 1];
            const double texels = double(level.width) * level.height;
            if (alpha) {
                score.covered[k] += d3dx::pixel::MipAlphaCoverage(level, kTest) * texels;
                score.alphaTexels[k] += texels;
            }
            for (std::size_t i = 0; set.normals && i < level.rgba.size(); i += 4) {
                double squares = 0;
                for (int c = 0; c < 3; ++c)
                    squares += std::pow(2.0 * level.rgba[i + c] / 255 - 1, 2);
                score.length[k] += std::sqrt(squares);
                score.lengthTexels[k] += 1;
            }
            // Levels whose texels do not each cover a whole 2^k x 2^k box
            // of level 0 are not scored.
            if (k == 0 || top.width % (1u << k) != 0 || top.height % (1u << k) != 0)
                continue;
            const MipPicture reference = Reference(top, k, set.normals);
            for (std::size_t i = 0; i < level.rgba.size(); ++i)
                if (i % 4 != 3) {
                    const double d = double(level.rgba[i]) - reference.rgba[i];
                    score.squaredError[k] += d * d;
                    score.samples[k] += 1;
                }
        }
        score.seconds += FastestChain(settings, top, reps);
        score.pixels += double(top.width) * top.height;
    }
}

MipPicture FromSample(const samplegen::Image& image)
{
    MipPicture p{UINT(image.width), UINT(image.height), {}};
    for (const samplegen::Rgba& t : image.pixels)
        p.rgba.insert(p.rgba.end(), {t.r, t.g, t.b, t.a});
    return p;
}

std::vector<Set> LoadSets(const std::vector<std::string>& folders, double maxPixels)
{
    MipPicture checker{256, 256, {}};
    for (UINT y = 0; y < 256; ++y)
        for (UINT x = 0; x < 256; ++x) {
            const std::uint8_t v = (x + y) % 2 ? 255 : 0;
            checker.rgba.insert(checker.rgba.end(), {v, v, v, 255});
        }
    std::vector<Set> sets = {
        {"one-pixel checker 256x256", {checker}},
        {"grass blades 256x256", {FromSample(samplegen::MakeGrassBlades(256, 256, 4))}},
        {"bumpy normal map 256x256", {FromSample(samplegen::MakeBumpyNormals(256, 256, 5))}, true}};
    for (const auto& [name, folder] : bench::CorpusFolders(folders, "bench_mips")) {
        Set set{name, {}, false, true};
        for (bench::Picture& p : bench::LoadPictures(folder, maxPixels))
            set.pictures.push_back({p.width, p.height, std::move(p.rgba)});
        if (!set.pictures.empty())
            sets.push_back(std::move(set));
    }
    return sets;
}

std::string Row(const double* sums, const double* counts, int first, const char* format)
{
    std::string text;
    for (int k = first; k <= kLevels; ++k) {
        char cell[32] = "-";
        if (counts[k] > 0)
            std::snprintf(cell, sizeof cell, format, sums[k] / counts[k]);
        text += (k > first ? " " : "") + std::string(cell);
    }
    return text;
}

void PrintTable(const char* title, const Setting* settings, std::size_t count, const Score* scores)
{
    std::printf("\n%s\n\n| setting | PSNR L1 L2 L3 L4 (dB) | coverage L0 L1 L2 L3 L4 (%%) | normal length L0 L1 L2 L3 "
                "L4 | ms/Mpix | x box |\n|---|---|---|---|---:|---:|\n",
                title);
    for (std::size_t s = 0; s < count; ++s) {
        const Score& r = scores[s];
        double psnr[kLevels + 1] = {}, percent[kLevels + 1] = {}, ones[kLevels + 1] = {};
        for (int k = 1; k <= kLevels; ++k) {
            ones[k] = r.samples[k] > 0;
            psnr[k] = r.squaredError[k] > 0 ? 10 * std::log10(255.0 * 255.0 * r.samples[k] / r.squaredError[k]) : 99;
        }
        for (int k = 0; k <= kLevels; ++k)
            percent[k] = 100 * r.covered[k];
        std::printf("| %s | %s | %s | %s | %.2f | %.2f |\n", settings[s].name, Row(psnr, ones, 1, "%.2f").c_str(),
                    Row(percent, r.alphaTexels, 0, "%.1f").c_str(), Row(r.length, r.lengthTexels, 0, "%.3f").c_str(),
                    1e3 * r.seconds / (r.pixels / 1e6), r.seconds / scores[0].seconds);
    }
}

} // namespace

int main(int argc, char** argv)
{
    bench::CorpusOptions options;
    options.maxMpix = 2;
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (bench::TakeCorpusOption(argc, argv, i, options))
            continue;
        if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "usage: bench_mips [--reps N] [--max-mpix M] [name=folder | folder ...]\n");
            return 2;
        }
        folders.push_back(arg);
    }
    const std::vector<Set> sets = LoadSets(folders, options.maxMpix * 1e6);
    char date[64];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    std::printf("bench_mips  %s  levels 1-%d against a float reference from level 0; coverage at alpha %d; "
                "time per chain the fastest of %d batches, one thread\n",
                date, kLevels, kTest, options.reps);

    std::vector<Score> real(std::size(kColourSettings));
    for (const Set& set : sets) {
        const Setting* settings = set.normals ? kNormalSettings : kColourSettings;
        const std::size_t count = set.normals ? std::size(kNormalSettings) : std::size(kColourSettings);
        std::vector<Score> scores(count);
        for (std::size_t s = 0; s < count; ++s)
            Measure(set, settings[s].settings, options.reps, scores[s]);
        const std::string title = set.name + " (" + std::to_string(set.pictures.size()) + " pictures)";
        PrintTable(title.c_str(), settings, count, scores.data());
        for (std::size_t s = 0; set.real && s < count; ++s) {
            Score& total = real[s];
            for (int k = 0; k <= kLevels; ++k) {
                total.squaredError[k] += scores[s].squaredError[k], total.samples[k] += scores[s].samples[k];
                total.covered[k] += scores[s].covered[k], total.alphaTexels[k] += scores[s].alphaTexels[k];
            }
            total.seconds += scores[s].seconds, total.pixels += scores[s].pixels;
        }
    }
    if (std::any_of(sets.begin(), sets.end(), [](const Set& set) { return set.real; }))
        PrintTable("all real-world corpora", kColourSettings, real.size(), real.data());
    return 0;
}
