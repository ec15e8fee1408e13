#include "fuzz/fuzz_texture.h"

#include "converter/device.h"
#include "converter/image/texconvert.h"
#include "engine/basekit/dprintf.h"
#include "platform/d3d8/comptr.h"
#include "platform/d3dx8/d3dx8.h"

#include <cstdint>

IDirect3DDevice8* FuzzDevice()
{
    static IDirect3DDevice8* device = [] {
        pDPrintOutputProc = [](const char*) {};
        IDirect3D8* d3d = nullptr;
        IDirect3DDevice8* d = nullptr;
        if (FAILED(OpenRenderingDevice(&d3d, &d)))
            __builtin_trap();
        return d;
    }();
    return device;
}

namespace {

// Conversion runs the block encoder; kept to small pictures so that one
// input stays in the millisecond range.
constexpr UINT kConvertTexels = 64 * 64;

void Convert(IDirect3DTexture8* texture, const PALETTEENTRY* palette, D3DFORMAT format)
{
    D3DSURFACE_DESC desc{};
    texture->GetLevelDesc(0, &desc);
    ComPtr<IDirect3DTexture8> target;
    if (FAILED(FuzzDevice()->CreateTexture(desc.Width, desc.Height, 1, 0, format, D3DPOOL_MANAGED, target.put())))
        __builtin_trap();
    ComPtr<IDirect3DSurface8> from, to;
    if (FAILED(texture->GetSurfaceLevel(0, from.put())) || FAILED(target->GetSurfaceLevel(0, to.put())))
        __builtin_trap();
    // Conversion between any two formats the device knows must succeed.
    if (FAILED(D3DXLoadSurfaceFromSurface(to.get(), nullptr, nullptr, from.get(), palette, nullptr, D3DX_FILTER_NONE,
                                          0)))
        __builtin_trap();
}

} // namespace

void FuzzWalkTexture(IDirect3DTexture8* texture, const PALETTEENTRY* palette)
{
    volatile std::uint8_t sink = 0;
    const UINT levels = texture->GetLevelCount();
    if (levels == 0)
        __builtin_trap();
    for (UINT i = 0; i < levels; ++i) {
        D3DSURFACE_DESC desc{};
        D3DLOCKED_RECT locked{};
        if (FAILED(texture->GetLevelDesc(i, &desc)) || FAILED(texture->LockRect(i, &locked, nullptr, D3DLOCK_READONLY)))
            __builtin_trap();
        const auto* bytes = static_cast<const std::uint8_t*>(locked.pBits);
        for (UINT k = 0; k < desc.Size; k += 61)
            sink = sink + bytes[k];
        if (desc.Size != 0)
            sink = sink + bytes[desc.Size - 1];
        texture->UnlockRect(i);
    }
    if (palette)
        sink = sink + palette[255].peFlags;

    D3DSURFACE_DESC top{};
    texture->GetLevelDesc(0, &top);
    if (std::uint64_t{top.Width} * top.Height <= kConvertTexels) {
        Convert(texture, palette, D3DFMT_A8R8G8B8);
        Convert(texture, palette, D3DFMT_DXT5);
    }
}
