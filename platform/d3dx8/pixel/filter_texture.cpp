#include "platform/d3d8/comptr.h"
#include "platform/d3dx8/d3dx8_internal.h"
#include "platform/d3dx8/pixel/mip_settings.h"
#include "platform/d3dx8/pixel/surface_io.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace d3dx::pixel;

namespace {

// The box filter: destination texel x averages source columns 2x and 2x+1
// of two source rows, each clamped to the last column, so a one-texel side
// takes its edge texel twice and the last column of an odd width is not read.
void BoxRow(const std::uint8_t* a, const std::uint8_t* b, UINT sourceWidth, UINT width, std::uint8_t* out)
{
    UINT x = 0;
#if defined(__SSE2__)
    // Four destination texels at a time while all eight source columns lie
    // inside the row: 16-bit sums of the two rows, then of the column pairs.
    const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2);
    auto pairs = [&](__m128i top, __m128i bottom) {
        const __m128i low = _mm_add_epi16(_mm_unpacklo_epi8(top, zero), _mm_unpacklo_epi8(bottom, zero));
        const __m128i high = _mm_add_epi16(_mm_unpackhi_epi8(top, zero), _mm_unpackhi_epi8(bottom, zero));
        const __m128i sums = _mm_unpacklo_epi64(_mm_add_epi16(low, _mm_srli_si128(low, 8)),
                                                _mm_add_epi16(high, _mm_srli_si128(high, 8)));
        return _mm_srli_epi16(_mm_add_epi16(sums, two), 2);
    };
    for (; 2 * std::size_t(x) + 8 <= sourceWidth && x + 4 <= width; x += 4) {
        const std::size_t at = 2 * std::size_t(x);
        auto load = [&](const std::uint8_t* row, std::size_t texel) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4 * texel));
        };
        const __m128i result =
            _mm_packus_epi16(pairs(load(a, at), load(b, at)), pairs(load(a, at + 4), load(b, at + 4)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * std::size_t(x)), result);
    }
#endif
    for (; x < width; ++x) {
        const std::size_t c0 = std::min(2 * x, sourceWidth - 1) * std::size_t{4};
        const std::size_t c1 = std::min(2 * x + 1, sourceWidth - 1) * std::size_t{4};
        for (int k = 0; k < 4; ++k)
            out[4 * x + k] = static_cast<std::uint8_t>((a[c0 + k] + a[c1 + k] + b[c0 + k] + b[c1 + k] + 2) >> 2);
    }
}

void BoxRow(const Color* a, const Color* b, UINT sourceWidth, UINT width, Color* out)
{
    for (UINT x = 0; x < width; ++x) {
        const UINT c0 = std::min(2 * x, sourceWidth - 1), c1 = std::min(2 * x + 1, sourceWidth - 1);
        out[x] = {(a[c0].r + a[c1].r + b[c0].r + b[c1].r) / 4, (a[c0].g + a[c1].g + b[c0].g + b[c1].g) / 4,
                  (a[c0].b + a[c1].b + b[c0].b + b[c1].b) / 4, (a[c0].a + a[c1].a + b[c0].a + b[c1].a) / 4};
    }
}

RECT Whole(const D3DSURFACE_DESC& d) { return {0, 0, static_cast<LONG>(d.Width), static_cast<LONG>(d.Height)}; }

struct Level {
    ComPtr<IDirect3DSurface8> surface;
    LockedSurface locked;
};

HRESULT LockLevel(IDirect3DTexture8* texture, UINT index, DWORD flags, Level& level)
{
    std::string why;
    if (HRESULT hr = texture->GetSurfaceLevel(index, level.surface.put()); FAILED(hr))
        return d3dx::Fail(hr, "cannot get mip level " + std::to_string(index));
    const std::string role = "mip level " + std::to_string(index);
    if (HRESULT hr = level.locked.Lock(level.surface.get(), flags, role.c_str(), why); FAILED(hr))
        return d3dx::Fail(hr, why);
    return S_OK;
}

// Level `index` + 1 from level `index`, both in the texture, a row at a time.
HRESULT BoxFromStored(IDirect3DTexture8* texture, const PALETTEENTRY* palette, UINT index)
{
    Level upper, lower;
    if (HRESULT hr = LockLevel(texture, index, D3DLOCK_READONLY, upper); FAILED(hr))
        return hr;
    if (HRESULT hr = LockLevel(texture, index + 1, 0, lower); FAILED(hr))
        return hr;
    SourceRows in(upper.locked, Whole(upper.locked.Desc()), palette, 0);
    DestRows out(lower.locked, Whole(lower.locked.Desc()), palette);
    const UINT sw = in.Width(), sh = in.Height(), w = out.Width();
    if (in.Exact8()) {
        std::vector<std::uint8_t> a(std::size_t(sw) * 4), b(a.size()), row(std::size_t(w) * 4);
        for (UINT y = 0; y < out.Height(); ++y) {
            in.ReadRgba8(std::min(2 * y, sh - 1), a.data());
            in.ReadRgba8(std::min(2 * y + 1, sh - 1), b.data());
            BoxRow(a.data(), b.data(), sw, w, row.data());
            out.WriteRgba8(y, row.data());
        }
    } else {
        std::vector<Color> a(sw), b(sw), row(w);
        for (UINT y = 0; y < out.Height(); ++y) {
            in.ReadColor(std::min(2 * y, sh - 1), a.data());
            in.ReadColor(std::min(2 * y + 1, sh - 1), b.data());
            BoxRow(a.data(), b.data(), sw, w, row.data());
            out.WriteColor(y, row.data());
        }
    }
    out.Finish();
    return S_OK;
}

