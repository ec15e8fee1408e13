#include "bench/corpus.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_FAILURE_USERMSG
#include <stb_image.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <time.h>
#include <tuple>

namespace bench {

namespace {

constexpr std::uint32_t kMaxSide = 1024;

// The picture's top-left part, sides multiples of 4 and at most kMaxSide.
void Crop(Picture& p, const std::uint8_t* rgba, std::uint32_t width)
{
    p.rgba.resize(std::size_t{p.width} * p.height * 4);
    for (std::uint32_t y = 0; y < p.height; ++y)
        std::memcpy(&p.rgba[std::size_t{y} * p.width * 4], rgba + std::size_t{y} * width * 4, std::size_t{p.width} * 4);
    p.opaque = true;
    for (std::size_t i = 3; i < p.rgba.size(); i += 4)
        p.opaque = p.opaque && p.rgba[i] == 255;
}

std::uint32_t Side(int side) { return std::min<std::uint32_t>(static_cast<std::uint32_t>(side), kMaxSide) & ~3u; }

std::uint64_t PathHash(const std::string& text)
{
    std::uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (const unsigned char c : text)
        h = (h ^ c) * 1099511628211ull;
    return h;
}

// Smooth random field in [0, 1): bilinear value noise summed over octaves.
class ValueNoise {
public:
    explicit ValueNoise(unsigned seed) : values_(256 * 256)
    {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        for (float& v : values_)
            v = unit(rng);
    }
    float At(float x, float y, int octaves) const
    {
        float sum = 0, amplitude = 0.5f, total = 0;
        for (int o = 0; o < octaves; ++o, x *= 2, y *= 2, amplitude *= 0.5f) {
            sum += amplitude * Lattice(x, y);
            total += amplitude;
        }
        return sum / total;
    }

private:
    std::vector<float> values_;
    float Value(int x, int y) const { return values_[(y & 255) * 256 + (x & 255)]; }
    float Lattice(float x, float y) const
    {
        const int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y));
        const float fx = x - ix, fy = y - iy;
        const float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
        const float top = Value(ix, iy) + sx * (Value(ix + 1, iy) - Value(ix, iy));
        const float bottom = Value(ix, iy + 1) + sx * (Value(ix + 1, iy + 1) - Value(ix, iy + 1));
        return top + sy * (bottom - top);
    }
};

std::uint8_t Byte(float v) { return static_cast<std::uint8_t>(std::clamp(v, 0.0f, 255.0f) + 0.5f); }

Picture Blank(const char* name, std::uint32_t size)
{
    Picture p;
    p.name = name;
    p.width = p.height = size;
    p.rgba.assign(std::size_t{size} * size * 4, 255);
    return p;
}

// A size x size picture whose texels `paint` sets (RGBA, starting white).
template <class Paint_>
Picture Paint(const char* name, std::uint32_t size, bool opaque, Paint_ paint)
{
    Picture p = Blank(name, size);
    for (std::uint32_t y = 0; y < size; ++y)
        for (std::uint32_t x = 0; x < size; ++x)
            paint(x, y, &p.rgba[(std::size_t{y} * size + x) * 4]);
    p.opaque = opaque;
    return p;
}

} // namespace

std::vector<Picture> LoadPictures(const std::string& folder, double maxPixels)
{
    struct Candidate {
        std::uint64_t order;
        std::string path, relative;
    };
    std::vector<Candidate> files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::string ext = it->path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        if (it->is_regular_file() && (ext == ".png" || ext == ".jpg" || ext == ".jpeg" || ext == ".tga" || ext == ".bmp")) {
            std::string relative = it->path().lexically_relative(folder).string();
            files.push_back({PathHash(relative), it->path().string(), std::move(relative)});
        }
    }
    std::sort(files.begin(), files.end(),
              [](const Candidate& a, const Candidate& b) { return std::tie(a.order, a.path) < std::tie(b.order, b.path); });
    std::vector<Picture> pictures;
    double pixels = 0;
    for (const auto& file : files) {
        if (pixels >= maxPixels)
            break;
        int width = 0, height = 0, channels = 0;
        std::uint8_t* rgba = stbi_load(file.path.c_str(), &width, &height, &channels, 4);
        if (!rgba) {
            std::fprintf(stderr, "bench_dxt: cannot read %s (%s)\n", file.path.c_str(), stbi_failure_reason());
            continue;
        }
        Picture p;
        p.name = file.relative;
        p.width = Side(width);
        p.height = Side(height);
        if (p.width != 0 && p.height != 0)
            Crop(p, rgba, static_cast<std::uint32_t>(width));
        stbi_image_free(rgba);
        if (p.rgba.empty())
            continue;
        pixels += double(p.width) * p.height;
        pictures.push_back(std::move(p));
    }
    return pictures;
}

