// Block and image generators shared by the codec tests.
#pragma once

#include "platform/d3dx8/dxt/dxt.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace dxt_test {

using Block = std::vector<std::uint8_t>;

// Puts back the encoder's active path when it goes out of scope, also when
// an assertion ends a test early: the path is process-wide, and a test that
// left it changed would run the next ones on another path.
class KeepPath {
public:
    KeepPath() : before_(dxt::ActivePath()) {}
    ~KeepPath() { dxt::SetPath(before_); }
    KeepPath(const KeepPath&) = delete;
    KeepPath& operator=(const KeepPath&) = delete;

private:
    dxt::Path before_;
};

// The encoder's paths this processor can run, the active one left as it was.
inline std::vector<dxt::Path> AvailablePaths()
{
    std::vector<dxt::Path> paths;
    const KeepPath keep;
    for (dxt::Path p : {dxt::Path::Scalar, dxt::Path::Sse2, dxt::Path::Avx2})
        if (dxt::SetPath(p))
            paths.push_back(p);
    return paths;
}

// Random 4x4 blocks of several kinds: noise, a gradient with noise, two
// flat colours, near-grey; alpha random, flat or two-level.
inline void RandomTexels(std::mt19937& rng, std::uint8_t rgba[64], int kind)
{
    std::uniform_int_distribution<int> byte(0, 255), small(-6, 6);
    const int base[3] = {byte(rng), byte(rng), byte(rng)};
    const int other[3] = {byte(rng), byte(rng), byte(rng)};
    const int alphaKind = byte(rng) % 3, alphaBase = byte(rng);
    for (int i = 0; i < 16; ++i) {
        for (int ch = 0; ch < 3; ++ch) {
            int v = 0;
            switch (kind % 4) {
            case 0: v = byte(rng); break;
            case 1: v = base[ch] + (other[ch] - base[ch]) * (i % 4 + i / 4) / 6 + small(rng); break;
            case 2: v = (byte(rng) & 1) ? base[ch] : other[ch]; break;
            default: v = base[0] + small(rng) * 2; break;
            }
            rgba[4 * i + ch] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
        rgba[4 * i + 3] = static_cast<std::uint8_t>(alphaKind == 0 ? byte(rng)
                                                    : alphaKind == 1 ? alphaBase
                                                                     : ((byte(rng) & 1) ? alphaBase : 255 - alphaBase));
    }
}

struct Image {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
};

// A smooth picture with edges and a little grain, like a photographed
// texture: overlapping colour waves, a disc, fine noise.  `alpha` adds a
// soft alpha ramp with a hard-edged hole.
inline Image SyntheticImage(std::uint32_t width, std::uint32_t height, unsigned seed, bool alpha)
{
    Image image{width, height, std::vector<std::uint8_t>(std::size_t{width} * height * 4)};
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    float freq[3][2], phase[3];
    for (int ch = 0; ch < 3; ++ch) {
        freq[ch][0] = 0.02f + 0.2f * unit(rng);
        freq[ch][1] = 0.02f + 0.2f * unit(rng);
        phase[ch] = 6.28f * unit(rng);
    }
    const float cx = width * unit(rng), cy = height * unit(rng), radius = 0.3f * width;
    std::normal_distribution<float> grain(0.0f, 6.0f);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint8_t* p = &image.rgba[(std::size_t{y} * width + x) * 4];
            const bool inside = (x - cx) * (x - cx) + (y - cy) * (y - cy) < radius * radius;
            for (int ch = 0; ch < 3; ++ch) {
                float v = 128 + 90 * std::sin(freq[ch][0] * x + freq[ch][1] * y + phase[ch]);
                if (inside)
                    v = 255 - v * 0.7f;
                v += grain(rng);
                p[ch] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
            float a = 255;
            if (alpha) {
                a = 255.0f * x / (width - 1);
                if (inside)
                    a = 0;
            }
            p[3] = static_cast<std::uint8_t>(a);
        }
    return image;
}

inline double Psnr(double squaredError, double samples)
{
    if (squaredError <= 0)
        return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * samples / squaredError);
}

} // namespace dxt_test
