#include "platform/d3d8/comptr.h"
#include "platform/d3dx8/d3dx8_internal.h"
#include "platform/d3dx8/pixel/surface_io.h"

#include <cstring>
#include <new>
#include <vector>

using namespace d3dx::pixel;

namespace {

// The filter without its mirror and dither flags, or 0 when unknown.
// D3DX_DEFAULT means a triangle filter.
DWORD BaseFilter(DWORD filter)
{
    if (filter == D3DX_DEFAULT)
        return D3DX_FILTER_TRIANGLE;
    DWORD base = filter & 0xFFFF;
    return base >= D3DX_FILTER_NONE && base <= D3DX_FILTER_BOX ? base : 0;
}

bool TakeRect(const RECT* given, const D3DSURFACE_DESC& desc, RECT& rect)
{
    if (!given) {
        rect = {0, 0, static_cast<LONG>(desc.Width), static_cast<LONG>(desc.Height)};
        return true;
    }
    rect = *given;
    return rect.left >= 0 && rect.top >= 0 && rect.left < rect.right && rect.top < rect.bottom &&
           static_cast<UINT>(rect.right) <= desc.Width && static_cast<UINT>(rect.bottom) <= desc.Height;
}

bool SamePalette(D3DFORMAT format, const PALETTEENTRY* a, const PALETTEENTRY* b)
{
    const FormatInfo* info = D3DFormatInfo(format);
    if (info->kind != FormatKind::Palette || a == b)
        return true;
    return a && b && std::memcmp(a, b, 256 * sizeof(PALETTEENTRY)) == 0;
}

// A surface given no palette reads and writes through the one its texture
// carries; only a texture without one falls back to the grey ramp.
const PALETTEENTRY* PaletteOf(IDirect3DSurface8* surface, const PALETTEENTRY* given)
{
    if (given)
        return given;
    ComPtr<IDirect3DTexture8> texture;
    if (FAILED(surface->GetContainer(texture.put())))
        return nullptr;
    return texture->GetPalette();
}

bool WholeSurface(const RECT& r, const D3DSURFACE_DESC& d)
{
    return r.left == 0 && r.top == 0 && static_cast<UINT>(r.right) == d.Width &&
           static_cast<UINT>(r.bottom) == d.Height;
}

// Same format, same size, nothing to change: the stored bytes are the answer.
// DXT and 4:2:2 only when both are whole surfaces, so no block or pixel
// pair is cut.
bool CopyStored(const LockedSurface& dst, const RECT& dr, const LockedSurface& src, const RECT& sr)
{
    const FormatInfo& info = src.Info();
    const bool whole = WholeSurface(dr, dst.Desc()) && WholeSurface(sr, src.Desc());
    if ((info.kind == FormatKind::Block || info.kind == FormatKind::Yuv) && !whole)
        return false;
    if (whole) {
        const LevelLayout layout = *D3DLevelLayout(src.Desc().Format, src.Desc().Width, src.Desc().Height, 0);
        for (UINT row = 0; row < layout.rows; ++row)
            std::memcpy(dst.Row(row), src.Row(row), layout.pitch);
        return true;
    }
    const std::size_t bytes = info.bitsPerPixel / 8u;
    const std::size_t length = std::size_t(dr.right - dr.left) * bytes;
    for (LONG y = 0; y < dr.bottom - dr.top; ++y)
        std::memcpy(dst.Row(static_cast<UINT>(dr.top + y)) + std::size_t(dr.left) * bytes,
                    src.Row(static_cast<UINT>(sr.top + y)) + std::size_t(sr.left) * bytes, length);
    return true;
}

HRESULT LoadSurface(IDirect3DSurface8* dst, const PALETTEENTRY* dstPalette, const RECT* dstRect, IDirect3DSurface8* src,
                    const PALETTEENTRY* srcPalette, const RECT* srcRect, DWORD filter, D3DCOLOR colorKey)
{
    if (!dst || !src)
        return d3dx::Fail(D3DERR_INVALIDCALL, "surface loading needs a source and a destination surface");
    if (dst == src)
        return d3dx::Fail(D3DERR_INVALIDCALL, "a surface cannot be loaded from itself");
    const DWORD base = BaseFilter(filter);
    if (base == 0)
        return d3dx::Fail(D3DERR_INVALIDCALL, "unknown filter " + std::to_string(filter));
    srcPalette = PaletteOf(src, srcPalette);
    dstPalette = PaletteOf(dst, dstPalette);

    std::string why;
    LockedSurface source, dest;
    if (HRESULT hr = source.Lock(src, D3DLOCK_READONLY, "source", why); FAILED(hr))
        return d3dx::Fail(hr, why);
    if (HRESULT hr = dest.Lock(dst, 0, "destination", why); FAILED(hr))
        return d3dx::Fail(hr, why);

    RECT sr, dr;
    if (!TakeRect(srcRect, source.Desc(), sr))
        return d3dx::Fail(D3DERR_INVALIDCALL, "the source rectangle is empty or outside the surface");
    if (!TakeRect(dstRect, dest.Desc(), dr))
        return d3dx::Fail(D3DERR_INVALIDCALL, "the destination rectangle is empty or outside the surface");

    const bool sameSize = sr.right - sr.left == dr.right - dr.left && sr.bottom - sr.top == dr.bottom - dr.top;
    const D3DFORMAT format = source.Desc().Format;
    // Same-size copies ignore the filter: there is nothing to resample.
    if (sameSize && colorKey == 0 && format == dest.Desc().Format && SamePalette(format, srcPalette, dstPalette) &&
        CopyStored(dest, dr, source, sr))
        return d3dx::Succeed();

    SourceRows in(source, sr, srcPalette, colorKey);
    DestRows out(dest, dr, dstPalette);
    const UINT width = out.Width();
    if (sameSize && in.Exact8()) {
        std::vector<std::uint8_t> row(std::size_t(width) * 4);
        for (UINT y = 0; y < out.Height(); ++y) {
            in.ReadRgba8(y, row.data());
            out.WriteRgba8(y, row.data());
        }
    } else if (sameSize) {
        std::vector<Color> row(width);
        for (UINT y = 0; y < out.Height(); ++y) {
            in.ReadColor(y, row.data());
            out.WriteColor(y, row.data());
        }
    } else {
        Resampler resampler(in, width, out.Height(), base);
        std::vector<Color> row(width);
        for (UINT y = 0; y < out.Height(); ++y) {
            resampler.Row(y, row.data());
            out.WriteColor(y, row.data());
        }
    }
    out.Finish();
    return d3dx::Succeed();
}

} // namespace

HRESULT D3DXLoadSurfaceFromSurface(IDirect3DSurface8* dst, const PALETTEENTRY* dstPalette, const RECT* dstRect,
                                   IDirect3DSurface8* src, const PALETTEENTRY* srcPalette, const RECT* srcRect,
                                   DWORD filter, D3DCOLOR colorKey)
{
    try {
        return LoadSurface(dst, dstPalette, dstRect, src, srcPalette, srcRect, filter, colorKey);
    } catch (const std::bad_alloc&) {
        return d3dx::Fail(E_OUTOFMEMORY, "out of memory while loading a surface");
    }
}
