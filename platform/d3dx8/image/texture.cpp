// Texture creation, and textures from image files: decode in the file's own
// format, fill the stored levels, then generate, convert or resample through
// the surface loader only where the caller asks for something else.
#include "platform/d3d8/comptr.h"
#include "platform/d3dx8/image/imagefile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

using d3dx::image::Format;

namespace {

constexpr bool IsDefault(UINT v) { return v == D3DX_DEFAULT || v == 0; }

bool IsPalettised(D3DFORMAT f) { return f == D3DFMT_P8 || f == D3DFMT_A8P8; }

const char* FormatName(D3DFORMAT f)
{
    const FormatInfo* info = D3DFormatInfo(f);
    return info ? info->name : "an unknown format";
}

// Copies tightly packed rows into the level's pitched memory.
HRESULT FillLevel(IDirect3DTexture8* texture, UINT level, const std::vector<BYTE>& bytes, D3DFORMAT format)
{
    D3DSURFACE_DESC desc{};
    texture->GetLevelDesc(level, &desc);
    const auto tight = d3dx::image::TightLevelOf(format, desc.Width, desc.Height, 0);
    if (tight.size() != bytes.size())
        return d3dx::Fail(E_FAIL, Format("level %u holds %zu bytes, %llu expected", level, bytes.size(),
                                         static_cast<unsigned long long>(tight.size())));
    D3DLOCKED_RECT locked{};
    HRESULT hr = texture->LockRect(level, &locked, nullptr, 0);
    if (FAILED(hr))
        return d3dx::Fail(hr, Format("level %u of the new texture cannot be locked", level));
    for (UINT row = 0; row < tight.rows; ++row)
        std::memcpy(static_cast<BYTE*>(locked.pBits) + std::size_t{row} * static_cast<std::size_t>(locked.Pitch),
                    bytes.data() + row * tight.rowBytes, tight.rowBytes);
    texture->UnlockRect(level);
    return S_OK;
}

HRESULT Generate(IDirect3DTexture8* texture, const PALETTEENTRY* palette, UINT fromLevel, DWORD mipFilter)
{
    if (fromLevel + 1 >= texture->GetLevelCount())
        return S_OK;
    HRESULT hr = D3DXFilterTexture(texture, palette, fromLevel, mipFilter);
    if (FAILED(hr))
        return d3dx::Fail(hr, "mip levels could not be generated: " + D3DXGetLastErrorText());
    return S_OK;
}

HRESULT LoadLevel(IDirect3DTexture8* dst, const PALETTEENTRY* dstPalette, IDirect3DTexture8* src,
                  const PALETTEENTRY* srcPalette, UINT level, DWORD filter, D3DCOLOR colorKey)
{
    ComPtr<IDirect3DSurface8> d, s;
    HRESULT hr = dst->GetSurfaceLevel(level, d.put());
    if (SUCCEEDED(hr))
        hr = src->GetSurfaceLevel(level, s.put());
    if (SUCCEEDED(hr))
        hr = D3DXLoadSurfaceFromSurface(d.get(), dstPalette, nullptr, s.get(), srcPalette, nullptr, filter, colorKey);
    if (FAILED(hr))
        return d3dx::Fail(hr, Format("level %u could not be converted: ", level) + D3DXGetLastErrorText());
    return S_OK;
}

HRESULT MakeTexture(IDirect3DDevice8* device, const d3dx::image::Picture& pic, UINT width, UINT height,
                    UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                    D3DCOLOR colorKey, PALETTEENTRY* paletteOut, IDirect3DTexture8** texture)
{
    const UINT w = IsDefault(width) ? pic.width : width;
    const UINT h = IsDefault(height) ? pic.height : height;
    if (w > D3D_MAX_TEXTURE_SIZE || h > D3D_MAX_TEXTURE_SIZE)
        return d3dx::Fail(D3DERR_INVALIDCALL, Format("asked size %u x %u is over %u per side", w, h,
                                                     D3D_MAX_TEXTURE_SIZE));
    const UINT full = D3DFullMipCount(w, h);
    const UINT levels = IsDefault(mipLevels) ? full : std::min(mipLevels, full);
    const D3DFORMAT target = format == D3DFMT_UNKNOWN ? pic.format : format;
    const bool sameSize = w == pic.width && h == pic.height;
    const PALETTEENTRY* srcPalette = IsPalettised(pic.format) ? pic.palette.data() : nullptr;
    const PALETTEENTRY* dstPalette = IsPalettised(target) ? srcPalette : nullptr;

    // In the file's own format: the stored levels, the rest generated.  When
    // nothing else is asked for, this is the result.
    const bool direct = target == pic.format && sameSize && colorKey == 0;
    const UINT ownLevels = sameSize ? levels : 1;
    const UINT stored = std::min<UINT>(static_cast<UINT>(pic.levels.size()), ownLevels);
    ComPtr<IDirect3DTexture8> own;
    HRESULT hr = D3DXCreateTexture(device, pic.width, pic.height, ownLevels, direct ? usage : 0, pic.format,
                                   direct ? pool : D3DPOOL_SCRATCH, own.put());
    if (FAILED(hr))
        return hr;
    if (srcPalette)
        own->SetPalette(srcPalette);
    for (UINT i = 0; i < stored; ++i)
        if (FAILED(hr = FillLevel(own.get(), i, pic.levels[i], pic.format)))
            return hr;
    if (FAILED(hr = Generate(own.get(), srcPalette, stored - 1, mipFilter)))
        return hr;

    ComPtr<IDirect3DTexture8> result;
    if (direct) {
        result = std::move(own);
    } else {
        if (FAILED(hr = D3DXCreateTexture(device, w, h, levels, usage, target, pool, result.put())))
            return hr;
        // Same size: every level converts from its twin.  Another size: the
        // top level is resampled and the chain made anew in the target.
        const UINT converted = sameSize ? levels : 1;
        for (UINT i = 0; i < converted; ++i)
            if (FAILED(hr = LoadLevel(result.get(), dstPalette, own.get(), srcPalette, i, sameSize ? D3DX_FILTER_NONE
                                                                                                   : filter,
                                      colorKey)))
                return hr;
        if (!sameSize && FAILED(hr = Generate(result.get(), dstPalette, 0, mipFilter)))
            return hr;
    }

    if (dstPalette)
        result->SetPalette(dstPalette);
    if (paletteOut && IsPalettised(target)) {
        if (dstPalette) {
            std::memcpy(paletteOut, dstPalette, sizeof(PALETTEENTRY) * 256);
        } else {
            // The surface loader indexed a grey ramp; hand back that ramp.
            for (int i = 0; i < 256; ++i) {
                const BYTE v = static_cast<BYTE>(i);
                paletteOut[i] = {v, v, v, 255};
            }
        }
    }
    *texture = result.release();
    return d3dx::Succeed();
}

} // namespace

