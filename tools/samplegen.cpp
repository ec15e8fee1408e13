#include "tools/samplegen.h"

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace samplegen {

namespace {

// ---- noise -----------------------------------------------------------------

std::uint32_t Hash(std::int32_t x, std::int32_t y, std::uint32_t seed)
{
    std::uint32_t h = seed * 0x9E3779B9u ^ static_cast<std::uint32_t>(x) * 0x85EBCA6Bu ^
                      static_cast<std::uint32_t>(y) * 0xC2B2AE35u;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

double Unit(std::int32_t x, std::int32_t y, std::uint32_t seed) { return Hash(x, y, seed) / 4294967295.0; }

// Value noise on a lattice of `cell` texels, smoothly interpolated.
double ValueNoise(double x, double y, double cell, std::uint32_t seed)
{
    const double fx = x / cell, fy = y / cell;
    const auto ix = static_cast<std::int32_t>(std::floor(fx)), iy = static_cast<std::int32_t>(std::floor(fy));
    const double tx = fx - ix, ty = fy - iy;
    const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
    const double a = Unit(ix, iy, seed), b = Unit(ix + 1, iy, seed);
    const double c = Unit(ix, iy + 1, seed), d = Unit(ix + 1, iy + 1, seed);
    return (a + (b - a) * sx) * (1 - sy) + (c + (d - c) * sx) * sy;
}

// Octaves from `cell` texels down to 2, each half the weight: 0..1.
double Fbm(double x, double y, double cell, std::uint32_t seed)
{
    double sum = 0, weight = 0.5, total = 0;
    for (int o = 0; cell >= 2; ++o, cell /= 2, weight /= 2) {
        sum += weight * ValueNoise(x, y, cell, seed + static_cast<std::uint32_t>(o) * 101);
        total += weight;
    }
    return sum / total;
}

std::uint8_t Clamp8(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

Rgba Mix(Rgba a, Rgba b, double t)
{
    return {Clamp8(a.r + (b.r - a.r) * t), Clamp8(a.g + (b.g - a.g) * t), Clamp8(a.b + (b.b - a.b) * t),
            Clamp8(a.a + (b.a - a.a) * t)};
}

// ---- byte output -------------------------------------------------------------

struct Out {
    std::vector<std::uint8_t> bytes;
    void u8(unsigned v) { bytes.push_back(static_cast<std::uint8_t>(v)); }
    void u16(unsigned v)
    {
        u8(v & 0xFF);
        u8((v >> 8) & 0xFF);
    }
    void u32(std::uint32_t v)
    {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void pad(std::size_t to)
    {
        while (bytes.size() < to)
            u8(0);
    }
    void text(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
};

unsigned Bits5(std::uint8_t v) { return v >> 3; }

std::uint32_t Pack(const Rgba& p, int depth, bool grey)
{
    if (grey)
        return depth == 8 ? p.r : (p.r | (p.a << 8));
    switch (depth) {
    case 15: return (Bits5(p.r) << 10) | (Bits5(p.g) << 5) | Bits5(p.b);
    case 16: return (p.a >= 128 ? 0x8000u : 0u) | (Bits5(p.r) << 10) | (Bits5(p.g) << 5) | Bits5(p.b);
    case 24: return (p.r << 16) | (p.g << 8) | p.b;
    default: return (std::uint32_t{p.a} << 24) | (p.r << 16) | (p.g << 8) | p.b;
    }
}

// ---- BMP ------------------------------------------------------------------------

constexpr std::uint32_t kBmpRgb = 0, kBmpRle8 = 1, kBmpRle4 = 2, kBmpBitFields = 3;

void BmpHeaders(Out& o, int width, int height, const BmpOptions& opt, std::uint32_t compression,
                std::uint32_t paletteCount, const std::uint32_t* masks, std::size_t pixelBytes)
{
    const bool core = opt.headerSize == 12;
    const std::size_t maskBytes = (masks && opt.headerSize == 40) ? 12 : 0;
    const std::size_t paletteBytes = std::size_t{paletteCount} * (core ? 3 : 4);
    const std::size_t offBits = 14 + opt.headerSize + maskBytes + paletteBytes;
    o.u8('B');
    o.u8('M');
    o.u32(static_cast<std::uint32_t>(offBits + pixelBytes));
    o.u32(0);
    o.u32(static_cast<std::uint32_t>(offBits));
    o.u32(static_cast<std::uint32_t>(opt.headerSize));
    if (core) {
        o.u16(static_cast<unsigned>(width));
        o.u16(static_cast<unsigned>(height));
        o.u16(1);
        o.u16(static_cast<unsigned>(opt.bits));
        return;
    }
    o.u32(static_cast<std::uint32_t>(width));
    o.u32(static_cast<std::uint32_t>(opt.topDown ? -height : height));
    o.u16(1);
    o.u16(static_cast<unsigned>(opt.bits));
    o.u32(compression);
    o.u32(static_cast<std::uint32_t>(pixelBytes));
    o.u32(2835);
    o.u32(2835);
    o.u32(opt.paletteEntries ? paletteCount : 0);
    o.u32(0);
    if (opt.headerSize > 40) {
        for (int i = 0; i < 4; ++i)
            o.u32(masks ? masks[i] : 0);
        o.u32(0x73524742);  // 'sRGB'
    }
    o.pad(14 + static_cast<std::size_t>(opt.headerSize));
    if (maskBytes)
        for (int i = 0; i < 3; ++i)
            o.u32(masks[i]);
}

void RleRow(Out& o, const std::uint8_t* row, int width, bool four)
{
    int x = 0;
    while (x < width) {
        int run = 1;
        while (x + run < width && run < 255 && row[x + run] == row[x])
            ++run;
        if (run >= 3 || width - x < 3) {
            o.u8(static_cast<unsigned>(run));
            o.u8(four ? (row[x] << 4) | row[x] : row[x]);
            x += run;
            continue;
        }
        // A stretch without repeats goes out in absolute mode.
        int n = 0;
        while (x + n < width && n < 255 && !(x + n + 2 < width && row[x + n] == row[x + n + 1] &&
                                              row[x + n] == row[x + n + 2]))
            ++n;
        // RLE4 absolute runs are kept to whole bytes, as most writers do.
        if (four && n % 2 && n > 3)
            --n;
        if (n < 3 || (four && n % 2)) {
            o.u8(1);
            o.u8(four ? (row[x] << 4) | row[x] : row[x]);
            ++x;
            continue;
        }
        o.u8(0);
        o.u8(static_cast<unsigned>(n));
        const std::size_t start = o.bytes.size();
        if (four) {
            for (int i = 0; i < n; i += 2)
                o.u8((row[x + i] << 4) | (i + 1 < n ? row[x + i + 1] : 0));
        } else {
            for (int i = 0; i < n; ++i)
                o.u8(row[x + i]);
        }
        if ((o.bytes.size() - start) % 2)
            o.u8(0);
        x += n;
    }
    o.u8(0);
    o.u8(0);
}

// ---- TGA ------------------------------------------------------------------------

void TgaPixels(Out& o, const std::vector<std::uint32_t>& values, int width, int height, int bytesPerPixel,
               const TgaOptions& opt)
{
    std::vector<std::uint32_t> ordered;
    ordered.reserve(values.size());
    for (int r = 0; r < height; ++r) {
        const int y = opt.topDown ? r : height - 1 - r;
        for (int c = 0; c < width; ++c)
            ordered.push_back(values[static_cast<std::size_t>(y) * width + (opt.rightToLeft ? width - 1 - c : c)]);
    }
    auto put = [&](std::uint32_t v) {
        for (int i = 0; i < bytesPerPixel; ++i)
            o.u8((v >> (8 * i)) & 0xFF);
    };
    if (!opt.rle) {
        for (std::uint32_t v : ordered)
            put(v);
        return;
    }
    // Packets stay within one scan line.
    for (int r = 0; r < height; ++r) {
        const std::uint32_t* row = ordered.data() + static_cast<std::size_t>(r) * width;
        int x = 0;
        while (x < width) {
            int run = 1;
            while (x + run < width && run < 128 && row[x + run] == row[x])
                ++run;
            if (run >= 2) {
                o.u8(0x80 | (run - 1));
                put(row[x]);
                x += run;
                continue;
            }
            int n = 1;
            while (x + n < width && n < 128 && !(x + n + 1 < width && row[x + n] == row[x + n + 1]))
                ++n;
            o.u8(static_cast<unsigned>(n - 1));
            for (int i = 0; i < n; ++i)
                put(row[x + i]);
            x += n;
        }
    }
}

void TgaHeader(Out& o, int type, int width, int height, int depth, unsigned alphaBits, const TgaOptions& opt,
               unsigned mapLength)
{
    o.u8(static_cast<unsigned>(opt.id.size()));
    o.u8(mapLength ? 1 : 0);
    o.u8(static_cast<unsigned>(type + (opt.rle ? 8 : 0)));
    o.u16(0);
    o.u16(mapLength);
    o.u8(mapLength ? static_cast<unsigned>(opt.mapBits) : 0);
    o.u16(0);
    o.u16(0);
    o.u16(static_cast<unsigned>(width));
    o.u16(static_cast<unsigned>(height));
    o.u8(static_cast<unsigned>(depth));
    o.u8(alphaBits | (opt.topDown ? 0x20 : 0) | (opt.rightToLeft ? 0x10 : 0));
    o.text(opt.id);
}

// ---- PNG / JPEG through their libraries -------------------------------------------

void PngWrite(png_structp png, png_bytep data, png_size_t size)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}
void PngFlush(png_structp) {}

struct PngJob {
    int width, height, colorType, channels;
    const std::uint8_t* pixels;
    const png_color* palette;
    int paletteCount;
    const png_byte* alpha;
    int alphaCount;
    int bitDepth = 8;  // below 8 for palettes only: pixels hold one index a byte, packed on writing
};

// Only plain data lives between setjmp and a possible longjmp.
bool PngCore(png_structp png, png_infop info, const PngJob& job)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(job.width), static_cast<png_uint_32>(job.height), job.bitDepth,
                 job.colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (job.palette)
        png_set_PLTE(png, info, job.palette, job.paletteCount);
    if (job.alphaCount)
        png_set_tRNS(png, info, job.alpha, job.alphaCount, nullptr);
    png_write_info(png, info);
    if (job.bitDepth < 8)
        png_set_packing(png);
    for (int y = 0; y < job.height; ++y)
        png_write_row(png, job.pixels + static_cast<std::size_t>(y) * job.width * job.channels);
    png_write_end(png, nullptr);
    return true;
}

std::vector<std::uint8_t> PngEncode(const PngJob& job)
{
    std::vector<std::uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info)
        throw std::runtime_error("libpng could not start");
    png_set_write_fn(png, &out, PngWrite, PngFlush);
    const bool ok = PngCore(png, info, job);
    png_destroy_write_struct(&png, &info);
    if (!ok)
        throw std::runtime_error("libpng could not write the picture");
    return out;
}

// Writes files into one folder and keeps their paths.
struct Saver {
    std::filesystem::path folder;
    std::vector<std::string> names;

    explicit Saver(std::filesystem::path f) : folder(std::move(f)) { std::filesystem::create_directories(folder); }
    void operator()(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        SaveBytes(folder / name, bytes);
        names.push_back((folder / name).string());
    }
};

} // namespace

Image::Image(int w, int h, Rgba fill) : width(w), height(h), pixels(static_cast<std::size_t>(w) * h, fill) {}

Image MakeTerrain(Terrain kind, int width, int height, std::uint32_t seed)
{
    Image img(width, height);
    const double big = std::max(8, std::min(width, height) / 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double n = Fbm(x, y, big, seed);
            const double speck = Unit(x, y, seed ^ 0x51u) - 0.5;
            Rgba p;
            switch (kind) {
            case Terrain::Grass: {
                // Blades: detail stretched along y, light tips and dark roots.
                const double blade = ValueNoise(x, y * 0.25, 2, seed ^ 0x77u) - 0.5;
                p = Mix({46, 92, 30}, {118, 168, 62}, n);
                p = Mix(p, blade > 0 ? Rgba{170, 210, 90} : Rgba{20, 50, 15}, std::abs(blade) * 0.9);
                p.a = Clamp8(150 + 105 * Fbm(x, y, big / 2, seed ^ 0x99u) + 40 * blade);
                break;
            }
            case Terrain::Rock: {
                const double ridge = std::abs(Fbm(x, y, big / 2, seed ^ 0x33u) - 0.5);
                const double grey = 85 + 100 * n + 30 * speck;
                p = {Clamp8(grey * 1.02), Clamp8(grey), Clamp8(grey * 0.96)};
                if (ridge < 0.025)
                    p = Mix(p, {30, 28, 26}, 1 - ridge / 0.025);
                break;
            }
            case Terrain::Sand: {
                const double ripple = std::sin((x + y * 0.35 + 24 * n) * 0.45);
                p = {Clamp8(196 + 14 * ripple + 18 * speck + 20 * (n - 0.5)),
                     Clamp8(172 + 12 * ripple + 16 * speck + 18 * (n - 0.5)),
                     Clamp8(122 + 8 * ripple + 12 * speck + 14 * (n - 0.5))};
                break;
            }
            case Terrain::Snow: {
                const double shade = 30 * n;
                p = {Clamp8(240 - shade + 6 * speck), Clamp8(244 - shade * 0.8 + 6 * speck),
                     Clamp8(252 - shade * 0.4 + 4 * speck)};
                if (Hash(x, y, seed ^ 0xABu) % 97 == 0)
                    p = {255, 255, 255};
                break;
            }
            }
            img.at(x, y) = p;
        }
    }
    return img;
}

Image MakeFoliage(int width, int height, std::uint32_t seed)
{
    Image img(width, height, {40, 70, 25, 0});
    const int leaves = std::max(6, width * height / 2048);
    for (int i = 0; i < leaves; ++i) {
        const double cx = Unit(i, 1, seed) * width, cy = Unit(i, 2, seed) * height;
        const double len = width * (0.06 + 0.08 * Unit(i, 3, seed)), wid = len * 0.4;
        const double angle = Unit(i, 4, seed) * 3.14159265;
        const double ca = std::cos(angle), sa = std::sin(angle);
        const bool soft = i % 2 == 0;
        const Rgba colour = Mix({34, 96, 28}, {120, 176, 60}, Unit(i, 5, seed));
        const int x0 = std::max(0, static_cast<int>(cx - len - 2)), x1 = std::min(width - 1, static_cast<int>(cx + len + 2));
        const int y0 = std::max(0, static_cast<int>(cy - len - 2)), y1 = std::min(height - 1, static_cast<int>(cy + len + 2));
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
                const double u = (dx * ca + dy * sa) / len, v = (-dx * sa + dy * ca) / wid;
                const double d = std::sqrt(u * u + v * v);  // 1 on the leaf's edge
                double cover = soft ? std::clamp((1 - d) * wid / 1.5, 0.0, 1.0) : (d <= 1 ? 1.0 : 0.0);
                if (cover <= 0)
                    continue;
                Rgba p = Mix(colour, {200, 230, 120}, std::max(0.0, 0.3 - std::abs(v)) * 0.8);  // the vein
                Rgba& dst = img.at(x, y);
                const double keep = dst.a / 255.0 * (1 - cover);
                p.a = Clamp8(255 * (cover + keep));
                dst = Mix(dst, p, cover);
                dst.a = p.a;
            }
        }
    }
    return img;
}

