// "-dump" and "-dumpperm": every texture of an engine texture file back out
// as a DDS file, read through the engine's texture manager.
#include "converter/image/ddswriter.h"
#include "converter/modes.h"
#include "engine/basekit/dprintf.h"
#include "engine/geobase/texturemanager.h"
#include "platform/d3d8/comptr.h"
#include "platform/d3dx8/d3dx8.h"
#include "platform/win32/win32.h"

#include <cstring>
#include <string>

namespace {

// A stored name is untrusted: it becomes part of an output path only when
// it cannot leave the output folder.  Dots inside a name ("grass..old.bmp")
// are harmless; separators, an empty name, "." and ".." are not.
bool SafeFileName(const char* name)
{
    return name[0] != '\0' && std::strchr(name, '/') == nullptr && std::strchr(name, '\\') == nullptr &&
           std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

// An A8R8G8B8 copy of a palettised texture, every level, or null.
ComPtr<IDirect3DTexture8> ThroughPalette(IDirect3DDevice8* device, IDirect3DTexture8* source,
                                         const PALETTEENTRY* palette)
{
    D3DSURFACE_DESC desc{};
    source->GetLevelDesc(0, &desc);
    ComPtr<IDirect3DTexture8> argb;
    if (FAILED(device->CreateTexture(desc.Width, desc.Height, source->GetLevelCount(), 0, D3DFMT_A8R8G8B8,
                                     D3DPOOL_MANAGED, argb.put())))
        return {};
    for (UINT i = 0; i < source->GetLevelCount(); ++i) {
        ComPtr<IDirect3DSurface8> from, to;
        if (FAILED(source->GetSurfaceLevel(i, from.put())) || FAILED(argb->GetSurfaceLevel(i, to.put())) ||
            FAILED(D3DXLoadSurfaceFromSurface(to.get(), nullptr, nullptr, from.get(), palette, nullptr,
                                              D3DX_FILTER_NONE, 0)))
            return {};
    }
    return argb;
}

} // namespace

ExitCode RunDumpMode(IDirect3DDevice8* device, const char* texFile, const char* outDir, bool storedLevelsOnly)
{
    if (outDir)
        win32::CreateDirectoryA(outDir);

    lTextureManager manager;
    manager.Init(device, D3DPOOL_MANAGED, false, nullptr);
    if (!manager.InitTexFile(texFile))
        return kExitRanToEnd;
    ILandTexturesFile* file = manager.getTexturesFile();

    for (int j = 0; j < file->GetTexturesCount(); ++j) {
        const char* name = file->GetTextureName(j);
        const TexFileHeader::texture* record = file->GetTexture(name);
        if (!record)
            continue;
        if (!SafeFileName(name)) {
            dprintf("bad texture name %s\n", name);
            continue;
        }
        ComPtr<IDirect3DTexture8> texture(manager.CreateTextureFromTexFile(record, storedLevelsOnly));
        if (!texture)
            continue;
        const int first = storedLevelsOnly ? static_cast<int>(record->first_stored) : 0;
        for (int k = first; k < static_cast<int>(record->mip_levels()); ++k)
            manager.LoadSurface(record, k, texture.get(), k - first);
        // DDS files carry no palette here, so a palettised texture is written
        // with its colours looked up: A8R8G8B8 loses nothing of it.
        if (record->palette && record->format == D3DFMT_P8)
            texture = ThroughPalette(device, texture.get(), record->palette.get());
        if (!texture)
            continue;
        const std::string path = win32::PathJoin(outDir ? outDir : "", std::string(name) + ".dds");
        if (FAILED(Tex_SaveDDS(texture.get(), path.c_str())))
            dprintf("can't save %s\n", path.c_str());
        else
            dprintf("%s\n", name);
    }
    return kExitRanToEnd;
}
