// Sample and test pictures made from code: terrain-like colour textures,
// alpha-tested foliage, mip-chain pictures with solid levels, and writers
// for BMP, TGA, PNG, JPEG, PPM and PGM in their many variants.  Everything
// is deterministic: the same arguments give the same bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace samplegen {

struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 255;
    bool operator==(const Rgba&) const = default;
};

// Rows top-down.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<Rgba> pixels;

    Image() = default;
    Image(int w, int h, Rgba fill = {});
    Rgba& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
    const Rgba& at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// One palette index per pixel, rows top-down.
struct Indexed {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> indices;
    std::vector<Rgba> palette;  // at most 256 entries
};

enum class Terrain { Grass, Rock, Sand, Snow };

// A tileable-looking ground texture with detail down to single texels.
// Grass carries a varying alpha (coverage), the others are opaque.
Image MakeTerrain(Terrain kind, int width, int height, std::uint32_t seed);
// Leaves on a transparent ground: half of them with soft, anti-aliased alpha
// edges, half cut hard (alpha 0 or 255).
Image MakeFoliage(int width, int height, std::uint32_t seed);
// Grass blades on a transparent ground, drawn with integer arithmetic:
// blades rise from the bottom rows, lean and taper to a point, and each
// texel's alpha is the share of it a blade covers (soft rims, solid cores).
Image MakeGrassBlades(int width, int height, std::uint32_t seed);
// A bumpy normal map: unit vectors of a noise height field (tiling), in red,
// green and blue as round((n + 1) * 127.5); alpha 255.
Image MakeBumpyNormals(int width, int height, std::uint32_t seed);
// A mip-chain picture: level i (topHeight >> i rows, width >> i columns) in
// colours[i], drawn one under the other from the top; what lies right of a
// level in its rows is `filler`.  Height is the sum of the level heights
// unless `extraRows` adds more at the bottom.
Image MakeMipChain(int width, int topHeight, const std::vector<Rgba>& colours, Rgba filler, int extraRows = 0);
// Smooth colour gradients with a checker, handy for exact comparisons.
Image MakeGradient(int width, int height, bool withAlpha);
// The picture reduced to at most `colours` entries (a fixed colour cube and
// a ramp), with palette alpha when `withAlpha` and some colours translucent.
Indexed MakeIndexed(const Image& image, int colours, bool withAlpha);
// Index into the grey value of each pixel.
std::vector<std::uint8_t> GreyOf(const Image& image);

struct BmpOptions {
    int bits = 24;          // 1, 4, 8 (Indexed); 16, 24, 32 (Image)
    bool topDown = false;   // negative height
    bool rle = false;       // RLE8 for 8 bits, RLE4 for 4 bits
    int headerSize = 40;    // 12 (OS/2 core), 40, 108 (V4), 124 (V5)
    bool masks = false;     // 16 bits: 565 bit fields; 32 bits: ARGB bit fields
    int paletteEntries = 0; // 0: the whole palette; else the count written (biClrUsed)
};
std::vector<std::uint8_t> WriteBmp(const Image& image, const BmpOptions& options = {});
std::vector<std::uint8_t> WriteBmp(const Indexed& image, const BmpOptions& options);

struct TgaOptions {
    int depth = 32;          // 15, 16, 24, 32; 8 for grey and colour-mapped
    bool rle = false;        // image types 9, 10, 11
    bool topDown = false;    // origin at the top
    bool rightToLeft = false;
    bool grey = false;       // type 3 (8 bits: grey; 16 bits: grey and alpha)
    int mapBits = 24;        // colour-map entry size for Indexed: 15, 16, 24, 32
    std::string id;          // identification field
};
std::vector<std::uint8_t> WriteTga(const Image& image, const TgaOptions& options = {});
std::vector<std::uint8_t> WriteTga(const Indexed& image, const TgaOptions& options);

enum class PngKind { Rgb, Rgba, Grey, GreyAlpha };
std::vector<std::uint8_t> WritePng(const Image& image, PngKind kind);
// Palette PNG of 1, 2, 4 or 8 bits an index (the indices must fit); a tRNS
// chunk is written when an entry is not opaque.
std::vector<std::uint8_t> WritePng(const Indexed& image, int bits = 8);
std::vector<std::uint8_t> WriteJpeg(const Image& image, int quality, bool grey = false);
std::vector<std::uint8_t> WritePpm(const Image& image, int maxValue = 255);
std::vector<std::uint8_t> WritePgm(const Image& image);

void SaveBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// The sample set the demo uses; returns the paths written.
std::vector<std::string> WriteSampleSet(const std::filesystem::path& folder);
// One small file of each BMP, TGA, PNG, JPEG and PNM variant the readers
// know, for comparisons with other decoders; returns the paths written.
std::vector<std::string> WriteVariantSet(const std::filesystem::path& folder);

} // namespace samplegen
