// Block and image entry points: split a block into its colour and alpha
// parts and hand them to the part encoders.
#include "dxt_internal.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dxt {

using namespace detail;

namespace {

// Bit i set where texel i's alpha is 128 or more: the top bit of its
// little-endian R, G, B, A word, four texels to a sign mask.
std::uint16_t AlphaHighBits(const std::uint8_t rgba[64])
{
#if defined(__SSE2__)
    unsigned bits = 0;
    for (int g = 0; g < 4; ++g) {
        __m128 words;
        std::memcpy(&words, rgba + 16 * g, sizeof words);
        bits |= static_cast<unsigned>(_mm_movemask_ps(words)) << (4 * g);
    }
    return static_cast<std::uint16_t>(bits);
#else
    unsigned bits = 0;
    for (int i = 0; i < 16; ++i)
        bits |= static_cast<unsigned>(rgba[4 * i + 3] >> 7) << i;
    return static_cast<std::uint16_t>(bits);
#endif
}

} // namespace

void EncodeBlock(D3DFORMAT format, const std::uint8_t rgba[64], std::uint8_t* block, const EncodeOptions& options)
{
    const std::uint16_t valid = options.validMask;
    ColourRequest request{rgba, valid, 0, false, options.quality, options.weights};
    switch (format) {
    case D3DFMT_DXT1: {
        const std::uint16_t transparent = static_cast<std::uint16_t>(valid & ~AlphaHighBits(rgba));
        request.active = static_cast<std::uint16_t>(valid & ~transparent);
        request.transparent = transparent;
        request.dxt1 = true;
        EncodeColour(request, block);
        return;
    }
    case D3DFMT_DXT2:
    case D3DFMT_DXT3:
    case D3DFMT_DXT4:
    case D3DFMT_DXT5: {
        std::uint8_t premultiplied[64];
        if (format == D3DFMT_DXT2 || format == D3DFMT_DXT4) {
            for (int i = 0; i < 16; ++i) {
                const std::uint8_t* p = rgba + 4 * i;
                for (int ch = 0; ch < 3; ++ch)
                    premultiplied[4 * i + ch] = static_cast<std::uint8_t>(Premultiply(p[ch], p[3]));
                premultiplied[4 * i + 3] = p[3];
            }
            request.rgba = premultiplied;
        }
        if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3)
            EncodeAlphaExplicit(rgba, valid, block);
        else
            EncodeAlphaInterpolated(rgba, valid, options.quality, block);
        EncodeColour(request, block + 8);
        return;
    }
    default:
        return;
    }
}

double EncodeBlockWithError(D3DFORMAT format, const std::uint8_t rgba[64], std::uint8_t* block,
                            const EncodeOptions& options)
{
    EncodeBlock(format, rgba, block, options);
    if (BlockBytes(format) == 0)
        return 0;
    std::uint8_t decoded[64];
    DecodeBlock(format, block, decoded);
    const int channels = format == D3DFMT_DXT1 ? 3 : 4;
    double error = 0;
    for (int i = 0; i < 16; ++i) {
        if (!(options.validMask >> i & 1))
            continue;
        for (int ch = 0; ch < channels; ++ch) {
            const int d = rgba[4 * i + ch] - decoded[4 * i + ch];
            error += d * d;
        }
    }
    return error;
}

void EncodeImage(D3DFORMAT format, const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height,
                 std::size_t pitch, std::uint8_t* blocks, std::size_t blockPitch, const EncodeOptions& options)
{
    const unsigned bytes = BlockBytes(format);
    if (bytes == 0)
        return;
    EncodeOptions local = options;
    std::uint8_t texels[64];
    for (std::uint32_t by = 0; by < (height + 3) / 4; ++by) {
        std::uint8_t* row = blocks + static_cast<std::size_t>(by) * blockPitch;
        const std::uint32_t h = std::min<std::uint32_t>(4, height - 4 * by);
        for (std::uint32_t bx = 0; bx < (width + 3) / 4; ++bx) {
            const std::uint32_t w = std::min<std::uint32_t>(4, width - 4 * bx);
            const std::uint8_t* source = rgba + static_cast<std::size_t>(4 * by) * pitch + 16 * std::size_t{bx};
            std::uint16_t mask = 0xFFFF;
            if (w == 4 && h == 4) {
                // Whole blocks, nearly all of them: four copies of a known size.
                for (std::uint32_t y = 0; y < 4; ++y)
                    std::memcpy(texels + 16 * y, source + y * pitch, 16);
            } else {
                std::memset(texels, 0, sizeof texels);
                mask = 0;
                for (std::uint32_t y = 0; y < h; ++y) {
                    std::memcpy(texels + 16 * y, source + y * pitch, 4 * w);
                    mask = static_cast<std::uint16_t>(mask | (((1u << w) - 1) << (4 * y)));
                }
            }
            local.validMask = mask;
            EncodeBlock(format, texels, row + static_cast<std::size_t>(bx) * bytes, local);
        }
    }
}

} // namespace dxt
