#include "platform/d3d8/formats.h"

#include <algorithm>
#include <bit>

namespace {

using K = FormatKind;
using D = DdsRecord;

// Deliberately not supported: depth/stencil formats, multi-element and
// vertex-data formats, and the D3D9-era float formats.  The software device
// only holds textures, and nothing in the pipeline reads or writes those.
constexpr FormatInfo kFormats[] = {
    // format, name, kind, bits per pixel, block bytes, red, green, blue and
    // alpha masks, premultiplied, DDS record, final for the engine
    {D3DFMT_R8G8B8, "D3DFMT_R8G8B8", K::Rgb, 24, 0, 0xFF0000, 0xFF00, 0xFF, 0, false, D::Rgb, false},
    {D3DFMT_A8R8G8B8, "D3DFMT_A8R8G8B8", K::Rgb, 32, 0, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, false, D::Rgb, false},
    {D3DFMT_X8R8G8B8, "D3DFMT_X8R8G8B8", K::Rgb, 32, 0, 0xFF0000, 0xFF00, 0xFF, 0, false, D::None, false},
    {D3DFMT_R5G6B5, "D3DFMT_R5G6B5", K::Rgb, 16, 0, 0xF800, 0x7E0, 0x1F, 0, false, D::Rgb, false},
    {D3DFMT_X1R5G5B5, "D3DFMT_X1R5G5B5", K::Rgb, 16, 0, 0x7C00, 0x3E0, 0x1F, 0, false, D::None, false},
    {D3DFMT_A1R5G5B5, "D3DFMT_A1R5G5B5", K::Rgb, 16, 0, 0x7C00, 0x3E0, 0x1F, 0x8000, false, D::Rgb, false},
    {D3DFMT_A4R4G4B4, "D3DFMT_A4R4G4B4", K::Rgb, 16, 0, 0xF00, 0xF0, 0xF, 0xF000, false, D::Rgb, false},
    {D3DFMT_R3G3B2, "D3DFMT_R3G3B2", K::Rgb, 8, 0, 0xE0, 0x1C, 0x3, 0, false, D::None, false},
    {D3DFMT_A8, "D3DFMT_A8", K::Alpha, 8, 0, 0, 0, 0, 0xFF, false, D::None, false},
    {D3DFMT_A8R3G3B2, "D3DFMT_A8R3G3B2", K::Rgb, 16, 0, 0xE0, 0x1C, 0x3, 0xFF00, false, D::None, false},
    {D3DFMT_X4R4G4B4, "D3DFMT_X4R4G4B4", K::Rgb, 16, 0, 0xF00, 0xF0, 0xF, 0, false, D::None, false},
    {D3DFMT_A2B10G10R10, "D3DFMT_A2B10G10R10", K::Rgb, 32, 0, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000, false, D::None, false},
    {D3DFMT_G16R16, "D3DFMT_G16R16", K::Rgb, 32, 0, 0xFFFF, 0xFFFF0000, 0, 0, false, D::None, false},
    {D3DFMT_A8P8, "D3DFMT_A8P8", K::Palette, 16, 0, 0, 0, 0, 0xFF00, false, D::None, false},
    {D3DFMT_P8, "D3DFMT_P8", K::Palette, 8, 0, 0, 0, 0, 0, false, D::None, true},
    {D3DFMT_L8, "D3DFMT_L8", K::Luminance, 8, 0, 0xFF, 0, 0, 0, false, D::None, false},
    {D3DFMT_A8L8, "D3DFMT_A8L8", K::Luminance, 16, 0, 0xFF, 0, 0, 0xFF00, false, D::None, false},
    {D3DFMT_A4L4, "D3DFMT_A4L4", K::Luminance, 8, 0, 0xF, 0, 0, 0xF0, false, D::None, false},
    {D3DFMT_V8U8, "D3DFMT_V8U8", K::Bump, 16, 0, 0xFF, 0xFF00, 0, 0, false, D::None, false},
    {D3DFMT_L6V5U5, "D3DFMT_L6V5U5", K::Bump, 16, 0, 0x1F, 0x3E0, 0, 0xFC00, false, D::None, false},
    {D3DFMT_X8L8V8U8, "D3DFMT_X8L8V8U8", K::Bump, 32, 0, 0xFF, 0xFF00, 0, 0xFF0000, false, D::None, false},
    {D3DFMT_Q8W8V8U8, "D3DFMT_Q8W8V8U8", K::Bump, 32, 0, 0xFF, 0xFF00, 0xFF0000, 0xFF000000, false, D::None, false},
    {D3DFMT_V16U16, "D3DFMT_V16U16", K::Bump, 32, 0, 0xFFFF, 0xFFFF0000, 0, 0, false, D::None, false},
    {D3DFMT_W11V11U10, "D3DFMT_W11V11U10", K::Bump, 32, 0, 0x3FF, 0x1FFC00, 0xFFE00000, 0, false, D::None, false},
    {D3DFMT_A2W10V10U10, "D3DFMT_A2W10V10U10", K::Bump, 32, 0, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000, false, D::None, false},
    {D3DFMT_UYVY, "D3DFMT_UYVY", K::Yuv, 16, 4, 0, 0, 0, 0, false, D::None, false},
    {D3DFMT_YUY2, "D3DFMT_YUY2", K::Yuv, 16, 4, 0, 0, 0, 0, false, D::None, false},
    {D3DFMT_DXT1, "D3DFMT_DXT1", K::Block, 0, 8, 0, 0, 0, 0, false, D::FourCC, true},
    {D3DFMT_DXT2, "D3DFMT_DXT2", K::Block, 0, 16, 0, 0, 0, 0, true, D::FourCC, false},
    {D3DFMT_DXT3, "D3DFMT_DXT3", K::Block, 0, 16, 0, 0, 0, 0, false, D::FourCC, false},
    {D3DFMT_DXT4, "D3DFMT_DXT4", K::Block, 0, 16, 0, 0, 0, 0, true, D::FourCC, false},
    {D3DFMT_DXT5, "D3DFMT_DXT5", K::Block, 0, 16, 0, 0, 0, 0, false, D::FourCC, true},
};

} // namespace

