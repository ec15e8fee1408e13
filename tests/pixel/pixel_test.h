// Shared fixture of the pixel suites.
#pragma once

#include "platform/d3dx8/d3dx8.h"
#include "tests/pixel/pixel_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

class PixelTest : public ::testing::Test {
protected:
    void SetUp() override { live_ = D3D8Test_LiveTextures(); }
    void TearDown() override { EXPECT_EQ(D3D8Test_LiveTextures(), live_) << "a texture leaked"; }

    // Whole surface to whole surface, as the converter calls it.
    static HRESULT Convert(IDirect3DTexture8* dst, const PALETTEENTRY* dstPalette, IDirect3DTexture8* src,
                           const PALETTEENTRY* srcPalette, UINT level = 0)
    {
        return D3DXLoadSurfaceFromSurface(model::Level(dst, level).get(), dstPalette, nullptr,
                                          model::Level(src, level).get(), srcPalette, nullptr, D3DX_FILTER_TRIANGLE, 0);
    }

    // Every pixel equal to the model, except those whose model value sat on
    // an exact half somewhere (counted in `ties`).
    static ::testing::AssertionResult Matches(const model::Image& actual, const model::Image& expected, int* ties = nullptr)
    {
        for (UINT y = 0; y < expected.height; ++y)
            for (UINT x = 0; x < expected.width; ++x) {
                const model::Rgba& e = expected.at(x, y);
                const model::Rgba& a = actual.at(x, y);
                if (e.tie) {
                    if (ties)
                        ++*ties;
                    continue;
                }
                const double d = std::max({std::abs(e.r - a.r), std::abs(e.g - a.g), std::abs(e.b - a.b),
                                           std::abs(e.a - a.a)});
                if (d > 1e-9)
                    return ::testing::AssertionFailure()
                           << "pixel (" << x << ", " << y << ") is " << Text(a) << ", expected " << Text(e);
            }
        return ::testing::AssertionSuccess();
    }

    static std::string Text(const model::Rgba& c)
    {
        char buffer[96];
        std::snprintf(buffer, sizeof buffer, "(%.2f %.2f %.2f %.2f)", c.r * 255, c.g * 255, c.b * 255, c.a * 255);
        return buffer;
    }

    model::Textures textures_;

private:
    long live_ = 0;
};
