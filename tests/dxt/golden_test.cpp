// The encoder's bytes are fixed: generated pictures encode to recorded
// hashes on every path, at every quality level, in every format, both as
// whole pictures (blocks in runs) and block by block.  A change to the
// encoder that moves a single bit shows here; one meant to change the
// output records new hashes in the same commit.
//
// The pictures are made with integer arithmetic alone (no library
// distributions or transcendental functions, whose results may differ
// between standard libraries), so the hashes hold on any build.
#include "platform/d3dx8/dxt/dxt.h"
#include "tests/dxt/dxt_test_util.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A small generator of our own: the same numbers on every platform.
class Numbers {
public:
    explicit Numbers(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    std::uint32_t Next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<std::uint32_t>(state_ >> 16);
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint32_t>(n)); }
    // -r..r
    int Around(int r) { return Below(2 * r + 1) - r; }

private:
    std::uint64_t state_;
};

std::uint8_t Clamp(int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// A triangle wave of period 2p, 0..255.
int Triangle(int x, int p)
{
    const int m = ((x % (2 * p)) + 2 * p) % (2 * p);
    return (m < p ? m : 2 * p - m) * 255 / p;
}

enum class Kind { Noise, Gradients, Flat, Cutout, Grain, Waves };

// Sides that are not multiples of 4, so that edge blocks with missing
// texels and runs shorter than a full batch come up in every row.
dxt_test::Image Picture(Kind kind, std::uint32_t width, std::uint32_t height, std::uint64_t seed)
{
    dxt_test::Image image{width, height, std::vector<std::uint8_t>(std::size_t{width} * height * 4)};
    Numbers rng(seed);
    int base[3], other[3];
    for (int ch = 0; ch < 3; ++ch) {
        base[ch] = rng.Below(256);
        other[ch] = rng.Below(256);
    }
    // Flat areas: a grid of rectangles of solid colour whose sides do not
    // fall on block boundaries.
    const int cellW = 5 + rng.Below(7), cellH = 3 + rng.Below(9);
    const int cx = static_cast<int>(width) / 2, cy = static_cast<int>(height) / 2;
    const int radius = static_cast<int>(height) / 3;
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint8_t* p = &image.rgba[(std::size_t{y} * width + x) * 4];
            const int ix = static_cast<int>(x), iy = static_cast<int>(y);
            const int dx = ix - cx, dy = iy - cy;
            const bool inside = dx * dx + dy * dy < radius * radius;
            int rgba[4] = {0, 0, 0, 255};
            switch (kind) {
            case Kind::Noise:
                for (int& v : rgba)
                    v = rng.Below(256);
                break;
            case Kind::Gradients:
                // Ramps in three directions, one per channel, with a little
                // noise; alpha a ramp of its own.
                rgba[0] = base[0] + (other[0] - base[0]) * ix / static_cast<int>(width) + rng.Around(3);
                rgba[1] = base[1] + (other[1] - base[1]) * iy / static_cast<int>(height) + rng.Around(3);
                rgba[2] = base[2] + (other[2] - base[2]) * (ix + iy) / static_cast<int>(width + height);
                rgba[3] = 255 * (ix + 2 * iy) / static_cast<int>(width + 2 * height);
                break;
            case Kind::Flat: {
                Numbers cell(seed * 7919 + static_cast<std::uint64_t>(ix / cellW) * 131 +
                             static_cast<std::uint64_t>(iy / cellH));
                for (int ch = 0; ch < 3; ++ch)
                    rgba[ch] = cell.Below(256);
                // Most cells opaque; some at one alpha, some split in two.
                const int alphaKind = cell.Below(4);
                rgba[3] = alphaKind < 2 ? 255 : alphaKind == 2 ? cell.Below(256) : (ix % cellW < 2 ? 40 : 220);
                break;
            }
            case Kind::Cutout:
                // Textured colour under an alpha mask with hard edges (a
                // disc hole and stripes) and a few soft texels between.
                for (int ch = 0; ch < 3; ++ch)
                    rgba[ch] = (base[ch] + Triangle(ix * (ch + 1) + iy, 23 + 4 * ch)) / 2 + rng.Around(8);
                rgba[3] = inside || (ix / 3 + iy / 5) % 4 == 0 ? 0 : 255;
                if (rng.Below(16) == 0)
                    rgba[3] = rng.Below(256);
                break;
            case Kind::Grain:
                // Low contrast near one colour, as on a terrain texture:
                // many blocks the refit already holds.
                for (int ch = 0; ch < 3; ++ch)
                    rgba[ch] = base[ch] + rng.Around(ch == 1 ? 5 : 3);
                rgba[3] = 200 + rng.Around(40);
                break;
            case Kind::Waves:
                // Overlapping colour waves with grain and a brighter disc:
                // smooth areas, edges and texture.
                for (int ch = 0; ch < 3; ++ch) {
                    int v = Triangle(ix * (2 + ch) + iy * (3 - ch), 17 + 6 * ch) * 3 / 4 + 32;
                    if (inside)
                        v = 255 - v * 7 / 10;
                    rgba[ch] = v + rng.Around(10);
                }
                rgba[3] = inside ? 0 : Triangle(ix + iy, 40);
                break;
            }
            for (int ch = 0; ch < 4; ++ch)
                p[ch] = Clamp(rgba[ch]);
        }
    return image;
}

