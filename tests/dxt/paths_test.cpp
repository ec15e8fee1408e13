// The scalar and vector paths of the encoder give the same bytes.
#include "platform/d3dx8/dxt/dxt.h"
#include "platform/d3dx8/dxt/dxt_internal.h"
#include "tests/dxt/dxt_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using dxt_test::AvailablePaths;

TEST(DxtPaths, ScalarIsAlwaysAvailableAndAutoPicksAVectorPathOnX86)
{
    const dxt_test::KeepPath keep;
    EXPECT_TRUE(dxt::SetPath(dxt::Path::Scalar));
    EXPECT_EQ(dxt::ActivePath(), dxt::Path::Scalar);
    EXPECT_TRUE(dxt::SetPath(dxt::Path::Auto));
#if defined(__x86_64__)
    EXPECT_NE(dxt::ActivePath(), dxt::Path::Scalar);
#endif
}

TEST(DxtPaths, KernelsAgreeOnRandomInput)
{
    std::mt19937 rng(42);
    const auto paths = AvailablePaths();
    for (int n = 0; n < 20000; ++n) {
        dxt::detail::ColourSet set{};
        for (int i = 0; i < 16; ++i) {
            set.rg[2 * i] = static_cast<std::int16_t>(rng() % 256);
            set.rg[2 * i + 1] = static_cast<std::int16_t>(rng() % 256);
            set.bz[2 * i] = static_cast<std::int16_t>(rng() % 256);
            set.mask[i] = (rng() & 3) ? -1 : 0;
        }
        set.weighted = n % 2;
        set.wrg[0] = static_cast<std::int16_t>(1 + rng() % 128);
        set.wrg[1] = static_cast<std::int16_t>(1 + rng() % 128);
        set.wb = static_cast<std::int16_t>(1 + rng() % 128);
        std::uint8_t alpha[16], mask[16];
        // Colour endpoints far apart, one code apart and equal.
        const auto c0 = static_cast<std::uint16_t>(rng());
        const auto c1 = static_cast<std::uint16_t>(n % 5 == 0 ? c0 : n % 5 == 1 ? c0 ^ (1u << rng() % 16) : rng());
        // Endpoints far apart, close together (ties between entries) and
        // equal, in both orders.
        int ends[8];
        for (int q = 0; q < 4; ++q) {
            ends[2 * q] = static_cast<int>(rng() % 256);
            const int spread = n % 3 == 0 ? static_cast<int>(rng() % 5) - 2 : static_cast<int>(rng() % 256) - ends[2 * q];
            ends[2 * q + 1] = std::clamp(ends[2 * q] + spread, 0, 255);
        }
        for (int i = 0; i < 16; ++i) {
            alpha[i] = static_cast<std::uint8_t>(rng());
            mask[i] = (rng() & 3) ? 0xFF : 0;
        }
        const bool four = n % 2;
        // A block's texels for the alpha block and the DXT1 alpha cut:
        // alphas around 128, and some exactly 0 and 255.
        std::uint8_t rgba[64];
        for (int i = 0; i < 64; ++i)
            rgba[i] = static_cast<std::uint8_t>(rng());
        for (int i = 0; i < 16; ++i)
            if (n % 4 == 1)
                rgba[4 * i + 3] = static_cast<std::uint8_t>(i % 3 == 0 ? 0 : i % 3 == 1 ? 255 : 120 + rng() % 16);
        const auto valid = static_cast<std::uint16_t>(n % 3 == 0 ? 0xFFFF : rng());
        const auto& reference = dxt::detail::KernelsFor(dxt::Path::Scalar);
        const auto quality = static_cast<dxt::Quality>(n % 3);
        std::uint8_t refAlphaBlock[8];
        reference.alphaBlock(rgba, valid, quality, reference, refAlphaBlock);
        const std::uint16_t refOpaque = reference.opaqueBits(rgba);
        std::uint32_t refIndices = 0;
        const std::uint32_t refError = reference.colour(set, c0, c1, four, &refIndices);
        std::uint64_t refAlphaIndices = 0;
        const std::uint32_t refAlpha = reference.alpha(alpha, mask, ends[0], ends[1], &refAlphaIndices);
        std::uint32_t refQuad[4];
        reference.alphaQuad(alpha, mask, ends, refQuad);
        dxt::detail::AlphaMoments refMoments;
        const std::uint32_t refFit = reference.alphaFit(alpha, mask, ends[2], ends[3], refMoments);
        for (dxt::Path p : paths) {
            const auto& k = dxt::detail::KernelsFor(p);
            std::uint32_t indices = 0;
            ASSERT_EQ(k.colour(set, c0, c1, four, &indices), refError) << int(p) << " case " << n;
            ASSERT_EQ(indices, refIndices) << int(p) << " case " << n;
            std::uint64_t alphaIndices = 0;
            ASSERT_EQ(k.alpha(alpha, mask, ends[0], ends[1], &alphaIndices), refAlpha) << int(p) << " case " << n;
            ASSERT_EQ(alphaIndices, refAlphaIndices) << int(p) << " case " << n;
            ASSERT_EQ(k.alpha(alpha, mask, ends[0], ends[1], nullptr), refAlpha) << int(p) << " case " << n;
            std::uint32_t quad[4];
            k.alphaQuad(alpha, mask, ends, quad);
            for (int q = 0; q < 4; ++q)
                ASSERT_EQ(quad[q], refQuad[q]) << int(p) << " case " << n << " pair " << q;
            dxt::detail::AlphaMoments moments;
            ASSERT_EQ(k.alphaFit(alpha, mask, ends[2], ends[3], moments), refFit) << int(p) << " case " << n;
            ASSERT_EQ(std::memcmp(&moments, &refMoments, sizeof moments), 0) << int(p) << " case " << n;
            std::uint8_t alphaBlock[8];
            k.alphaBlock(rgba, valid, quality, k, alphaBlock);
            ASSERT_EQ(std::memcmp(alphaBlock, refAlphaBlock, sizeof alphaBlock), 0) << int(p) << " case " << n;
            ASSERT_EQ(k.opaqueBits(rgba), refOpaque) << int(p) << " case " << n;
        }
    }
}

