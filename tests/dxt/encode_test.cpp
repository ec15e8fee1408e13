// The encoder: exactness where the format allows it, the DXT1 alpha rule,
// partial blocks, quality floors and determinism.
#include "platform/d3dx8/dxt/dxt.h"
#include "platform/d3dx8/dxt/dxt_internal.h"
#include "tests/dxt/dxt_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <utility>
#include <vector>

namespace {

using dxt_test::Block;

constexpr D3DFORMAT kFormats[] = {D3DFMT_DXT1, D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5};
constexpr dxt::Quality kQualities[] = {dxt::Quality::Fast, dxt::Quality::Normal, dxt::Quality::Highest};

Block Encode(D3DFORMAT format, const std::uint8_t rgba[64], dxt::EncodeOptions options = {})
{
    Block block(dxt::BlockBytes(format));
    dxt::EncodeBlock(format, rgba, block.data(), options);
    return block;
}

std::vector<std::uint8_t> RoundTrip(D3DFORMAT format, const std::uint8_t rgba[64], dxt::EncodeOptions options = {})
{
    const Block block = Encode(format, rgba, options);
    std::vector<std::uint8_t> out(64);
    dxt::DecodeBlock(format, block.data(), out.data());
    return out;
}

// The smallest error any endpoint pair gives for `value` on one channel
// (0 red, 1 green, 2 blue) in one mode, found through the decoder's own
// palette.  Every entry can be reached on each channel at once, so a solid
// block's best error in a mode is the sum over its channels.
int BestReachable(int value, int channel, bool four)
{
    int best = 255;
    const int codes = channel == 1 ? 64 : 32, shift = channel == 0 ? 11 : channel == 1 ? 5 : 0;
    std::uint8_t palette[4][4];
    for (int e0 = 0; e0 < codes; ++e0)
        for (int e1 = 0; e1 < codes; ++e1) {
            dxt::detail::ColourPalette(static_cast<std::uint16_t>(e0 << shift),
                                       static_cast<std::uint16_t>(e1 << shift), four, palette);
            for (int k = 0; k < (four ? 4 : 3); ++k)
                best = std::min(best, std::abs(palette[k][channel] - value));
        }
    return best;
}

TEST(DxtEncode, SolidBlocksAreExactWhereTheGridAllows)
{
    int reach[2][3][256];
    for (int four = 0; four < 2; ++four)
        for (int ch = 0; ch < 3; ++ch)
            for (int v = 0; v < 256; ++v)
                reach[four][ch][v] = BestReachable(v, ch, four);
    std::uint8_t rgba[64];
    for (D3DFORMAT format : {D3DFMT_DXT1, D3DFMT_DXT5}) {
        for (int n = 0; n < 512; ++n) {
            // Greys, where the 3-colour mode often wins, then mixed colours.
            const int v = n % 256;
            const int colour[3] = {v, n < 256 ? v : (v * 7 + 13) % 256, n < 256 ? v : 255 - v};
            for (int i = 0; i < 16; ++i) {
                for (int ch = 0; ch < 3; ++ch)
                    rgba[4 * i + ch] = static_cast<std::uint8_t>(colour[ch]);
                rgba[4 * i + 3] = 255;
            }
            int best = INT32_MAX;
            for (int four = format == D3DFMT_DXT1 ? 0 : 1; four < 2; ++four) {
                int sum = 0;
                for (int ch = 0; ch < 3; ++ch)
                    sum += reach[four][ch][colour[ch]] * reach[four][ch][colour[ch]];
                best = std::min(best, sum);
            }
            const auto out = RoundTrip(format, rgba);
            for (int i = 0; i < 16; ++i) {
                int error = 0;
                for (int ch = 0; ch < 3; ++ch)
                    error += (out[4 * i + ch] - colour[ch]) * (out[4 * i + ch] - colour[ch]);
                ASSERT_EQ(error, best) << "format " << format << " colour " << colour[0] << "," << colour[1] << ","
                                       << colour[2];
            }
        }
    }
}

TEST(DxtEncode, DecodedBlocksEncodeBackAlmostLosslessly)
{
    // A 4-colour block's decoded texels fit a block exactly.  The encoder
    // sees only the texels; the rounding of the interpolated entries can
    // hide the exact endpoints, but rarely, and then by little.
    std::mt19937 rng(31);
    std::uint8_t block[8], rgba[64];
    int blocks = 0, exact[3] = {0, 0, 0};
    double worst[3] = {0, 0, 0};
    for (int n = 0; n < 3000; ++n) {
        std::uint16_t c0 = static_cast<std::uint16_t>(rng()), c1 = static_cast<std::uint16_t>(rng());
        if (c0 == c1)
            continue;
        if (c0 < c1)
            std::swap(c0, c1);
        dxt::detail::StoreU16(block, c0);
        dxt::detail::StoreU16(block + 2, c1);
        dxt::detail::StoreU32(block + 4, static_cast<std::uint32_t>(rng()));
        dxt::DecodeBlock(D3DFMT_DXT1, block, rgba);
        ++blocks;
        for (int q = 0; q < 3; ++q) {
            std::uint8_t out[8];
            const double e = dxt::EncodeBlockWithError(D3DFMT_DXT1, rgba, out, {kQualities[q]});
            exact[q] += e == 0;
            worst[q] = std::max(worst[q], e / 16);
        }
    }
    EXPECT_GT(exact[0], blocks * 95 / 100);
    EXPECT_GT(exact[1], blocks * 97 / 100);
    EXPECT_EQ(exact[2], blocks);  // every split and every nudge is tried
    EXPECT_LT(worst[1], 30.0);    // mean squared error per texel
}

TEST(DxtEncode, TableGeneratorMatchesBruteForceThroughTheDecoder)
{
    dxt::detail::Tables tables{};
    dxt::detail::BuildTables(tables);
    std::uint8_t palette[4][4];
    for (int bits6 = 0; bits6 < 2; ++bits6) {
        const int channel = bits6 ? 1 : 0, shift = bits6 ? 5 : 11;
        for (int v = 0; v < 256; ++v) {
            int bestThird = 255, bestHalf = 255;
            for (int e0 = 0; e0 < (bits6 ? 64 : 32); ++e0)
                for (int e1 = 0; e1 < (bits6 ? 64 : 32); ++e1) {
                    dxt::detail::ColourPalette(static_cast<std::uint16_t>(e0 << shift),
                                               static_cast<std::uint16_t>(e1 << shift), true, palette);
                    bestThird = std::min(bestThird, std::abs(palette[2][channel] - v));
                    dxt::detail::ColourPalette(static_cast<std::uint16_t>(e0 << shift),
                                               static_cast<std::uint16_t>(e1 << shift), false, palette);
                    bestHalf = std::min(bestHalf, std::abs(palette[2][channel] - v));
                }
            const auto& third = tables.third[bits6][v];
            const auto& half = tables.half[bits6][v];
            ASSERT_EQ(third.error, bestThird) << bits6 << " " << v;
            ASSERT_EQ(half.error, bestHalf) << bits6 << " " << v;
            dxt::detail::ColourPalette(static_cast<std::uint16_t>(third.e0 << shift),
                                       static_cast<std::uint16_t>(third.e1 << shift), true, palette);
            ASSERT_EQ(std::abs(palette[2][channel] - v), third.error);
            dxt::detail::ColourPalette(static_cast<std::uint16_t>(half.e0 << shift),
                                       static_cast<std::uint16_t>(half.e1 << shift), false, palette);
            ASSERT_EQ(std::abs(palette[2][channel] - v), half.error);
            const int code = tables.nearest[bits6][v];
            const int expanded = bits6 ? dxt::detail::Expand6(code) : dxt::detail::Expand5(code);
            for (int other = 0; other < (bits6 ? 64 : 32); ++other) {
                const int e = bits6 ? dxt::detail::Expand6(other) : dxt::detail::Expand5(other);
                ASSERT_LE(std::abs(expanded - v), std::abs(e - v));
            }
        }
    }
    // The encoder's own copy is the same.
    EXPECT_EQ(std::memcmp(&tables, &dxt::detail::GetTables(), sizeof tables), 0);
}

TEST(DxtEncode, Dxt1NeverMakesAnOpaqueTexelTransparent)
{
    std::mt19937 rng(11);
    std::uint8_t rgba[64];
    for (int n = 0; n < 3000; ++n) {
        dxt_test::RandomTexels(rng, rgba, n);
        for (dxt::Quality q : kQualities) {
            const auto out = RoundTrip(D3DFMT_DXT1, rgba, {q});
            for (int i = 0; i < 16; ++i) {
                if (rgba[4 * i + 3] >= 128) {
                    ASSERT_EQ(out[4 * i + 3], 255) << "block " << n << " texel " << i;
                } else {
                    for (int ch = 0; ch < 4; ++ch)
                        ASSERT_EQ(out[4 * i + ch], 0) << "block " << n << " texel " << i;
                }
            }
        }
    }
}

TEST(DxtEncode, InvalidTexelsDoNotChangeTheBlock)
{
    std::mt19937 rng(5);
    std::uint8_t rgba[64], other[64];
    for (int n = 0; n < 2000; ++n) {
        dxt_test::RandomTexels(rng, rgba, n);
        std::memcpy(other, rgba, 64);
        const std::uint16_t mask = static_cast<std::uint16_t>(rng());
        for (int i = 0; i < 16; ++i)
            if (!(mask >> i & 1))
                for (int ch = 0; ch < 4; ++ch)
                    other[4 * i + ch] = static_cast<std::uint8_t>(rng());
        for (D3DFORMAT format : kFormats) {
            dxt::EncodeOptions options;
            options.validMask = mask;
            options.quality = kQualities[n % 3];
            ASSERT_EQ(Encode(format, rgba, options), Encode(format, other, options))
                << "format " << format << " block " << n << " mask " << mask;
        }
    }
}

TEST(DxtEncode, PartialBlockIsAsGoodAsItsTexelsAllow)
{
    // A 2x2 level of two colours: the four texels that exist decode almost
    // exactly, whatever sits in the rest of the block.
    std::uint8_t rgba[64];
    std::memset(rgba, 0x5A, sizeof rgba);
    const std::uint8_t colours[4][4] = {{255, 0, 0, 255}, {255, 0, 0, 255}, {0, 0, 255, 0}, {0, 0, 255, 255}};
    const int slots[4] = {0, 1, 4, 5};
    for (int k = 0; k < 4; ++k)
        std::memcpy(rgba + 4 * slots[k], colours[k], 4);
    dxt::EncodeOptions options;
    options.validMask = 0x33;
    for (D3DFORMAT format : {D3DFMT_DXT3, D3DFMT_DXT5}) {
        const auto out = RoundTrip(format, rgba, options);
        for (int k = 0; k < 4; ++k)
            for (int ch = 0; ch < 4; ++ch)
                EXPECT_EQ(out[4 * slots[k] + ch], colours[k][ch]) << format << " texel " << slots[k];
    }
}

TEST(DxtEncode, AlphaBlocksAreExactForFewLevels)
{
    // Two alpha levels, or the 0/255 extremes plus two more, fit the
    // interpolated alpha block exactly; explicit alpha is exact on
    // multiples of 17.
    std::mt19937 rng(3);
    std::uint8_t rgba[64];
    for (int n = 0; n < 500; ++n) {
        const int a = static_cast<int>(rng() % 256), b = static_cast<int>(rng() % 256);
        for (int i = 0; i < 16; ++i) {
            const int pick = static_cast<int>(rng() % 4);
            rgba[4 * i] = rgba[4 * i + 1] = rgba[4 * i + 2] = 100;
            rgba[4 * i + 3] = static_cast<std::uint8_t>(pick == 0 ? a : pick == 1 ? b : pick == 2 ? 0 : 255);
        }
        auto out = RoundTrip(D3DFMT_DXT5, rgba);
        for (int i = 0; i < 16; ++i)
            ASSERT_EQ(out[4 * i + 3], rgba[4 * i + 3]) << n;
        for (int i = 0; i < 16; ++i)
            rgba[4 * i + 3] = static_cast<std::uint8_t>(17 * (rng() % 16));
        out = RoundTrip(D3DFMT_DXT3, rgba);
        for (int i = 0; i < 16; ++i)
            ASSERT_EQ(out[4 * i + 3], rgba[4 * i + 3]) << n;
    }
    // One level, over whole and partial blocks: both endpoints that level
    // and every index 0 (the lowest of the entries equal to it).
    for (int v = 0; v < 256; ++v)
        for (std::uint16_t valid : {std::uint16_t{0xFFFF}, std::uint16_t{0x0137}}) {
            for (int i = 0; i < 16; ++i) {
                rgba[4 * i] = rgba[4 * i + 1] = rgba[4 * i + 2] = 100;
                rgba[4 * i + 3] = static_cast<std::uint8_t>(valid >> i & 1 ? v : 255 - v);
            }
            dxt::EncodeOptions options;
            options.validMask = valid;
            std::uint8_t block[16];
            dxt::EncodeBlock(D3DFMT_DXT5, rgba, block, options);
            ASSERT_EQ(block[0], v);
            ASSERT_EQ(block[1], v);
            for (int k = 2; k < 8; ++k)
                ASSERT_EQ(block[k], 0) << v;
        }
}

TEST(DxtEncode, AlphaRefitsMoveEndpointsInsideSmoothRamps)
{
    // Soft alpha (ramps with a little grain) is where the extremes are poor
    // endpoints: the best palette sits inside the range.  Normal starts from
    // the same pairs as Fast, so it is never worse on a block, and its refits
    // must find what the unit steps alone cannot reach (0.73 of Fast's error
    // with the steps only, 0.62 with the refits).
    std::mt19937 rng(11);
    std::uint8_t rgba[64] = {};
    double fast = 0, normal = 0;
    for (int n = 0; n < 2000; ++n) {
        const int a = static_cast<int>(rng() % 200), span = 20 + static_cast<int>(rng() % 100);
        const bool vertical = rng() % 2;
        for (int i = 0; i < 16; ++i) {
            const int t = vertical ? i / 4 : i % 4;
            const int grain = static_cast<int>(rng() % 5) - 2;
            rgba[4 * i + 3] = static_cast<std::uint8_t>(std::clamp(a + span * t / 3 + grain, 0, 255));
        }
        std::uint8_t block[16];
        const double e0 = dxt::EncodeBlockWithError(D3DFMT_DXT5, rgba, block, {dxt::Quality::Fast});
        const double e1 = dxt::EncodeBlockWithError(D3DFMT_DXT5, rgba, block, {dxt::Quality::Normal});
        ASSERT_LE(e1, e0) << "block " << n;
        fast += e0;
        normal += e1;
    }
    EXPECT_LT(normal, 0.66 * fast) << "fast " << fast << " normal " << normal;

    // The unit steps continue from where the refits ended, so Normal's pair
    // is almost always one that no single step within its mode improves.
    // Steps started from the wrong pair leave the refits' result as it is,
    // off such a minimum on a sizeable share of blocks.
    const auto& kernels = dxt::detail::KernelsFor(dxt::Path::Scalar);
    std::uint8_t alpha[16], mask[16];
    std::memset(mask, 0xFF, sizeof mask);
    int improvable = 0;
    for (int n = 0; n < 2000; ++n) {
        const int a = static_cast<int>(rng() % 200), span = 20 + static_cast<int>(rng() % 100);
        for (int i = 0; i < 16; ++i) {
            const int grain = static_cast<int>(rng() % 5) - 2;
            rgba[4 * i + 3] = alpha[i] = static_cast<std::uint8_t>(std::clamp(a + span * (i % 4) / 3 + grain, 0, 255));
        }
        std::uint8_t block[16];
        dxt::EncodeBlock(D3DFMT_DXT5, rgba, block, {dxt::Quality::Normal});
        const int a0 = block[0], a1 = block[1];
        const std::uint32_t error = kernels.alpha(alpha, mask, a0, a1, nullptr);
        bool better = false;
        for (const auto& [d0, d1] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
            const int n0 = a0 + d0, n1 = a1 + d1;
            if (n0 >= 0 && n0 <= 255 && n1 >= 0 && n1 <= 255 && (n0 > n1) == (a0 > a1))
                better = better || kernels.alpha(alpha, mask, n0, n1, nullptr) < error;
        }
        improvable += better;
    }
    EXPECT_LT(improvable, 40) << improvable << " blocks a single step improves, of 2000";
}

TEST(DxtEncode, AlphaSixValueModeIsRefinedWhereItWins)
{
    // Cut-out edges: texels at exactly 0 and 255 around a soft ramp.  The
    // 6-value mode holds 0 and 255 for free and spends its endpoints on the
    // ramp, so it wins, and Normal must refine it as it does the 8-value
    // mode (Normal searches it only when it starts near the 8-value mode's
    // best, which it does here): a pair that no single step improves.
    const auto& kernels = dxt::detail::KernelsFor(dxt::Path::Scalar);
    std::mt19937 rng(17);
    std::uint8_t rgba[64] = {}, alpha[16], mask[16];
    std::memset(mask, 0xFF, sizeof mask);
    int sixValue = 0, improvable = 0;
    for (int n = 0; n < 1000; ++n) {
        const int a = 40 + static_cast<int>(rng() % 120), span = 20 + static_cast<int>(rng() % 60);
        for (int i = 0; i < 16; ++i) {
            const int grain = static_cast<int>(rng() % 5) - 2;
            const int column = i % 4;
            int v = std::clamp(a + span * (i / 4) / 3 + grain, 1, 254);
            if (column == 0)
                v = 0;
            else if (column == 3)
                v = 255;
            rgba[4 * i + 3] = alpha[i] = static_cast<std::uint8_t>(v);
        }
        std::uint8_t block[16];
        const double fast = dxt::EncodeBlockWithError(D3DFMT_DXT5, rgba, block, {dxt::Quality::Fast});
        const double normal = dxt::EncodeBlockWithError(D3DFMT_DXT5, rgba, block, {dxt::Quality::Normal});
        ASSERT_LE(normal, fast) << "block " << n;
        const int a0 = block[0], a1 = block[1];
        if (a0 > a1)
            continue;
        ++sixValue;
        const std::uint32_t error = kernels.alpha(alpha, mask, a0, a1, nullptr);
        bool better = false;
        for (const auto& [d0, d1] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
            const int n0 = a0 + d0, n1 = a1 + d1;
            if (n0 >= 0 && n0 <= 255 && n1 >= 0 && n1 <= 255 && n0 <= n1)
                better = better || kernels.alpha(alpha, mask, n0, n1, nullptr) < error;
        }
        improvable += better;
    }
    EXPECT_GT(sixValue, 950);
    EXPECT_LT(improvable, 20) << improvable << " of " << sixValue << " blocks a single step improves";
}

TEST(DxtEncode, ExplicitAlphaRoundsToNearest)
{
    std::uint8_t rgba[64] = {};
    for (int a = 0; a < 256; a += 16) {
        for (int i = 0; i < 16; ++i)
            rgba[4 * i + 3] = static_cast<std::uint8_t>(a + i);
        const auto out = RoundTrip(D3DFMT_DXT3, rgba);
        for (int i = 0; i < 16; ++i)
            ASSERT_LE(std::abs(out[4 * i + 3] - (a + i)), 8) << a + i;
    }
}

TEST(DxtEncode, PremultipliedFormatsKeepColourUnderAlpha)
{
    std::mt19937 rng(8);
    std::uint8_t rgba[64];
    for (int n = 0; n < 300; ++n) {
        const std::uint8_t colour[3] = {static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                                        static_cast<std::uint8_t>(rng())};
        for (int i = 0; i < 16; ++i) {
            std::memcpy(rgba + 4 * i, colour, 3);
            rgba[4 * i + 3] = 255;
        }
        for (D3DFORMAT format : {D3DFMT_DXT2, D3DFMT_DXT4}) {
            const Block block = Encode(format, rgba);
            // Under full alpha premultiplied and straight colour agree.
            Block plain = block;
            std::vector<std::uint8_t> a(64), b(64);
            dxt::DecodeBlock(format, block.data(), a.data());
            dxt::DecodeBlock(format == D3DFMT_DXT2 ? D3DFMT_DXT3 : D3DFMT_DXT5, plain.data(), b.data());
            ASSERT_EQ(a, b);
            for (int ch = 0; ch < 3; ++ch)
                ASSERT_LE(std::abs(a[ch] - colour[ch]), 4);
        }
        // Half alpha: the stored colour is about half the straight colour.
        for (int i = 0; i < 16; ++i)
            rgba[4 * i + 3] = 128;
        const Block block = Encode(D3DFMT_DXT4, rgba);
        std::vector<std::uint8_t> stored(64), straight(64);
        dxt::DecodeBlock(D3DFMT_DXT5, block.data(), stored.data());
        dxt::DecodeBlock(D3DFMT_DXT4, block.data(), straight.data());
        for (int ch = 0; ch < 3; ++ch) {
            ASSERT_LE(std::abs(stored[ch] - colour[ch] * 128 / 255), 4);
            ASSERT_LE(std::abs(straight[ch] - colour[ch]), 9);
        }
    }
}

TEST(DxtEncode, ChannelWeightsShiftTheErrorToTheLightChannels)
{
    // Weighting green heavily must not raise green's error over a picture,
    // and should lower it; red and blue pay for it.
    const auto image = dxt_test::SyntheticImage(64, 64, 5, false);
    double channel[2][3] = {};
    for (int weighted = 0; weighted < 2; ++weighted) {
        dxt::EncodeOptions options;
        if (weighted) {
            options.weights[0] = 0.2f;
            options.weights[1] = 1.0f;
            options.weights[2] = 0.2f;
        }
        std::uint8_t rgba[64], block[8], out[64];
        for (std::uint32_t by = 0; by < 16; ++by)
            for (std::uint32_t bx = 0; bx < 16; ++bx) {
                for (int y = 0; y < 4; ++y)
                    std::memcpy(rgba + 16 * y, &image.rgba[((4 * by + y) * 64 + 4 * bx) * 4], 16);
                dxt::EncodeBlock(D3DFMT_DXT1, rgba, block, options);
                dxt::DecodeBlock(D3DFMT_DXT1, block, out);
                for (int i = 0; i < 16; ++i)
                    for (int ch = 0; ch < 3; ++ch)
                        channel[weighted][ch] += (out[4 * i + ch] - rgba[4 * i + ch]) * (out[4 * i + ch] - rgba[4 * i + ch]);
            }
    }
    EXPECT_LT(channel[1][1], channel[0][1] * 0.9);
    EXPECT_GT(channel[1][0] + channel[1][2], channel[0][0] + channel[0][2]);
}

TEST(DxtEncode, ReportedErrorIsTheDecodedError)
{
    std::mt19937 rng(21);
    std::uint8_t rgba[64], out[64];
    for (int n = 0; n < 500; ++n) {
        dxt_test::RandomTexels(rng, rgba, n);
        for (D3DFORMAT format : kFormats) {
            dxt::EncodeOptions options;
            options.validMask = static_cast<std::uint16_t>(rng() | 1);
            Block block(16);
            const double reported = dxt::EncodeBlockWithError(format, rgba, block.data(), options);
            dxt::DecodeBlock(format, block.data(), out);
            double error = 0;
            for (int i = 0; i < 16; ++i)
                if (options.validMask >> i & 1)
                    for (int ch = 0; ch < (format == D3DFMT_DXT1 ? 3 : 4); ++ch)
                        error += (rgba[4 * i + ch] - out[4 * i + ch]) * (rgba[4 * i + ch] - out[4 * i + ch]);
            ASSERT_EQ(reported, error);
        }
    }
}

TEST(DxtEncode, HigherQualityIsNeverWorseOverAPicture)
{
    // Over the picture for both formats.  Block by block for DXT1, whose
    // blocks are colour alone, where the higher level keeps every stage of
    // the lower: Normal against Fast and Highest against Normal.  (DXT5's
    // Normal skips the axis refit on blocks it sends to the cluster fit,
    // and its alpha searches differ by level.)
    const auto image = dxt_test::SyntheticImage(64, 64, 99, true);
    for (D3DFORMAT format : {D3DFMT_DXT1, D3DFMT_DXT5}) {
        double previous = 1e300;
        std::vector<double> previousBlocks(256, 1e300);
        for (dxt::Quality q : kQualities) {
            double error = 0;
            std::uint8_t rgba[64], block[16];
            for (std::uint32_t by = 0; by < 16; ++by)
                for (std::uint32_t bx = 0; bx < 16; ++bx) {
                    for (int y = 0; y < 4; ++y)
                        std::memcpy(rgba + 16 * y, &image.rgba[((4 * by + y) * 64 + 4 * bx) * 4], 16);
                    if (format == D3DFMT_DXT1)
                        for (int i = 0; i < 16; ++i)
                            rgba[4 * i + 3] = 255;
                    const double e = dxt::EncodeBlockWithError(format, rgba, block, {q});
                    if (format == D3DFMT_DXT1 && q != dxt::Quality::Fast) {
                        EXPECT_LE(e, previousBlocks[16 * by + bx])
                            << "quality " << int(q) << " block " << bx << ", " << by;
                    }
                    previousBlocks[16 * by + bx] = e;
                    error += e;
                }
            EXPECT_LE(error, previous * 1.001) << "format " << format << " quality " << int(q);
            previous = error;
        }
    }
}

double ImagePsnr(D3DFORMAT format, const dxt_test::Image& image, dxt::Quality quality, int channels)
{
    const std::uint32_t bw = (image.width + 3) / 4, bh = (image.height + 3) / 4;
    const unsigned bytes = dxt::BlockBytes(format);
    std::vector<std::uint8_t> blocks(std::size_t{bw} * bh * bytes), out(image.rgba.size());
    dxt::EncodeImage(format, image.rgba.data(), image.width, image.height, image.width * 4, blocks.data(), bw * bytes,
                     {quality});
    dxt::DecodeImage(format, blocks.data(), bw * bytes, image.width, image.height, out.data(), image.width * 4);
    double error = 0;
    for (std::size_t i = 0; i < out.size(); ++i)
        if (int(i % 4) < channels) {
            const double d = double(out[i]) - image.rgba[i];
            error += d * d;
        }
    return dxt_test::Psnr(error, double(out.size() / 4) * channels);
}

TEST(DxtEncode, QualityFloorOnGeneratedPictures)
{
    // Floors a tenth of a decibel under what Fast and Normal reach, and
    // half that under Highest (which stands only a little above Normal
    // here: the grain of the picture caps it), so a regression in any
    // stage shows.
    const auto opaque = dxt_test::SyntheticImage(130, 66, 1, false);
    const auto alpha = dxt_test::SyntheticImage(130, 66, 2, true);
    struct Floor {
        D3DFORMAT format;
        dxt::Quality quality;
        double psnr;
    };
    const Floor floors[] = {
        {D3DFMT_DXT1, dxt::Quality::Fast, 29.15},    {D3DFMT_DXT1, dxt::Quality::Normal, 29.38},
        {D3DFMT_DXT1, dxt::Quality::Highest, 29.42},   {D3DFMT_DXT5, dxt::Quality::Fast, 33.0},
        {D3DFMT_DXT5, dxt::Quality::Normal, 33.2},   {D3DFMT_DXT5, dxt::Quality::Highest, 33.28},
        {D3DFMT_DXT3, dxt::Quality::Normal, 32.75},  {D3DFMT_DXT3, dxt::Quality::Highest, 32.86},
    };
    for (const Floor& floor : floors) {
        const bool dxt1 = floor.format == D3DFMT_DXT1;
        EXPECT_GT(ImagePsnr(floor.format, dxt1 ? opaque : alpha, floor.quality, dxt1 ? 3 : 4), floor.psnr)
            << "format " << floor.format << " quality " << int(floor.quality);
    }
}

TEST(DxtEncode, RepeatedBlocksGetTheBytesOfTheirOwnEncoding)
{
    // Blocks equal to a neighbour take its bytes: they must be what the
    // block encodes to.  Flat runs, repeats of a busy block along rows and
    // down columns, a busy block beside its repeat, and edges of partial
    // blocks (whose texels match the whole blocks above them).
    const auto busy = dxt_test::SyntheticImage(8, 4, 5, true);
    const std::uint32_t width = 70, height = 46;
    dxt_test::Image image{width, height, std::vector<std::uint8_t>(std::size_t{width} * height * 4)};
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint8_t* t = &image.rgba[(std::size_t{y} * width + x) * 4];
            const std::uint32_t bx = x / 4, by = y / 4;
            if (bx % 3 == 0 && by % 4 != 3) {
                const std::uint32_t from = (y % 4) * 8 + x % 4 + ((bx / 3 + by / 2) % 2) * 4;
                std::copy_n(&busy.rgba[from * 4], 4, t);
            } else {
                const std::uint8_t flat[4] = {static_cast<std::uint8_t>(40 * (by / 3 % 2)), 120, 200,
                                              static_cast<std::uint8_t>(bx < 8 ? 255 : 90)};
                std::copy_n(flat, 4, t);
            }
        }
    const std::uint32_t bw = (width + 3) / 4, bh = (height + 3) / 4;
    for (const D3DFORMAT format : {D3DFMT_DXT1, D3DFMT_DXT3, D3DFMT_DXT5})
        for (const dxt::Quality quality : {dxt::Quality::Fast, dxt::Quality::Normal}) {
            const unsigned bytes = dxt::BlockBytes(format);
            std::vector<std::uint8_t> whole(std::size_t{bw} * bh * bytes);
            dxt::EncodeImage(format, image.rgba.data(), width, height, width * 4, whole.data(), bw * bytes, {quality});
            for (std::uint32_t by = 0; by < bh; ++by)
                for (std::uint32_t bx = 0; bx < bw; ++bx) {
                    std::uint8_t one[16];
                    dxt::EncodeImage(format, &image.rgba[(std::size_t{by} * 4 * width + bx * 4) * 4],
                                     std::min(4u, width - 4 * bx), std::min(4u, height - 4 * by), width * 4, one,
                                     bytes, {quality});
                    ASSERT_EQ(0, std::memcmp(one, &whole[(std::size_t{by} * bw + bx) * bytes], bytes))
                        << "format " << format << " quality " << int(quality) << " block " << bx << ", " << by;
                }
        }
}

TEST(DxtEncode, SameBytesOnEveryRunAndThreadCount)
{
    const auto image = dxt_test::SyntheticImage(128, 128, 17, true);
    const std::uint32_t blocksPerRow = 32;
    auto encodeRows = [&](std::vector<std::uint8_t>& out, std::uint32_t first, std::uint32_t step) {
        for (std::uint32_t by = first; by < 32; by += step)
            dxt::EncodeImage(D3DFMT_DXT5, &image.rgba[std::size_t{by} * 4 * 128 * 4], 128, 4, 128 * 4,
                             &out[std::size_t{by} * blocksPerRow * 16], blocksPerRow * 16);
    };
    std::vector<std::uint8_t> single(32 * 32 * 16), again(single.size()), threaded(single.size());
    encodeRows(single, 0, 1);
    encodeRows(again, 0, 1);
    EXPECT_EQ(single, again);
    std::vector<std::thread> threads;
    for (std::uint32_t t = 0; t < 4; ++t)
        threads.emplace_back([&, t] { encodeRows(threaded, t, 4); });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(single, threaded);
}

} // namespace