struct Sample {
    Kind kind;
    std::uint32_t width, height;
};

constexpr Sample kPictures[] = {
    {Kind::Noise, 94, 50},   {Kind::Gradients, 154, 78}, {Kind::Flat, 150, 82},
    {Kind::Cutout, 142, 74}, {Kind::Grain, 118, 62},     {Kind::Waves, 162, 86},
};

std::uint64_t Fnv1a(std::uint64_t hash, const std::uint8_t* data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 0x100000001B3ull;
    }
    return hash;
}

constexpr std::uint64_t kFnvStart = 0xCBF29CE484222325ull;

// The whole picture through EncodeImage, which hands whole blocks over in
// runs and encodes the edge blocks one by one.
std::vector<std::uint8_t> EncodePicture(D3DFORMAT format, const dxt_test::Image& image,
                                        const dxt::EncodeOptions& options)
{
    const std::uint32_t bw = (image.width + 3) / 4, bh = (image.height + 3) / 4;
    const unsigned bytes = dxt::BlockBytes(format);
    std::vector<std::uint8_t> out(std::size_t{bw} * bh * bytes);
    dxt::EncodeImage(format, image.rgba.data(), image.width, image.height, image.width * 4, out.data(), bw * bytes,
                     options);
    return out;
}

// The same blocks through EncodeBlock, one at a time.
std::vector<std::uint8_t> EncodeEachBlock(D3DFORMAT format, const dxt_test::Image& image,
                                          const dxt::EncodeOptions& options)
{
    const std::uint32_t bw = (image.width + 3) / 4, bh = (image.height + 3) / 4;
    const unsigned bytes = dxt::BlockBytes(format);
    std::vector<std::uint8_t> out(std::size_t{bw} * bh * bytes);
    for (std::uint32_t by = 0; by < bh; ++by)
        for (std::uint32_t bx = 0; bx < bw; ++bx) {
            std::uint8_t texels[64] = {};
            dxt::EncodeOptions local = options;
            local.validMask = 0;
            for (std::uint32_t y = 0; y < 4 && 4 * by + y < image.height; ++y)
                for (std::uint32_t x = 0; x < 4 && 4 * bx + x < image.width; ++x) {
                    std::memcpy(texels + 16 * y + 4 * x, &image.rgba[((4 * by + y) * image.width + 4 * bx + x) * 4],
                                4);
                    local.validMask = static_cast<std::uint16_t>(local.validMask | 1u << (4 * y + x));
                }
            dxt::EncodeBlock(format, texels, &out[(std::size_t{by} * bw + bx) * bytes], local);
        }
    return out;
}

struct Golden {
    D3DFORMAT format;
    dxt::Quality quality;
    bool weighted;
    std::uint64_t hash;
};

