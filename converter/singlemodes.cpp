// "-single" and "-noise", and the loading routine "-single" shares with the
// project build.
#include "converter/formatnames.h"
#include "converter/image/ddswriter.h"
#include "converter/image/texconvert.h"
#include "converter/image/texload.h"
#include "converter/loadtexture.h"
#include "converter/modes.h"
#include "engine/basekit/dprintf.h"
#include "platform/d3d8/comptr.h"
#include "platform/d3dx8/d3dx8.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Loads `file` with its palette; null after saying it cannot.
ComPtr<IDirect3DTexture8> LoadSource(IDirect3DDevice8* device, const char* file, PalettePtr& palette)
{
    PALETTEENTRY* raw = nullptr;
    ComPtr<IDirect3DTexture8> texture(Tex_LoadFile(file, device, &raw));
    palette.reset(raw);
    if (!texture)
        dprintf("can't open %s\n", file);
    return texture;
}

} // namespace

IDirect3DTexture8* LoadTexture(IDirect3DDevice8* device, const char* file, const char* formatName, const char* mips,
                               PALETTEENTRY** palette)
{
    *palette = nullptr;
    const D3DFORMAT format = FormatFromName(formatName);
    // The count is the number the text starts with (none: 0, all levels).  A
    // negative count, or one past what an int holds, names no chain and
    // fails like a count above the source's.
    const long long asked = std::strtoll(mips ? mips : "", nullptr, 10);
    const bool countValid = asked >= 0 && asked <= INT_MAX;
    UINT mipCount = countValid ? static_cast<UINT>(asked) : 0;

    PalettePtr loaded;
    ComPtr<IDirect3DTexture8> source = LoadSource(device, file, loaded);
    if (!source)
        return nullptr;
    if (format == D3DFMT_P8 && !loaded) {
        dprintf("Pallete not found\n");
        return nullptr;
    }

    if (!countValid) {
        dprintf("can't create texture %s\n", file);
        return nullptr;
    }
    D3DSURFACE_DESC desc{};
    source->GetLevelDesc(0, &desc);
    if (mipCount == 0)
        mipCount = source->GetLevelCount();

    ComPtr<IDirect3DTexture8> result;
    if (FAILED(device->CreateTexture(desc.Width, desc.Height, mipCount, 0, format, D3DPOOL_MANAGED, result.put()))) {
        dprintf("can't create texture %s\n", file);
        return nullptr;
    }
    // Every level comes from the source level of the same index, so a mip
    // count above the source's fails at the first missing level.
    for (UINT i = 0; i < result->GetLevelCount(); ++i) {
        ComPtr<IDirect3DSurface8> from, to;
        if (FAILED(source->GetSurfaceLevel(i, from.put())) || FAILED(result->GetSurfaceLevel(i, to.put())) ||
            FAILED(D3DXLoadSurfaceFromSurface(to.get(), loaded.get(), nullptr, from.get(), loaded.get(), nullptr,
                                              D3DX_DEFAULT, 0))) {
            dprintf("Convert surface %d failed 1\n", static_cast<int>(i));
            return nullptr;
        }
    }
    if (format == D3DFMT_P8) {
        result->SetPalette(loaded.get());
        *palette = new PALETTEENTRY[256];
        std::memcpy(*palette, loaded.get(), 256 * sizeof(PALETTEENTRY));
    }
    return result.release();
}

ExitCode RunSingleMode(IDirect3DDevice8* device, const char* file, const char* format, const char* mips,
                       const char* outFile)
{
    dprintf("LoadTexture %s, %s, %s\n", file, format, mips);
    PALETTEENTRY* paletteRaw = nullptr;
    ComPtr<IDirect3DTexture8> texture(LoadTexture(device, file, format, mips, &paletteRaw));
    PalettePtr palette(paletteRaw);
    if (!texture)
        return kExitNotLoaded;
    if (FAILED(Tex_SaveDDS(texture.get(), outFile)))
        dprintf("can't save %s\n", outFile);
    return kExitRanToEnd;
}

ExitCode RunNoiseMode(IDirect3DDevice8* device, const char* source, const char* outFile, const char* decrementText)
{
    const long decrement = std::atol(decrementText);
    PalettePtr palette;
    ComPtr<IDirect3DTexture8> texture = LoadSource(device, source, palette);
    if (!texture)
        return kExitNoInput;

    // The fade works on 32-bit pixels with alpha in the fourth byte; any
    // other source is brought to A8R8G8B8 first.
    if (!Tex_ConvertInPlace(device, texture, D3DFMT_A8R8G8B8)) {
        dprintf("can't convert %s\n", source);
        return kExitRanToEnd;
    }

    for (UINT i = 0; i < texture->GetLevelCount(); ++i) {
        D3DSURFACE_DESC desc{};
        texture->GetLevelDesc(i, &desc);
        D3DLOCKED_RECT locked{};
        if (FAILED(texture->LockRect(i, &locked, nullptr, 0)))
            continue;
        const long drop = static_cast<long>(i) * decrement;
        auto* row = static_cast<BYTE*>(locked.pBits);
        for (UINT y = 0; y < desc.Height; ++y, row += locked.Pitch)
            for (UINT x = 0; x < desc.Width; ++x) {
                // A negative step raises alpha; both ends are clamped.
                long alpha = long{row[x * 4 + 3]} - drop;
                row[x * 4 + 3] = static_cast<BYTE>(std::clamp(alpha, 0L, 255L));
            }
        texture->UnlockRect(i);
    }

    if (!Tex_ConvertInPlace(device, texture, D3DFMT_DXT5)) {
        dprintf("can't convert %s\n", source);
        return kExitRanToEnd;
    }
    if (FAILED(Tex_SaveDDS(texture.get(), outFile)))
        dprintf("can't save %s\n", outFile);
    return kExitRanToEnd;
}