Image MakeGrassBlades(int width, int height, std::uint32_t seed)
{
    Image img(width, height, {30, 60, 20, 0});
    const int blades = std::max(4, width / 2);
    for (int i = 0; i < blades; ++i) {
        const std::uint32_t h = Hash(i, 11, seed);
        // In 1/256 texel: the root's centre and half width, the lean at the tip.
        const int root = static_cast<int>(h % (static_cast<std::uint32_t>(width) * 256));
        const int halfWidth = 160 + static_cast<int>((h >> 8) % 288);
        const int lean = static_cast<int>((h >> 4) % 8193) - 4096;
        const auto reach = static_cast<std::uint32_t>(height * 7 / 8 + 1);
        const int top = height - 1 - static_cast<int>(Hash(i, 12, seed) % reach);
        const int base = height - 1 - static_cast<int>(Hash(i, 13, seed) % 4);
        const int tall = std::max(1, base - top);
        const Rgba colour = Mix({40, 100, 24}, {130, 190, 70}, Unit(i, 14, seed));
        for (int y = top; y <= base; ++y) {
            const int up = base - y;  // rows above the root
            const int centre = root + lean * up / tall, half = halfWidth * (tall - up) / tall;
            const int lo = centre - half, hi = centre + half;
            for (int x = std::max(0, lo >> 8); x <= std::min(width - 1, hi >> 8); ++x) {
                const int overlap = std::min(hi, x * 256 + 256) - std::max(lo, x * 256);
                const auto alpha = static_cast<std::uint8_t>(std::clamp(overlap, 0, 256) * 255 / 256);
                Rgba& dst = img.at(x, y);
                if (alpha > dst.a)
                    dst = {Clamp8(colour.r * (128 + up * 128 / tall) / 256.0),
                           Clamp8(colour.g * (128 + up * 128 / tall) / 256.0), colour.b, alpha};
            }
        }
    }
    return img;
}