// Recorded from the encoder; each covers all six pictures.
constexpr Golden kGolden[] = {
    {D3DFMT_DXT1, dxt::Quality::Fast, false, 0x2D5E8C1F10B93A22ull},
    {D3DFMT_DXT1, dxt::Quality::Normal, false, 0x5FCC23ABAE433FFCull},
    {D3DFMT_DXT1, dxt::Quality::Highest, false, 0x14BAB153D93EA742ull},
    {D3DFMT_DXT2, dxt::Quality::Fast, false, 0x9C16C7BB106694ECull},
    {D3DFMT_DXT2, dxt::Quality::Normal, false, 0x59B7EE6D18D29521ull},
    {D3DFMT_DXT2, dxt::Quality::Highest, false, 0x99FEF28B8483AABEull},
    {D3DFMT_DXT3, dxt::Quality::Fast, false, 0xFCF0AC69E991231Full},
    {D3DFMT_DXT3, dxt::Quality::Normal, false, 0xF6DB2BC9378565A5ull},
    {D3DFMT_DXT3, dxt::Quality::Highest, false, 0x1F847E99399236E6ull},
    {D3DFMT_DXT4, dxt::Quality::Fast, false, 0x65B96EEC63859F30ull},
    {D3DFMT_DXT4, dxt::Quality::Normal, false, 0xD67A9B44C7D29F20ull},
    {D3DFMT_DXT4, dxt::Quality::Highest, false, 0x1650AC1AF40A4681ull},
    {D3DFMT_DXT5, dxt::Quality::Fast, false, 0x4A591143A943C83Full},
    {D3DFMT_DXT5, dxt::Quality::Normal, false, 0x8FFC4FA1578E678Cull},
    {D3DFMT_DXT5, dxt::Quality::Highest, false, 0x59ED4FDD4BB9CDCDull},
    {D3DFMT_DXT1, dxt::Quality::Fast, true, 0x732423D9F2A7DB81ull},
    {D3DFMT_DXT1, dxt::Quality::Normal, true, 0x3153001D0890091Full},
    {D3DFMT_DXT1, dxt::Quality::Highest, true, 0x790DA20B901E625Aull},
    {D3DFMT_DXT5, dxt::Quality::Fast, true, 0x38388BC41AA11DCAull},
    {D3DFMT_DXT5, dxt::Quality::Normal, true, 0x6CD1D060DFBD26DAull},
    {D3DFMT_DXT5, dxt::Quality::Highest, true, 0x5961970B1BB5F4EAull},
};

std::string Hex(std::uint64_t v)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%016llX", static_cast<unsigned long long>(v));
    return text;
}

TEST(DxtGolden, EveryPathQualityAndFormatGivesTheRecordedBytes)
{
    std::vector<dxt_test::Image> pictures;
    for (std::size_t k = 0; k < std::size(kPictures); ++k)
        pictures.push_back(Picture(kPictures[k].kind, kPictures[k].width, kPictures[k].height, 1000 + k));
    const auto paths = dxt_test::AvailablePaths();
    const dxt_test::KeepPath keep;
    for (const Golden& golden : kGolden) {
        dxt::EncodeOptions options;
        options.quality = golden.quality;
        if (golden.weighted) {
            options.weights[0] = 0.3f;
            options.weights[1] = 0.59f;
            options.weights[2] = 0.11f;
        }
        for (dxt::Path path : paths) {
            ASSERT_TRUE(dxt::SetPath(path));
            std::uint64_t inRuns = kFnvStart, alone = kFnvStart;
            for (const auto& picture : pictures) {
                const auto runs = EncodePicture(golden.format, picture, options);
                const auto blocks = EncodeEachBlock(golden.format, picture, options);
                inRuns = Fnv1a(inRuns, runs.data(), runs.size());
                alone = Fnv1a(alone, blocks.data(), blocks.size());
            }
            const auto where = ::testing::Message() << "format " << golden.format << " quality "
                                                    << int(golden.quality) << (golden.weighted ? " weighted" : "")
                                                    << " path " << int(path);
            EXPECT_EQ(Hex(inRuns), Hex(golden.hash)) << where << " (in runs)";
            EXPECT_EQ(Hex(alone), Hex(golden.hash)) << where << " (block by block)";
        }
    }
}

} // namespace