// The vector paths build the alpha palettes themselves: every endpoint
// pair must give the decoder's entries.  Alphas 0..7 are those entries, so
// any entry off by one shows as an error or an index.
TEST(DxtPaths, AlphaKernelsBuildTheDecodersPaletteForEveryPair)
{
    const auto paths = AvailablePaths();
    const auto& reference = dxt::detail::KernelsFor(dxt::Path::Scalar);
    std::uint8_t alpha[16], mask[16];
    std::memset(mask, 0xFF, sizeof mask);
    for (int a0 = 0; a0 < 256; ++a0)
        for (int a1 = 0; a1 < 256; ++a1) {
            dxt::detail::AlphaPalette(a0, a1, alpha);
            for (int i = 8; i < 16; ++i)
                alpha[i] = static_cast<std::uint8_t>(a0 * 31 + a1 * 17 + i * 45);
            std::uint64_t refIndices = 0;
            const std::uint32_t refError = reference.alpha(alpha, mask, a0, a1, &refIndices);
            for (dxt::Path p : paths) {
                std::uint64_t indices = 0;
                ASSERT_EQ(dxt::detail::KernelsFor(p).alpha(alpha, mask, a0, a1, &indices), refError)
                    << int(p) << " pair " << a0 << ", " << a1;
                ASSERT_EQ(indices, refIndices) << int(p) << " pair " << a0 << ", " << a1;
            }
        }
}

