#include "converter/image/texconvert.h"

#include "platform/d3d8/comptr.h"
#include "platform/d3d8/formats.h"
#include "platform/d3dx8/d3dx8.h"

bool Tex_CopyLevels(IDirect3DTexture8* source, IDirect3DTexture8* destination, UINT levels)
{
    for (UINT i = 0; i < levels; ++i) {
        ComPtr<IDirect3DSurface8> from, to;
        if (FAILED(source->GetSurfaceLevel(i, from.put())) || FAILED(destination->GetSurfaceLevel(i, to.put())))
            return false;
        if (FAILED(D3DXLoadSurfaceFromSurface(to.get(), nullptr, nullptr, from.get(), nullptr, nullptr,
                                              D3DX_FILTER_TRIANGLE, 0)))
            return false;
    }
    return true;
}

IDirect3DTexture8* Tex_Convert(IDirect3DDevice8** device, IDirect3DTexture8* source, D3DFORMAT format)
{
    D3DSURFACE_DESC desc{};
    if (FAILED(source->GetLevelDesc(0, &desc)))
        return nullptr;
    const UINT levels = source->GetLevelCount();
    if (desc.Format == format)
        return source;

    // Premultiplied colour cannot be recovered exactly once alpha is lost,
    // so such blocks only go to formats that keep or drop it consistently:
    // premultiplied ones, and blocks without alpha (DXT1).
    const FormatInfo* from = D3DFormatInfo(desc.Format);
    const FormatInfo* to = D3DFormatInfo(format);
    if (from && from->premultiplied &&
        !(to && (to->premultiplied || (to->kind == FormatKind::Block && !FormatHasAlpha(*to)))))
        return nullptr;

    ComPtr<IDirect3DTexture8> result;
    if (FAILED((*device)->CreateTexture(desc.Width, desc.Height, levels, 0, format, D3DPOOL_MANAGED, result.put())))
        return nullptr;
    // A palettised target keeps the source's colours (a P8 to A8P8 copy).
    if (const PALETTEENTRY* palette = source->GetPalette())
        result->SetPalette(palette);
    // A level that cannot be converted fails the whole conversion: a texture
    // with garbage levels is worse than a clear error.
    if (!Tex_CopyLevels(source, result.get(), levels))
        return nullptr;
    source->Release();
    return result.release();
}

bool Tex_ConvertInPlace(IDirect3DDevice8* device, ComPtr<IDirect3DTexture8>& texture, D3DFORMAT format)
{
    IDirect3DTexture8* converted = Tex_Convert(&device, texture.get(), format);
    if (!converted)
        return false;
    if (converted != texture.get()) {
        texture.release(); // Tex_Convert used up that reference
        texture.reset(converted);
    }
    return true;
}
