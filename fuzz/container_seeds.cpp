// Writes seed inputs for the container fuzzers with the real writers:
// container_seeds <cdds folder> <texture file folder>.
#include "converter/builders/cddsbuild.h"
#include "converter/builders/texfile.h"
#include "converter/device.h"
#include "engine/basekit/dprintf.h"
#include "platform/d3d8/comptr.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

IDirect3DTexture8* Make(IDirect3DDevice8* device, UINT w, UINT h, D3DFORMAT format, unsigned seed)
{
    IDirect3DTexture8* t = nullptr;
    if (FAILED(device->CreateTexture(w, h, 0, 0, format, D3DPOOL_MANAGED, &t)))
        return nullptr;
    for (UINT i = 0; i < t->GetLevelCount(); ++i) {
        D3DSURFACE_DESC desc{};
        D3DLOCKED_RECT locked{};
        t->GetLevelDesc(i, &desc);
        t->LockRect(i, &locked, nullptr, 0);
        for (UINT k = 0; k < desc.Size; ++k)
            static_cast<BYTE*>(locked.pBits)[k] = static_cast<BYTE>(k * 31 + seed * 7 + i);
        t->UnlockRect(i);
    }
    return t;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <cdds folder> <texture file folder>\n", argv[0]);
        return 2;
    }
    std::filesystem::create_directories(argv[1]);
    std::filesystem::create_directories(argv[2]);
    pDPrintOutputProc = [](const char*) {};
    IDirect3D8* d3d = nullptr;
    IDirect3DDevice8* device = nullptr;
    if (FAILED(OpenRenderingDevice(&d3d, &device)))
        return 1;
    static PALETTEENTRY palette[256];
    std::vector<IDirect3DTexture8*> textures = {Make(device, 8, 8, D3DFMT_DXT1, 1), Make(device, 4, 4, D3DFMT_P8, 2),
                                                Make(device, 4, 4, D3DFMT_P8, 2), Make(device, 16, 8, D3DFMT_DXT5, 3),
                                                Make(device, 4, 2, D3DFMT_A8R8G8B8, 4)};
    const std::vector<std::string> names = {"a.tga", "p1.bmp", "p2.bmp", "d.dds", "e.tga"};
    const std::vector<PALETTEENTRY*> palettes = {nullptr, palette, palette, nullptr, nullptr};

    for (std::size_t n = 0; n <= textures.size(); ++n) {
        std::vector<TextureEntry> entries;
        for (std::size_t i = 0; i < n; ++i) {
            TextureEntry e;
            e.name = "T" + std::to_string(i);
            e.texture = textures[i];
            e.palette = palettes[i];
            e.levels[i % 3].used = true;
            e.levels[(i + 1) % 3].used = i % 2 == 0;
            entries.push_back(e);
        }
        CDDS_Build((std::string(argv[1]) + "/seed" + std::to_string(n) + ".cdds").c_str(), entries);
        Tex_WriteTexFile(device, (std::string(argv[2]) + "/seed" + std::to_string(n) + ".tex").c_str(), textures,
                         names, palettes, static_cast<int>(n));
    }
    for (IDirect3DTexture8* t : textures)
        t->Release();
    device->Release();
    d3d->Release();
    return 0;
}