std::span<const FormatInfo> D3DFormatTable() { return kFormats; }

const FormatInfo* D3DFormatInfo(D3DFORMAT format)
{
    for (const FormatInfo& f : kFormats)
        if (f.format == format)
            return &f;
    return nullptr;
}

UINT D3DFullMipCount(UINT width, UINT height)
{
    UINT side = std::max(width, height);
    return side == 0 ? 0 : static_cast<UINT>(std::bit_width(side));
}

std::optional<LevelLayout> D3DLevelLayout(D3DFORMAT format, UINT width, UINT height, UINT level)
{
    const FormatInfo* info = D3DFormatInfo(format);
    if (!info || width == 0 || height == 0 || level >= D3DFullMipCount(width, height))
        return std::nullopt;

    LevelLayout l{};
    l.width = std::max<UINT>(1, width >> level);
    l.height = std::max<UINT>(1, height >> level);
    const std::uint64_t w = l.width;
    switch (info->kind) {
    case FormatKind::Block:
        // Levels below 4x4 still occupy one whole block.
        l.pitch = (w + 3) / 4 * info->blockBytes;
        l.rows = (l.height + 3) / 4;
        break;
    case FormatKind::Yuv:
        l.pitch = ((w + 1) / 2 * info->blockBytes + 3) & ~std::uint64_t{3};
        l.rows = l.height;
        break;
    default:
        l.pitch = ((w * info->bitsPerPixel + 7) / 8 + 3) & ~std::uint64_t{3};
        l.rows = l.height;
        break;
    }
    if (__builtin_mul_overflow(l.pitch, std::uint64_t{l.rows}, &l.size))
        return std::nullopt;
    return l;
}