Image MakeBumpyNormals(int width, int height, std::uint32_t seed)
{
    // Heights: a sum of waves of whole periods across the picture, so that
    // it tiles; slopes by central differences across the wrapped edges.
    std::vector<double> heights(static_cast<std::size_t>(width) * height);
    for (int w = 0; w < 8; ++w) {
        const int fx = 1 + static_cast<int>(Hash(w, 21, seed) % 12), fy = static_cast<int>(Hash(w, 22, seed) % 12);
        const double phase = Unit(w, 23, seed) * 6.2831853, amplitude = 30.0 / (fx + fy);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                heights[static_cast<std::size_t>(y) * width + x] +=
                    amplitude * std::sin(6.2831853 * (double(fx) * x / width + double(fy) * y / height) + phase);
    }
    auto at = [&](int x, int y) {
        return heights[static_cast<std::size_t>((y + height) % height) * width + (x + width) % width];
    };
    Image img(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double dx = (at(x + 1, y) - at(x - 1, y)) / 2, dy = (at(x, y + 1) - at(x, y - 1)) / 2;
            const double length = std::sqrt(dx * dx + dy * dy + 1);
            img.at(x, y) = {Clamp8((1 - dx / length) * 127.5), Clamp8((1 - dy / length) * 127.5),
                            Clamp8((1 + 1 / length) * 127.5), 255};
        }
    return img;
}

