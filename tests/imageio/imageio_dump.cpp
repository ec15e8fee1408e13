// imageio_dump <image> <out>: loads the image in its own format, top level
// only, and writes "<width> <height> <format>\n", then the 1024-byte palette
// and the tightly packed level-0 bytes.
#include "platform/d3d8/comptr.h"
#include "platform/d3dx8/d3dx8.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct NullDevice {
    ComPtr<IDirect3D8> d3d{Direct3DCreate8(D3D_SDK_VERSION)};
    ComPtr<IDirect3DDevice8> device;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: imageio_dump <image> <out>\n");
        return 2;
    }
    NullDevice d;
    D3DPRESENT_PARAMETERS pp{};
    pp.Windowed = TRUE;
    if (!d.d3d || FAILED(d.d3d->CreateDevice(0, D3DDEVTYPE_REF, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp,
                                             d.device.put()))) {
        std::fprintf(stderr, "imageio_dump: no device\n");
        return 1;
    }
    PALETTEENTRY palette[256] = {};
    ComPtr<IDirect3DTexture8> texture;
    if (FAILED(D3DXCreateTextureFromFileExA(d.device.get(), argv[1], D3DX_DEFAULT, D3DX_DEFAULT, 1, 0,
                                            D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_FILTER_NONE, D3DX_FILTER_BOX, 0,
                                            nullptr, palette, texture.put()))) {
        std::fprintf(stderr, "imageio_dump: %s: %s\n", argv[1], D3DXGetLastErrorText().c_str());
        return 1;
    }
    D3DSURFACE_DESC desc{};
    texture->GetLevelDesc(0, &desc);
    const FormatInfo* info = D3DFormatInfo(desc.Format);
    const std::size_t rowBytes = std::size_t{desc.Width} * info->bitsPerPixel / 8;
    D3DLOCKED_RECT locked{};
    texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY);
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) {
        texture->UnlockRect(0);
        std::fprintf(stderr, "imageio_dump: cannot write %s\n", argv[2]);
        return 1;
    }
    std::fprintf(out, "%u %u %s\n", desc.Width, desc.Height, info->name);
    std::fwrite(palette, sizeof palette, 1, out);
    for (UINT y = 0; y < desc.Height; ++y)
        std::fwrite(static_cast<const BYTE*>(locked.pBits) + std::size_t{y} * locked.Pitch, 1, rowBytes, out);
    texture->UnlockRect(0);
    return std::fclose(out) == 0 ? 0 : 1;
}
