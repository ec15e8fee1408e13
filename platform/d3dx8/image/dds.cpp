// DDS reader: 2D textures with their stored mip levels, in every format of
// the format table but the palettised A8P8: four-character codes (DXTn,
// UYVY, YUY2) and D3DFORMAT numbers in the code field, RGB, luminance,
// alpha-only and bump records, and 8-bit palettes.  Cube maps and volumes
// are not read; the pipeline makes neither.
#include "platform/d3dx8/dds_format.h"
#include "platform/d3dx8/image/imagefile.h"

#include <cstring>
#include <utility>

namespace d3dx::image {

namespace {

D3DFORMAT FormatFromRecord(const DdsPixelFormat& pf)
{
    if (pf.flags & DDPF_FOURCC) {
        // D3D9-era writers put the D3DFORMAT number of a format without a
        // record of its own here (60 for V8U8).  A palette comes only with
        // DDPF_PALETTEINDEXED8.
        const FormatInfo* f = D3DFormatInfo(static_cast<D3DFORMAT>(pf.fourCC));
        return f && f->kind != FormatKind::Palette ? f->format : D3DFMT_UNKNOWN;
    }
    if (pf.flags & DDPF_PALETTEINDEXED8)
        return pf.rgbBitCount == 8 ? D3DFMT_P8 : D3DFMT_UNKNOWN;
    DWORD r = pf.redMask, g = pf.greenMask, b = pf.blueMask;
    DWORD a = (pf.flags & (DDPF_ALPHAPIXELS | DDPF_ALPHA)) ? pf.alphaMask : 0;
    FormatKind kind;
    if (pf.flags & DDPF_BUMPLUMINANCE) {
        // The record keeps luminance in the blue slot, the table in alpha.
        kind = FormatKind::Bump;
        a = std::exchange(b, 0);
    } else if (pf.flags & DDPF_BUMPDUDV) {
        // Q8W8V8U8 and A2W10V10U10 carry their alpha mask with or without
        // DDPF_ALPHAPIXELS.  D3DX wrote A2W10V10U10 with the U and W masks
        // exchanged over data in the format's own layout.
        kind = FormatKind::Bump;
        a = pf.alphaMask;
        if (r == 0x3FF00000 && g == 0xFFC00 && b == 0x3FF)
            std::swap(r, b);
    } else if (pf.flags & DDPF_RGB) {
        kind = FormatKind::Rgb;
    } else if (pf.flags & DDPF_LUMINANCE) {
        kind = FormatKind::Luminance;
    } else if (pf.flags & DDPF_ALPHA) {
        kind = FormatKind::Alpha;
    } else {
        return D3DFMT_UNKNOWN;
    }
    // The format table knows every mask set; the first match wins, which
    // picks X8R8G8B8 over formats that merely share its masks.
    for (const FormatInfo& f : D3DFormatTable())
        if (f.kind == kind && f.bitsPerPixel == pf.rgbBitCount && f.redMask == r && f.greenMask == g &&
            f.blueMask == b && f.alphaMask == a)
            return f.format;
    return D3DFMT_UNKNOWN;
}

} // namespace

bool LooksLikeDds(Bytes data) { return data.size() >= sizeof(DWORD) && LoadU32(data.data()) == DDS_MAGIC; }

HRESULT DecodeDds(Bytes data, Picture& out)
{
    out.fileFormat = D3DXIFF_DDS;
    if (data.size() < DDS_DATA_OFFSET)
        return Bad("DDS file is cut short: %zu bytes, no header", data.size());
    DdsHeader h;
    std::memcpy(&h, data.data() + sizeof(DWORD), sizeof h);
    if (h.size != sizeof(DdsHeader) || h.pixelFormat.size != sizeof(DdsPixelFormat))
        return Bad("DDS header sizes %u and %u are not 124 and 32", h.size, h.pixelFormat.size);
    const std::int64_t height = h.height, width = h.width;
    if (h.caps2 & (DDSCAPS2_CUBEMAP | DDSCAPS2_VOLUME))
        return Bad("DDS cube maps and volume textures are not readable");
    if (!CheckSides("DDS", width, height))
        return D3DXERR_INVALIDDATA;
    const D3DFORMAT format = FormatFromRecord(h.pixelFormat);
    if (format == D3DFMT_UNKNOWN)
        return Bad("DDS pixel format (flags %08X, code %08X, %u bits) is not readable", h.pixelFormat.flags,
                   h.pixelFormat.fourCC, h.pixelFormat.rgbBitCount);

    const UINT w = static_cast<UINT>(width), ht = static_cast<UINT>(height);
    const UINT full = D3DFullMipCount(w, ht);
    UINT levels = (h.flags & DDSD_MIPMAPCOUNT) && h.mipMapCount ? h.mipMapCount : 1;
    if (levels > full)
        return Bad("DDS header promises %u levels; %u x %u has at most %u", levels, w, ht, full);

    std::size_t at = DDS_DATA_OFFSET;
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
