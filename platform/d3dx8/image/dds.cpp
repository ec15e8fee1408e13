// DDS reader: 2D textures with their stored mip levels, in every format the
// pixel-format record can name (four-character DXT codes, RGB masks,
// luminance, alpha-only and 8-bit palettes).  Cube maps and volumes are not
// read; the pipeline makes neither.
#include "imagefile.h"

#include <algorithm>
#include <cstring>

namespace d3dx::image {

namespace {

constexpr std::size_t kMagicBytes = 4;
constexpr std::size_t kHeaderBytes = 124;
constexpr std::size_t kPixelFormatAt = 72;  // inside the header

enum : std::uint32_t {
    kFlagMipCount = 0x20000,
    kPfAlphaPixels = 0x1,
    kPfAlpha = 0x2,
    kPfFourCC = 0x4,
    kPfPalette8 = 0x20,
    kPfRgb = 0x40,
    kPfLuminance = 0x20000,
    kCaps2CubeMap = 0x200,
    kCaps2Volume = 0x200000,
};

D3DFORMAT FormatFromRecord(const BYTE* pf)
{
    const std::uint32_t flags = Le32(pf + 4), fourCC = Le32(pf + 8), bits = Le32(pf + 12);
    const std::uint32_t r = Le32(pf + 16), g = Le32(pf + 20), b = Le32(pf + 24);
    const std::uint32_t a = (flags & (kPfAlphaPixels | kPfAlpha)) ? Le32(pf + 28) : 0;
    if (flags & kPfFourCC) {
        const D3DFORMAT f = static_cast<D3DFORMAT>(fourCC);
        return IsBlockFormat(f) ? f : D3DFMT_UNKNOWN;
    }
    if (flags & kPfPalette8)
        return bits == 8 ? D3DFMT_P8 : D3DFMT_UNKNOWN;
    FormatKind kind;
    if (flags & kPfRgb)
        kind = FormatKind::Rgb;
    else if (flags & kPfLuminance)
        kind = FormatKind::Luminance;
    else if (flags & kPfAlpha)
        kind = FormatKind::Alpha;
    else
        return D3DFMT_UNKNOWN;
    // The format table knows every mask set; the first match wins, which
    // picks X8R8G8B8 over formats that merely share its masks.
    for (const FormatInfo& f : D3DFormatTable())
        if (f.kind == kind && f.bitsPerPixel == bits && f.redMask == r && f.greenMask == g && f.blueMask == b &&
            f.alphaMask == a)
            return f.format;
    return D3DFMT_UNKNOWN;
}

} // namespace

bool LooksLikeDds(Bytes data) { return data.size() >= 4 && std::memcmp(data.data(), "DDS ", 4) == 0; }

HRESULT DecodeDds(Bytes data, Picture& out)
{
    out.fileFormat = D3DXIFF_DDS;
    if (data.size() < kMagicBytes + kHeaderBytes)
        return Bad("DDS file is cut short: %zu bytes, no header", data.size());
    const BYTE* h = data.data() + kMagicBytes;
    if (Le32(h) != kHeaderBytes || Le32(h + kPixelFormatAt) != 32)
        return Bad("DDS header sizes %u and %u are not 124 and 32", Le32(h), Le32(h + kPixelFormatAt));
    const std::uint32_t flags = Le32(h + 4);
    const std::int64_t height = Le32(h + 8), width = Le32(h + 12);
    const std::uint32_t mipCount = Le32(h + 24);
    if (Le32(h + 108) & (kCaps2CubeMap | kCaps2Volume))
        return Bad("DDS cube maps and volume textures are not readable");
    if (!CheckSides("DDS", width, height))
        return D3DXERR_INVALIDDATA;
    const D3DFORMAT format = FormatFromRecord(h + kPixelFormatAt);
    if (format == D3DFMT_UNKNOWN)
        return Bad("DDS pixel format (flags %08X, code %08X, %u bits) is not readable", Le32(h + kPixelFormatAt + 4),
                   Le32(h + kPixelFormatAt + 8), Le32(h + kPixelFormatAt + 12));

    const UINT w = static_cast<UINT>(width), ht = static_cast<UINT>(height);
    const UINT full = D3DFullMipCount(w, ht);
    UINT levels = (flags & kFlagMipCount) && mipCount ? mipCount : 1;
    if (levels > full)
        return Bad("DDS header promises %u levels; %u x %u has at most %u", levels, w, ht, full);

    std::size_t at = kMagicBytes + kHeaderBytes;
    if (format == D3DFMT_P8) {
        if (data.size() - at < sizeof out.palette)
            return Bad("DDS file is cut short inside its palette");
        std::memcpy(out.palette.data(), data.data() + at, sizeof out.palette);
        at += sizeof out.palette;
    }
    std::uint64_t need = 0;
    for (UINT i = 0; i < levels; ++i)
        need += TightLevelOf(format, w, ht, i).size();
    if (need > data.size() - at)
        return Bad("DDS file is cut short: %llu bytes of level data missing",
                   static_cast<unsigned long long>(need - (data.size() - at)));

    out.format = format;
    out.width = w;
    out.height = ht;
    out.levels.resize(levels);
    for (UINT i = 0; i < levels; ++i) {
        const std::size_t bytes = TightLevelOf(format, w, ht, i).size();
        out.levels[i].assign(data.begin() + at, data.begin() + at + bytes);
        at += bytes;
    }
    return S_OK;
}

} // namespace d3dx::image
