// The directory modes: every image of one extension in a folder becomes a
// DDS file, or ("-complex") all of them go into one engine texture file.
#include "converter/dirmode.h"

#include "converter/builders/texfile.h"
#include "converter/image/ddswriter.h"
#include "converter/image/texconvert.h"
#include "converter/image/texload.h"
#include "converter/log.h"
#include "converter/modes.h"
#include "converter/pipeline.h"
#include "engine/basekit/dprintf.h"
#include "misc/misc.h"
#include "platform/d3d8/comptr.h"
#include "platform/d3d8/formats.h"
#include "platform/d3dx8/worker_budget.h"
#include "platform/win32/win32.h"

#include <algorithm>
#include <memory>
#include <set>
#include <vector>

void FindTextureFiles(const char* dir, const char* extension, TextureFileMap& files)
{
    const std::string folder = dir ? dir : "";
    // In byte order of the names on disk, so that of several names that
    // differ only in case the same one is kept whatever order the folder
    // lists them in.
    std::vector<std::string> names = win32::FindFiles(folder, std::string("*.") + extension);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = win32::PathJoin(folder, name);
        std::string key = name;
        win32::StrLwr(key);
        const auto [at, added] = files.emplace(key, path);
        if (!added)
            dprintf("%s left out: same lower-case name as %s\n", path.c_str(), at->second.c_str());
    }
}

namespace {

bool EndsWithTga(const std::string& path)
{
    return path.size() >= 3 && win32::StrICmp(path.c_str() + path.size() - 3, "tga") == 0;
}

// The DDS name of a key: everything from its last "." replaced by ".dds";
// empty for a key without a dot, which is skipped.
std::string OutputName(const std::string& key)
{
    const auto dot = key.rfind('.');
    return dot == std::string::npos ? std::string() : key.substr(0, dot) + ".dds";
}

// Entries that read a file this run writes (an earlier entry's DDS file when
// the input folder is the output folder, or the log): they are loaded only
// after everything before them is delivered, as one thread would.
std::vector<bool> ReadsWhatTheRunWrites(const std::vector<std::pair<std::string, std::string>>& entries,
                                        const char* outDir)
{
    std::set<win32::FileId> written;
    if (auto log = win32::IdentifyFile(kLogFileName))
        written.insert(*log);
    for (const auto& [key, path] : entries) {
        const std::string name = OutputName(key);
        if (outDir && !name.empty())
            if (auto id = win32::IdentifyFile(win32::PathJoin(outDir, name)))
                written.insert(*id);
    }
    std::vector<bool> reads(entries.size(), false);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto id = win32::IdentifyFile(entries[i].second);
        reads[i] = id && written.count(*id) != 0;
    }
    return reads;
}

void WriteTexFileGuarded(IDirect3DDevice8* device, const char* texFile, const std::vector<IDirect3DTexture8*>& textures,
                         const std::vector<std::string>& names, const std::vector<PalettePtr>& owned)
{
    dprintf("\nsave file %s version %d  ", texFile, kTexFileVersion);
    std::vector<PALETTEENTRY*> palettes;
    for (const PalettePtr& p : owned)
        palettes.push_back(p.get());
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

ExitCode RunDirectoryMode(IDirect3DDevice8* device, const char* inDir, const char* extension, const char* outDir,
                          const char* texFile)
{
    if (outDir)
        win32::CreateDirectoryA(outDir);

    TextureFileMap files;
    FindTextureFiles(inDir, extension, files);
    if (files.empty())
        return kExitNoInput;
    const std::vector<std::pair<std::string, std::string>> entries(files.begin(), files.end());
    const std::vector<bool> afterEarlier = ReadsWhatTheRunWrites(entries, outDir);

    // "-complex" keeps every delivered texture and its palette until the
    // process ends; the writer reads them after the scan.
    std::vector<IDirect3DTexture8*> textures;
    std::vector<std::string> names;
    std::vector<PalettePtr> palettes;

    // Loading and compressing one file is independent of the others, so the
    // next files are prepared while earlier ones are delivered.  One file
    // more is in flight than there are threads: a file that is done but
    // waits for the one before it would otherwise leave its core idle while
    // that one is still being read and filtered, which runs on one thread.
    // Files are written in list order on delivery, so that of two entries
    // with one output name the later one's file stays, as with one thread.
    struct Prepared {
        IDirect3DTexture8* texture = nullptr;
        PalettePtr palette; // for "-complex" only
    };
    auto prepare = [&](std::size_t index) {
        const auto& [key, path] = entries[index];
        Prepared out;
        PALETTEENTRY* loaded = nullptr;
        ComPtr<IDirect3DTexture8> texture(Tex_LoadFile(path.c_str(), device, &loaded));
        PalettePtr palette(loaded);
        if (!texture) {
            dprintf("can't open %s\n", path.c_str());
            return out;
        }
        D3DSURFACE_DESC desc{};
        texture->GetLevelDesc(0, &desc);
        const FormatInfo* info = D3DFormatInfo(desc.Format);
        if (outDir || !info || !info->engineFinal) {
            const D3DFORMAT target = EndsWithTga(path) ? D3DFMT_DXT5 : D3DFMT_DXT1;
            if (!Tex_ConvertInPlace(device, texture, target)) {
                dprintf("can't convert %s\n", path.c_str());
                return out;
            }
        }
        // A key without a dot names no output and is skipped without a word.
        if (OutputName(key).empty())
            return out;
        out.texture = texture.release();
        if (!outDir) {
            out.palette = std::move(palette);
            dprintf("push %s -> %s\n", path.c_str(), key.c_str());
        }
        return out;
    };
    auto deliver = [&](std::size_t index, Prepared& p) {
        if (!p.texture)
            return;
        const auto& [key, path] = entries[index];
        if (outDir) {
            ComPtr<IDirect3DTexture8> texture(p.texture);
            const std::string outPath = win32::PathJoin(outDir, OutputName(key));
            if (FAILED(Tex_SaveDDS(texture.get(), outPath.c_str())))
                dprintf("can't save %s\n", outPath.c_str());
            else
                dprintf("%s -> %s\n", path.c_str(), outPath.c_str());
            return;
        }
        textures.push_back(p.texture);
        names.push_back(key);
        palettes.push_back(std::move(p.palette));
    };
    const unsigned threads = d3dx::WorkerBudget();
    RunInOrder<Prepared>(entries.size(), threads > 1 ? threads + 1 : threads, prepare, deliver,
                         [&](std::size_t index) { return afterEarlier[index]; });

    if (texFile)
        WriteTexFileGuarded(device, texFile, textures, names, palettes);
    // The writer is done with them; nothing else uses them before exit.
    for (IDirect3DTexture8* t : textures)
        t->Release();
    return kExitFolderDone;
}