Image MakeMipChain(int width, int topHeight, const std::vector<Rgba>& colours, Rgba filler, int extraRows)
{
    int rows = extraRows;
    for (std::size_t i = 0; i < colours.size(); ++i)
        rows += topHeight >> i;
    Image img(width, rows, filler);
    int y = 0;
    for (std::size_t i = 0; i < colours.size(); ++i) {
        const int w = std::max(1, width >> i), h = topHeight >> i;
        for (int r = 0; r < h; ++r, ++y)
            for (int x = 0; x < w; ++x)
                img.at(x, y) = colours[i];
    }
    return img;
}

Image MakeGradient(int width, int height, bool withAlpha)
{
    Image img(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool check = ((x / 8) + (y / 8)) % 2 != 0;
            img.at(x, y) = {static_cast<std::uint8_t>(x * 255 / std::max(1, width - 1)),
                            static_cast<std::uint8_t>(y * 255 / std::max(1, height - 1)),
                            static_cast<std::uint8_t>(check ? 200 : 40),
                            static_cast<std::uint8_t>(withAlpha ? (x + y * 3) & 0xFF : 255)};
        }
    return img;
}

Indexed MakeIndexed(const Image& image, int colours, bool withAlpha)
{
    // A colour cube of as many levels per channel as fit, then a grey ramp.
    Indexed out{image.width, image.height, {}, {}};
    int levels = 1;
    while ((levels + 1) * (levels + 1) * (levels + 1) <= colours)
        ++levels;
    for (int r = 0; r < levels; ++r)
        for (int g = 0; g < levels; ++g)
            for (int b = 0; b < levels; ++b) {
                auto c = [&](int v) { return static_cast<std::uint8_t>(levels == 1 ? 128 : v * 255 / (levels - 1)); };
                out.palette.push_back({c(r), c(g), c(b), 255});
            }
    while (static_cast<int>(out.palette.size()) < colours) {
        const auto v = static_cast<std::uint8_t>(out.palette.size() * 37 % 256);
        out.palette.push_back({v, v, v, 255});
    }
    if (withAlpha)
        for (std::size_t i = 0; i < out.palette.size(); i += 3)
            out.palette[i].a = static_cast<std::uint8_t>(i * 11 % 256);
    out.indices.reserve(image.pixels.size());
    for (const Rgba& p : image.pixels) {
        if (levels == 1) {
            out.indices.push_back(static_cast<std::uint8_t>((p.r + p.g + p.b) % colours));
            continue;
        }
        auto q = [&](int v) { return (v * (levels - 1) + 127) / 255; };
        out.indices.push_back(static_cast<std::uint8_t>((q(p.r) * levels + q(p.g)) * levels + q(p.b)));
    }
    return out;
}

