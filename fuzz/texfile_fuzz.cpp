// Engine texture file reader: whatever InitTexFile accepts must give its
// textures back level by level without fault.
#include "engine/basekit/dprintf.h"
#include "engine/geobase/texturemanager.h"
#include "fuzz/fuzz_file.h"
#include "platform/d3d8/comptr.h"
#include "platform/d3d8/d3d8.h"

namespace {

IDirect3DDevice8* Device()
{
    static IDirect3DDevice8* device = [] {
        IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS pp{};
        pp.Windowed = TRUE;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        IDirect3DDevice8* d = nullptr;
        if (!d3d || FAILED(d3d->CreateDevice(0, D3DDEVTYPE_REF, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &d)))
            __builtin_trap();
        return d;
    }();
    return device;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    pDPrintOutputProc = [](const char*) {};
    lTextureManager manager;
    manager.Init(Device(), D3DPOOL_MANAGED, false, nullptr);
    if (!manager.InitTexFile(FuzzInputFile(data, size).c_str()))
        return 0;
    ILandTexturesFile* file = manager.getTexturesFile();
    for (int j = 0; j < file->GetTexturesCount(); ++j) {
        const TexFileHeader::texture* record = file->GetTexture(file->GetTextureName(j));
        if (!record)
            __builtin_trap();
        for (bool perm : {false, true}) {
            ComPtr<IDirect3DTexture8> texture(manager.CreateTextureFromTexFile(record, perm));
            if (!texture)
                continue;
            const int first = perm ? static_cast<int>(record->first_stored) : 0;
            for (int k = first; k < static_cast<int>(record->mip_levels()); ++k)
                if (!manager.LoadSurface(record, k, texture.get(), k - first))
                    __builtin_trap();
        }
    }
    return 0;
}
