// Tex_LoadFile with a file named by the extension the harness is built
// for (LOADFILE_SUFFIX): ".bmp" reaches the BMP mip-chain reader and the
// palettised road, ".tga" the TGA mip-chain reader, and both fall through
// to the general load.
#include "converter/image/texload.h"
#include "fuzz/fuzz_file.h"
#include "fuzz/fuzz_texture.h"

#include "platform/d3d8/comptr.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    IDirect3DDevice8* device = FuzzDevice();
    PALETTEENTRY* raw = nullptr;
    ComPtr<IDirect3DTexture8> texture(Tex_LoadFile(FuzzInputFile(data, size, LOADFILE_SUFFIX).c_str(), device, &raw));
    std::unique_ptr<PALETTEENTRY[]> palette(raw);
    if (!texture) {
        if (palette)
            __builtin_trap();  // a failed load hands out no palette
        return 0;
    }
    D3DSURFACE_DESC desc{};
    texture->GetLevelDesc(0, &desc);
    if ((desc.Format == D3DFMT_P8) != (palette != nullptr))
        __builtin_trap();
    FuzzWalkTexture(texture.get(), palette.get());
    return 0;
}