std::vector<std::uint8_t> GreyOf(const Image& image)
{
    std::vector<std::uint8_t> grey;
    grey.reserve(image.pixels.size());
    for (const Rgba& p : image.pixels)
        grey.push_back(static_cast<std::uint8_t>((p.r * 77 + p.g * 150 + p.b * 29 + 128) >> 8));
    return grey;
}

std::vector<std::uint8_t> WriteBmp(const Image& image, const BmpOptions& opt)
{
    const int bits = opt.bits;
    if (bits != 16 && bits != 24 && bits != 32)
        throw std::invalid_argument("WriteBmp(Image) takes 16, 24 or 32 bits");
    const std::size_t rowBytes = (static_cast<std::size_t>(image.width) * bits + 31) / 32 * 4;
    std::uint32_t masks[4] = {};
    if (opt.masks && bits == 16) {
        masks[0] = 0xF800, masks[1] = 0x7E0, masks[2] = 0x1F;
    } else if (opt.masks) {
        masks[0] = 0xFF, masks[1] = 0xFF00, masks[2] = 0xFF0000, masks[3] = opt.headerSize > 40 ? 0xFF000000 : 0;
    }
    Out o;
    BmpHeaders(o, image.width, image.height, opt, opt.masks ? kBmpBitFields : kBmpRgb, 0, opt.masks ? masks : nullptr,
               rowBytes * image.height);
    for (int r = 0; r < image.height; ++r) {
        const int y = opt.topDown ? r : image.height - 1 - r;
        const std::size_t start = o.bytes.size();
        for (int x = 0; x < image.width; ++x) {
            const Rgba& p = image.at(x, y);
            if (bits == 16 && opt.masks)
                o.u16(((p.r >> 3) << 11) | ((p.g >> 2) << 5) | (p.b >> 3));
            else if (bits == 16)
                o.u16(Pack(p, 15, false));
            else if (bits == 24) {
                o.u8(p.b), o.u8(p.g), o.u8(p.r);
            } else if (opt.masks)
                o.u32(p.r | (p.g << 8) | (p.b << 16) | (std::uint32_t{p.a} << 24));
            else
                o.u32(Pack(p, 32, false));
        }
        o.pad(start + rowBytes);
    }
    return o.bytes;
}

