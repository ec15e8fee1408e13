// "-dump" and "-dumpperm": every texture of an engine texture file back out
// as a DDS file, read through the engine's texture manager.
#include "comptr.h"
#include "ddswriter.h"
#include "dprintf.h"
#include "modes.h"
#include "texturemanager.h"
#include "win32.h"

#include <cstring>
#include <string>

namespace {

// A stored name is untrusted: it becomes part of an output path only when
// it cannot leave the output folder.
bool SafeFileName(const char* name)
{
    return name[0] != '\0' && std::strchr(name, '/') == nullptr && std::strchr(name, '\\') == nullptr &&
           std::strstr(name, "..") == nullptr;
}

} // namespace

int RunDumpMode(IDirect3DDevice8* device, const char* texFile, const char* outDir, bool storedLevelsOnly)
{
    if (outDir)
        win32::CreateDirectoryA(outDir);

    lTextureManager manager;
    manager.Init(device, D3DPOOL_MANAGED, false, nullptr);
    if (!manager.InitTexFile(texFile))
        return 1;
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
        const std::string path = win32::PathJoin(outDir ? outDir : "", std::string(name) + ".dds");
        if (FAILED(Tex_SaveDDS(texture.get(), path.c_str())))
            dprintf("can't save %s\n", path.c_str());
        dprintf("%s\n", name);
    }
    return 1;
}