// The same for the colour palettes.  Channels are independent, so pairs
// whose red and blue codes follow the green one's low bits cover every
// pair of codes in every channel.  The texels are the decoder's entries,
// each repeated, so every entry must come out with no error.
TEST(DxtPaths, ColourKernelsBuildTheDecodersPaletteForEveryPairOfCodes)
{
    const auto paths = AvailablePaths();
    dxt::detail::ColourSet set{};
    std::fill(std::begin(set.mask), std::end(set.mask), -1);
    for (int g0 = 0; g0 < 64; ++g0)
        for (int g1 = 0; g1 < 64; ++g1)
            for (bool four : {true, false}) {
                const auto c0 = static_cast<std::uint16_t>((g0 & 31) << 11 | g0 << 5 | (g1 & 31));
                const auto c1 = static_cast<std::uint16_t>((g1 & 31) << 11 | g1 << 5 | (g0 & 31));
                std::uint8_t palette[4][4];
                dxt::detail::ColourPalette(c0, c1, four, palette);
                for (int i = 0; i < 16; ++i)
                    for (int ch = 0; ch < 3; ++ch)
                        (ch == 2 ? set.bz[2 * i] : set.rg[2 * i + ch]) = palette[i % (four ? 4 : 3)][ch];
                for (dxt::Path p : paths) {
                    std::uint32_t indices = 0;
                    ASSERT_EQ(dxt::detail::KernelsFor(p).colour(set, c0, c1, four, &indices), 0u)
                        << int(p) << " codes " << c0 << ", " << c1 << (four ? " four" : " three");
                    for (int i = 0; i < 16; ++i)
                        ASSERT_EQ(std::memcmp(palette[indices >> (2 * i) & 3], palette[i % (four ? 4 : 3)], 3), 0)
                            << int(p) << " codes " << c0 << ", " << c1 << " texel " << i;
                }
            }
}

TEST(DxtPaths, EveryPathEncodesTheSameBytes)
{
    const auto paths = AvailablePaths();
    const dxt_test::KeepPath keep;
    std::mt19937 rng(7);
    std::uint8_t rgba[64];
    for (int n = 0; n < 3000; ++n) {
        dxt_test::RandomTexels(rng, rgba, n);
        dxt::EncodeOptions options;
        options.quality = static_cast<dxt::Quality>(n % 3);
        options.validMask = (n % 5 == 0) ? static_cast<std::uint16_t>(rng()) : 0xFFFF;
        if (n % 7 == 0) {
            options.weights[0] = 0.3f;
            options.weights[1] = 0.59f;
            options.weights[2] = 0.11f;
        }
        for (D3DFORMAT format : {D3DFMT_DXT1, D3DFMT_DXT3, D3DFMT_DXT5}) {
            std::uint8_t reference[16], block[16];
            dxt::SetPath(dxt::Path::Scalar);
            dxt::EncodeBlock(format, rgba, reference, options);
            for (dxt::Path p : paths) {
                dxt::SetPath(p);
                dxt::EncodeBlock(format, rgba, block, options);
                ASSERT_EQ(std::memcmp(block, reference, dxt::BlockBytes(format)), 0)
                    << "path " << int(p) << " format " << format << " block " << n;
            }
        }
    }
}