std::vector<std::uint8_t> WriteBmp(const Indexed& image, const BmpOptions& opt)
{
    const int bits = opt.bits;
    if (bits != 1 && bits != 4 && bits != 8)
        throw std::invalid_argument("WriteBmp(Indexed) takes 1, 4 or 8 bits");
    const std::uint32_t count = opt.paletteEntries ? static_cast<std::uint32_t>(opt.paletteEntries) : 1u << bits;
    const bool rle = opt.rle && (bits == 4 || bits == 8);
    const unsigned mask = (1u << bits) - 1;

    Out pixels;
    const std::size_t rowBytes = (static_cast<std::size_t>(image.width) * bits + 31) / 32 * 4;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(image.width));
    for (int r = 0; r < image.height; ++r) {
        const int y = opt.topDown ? r : image.height - 1 - r;
        for (int x = 0; x < image.width; ++x)
            row[static_cast<std::size_t>(x)] = image.indices[static_cast<std::size_t>(y) * image.width + x] & mask;
        if (rle) {
            RleRow(pixels, row.data(), image.width, bits == 4);
            continue;
        }
        const std::size_t start = pixels.bytes.size();
        pixels.pad(start + rowBytes);
        for (int x = 0; x < image.width; ++x) {
            const std::size_t bit = static_cast<std::size_t>(x) * bits;
            pixels.bytes[start + bit / 8] |= static_cast<std::uint8_t>(row[static_cast<std::size_t>(x)]
                                                                       << (8 - bits - bit % 8));
        }
    }
    if (rle) {
        pixels.u8(0);
        pixels.u8(1);
    }

    Out o;
    BmpHeaders(o, image.width, image.height, opt, rle ? (bits == 8 ? kBmpRle8 : kBmpRle4) : kBmpRgb, count, nullptr,
               pixels.bytes.size());
    for (std::uint32_t i = 0; i < count; ++i) {
        const Rgba p = i < image.palette.size() ? image.palette[i] : Rgba{0, 0, 0, 0};
        o.u8(p.b), o.u8(p.g), o.u8(p.r);
        if (opt.headerSize != 12)
            o.u8(0);
    }
    o.bytes.insert(o.bytes.end(), pixels.bytes.begin(), pixels.bytes.end());
    return o.bytes;
}

std::vector<std::uint8_t> WriteTga(const Image& image, const TgaOptions& opt)
{
    const int depth = opt.depth;
    if (opt.grey ? (depth != 8 && depth != 16) : (depth != 15 && depth != 16 && depth != 24 && depth != 32))
        throw std::invalid_argument("WriteTga(Image): unsupported depth");
    const unsigned alphaBits = opt.grey ? (depth == 16 ? 8 : 0) : depth == 32 ? 8 : depth == 16 ? 1 : 0;
    std::vector<std::uint32_t> values;
    values.reserve(image.pixels.size());
    const std::vector<std::uint8_t> grey = opt.grey ? GreyOf(image) : std::vector<std::uint8_t>{};
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
        Rgba p = image.pixels[i];
        if (opt.grey)
            p.r = grey[i];
        values.push_back(Pack(p, depth, opt.grey));
    }
    Out o;
    TgaHeader(o, opt.grey ? 3 : 2, image.width, image.height, depth, alphaBits, opt, 0);
    TgaPixels(o, values, image.width, image.height, (depth + 7) / 8, opt);
    return o.bytes;
}

std::vector<std::uint8_t> WriteTga(const Indexed& image, const TgaOptions& opt)
{
    const int mapBits = opt.mapBits;
    if (mapBits != 15 && mapBits != 16 && mapBits != 24 && mapBits != 32)
        throw std::invalid_argument("WriteTga(Indexed): unsupported colour-map entry size");
    Out o;
    const unsigned alphaBits = mapBits == 32 ? 8 : mapBits == 16 ? 1 : 0;
    TgaHeader(o, 1, image.width, image.height, 8, alphaBits, opt, static_cast<unsigned>(image.palette.size()));
    for (const Rgba& p : image.palette) {
        const std::uint32_t v = Pack(p, mapBits, false);
        for (int i = 0; i < (mapBits + 7) / 8; ++i)
            o.u8((v >> (8 * i)) & 0xFF);
    }
    const std::vector<std::uint32_t> values(image.indices.begin(), image.indices.end());
    TgaPixels(o, values, image.width, image.height, 1, opt);
    return o.bytes;
}

