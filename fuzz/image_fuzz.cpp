// Image readers by content (BMP, TGA, DDS, PNG, JPEG, PPM/PGM): whatever
// the library accepts must be a complete texture that converts.
#include "fuzz/fuzz_texture.h"
#include "platform/d3dx8/d3dx8.h"

#include "platform/d3d8/comptr.h"

#include <cstddef>
#include <cstdint>
#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > std::numeric_limits<UINT>::max())
        return 0;
    PALETTEENTRY palette[256];
    D3DXIMAGE_INFO info{};
    ComPtr<IDirect3DTexture8> texture;
    if (FAILED(D3DXCreateTextureFromFileInMemoryEx(FuzzDevice(), data, static_cast<UINT>(size), D3DX_DEFAULT,
                                                   D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                                   D3DX_FILTER_NONE, D3DX_FILTER_BOX, 0, &info, palette,
                                                   texture.put())))
        return 0;
    D3DSURFACE_DESC desc{};
    texture->GetLevelDesc(0, &desc);
    if (desc.Width != info.Width || desc.Height != info.Height || desc.Width > D3D_MAX_TEXTURE_SIZE ||
        desc.Height > D3D_MAX_TEXTURE_SIZE)
        __builtin_trap();
    const bool palettised = desc.Format == D3DFMT_P8 || desc.Format == D3DFMT_A8P8;
    FuzzWalkTexture(texture.get(), palettised ? palette : nullptr);
    return 0;
}