TEST(DxtPaths, BlocksSideBySideReachTheSameStateAsBlocksAlone)
{
    // The state after the axis candidates and their refit, compared field
    // by field: the bytes at the end seldom show a difference in the flags
    // the cluster fits read (a refit tried and left, a 3-colour candidate's
    // error).  Texture-like blocks (noise around a ramp between two colours,
    // at several strengths) and nearly flat ones, beside the random kinds.
    const auto paths = AvailablePaths();
    const dxt_test::KeepPath keep;
    std::mt19937 rng(23);
    std::uniform_int_distribution<int> byte(0, 255);
    for (dxt::Path p : paths) {
        dxt::SetPath(p);
        for (int n = 0; n < 3000; ++n) {
            const int count = 1 + n % dxt::detail::kColourBatch;
            std::uint8_t texels[dxt::detail::kColourBatch][64];
            dxt::detail::ColourRequest requests[dxt::detail::kColourBatch];
            const float weights[3] = {0.3f, 0.59f, 0.11f}, unit[3] = {1.0f, 1.0f, 1.0f};
            const bool dxt1 = n % 5 != 0;
            const auto quality = n % 4 == 0 ? dxt::Quality::Fast : dxt::Quality::Normal;
            for (int k = 0; k < count; ++k) {
                if (n % 3 == 0) {
                    dxt_test::RandomTexels(rng, texels[k], static_cast<int>(rng() % 4));
                } else if (n % 3 == 1) {
                    // Nearly flat: a refit of such blocks can have no
                    // solution (every texel on one palette entry).
                    const int base[3] = {byte(rng), byte(rng), byte(rng)};
                    for (int i = 0; i < 16; ++i)
                        for (int ch = 0; ch < 3; ++ch)
                            texels[k][4 * i + ch] = static_cast<std::uint8_t>(base[ch]);
                    for (int m = 0; m < 1 + n % 3; ++m) {
                        std::uint8_t& v = texels[k][4 * (rng() % 16) + rng() % 3];
                        v = static_cast<std::uint8_t>(std::clamp(v + static_cast<int>(rng() % 7) - 3, 0, 255));
                    }
                } else {
                    const int noise = 2 + static_cast<int>(rng() % 40);
                    int from[3], to[3];
                    for (int ch = 0; ch < 3; ++ch)
                        from[ch] = byte(rng), to[ch] = byte(rng);
                    for (int i = 0; i < 16; ++i)
                        for (int ch = 0; ch < 3; ++ch) {
                            const int v = from[ch] + (to[ch] - from[ch]) * i / 15 +
                                          static_cast<int>(rng() % (2 * noise + 1)) - noise;
                            texels[k][4 * i + ch] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
                        }
                }
                for (int i = 0; i < 16; ++i)
                    texels[k][4 * i + 3] = 255;
                requests[k] = {texels[k], 0xFFFF, 0, dxt1, quality, n % 7 == 0 ? weights : unit};
            }
            dxt::detail::ColourFrontEnd alone[dxt::detail::kColourBatch], together[dxt::detail::kColourBatch];
            bool ranAlone[dxt::detail::kColourBatch], ranTogether[dxt::detail::kColourBatch];
            dxt::detail::ColourFrontEnds(requests, count, false, alone, ranAlone);
            dxt::detail::ColourFrontEnds(requests, count, true, together, ranTogether);
            for (int k = 0; k < count; ++k) {
                ASSERT_EQ(ranAlone[k], ranTogether[k]) << "path " << int(p) << " run " << n << " block " << k;
                if (!ranAlone[k])
                    continue;
                const auto& a = alone[k];
                const auto& b = together[k];
                const auto where = ::testing::Message() << "path " << int(p) << " run " << n << " block " << k;
                ASSERT_EQ(a.c0, b.c0) << where;
                ASSERT_EQ(a.c1, b.c1) << where;
                ASSERT_EQ(a.four, b.four) << where;
                ASSERT_EQ(a.settled, b.settled) << where;
                ASSERT_EQ(a.indices, b.indices) << where;
                ASSERT_EQ(a.error, b.error) << where;
                ASSERT_EQ(a.threeError, b.threeError) << where;
                ASSERT_EQ(a.goOn, b.goOn) << where;
            }
        }
    }
}