std::vector<std::uint8_t> WritePng(const Image& image, PngKind kind)
{
    const int channels = kind == PngKind::Rgb ? 3 : kind == PngKind::Rgba ? 4 : kind == PngKind::Grey ? 1 : 2;
    const int colorType = kind == PngKind::Rgb    ? PNG_COLOR_TYPE_RGB
                          : kind == PngKind::Rgba ? PNG_COLOR_TYPE_RGB_ALPHA
                          : kind == PngKind::Grey ? PNG_COLOR_TYPE_GRAY
                                                  : PNG_COLOR_TYPE_GRAY_ALPHA;
    const std::vector<std::uint8_t> grey = GreyOf(image);
    std::vector<std::uint8_t> pixels;
    pixels.reserve(image.pixels.size() * channels);
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
        const Rgba& p = image.pixels[i];
        if (channels >= 3) {
            pixels.insert(pixels.end(), {p.r, p.g, p.b});
            if (channels == 4)
                pixels.push_back(p.a);
        } else {
            pixels.push_back(grey[i]);
            if (channels == 2)
                pixels.push_back(p.a);
        }
    }
    return PngEncode({image.width, image.height, colorType, channels, pixels.data(), nullptr, 0, nullptr, 0});
}

std::vector<std::uint8_t> WritePng(const Indexed& image, int bits)
{
    std::vector<png_color> palette;
    std::vector<png_byte> alpha;
    for (const Rgba& p : image.palette) {
        palette.push_back({p.r, p.g, p.b});
        alpha.push_back(p.a);
    }
    // tRNS lists entries up to the last translucent one.
    while (!alpha.empty() && alpha.back() == 255)
        alpha.pop_back();
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8)
        throw std::invalid_argument("WritePng(Indexed) takes 1, 2, 4 or 8 bits");
    return PngEncode({image.width, image.height, PNG_COLOR_TYPE_PALETTE, 1, image.indices.data(), palette.data(),
                      static_cast<int>(palette.size()), alpha.data(), static_cast<int>(alpha.size()), bits});
}

