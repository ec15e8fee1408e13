// The DXT codec on arbitrary blocks: the image decoder agrees with the block
// decoder, decoded DXT1 alpha is all or nothing, and re-encoding decoded
// texels keeps the rules the encoder promises (the DXT1 alpha cut, explicit
// alpha kept exactly, texels outside the valid mask ignored).
//
// Input: one byte of format and quality, one of width and one of height
// (1..64 each), then the blocks, row by row.
#include "platform/d3dx8/dxt/dxt.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr D3DFORMAT kFormats[] = {D3DFMT_DXT1, D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5};
constexpr dxt::Quality kQualities[] = {dxt::Quality::Fast, dxt::Quality::Normal, dxt::Quality::Highest};

void CheckReencoded(D3DFORMAT format, const std::uint8_t texels[64], dxt::Quality quality, std::uint16_t mask)
{
    dxt::EncodeOptions options;
    options.quality = quality;
    options.validMask = mask;
    std::uint8_t block[16] = {};
    std::uint8_t decoded[64];
    dxt::EncodeBlock(format, texels, block, options);
    dxt::DecodeBlock(format, block, decoded);
    for (int i = 0; i < 16; ++i) {
        if (!(mask >> i & 1))
            continue;
        const std::uint8_t want = texels[4 * i + 3];
        const std::uint8_t got = decoded[4 * i + 3];
        if (format == D3DFMT_DXT1 && (want < 128 ? got != 0 : got != 255))
            __builtin_trap();
        // Decoded explicit alpha is a multiple of 17, which 4 bits hold exactly.
        if ((format == D3DFMT_DXT2 || format == D3DFMT_DXT3) && got != want)
            __builtin_trap();
    }

    // Whatever lies outside the mask must not change the block.
    std::uint8_t changed[64];
    std::memcpy(changed, texels, sizeof changed);
    for (int i = 0; i < 16; ++i)
        if (!(mask >> i & 1))
            for (int ch = 0; ch < 4; ++ch)
                changed[4 * i + ch] = static_cast<std::uint8_t>(~changed[4 * i + ch]);
    std::uint8_t other[16] = {};
    dxt::EncodeBlock(format, changed, other, options);
    if (std::memcmp(block, other, dxt::BlockBytes(format)) != 0)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    const D3DFORMAT format = kFormats[data[0] % 5];
    const dxt::Quality quality = kQualities[(data[0] / 5) % 3];
    const std::uint32_t width = data[1] % 64 + 1;
    const std::uint32_t height = data[2] % 64 + 1;
    data += 3;
    size -= 3;
    const unsigned bytes = dxt::BlockBytes(format);
    const std::uint32_t across = (width + 3) / 4;
    const std::uint32_t down = (height + 3) / 4;
    const std::size_t blockPitch = std::size_t{across} * bytes;
    if (size < blockPitch * down)
        return 0;

    const std::size_t pitch = std::size_t{width} * 4;
    std::vector<std::uint8_t> image(pitch * height);
    dxt::DecodeImage(format, data, blockPitch, width, height, image.data(), pitch);

    std::uint8_t texels[64];
    for (std::uint32_t by = 0; by < down; ++by)
        for (std::uint32_t bx = 0; bx < across; ++bx) {
            dxt::DecodeBlock(format, data + by * blockPitch + bx * bytes, texels);
            const std::uint32_t w = std::min<std::uint32_t>(4, width - 4 * bx);
            const std::uint32_t h = std::min<std::uint32_t>(4, height - 4 * by);
            for (std::uint32_t y = 0; y < h; ++y)
                if (std::memcmp(image.data() + (4 * by + y) * pitch + 16 * bx, texels + 16 * y, 4 * w) != 0)
                    __builtin_trap();
            if (format == D3DFMT_DXT1)
                for (int i = 0; i < 16; ++i)
                    if (texels[4 * i + 3] != 0 && texels[4 * i + 3] != 255)
                        __builtin_trap();
            std::uint16_t mask = 0;
            for (std::uint32_t y = 0; y < h; ++y)
                mask = static_cast<std::uint16_t>(mask | (((1u << w) - 1) << (4 * y)));
            // Re-encoding every block would let the encoder dominate the run;
            // the first row of blocks exercises it on fresh texels each time.
            if (by == 0)
                CheckReencoded(format, texels, quality, mask);
        }

    // The image encoder on the decoded picture: must stay inside its blocks.
    std::vector<std::uint8_t> blocks(blockPitch * down);
    dxt::EncodeOptions options;
    options.quality = quality == dxt::Quality::Highest ? dxt::Quality::Normal : quality;
    dxt::EncodeImage(format, image.data(), width, height, pitch, blocks.data(), blockPitch, options);
    return 0;
}