// DXT levels: every level is filtered from the one above before that one
// was compressed, so compression errors do not pile up down the chain.
// Only the first stored level is decoded (a block row at a time); the
// filtered levels, a quarter of it and less, are kept as RGBA8.
HRESULT BoxBlocks(IDirect3DTexture8* texture, UINT srcLevel, UINT levels)
{
    std::vector<std::uint8_t> previous, next;
    UINT pw = 0, ph = 0;
    for (UINT index = srcLevel; index + 1 < levels; ++index) {
        D3DSURFACE_DESC d{};
        texture->GetLevelDesc(index + 1, &d);
        const UINT w = d.Width, h = d.Height;
        next.assign(std::size_t(w) * h * 4, 0);
        if (index == srcLevel) {
            Level upper;
            if (HRESULT hr = LockLevel(texture, index, D3DLOCK_READONLY, upper); FAILED(hr))
                return hr;
            SourceRows in(upper.locked, Whole(upper.locked.Desc()), nullptr, 0);
            pw = in.Width(), ph = in.Height();
            std::vector<std::uint8_t> a(std::size_t(pw) * 4), b(a.size());
            for (UINT y = 0; y < h; ++y) {
                in.ReadRgba8(std::min(2 * y, ph - 1), a.data());
                in.ReadRgba8(std::min(2 * y + 1, ph - 1), b.data());
                BoxRow(a.data(), b.data(), pw, w, &next[std::size_t(y) * w * 4]);
            }
        } else {
            BoxLevel(previous.data(), pw, ph, next.data());
        }
        Level lower;
        if (HRESULT hr = LockLevel(texture, index + 1, 0, lower); FAILED(hr))
            return hr;
        DestRows out(lower.locked, Whole(lower.locked.Desc()), nullptr);
        for (UINT y = 0; y < h; ++y)
            out.WriteRgba8(y, &next[std::size_t(y) * w * 4]);
        out.Finish();
        previous.swap(next);
        pw = w, ph = h;
    }
    return S_OK;
}

HRESULT FilterTexture(IDirect3DTexture8* texture, const PALETTEENTRY* palette, UINT srcLevel, DWORD filter)
{
    if (!texture)
        return d3dx::Fail(D3DERR_INVALIDCALL, "mip filtering needs a texture");
    if (srcLevel == D3DX_DEFAULT)
        srcLevel = 0;
    if (!palette)
        palette = texture->GetPalette();
    const UINT levels = texture->GetLevelCount();
    if (srcLevel >= levels)
        return d3dx::Fail(D3DERR_INVALIDCALL, "mip level " + std::to_string(srcLevel) + " does not exist (the texture has " +
                                                  std::to_string(levels) + ")");
    const DWORD base = filter == D3DX_DEFAULT ? D3DX_FILTER_BOX : filter & 0xFFFF;
    if (base < D3DX_FILTER_NONE || base > D3DX_FILTER_BOX)
        return d3dx::Fail(D3DERR_INVALIDCALL, "unknown mip filter " + std::to_string(filter));
    // No filter: the levels stay as they are.
    if (base == D3DX_FILTER_NONE)
        return d3dx::Succeed();

    D3DSURFACE_DESC d{};
    texture->GetLevelDesc(srcLevel, &d);
    if (base == D3DX_FILTER_BOX && IsBlockFormat(d.Format)) {
        if (HRESULT hr = BoxBlocks(texture, srcLevel, levels); FAILED(hr))
            return hr;
        return d3dx::Succeed();
    }
    for (UINT index = srcLevel; index + 1 < levels; ++index) {
        if (base == D3DX_FILTER_BOX) {
            if (HRESULT hr = BoxFromStored(texture, palette, index); FAILED(hr))
                return hr;
            continue;
        }
        ComPtr<IDirect3DSurface8> upper, lower;
        if (FAILED(texture->GetSurfaceLevel(index, upper.put())) || FAILED(texture->GetSurfaceLevel(index + 1, lower.put())))
            return d3dx::Fail(D3DERR_INVALIDCALL, "cannot get mip level " + std::to_string(index + 1));
        if (HRESULT hr = D3DXLoadSurfaceFromSurface(lower.get(), palette, nullptr, upper.get(), palette, nullptr, filter, 0);
            FAILED(hr))
            return hr;
    }
    return d3dx::Succeed();
}

} // namespace

void d3dx::pixel::BoxLevel(const std::uint8_t* upper, UINT pw, UINT ph, std::uint8_t* out)
{
    const UINT w = std::max(1u, pw / 2), h = std::max(1u, ph / 2);
    const std::size_t pitch = std::size_t(pw) * 4;
    for (UINT y = 0; y < h; ++y)
        BoxRow(&upper[std::min(2 * y, ph - 1) * pitch], &upper[std::min(2 * y + 1, ph - 1) * pitch], pw, w,
               &out[std::size_t(y) * w * 4]);
}

HRESULT D3DXFilterTexture(IDirect3DTexture8* texture, const PALETTEENTRY* palette, UINT srcLevel, DWORD filter)
{
    try {
        return FilterTexture(texture, palette, srcLevel, filter);
    } catch (const std::bad_alloc&) {
        return d3dx::Fail(E_OUTOFMEMORY, "out of memory while filtering mip levels");
    }
}