std::vector<std::uint8_t> WriteJpeg(const Image& image, int quality, bool grey)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(image.width);
    cinfo.image_height = static_cast<JDIMENSION>(image.height);
    cinfo.input_components = grey ? 1 : 3;
    cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const std::vector<std::uint8_t> greyRow = grey ? GreyOf(image) : std::vector<std::uint8_t>{};
    std::vector<std::uint8_t> row(static_cast<std::size_t>(image.width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        JSAMPROW rowPtr;
        if (grey) {
            rowPtr = const_cast<JSAMPROW>(greyRow.data() + static_cast<std::size_t>(y) * image.width);
        } else {
            for (int x = 0; x < image.width; ++x) {
                const Rgba& p = image.at(x, y);
                row[3 * x] = p.r, row[3 * x + 1] = p.g, row[3 * x + 2] = p.b;
            }
            rowPtr = row.data();
        }
        jpeg_write_scanlines(&cinfo, &rowPtr, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<std::uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

std::vector<std::uint8_t> WritePpm(const Image& image, int maxValue)
{
    Out o;
    o.text("P6\n# mipforge sample\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n" +
           std::to_string(maxValue) + "\n");
    for (const Rgba& p : image.pixels)
        for (std::uint8_t c : {p.r, p.g, p.b}) {
            const unsigned v = (c * static_cast<unsigned>(maxValue) + 127) / 255;
            if (maxValue > 255)
                o.u8(v >> 8);
            o.u8(v & 0xFF);
        }
    return o.bytes;
}

std::vector<std::uint8_t> WritePgm(const Image& image)
{
    Out o;
    o.text("P5 " + std::to_string(image.width) + " " + std::to_string(image.height) + " 255\n");
    for (std::uint8_t g : GreyOf(image))
        o.u8(g);
    return o.bytes;
}

void SaveBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f)
        throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> WriteSampleSet(const std::filesystem::path& folder)
{
    Saver save{folder};
    const Rgba red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255}, white{255, 255, 255};
    save("grass.tga", WriteTga(MakeTerrain(Terrain::Grass, 1024, 1024, 1)));
    save("rock.bmp", WriteBmp(MakeTerrain(Terrain::Rock, 512, 512, 2)));
    save("sand.png", WritePng(MakeTerrain(Terrain::Sand, 512, 512, 3), PngKind::Rgb));
    save("snow.jpg", WriteJpeg(MakeTerrain(Terrain::Snow, 512, 512, 4), 90));
    save("foliage.tga", WriteTga(MakeFoliage(256, 256, 5)));
    save("mipchain-rgb.bmp", WriteBmp(MakeMipChain(256, 256, {red, green, blue, white}, {0, 0, 0})));
    save("mipchain-alpha.tga", WriteTga(MakeMipChain(256, 256,
                                               {{255, 0, 0, 255}, {0, 255, 0, 192}, {0, 0, 255, 128},
                                                {255, 255, 255, 64}, {255, 255, 0, 32}, {0, 255, 255, 16},
                                                {255, 0, 255, 8}, {128, 128, 128, 0}},
                                               {0, 0, 0, 0})));
    BmpOptions eightBits;
    eightBits.bits = 8;
    save("palette.bmp", WriteBmp(MakeIndexed(MakeTerrain(Terrain::Rock, 256, 256, 6), 216, false), eightBits));
    TgaOptions sixteenBits;
    sixteenBits.depth = 16;
    save("tga16.tga", WriteTga(MakeFoliage(256, 256, 7), sixteenBits));
    save("grey.png", WritePng(MakeTerrain(Terrain::Snow, 256, 256, 8), PngKind::Grey));
    save("sample.ppm", WritePpm(MakeTerrain(Terrain::Sand, 256, 256, 9)));
    return save.names;
}

std::vector<std::string> WriteVariantSet(const std::filesystem::path& folder)
{
    Saver save{folder};
    const Image rgba = MakeFoliage(61, 37, 11);
    const Image terrain = MakeTerrain(Terrain::Rock, 61, 37, 12);
    auto bmp = [](int bits, int header, bool rle, bool masks, bool topDown, int entries) {
        BmpOptions o;
        o.bits = bits, o.headerSize = header, o.rle = rle, o.masks = masks, o.topDown = topDown;
        o.paletteEntries = entries;
        return o;
    };
    auto indexed = [&](int colours, bool alpha) {
        Indexed ix = MakeIndexed(terrain, colours, alpha);
        for (auto& v : ix.indices)
            v = static_cast<std::uint8_t>(v % colours);
        return ix;
    };
    save("v-bmp24-odd.bmp", WriteBmp(terrain));
    save("v-bmp24-topdown.bmp", WriteBmp(terrain, bmp(24, 40, false, false, true, 0)));
    save("v-bmp-os2.bmp", WriteBmp(indexed(100, false), bmp(8, 12, false, false, false, 0)));
    save("v-bmp-rle8.bmp", WriteBmp(indexed(180, false), bmp(8, 40, true, false, false, 180)));
    save("v-bmp-rle4.bmp", WriteBmp(indexed(16, false), bmp(4, 40, true, false, false, 0)));
    save("v-bmp4.bmp", WriteBmp(indexed(12, false), bmp(4, 40, false, false, false, 12)));
    save("v-bmp1.bmp", WriteBmp(indexed(2, false), bmp(1, 40, false, false, false, 0)));
    save("v-bmp555.bmp", WriteBmp(terrain, bmp(16, 40, false, false, false, 0)));
    save("v-bmp565.bmp", WriteBmp(terrain, bmp(16, 40, false, true, false, 0)));
    save("v-bmp32-v5.bmp", WriteBmp(rgba, bmp(32, 124, false, true, false, 0)));
    save("v-bmp8-v4.bmp", WriteBmp(indexed(64, false), bmp(8, 108, false, false, true, 64)));
    auto tga = [](int depth, bool rle, bool topDown, bool grey, int mapBits) {
        TgaOptions o;
        o.depth = depth, o.rle = rle, o.topDown = topDown, o.grey = grey, o.mapBits = mapBits;
        o.id = "variant";
        return o;
    };
    save("v-tga32-rle.tga", WriteTga(rgba, tga(32, true, false, false, 24)));
    save("v-tga32-top.tga", WriteTga(rgba, tga(32, false, true, false, 24)));
    save("v-tga24-rle-top.tga", WriteTga(terrain, tga(24, true, true, false, 24)));
    save("v-tga16-rle.tga", WriteTga(rgba, tga(16, true, false, false, 24)));
    save("v-tga15.tga", WriteTga(terrain, tga(15, false, false, false, 24)));
    save("v-tga-grey.tga", WriteTga(terrain, tga(8, false, false, true, 24)));
    save("v-tga-grey-rle.tga", WriteTga(terrain, tga(8, true, true, true, 24)));
    save("v-tga-grey-alpha.tga", WriteTga(rgba, tga(16, false, false, true, 24)));
    save("v-tga-map24.tga", WriteTga(indexed(200, false), tga(8, false, false, false, 24)));
    save("v-tga-map24-rle.tga", WriteTga(indexed(100, false), tga(8, true, false, false, 24)));
    save("v-tga-map32.tga", WriteTga(indexed(100, true), tga(8, false, false, false, 32)));
    save("v-tga-map16.tga", WriteTga(indexed(60, false), tga(8, false, false, false, 16)));
    save("v-png-rgba.png", WritePng(rgba, PngKind::Rgba));
    save("v-png-grey-alpha.png", WritePng(rgba, PngKind::GreyAlpha));
    save("v-png-palette.png", WritePng(indexed(150, false)));
    save("v-png-palette-trns.png", WritePng(indexed(150, true)));
    save("v-jpeg-grey.jpg", WriteJpeg(terrain, 85, true));
    save("v-jpeg-q50.jpg", WriteJpeg(rgba, 50));
    save("v-pgm.pgm", WritePgm(terrain));
    save("v-ppm-1000.ppm", WritePpm(terrain, 1000));
    return save.names;
}

} // namespace samplegen
