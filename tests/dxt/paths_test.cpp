// The scalar and vector paths of the encoder give the same bytes.
#include "dxt.h"
#include "dxt_internal.h"
#include "dxt_test_util.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::vector<dxt::Path> AvailablePaths()
{
    std::vector<dxt::Path> paths;
    const dxt::Path before = dxt::ActivePath();
    for (dxt::Path p : {dxt::Path::Scalar, dxt::Path::Sse2, dxt::Path::Avx2})
        if (dxt::SetPath(p))
            paths.push_back(p);
    dxt::SetPath(before);
    return paths;
}

TEST(DxtPaths, ScalarIsAlwaysAvailableAndAutoPicksAVectorPathOnX86)
{
    const dxt::Path before = dxt::ActivePath();
    EXPECT_TRUE(dxt::SetPath(dxt::Path::Scalar));
    EXPECT_EQ(dxt::ActivePath(), dxt::Path::Scalar);
    EXPECT_TRUE(dxt::SetPath(dxt::Path::Auto));
#if defined(__x86_64__)
    EXPECT_NE(dxt::ActivePath(), dxt::Path::Scalar);
#endif
    dxt::SetPath(before);
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
        std::uint8_t palette[4][4], alphaPalette[8], alpha[16], mask[16];
        for (auto& entry : palette)
            for (auto& v : entry)
                v = static_cast<std::uint8_t>(rng());
        for (int k = 0; k < 8; ++k)
            alphaPalette[k] = static_cast<std::uint8_t>(n % 3 ? rng() : rng() % 4 * 60);  // ties too
        for (int i = 0; i < 16; ++i) {
            alpha[i] = static_cast<std::uint8_t>(rng());
            mask[i] = (rng() & 3) ? 0xFF : 0;
        }
        const int count = 3 + n % 2;
        const auto& reference = dxt::detail::KernelsFor(dxt::Path::Scalar);
        std::uint32_t refIndices = 0;
        const std::uint32_t refError = reference.colour(set, palette, count, &refIndices);
        const std::uint32_t refAlpha = reference.alpha(alpha, mask, alphaPalette);
        const std::uint64_t refAlphaIndices = reference.alphaIndices(alpha, alphaPalette);
        for (dxt::Path p : paths) {
            const auto& k = dxt::detail::KernelsFor(p);
            std::uint32_t indices = 0;
            ASSERT_EQ(k.colour(set, palette, count, &indices), refError) << int(p) << " case " << n;
            ASSERT_EQ(indices, refIndices) << int(p) << " case " << n;
            ASSERT_EQ(k.alpha(alpha, mask, alphaPalette), refAlpha) << int(p) << " case " << n;
            ASSERT_EQ(k.alphaIndices(alpha, alphaPalette), refAlphaIndices) << int(p) << " case " << n;
        }
    }
}

TEST(DxtPaths, EveryPathEncodesTheSameBytes)
{
    const auto paths = AvailablePaths();
    const dxt::Path before = dxt::ActivePath();
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
    dxt::SetPath(before);
}

} // namespace
