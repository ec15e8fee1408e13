// The directory modes: every image of one extension in a folder becomes a
// DDS file, or ("-complex") all of them go into one engine texture file.
#include "dirmode.h"

#include "comptr.h"
#include "ddswriter.h"
#include "dprintf.h"
#include "misc.h"
#include "parallel.h"
#include "pipeline.h"
#include "modes.h"
#include "texconvert.h"
#include "texfile.h"
#include "texload.h"
#include "win32.h"

#include <vector>

void FindTextureFiles(const char* dir, const char* extension, TextureFileMap& files)
{
    const std::string folder = dir ? dir : "";
    for (std::string name : win32::FindFiles(folder, std::string("*.") + extension)) {
        const std::string path = win32::PathJoin(folder, name);
        win32::StrLwr(name);
        files[name] = path;
    }
}

namespace {

bool EndsWithTga(const std::string& path)
{
    return path.size() >= 3 && win32::StrICmp(path.c_str() + path.size() - 3, "tga") == 0;
}

bool IsFinal(D3DFORMAT format) { return format == D3DFMT_DXT1 || format == D3DFMT_DXT5 || format == D3DFMT_P8; }

void WriteTexFileGuarded(IDirect3DDevice8* device, const char* texFile, const std::vector<IDirect3DTexture8*>& textures,
                         const std::vector<std::string>& names, const std::vector<PALETTEENTRY*>& palettes)
{
    dprintf("\nsave file %s version %d  ", texFile, kTexFileVersion);
    try {
        Tex_WriteTexFile(device, texFile, textures, names, palettes, static_cast<int>(textures.size()));
    } catch (const char* text) {
        dprintf("\nERROR: %s\n\n", text);
    } catch (const misc::error& e) {
        dprintf("\nERROR: %s\n\n", e.text() ? e.text() : "");
    } catch (...) {
        dprintf("\nERROR: UNDEFINED\n\n");
    }
}

} // namespace

int RunDirectoryMode(IDirect3DDevice8* device, const char* inDir, const char* extension, const char* outDir,
                     const char* texFile)
{
    if (outDir)
        win32::CreateDirectoryA(outDir);

    TextureFileMap files;
    FindTextureFiles(inDir, extension, files);
    if (files.empty())
        return -1;
    const std::vector<std::pair<std::string, std::string>> entries(files.begin(), files.end());

    // "-complex" keeps every delivered texture and its palette until the
    // process ends; the writer reads them after the scan.
    std::vector<IDirect3DTexture8*> textures;
    std::vector<std::string> names;
    std::vector<PALETTEENTRY*> palettes;

    // Loading, compressing and saving one file is independent of the others,
    // so the next files are prepared while earlier ones are delivered.  One
    // file more is in flight than there are threads: a file that is done but
    // waits for the one before it would otherwise leave its core idle while
    // that one is still being read and filtered, which runs on one thread.
    // With one thread everything stays on it.
    struct Prepared {
        IDirect3DTexture8* texture = nullptr; // for "-complex" only
        PALETTEENTRY* palette = nullptr;
    };
    auto prepare = [&](std::size_t index) {
        const auto& [key, path] = entries[index];
        Prepared out;
        PALETTEENTRY* palette = nullptr;
        ComPtr<IDirect3DTexture8> texture(Tex_LoadFile(path.c_str(), device, &palette));
        if (!texture) {
            dprintf("can't open %s\n", path.c_str());
            return out;
        }
        D3DSURFACE_DESC desc{};
        texture->GetLevelDesc(0, &desc);
        if (outDir || !IsFinal(desc.Format)) {
            const D3DFORMAT target = EndsWithTga(path) ? D3DFMT_DXT5 : D3DFMT_DXT1;
            IDirect3DDevice8* dev = device;
            IDirect3DTexture8* converted = Tex_Convert(&dev, texture.get(), target);
            if (!converted) {
                dprintf("can't convert %s\n", path.c_str());
                delete[] palette;
                return out;
            }
            if (converted != texture.get()) {
                texture.release();
                texture.reset(converted);
            }
        }
        const auto dot = key.rfind('.');
        if (dot == std::string::npos) {
            delete[] palette;
            return out;
        }
        if (outDir) {
            delete[] palette;
            const std::string outPath = win32::PathJoin(outDir, key.substr(0, dot) + ".dds");
            if (FAILED(Tex_SaveDDS(texture.get(), outPath.c_str())))
                dprintf("can't save %s\n", outPath.c_str());
            else
                dprintf("%s -> %s\n", path.c_str(), outPath.c_str());
        } else {
            out.texture = texture.release();
            out.palette = palette;
            dprintf("push %s -> %s\n", path.c_str(), key.c_str());
        }
        return out;
    };
    auto deliver = [&](std::size_t index, Prepared& p) {
        if (p.texture) {
            textures.push_back(p.texture);
            names.push_back(entries[index].first);
            palettes.push_back(p.palette);
        }
    };
    const unsigned threads = d3dx::WorkerBudget();
    RunInOrder<Prepared>(entries.size(), threads > 1 ? threads + 1 : threads, prepare, deliver);

    if (texFile)
        WriteTexFileGuarded(device, texFile, textures, names, palettes);
    // The writer is done with them; nothing else uses them before exit.
    for (IDirect3DTexture8* t : textures)
        t->Release();
    for (PALETTEENTRY* p : palettes)
        delete[] p;
    return 0;
}