TEST(DxtPaths, PicturesEncodedInRunsMatchBlocksEncodedAlone)
{
    // EncodeImage hands whole blocks over in runs, which share work; a
    // picture's worth of smooth and busy blocks reaches the rarer turns
    // that random blocks seldom take (a refit that changes nothing, a
    // 3-colour candidate that starts far off).  The sides are not multiples
    // of 4, so edge blocks go one by one beside the runs.  EncodeImage
    // ignores the options' validMask, which is set here to one texel.
    const auto image = dxt_test::SyntheticImage(203, 150, 5, false);
    const std::uint32_t bw = (image.width + 3) / 4, bh = (image.height + 3) / 4;
    for (D3DFORMAT format : {D3DFMT_DXT1, D3DFMT_DXT5})
        for (dxt::Quality q : {dxt::Quality::Fast, dxt::Quality::Normal}) {
            const unsigned bytes = dxt::BlockBytes(format);
            std::vector<std::uint8_t> runs(std::size_t{bw} * bh * bytes);
            dxt::EncodeOptions imageOptions;
            imageOptions.quality = q;
            imageOptions.validMask = 1;
            dxt::EncodeImage(format, image.rgba.data(), image.width, image.height, image.width * 4, runs.data(),
                             bw * bytes, imageOptions);
            for (std::uint32_t by = 0; by < bh; ++by)
                for (std::uint32_t bx = 0; bx < bw; ++bx) {
                    std::uint8_t texels[64] = {}, block[16];
                    dxt::EncodeOptions options;
                    options.quality = q;
                    options.validMask = 0;
                    for (std::uint32_t y = 0; y < 4 && 4 * by + y < image.height; ++y)
                        for (std::uint32_t x = 0; x < 4 && 4 * bx + x < image.width; ++x) {
                            std::memcpy(texels + 16 * y + 4 * x,
                                        &image.rgba[((4 * by + y) * image.width + 4 * bx + x) * 4], 4);
                            options.validMask = static_cast<std::uint16_t>(options.validMask | 1u << (4 * y + x));
                        }
                    dxt::EncodeBlock(format, texels, block, options);
                    ASSERT_EQ(std::memcmp(block, &runs[(std::size_t{by} * bw + bx) * bytes], bytes), 0)
                        << "format " << format << " quality " << int(q) << " block " << bx << ", " << by;
                }
        }
}

TEST(DxtPaths, BlocksEncodedTogetherMatchBlocksEncodedAlone)
{
    // Runs of up to eleven blocks (one batch and part of another) mixing
    // kinds that take different ways through the encoder: noise, ramps, two
    // colours, near-grey, a single colour, and one texel off a single
    // colour.  DXT1 blocks with transparent texels and DXT2/DXT4's
    // premultiplied colour ride along.
    const auto paths = AvailablePaths();
    const dxt_test::KeepPath keep;
    std::mt19937 rng(11);
    constexpr int kMost = 11;
    std::uint8_t texels[kMost][64];
    const std::uint8_t* rgba[kMost];
    for (int k = 0; k < kMost; ++k)
        rgba[k] = texels[k];
    for (int n = 0; n < 400; ++n) {
        const int count = 1 + n % kMost;
        for (int k = 0; k < count; ++k) {
            const int kind = static_cast<int>(rng() % 6);
            dxt_test::RandomTexels(rng, texels[k], kind);
            if (kind >= 4) {
                for (int i = 1; i < 16; ++i)
                    std::memcpy(texels[k] + 4 * i, texels[k], 3);
                if (kind == 5)
                    texels[k][4 * (rng() % 16) + rng() % 3] ^= static_cast<std::uint8_t>(1 + rng() % 255);
            }
        }
        dxt::EncodeOptions options;
        options.quality = static_cast<dxt::Quality>(n % 3);
        if (n % 4 == 1) {
            options.weights[0] = 0.3f;
            options.weights[1] = 0.59f;
            options.weights[2] = 0.11f;
        }
        for (dxt::Path p : paths) {
            dxt::SetPath(p);
            for (D3DFORMAT format : {D3DFMT_DXT1, D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5}) {
                std::uint8_t alone[kMost][16], together[kMost][16];
                std::uint8_t* out[kMost];
                for (int k = 0; k < count; ++k) {
                    dxt::EncodeBlock(format, texels[k], alone[k], options);
                    out[k] = together[k];
                }
                dxt::EncodeBlocks(format, count, rgba, out, options);
                for (int k = 0; k < count; ++k)
                    ASSERT_EQ(std::memcmp(alone[k], together[k], dxt::BlockBytes(format)), 0)
                        << "path " << int(p) << " format " << format << " run " << n << " block " << k;
            }
        }
    }
}

} // namespace