std::vector<std::pair<std::string, std::string>> CorpusFolders(const std::vector<std::string>& args,
                                                               const char* program)
{
    std::vector<std::pair<std::string, std::string>> named;
    for (const auto& arg : args) {
        const std::size_t eq = arg.find('=');
        if (eq != std::string::npos)
            named.emplace_back(arg.substr(0, eq), arg.substr(eq + 1));
        else
            named.emplace_back(std::filesystem::path(arg).filename().string(), arg);
    }
    if (args.empty()) {
        const std::pair<const char*, const char*> packages[] = {
            {"etr terrains", "/usr/share/games/etr/terrains"}, {"etr objects", "/usr/share/games/etr/objects"},
            {"neverball", "/usr/share/games/neverball"},       {"minetest", "/usr/share/games/minetest"},
            {"freegish", "/usr/share/games/freegish"},         {"gl-117", "/usr/share/games/gl-117"},
            {"billard-gl", "/usr/share/games/billard-gl"},     {"csmash", "/usr/share/games/csmash"}};
        for (const auto& [name, folder] : packages)
            if (std::filesystem::is_directory(folder))
                named.emplace_back(name, folder);
        if (named.empty())
            std::fprintf(stderr, "%s: no texture packages found (run bench/install-corpus.sh and "
                                 "bench/install-realworld.sh); generated pictures only\n", program);
    }
    return named;
}

bool TakeCorpusOption(int argc, char** argv, int& i, CorpusOptions& options)
{
    const std::string arg = argv[i];
    if (i + 1 >= argc || (arg != "--reps" && arg != "--max-mpix"))
        return false;
    if (arg == "--reps")
        options.reps = std::max(1, std::atoi(argv[++i]));
    else
        options.maxMpix = std::max(0.001, std::atof(argv[++i]));
    return true;
}

double ThreadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

std::vector<Picture> GeneratedPictures()
{
    std::vector<Picture> out;
    const std::uint32_t n = 256;
    // Grass and rock: two tinted noise layers mixed by a third.
    const ValueNoise grassNoise(1), rockNoise(2), mixNoise(3);
    out.push_back(Paint("gen-terrain", n, true, [&](std::uint32_t x, std::uint32_t y, std::uint8_t* t) {
        const float u = x / 16.0f, v = y / 16.0f;
        const float grass = grassNoise.At(u * 2, v * 2, 5), rock = rockNoise.At(u, v, 6);
        const float m = std::clamp((mixNoise.At(u / 4, v / 4, 3) - 0.45f) * 6, 0.0f, 1.0f);
        t[0] = Byte((1 - m) * (60 + 80 * grass) + m * (110 + 100 * rock));
        t[1] = Byte((1 - m) * (100 + 110 * grass) + m * (105 + 95 * rock));
        t[2] = Byte((1 - m) * (30 + 40 * grass) + m * (100 + 90 * rock));
    }));
    {
        // Flat-shaded shapes with hard edges, as in signs and user interfaces.
        Picture p = Blank("gen-shapes", n);
        std::mt19937 rng(4);
        for (int s = 0; s < 40; ++s) {
            const int cx = static_cast<int>(rng() % n), cy = static_cast<int>(rng() % n);
            const int r = 8 + static_cast<int>(rng() % 40);
            const std::uint8_t c[3] = {static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                                       static_cast<std::uint8_t>(rng())};
            const bool disc = rng() & 1;
            for (int y = std::max(0, cy - r); y < std::min<int>(n, cy + r); ++y)
                for (int x = std::max(0, cx - r); x < std::min<int>(n, cx + r); ++x)
                    if (!disc || (x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r)
                        std::copy(c, c + 3, &p.rgba[(std::size_t(y) * n + x) * 4]);
        }
        out.push_back(std::move(p));
    }
    // Sky-like gradients: smooth, where banding shows.
    const ValueNoise clouds(5);
    out.push_back(Paint("gen-gradient", n, true, [&](std::uint32_t x, std::uint32_t y, std::uint8_t* t) {
        const float c = clouds.At(x / 40.0f, y / 40.0f, 4);
        t[0] = Byte(40 + 0.5f * y + 120 * c);
        t[1] = Byte(90 + 0.4f * y + 110 * c);
        t[2] = Byte(200 + 0.2f * y + 50 * c);
    }));
    // Foliage cut-out: noisy colour, alpha from a thresholded field with a
    // soft rim.
    const ValueNoise leaves(6), shape(7);
    out.push_back(Paint("gen-foliage-alpha", n, false, [&](std::uint32_t x, std::uint32_t y, std::uint8_t* t) {
        const float l = leaves.At(x / 6.0f, y / 6.0f, 3), s = shape.At(x / 32.0f, y / 32.0f, 4);
        t[0] = Byte(30 + 90 * l);
        t[1] = Byte(70 + 150 * l);
        t[2] = Byte(20 + 60 * l);
        t[3] = Byte((s - 0.45f) * 255 * 8);
    }));
    // Smoke: smooth colour, smooth alpha.
    const ValueNoise density(8);
    out.push_back(Paint("gen-smoke-alpha", n, false, [&](std::uint32_t x, std::uint32_t y, std::uint8_t* t) {
        const float d = density.At(x / 24.0f, y / 24.0f, 5);
        t[0] = t[1] = Byte(120 + 120 * d);
        t[2] = Byte(130 + 110 * d);
        t[3] = Byte(d * d * 320);
    }));
    return out;
}

} // namespace bench