HRESULT D3DXCreateTexture(IDirect3DDevice8* device, UINT width, UINT height, UINT mipLevels, DWORD usage,
                          D3DFORMAT format, D3DPOOL pool, IDirect3DTexture8** texture)
{
    if (!texture)
        return d3dx::Fail(D3DERR_INVALIDCALL, "no texture out-parameter");
    *texture = nullptr;
    if (!device)
        return d3dx::Fail(D3DERR_INVALIDCALL, "no device");
    if (mipLevels == D3DX_DEFAULT)
        mipLevels = 0;
    HRESULT hr = device->CreateTexture(width, height, mipLevels, usage, format, pool, texture);
    if (FAILED(hr))
        return d3dx::Fail(hr, Format("the device cannot create a %u x %u texture of %u levels in %s", width, height,
                                     mipLevels, FormatName(format)));
    return d3dx::Succeed();
}

HRESULT D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice8* device, const void* data, UINT size, UINT width,
                                            UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format,
                                            D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colorKey,
                                            D3DXIMAGE_INFO* info, PALETTEENTRY* palette,
                                            IDirect3DTexture8** texture)
{
    if (!texture)
        return d3dx::Fail(D3DERR_INVALIDCALL, "no texture out-parameter");
    *texture = nullptr;
    if (!device || (!data && size))
        return d3dx::Fail(D3DERR_INVALIDCALL, "no device or no data");
    try {
        d3dx::image::Picture pic;
        const d3dx::image::Bytes bytes(static_cast<const BYTE*>(data), size);
        HRESULT hr = d3dx::image::DecodeImage(bytes, pic);
        if (FAILED(hr))
            return hr;
        if (info) {
            *info = {pic.width, pic.height, 1, static_cast<UINT>(pic.levels.size()), pic.format, D3DRTYPE_TEXTURE,
                     pic.fileFormat};
        }
        return MakeTexture(device, pic, width, height, mipLevels, usage, format, pool, filter, mipFilter, colorKey,
                           palette, texture);
    } catch (const std::bad_alloc&) {
        return d3dx::Fail(E_OUTOFMEMORY, "out of memory while reading the image");
    }
}

HRESULT D3DXCreateTextureFromFileExA(IDirect3DDevice8* device, const char* file, UINT width, UINT height,
                                     UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                     DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* info,
                                     PALETTEENTRY* palette, IDirect3DTexture8** texture)
{
    if (!texture)
        return d3dx::Fail(D3DERR_INVALIDCALL, "no texture out-parameter");
    *texture = nullptr;
    if (!file)
        return d3dx::Fail(D3DERR_INVALIDCALL, "no file name");
    std::FILE* f = std::fopen(file, "rb");
    if (!f)
        return d3dx::Fail(E_FAIL, Format("file <%s> cannot be opened", file));
    std::vector<BYTE> bytes;
    bool ok = std::fseek(f, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(f) : -1;
    ok = ok && size >= 0 && static_cast<unsigned long>(size) <= 0xFFFFFFFFul && std::fseek(f, 0, SEEK_SET) == 0;
    try {
        if (ok) {
            bytes.resize(static_cast<std::size_t>(size));
            ok = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    std::fclose(f);
    if (!ok)
        return d3dx::Fail(E_FAIL, Format("file <%s> cannot be read", file));
    return D3DXCreateTextureFromFileInMemoryEx(device, bytes.data(), static_cast<UINT>(bytes.size()), width, height,
                                               mipLevels, usage, format, pool, filter, mipFilter, colorKey, info,
                                               palette, texture);
}
