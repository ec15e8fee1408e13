// "-xml": a project file to a CDDS file, then a check pass over the result.
#include "converter/builders/cddsbuild.h"
#include "converter/image/texload.h"
#include "converter/loadtexture.h"
#include "converter/log.h"
#include "converter/modes.h"
#include "converter/pipeline.h"
#include "engine/basekit/dprintf.h"
#include "engine/geobase/cdds.h"
#include "misc/misc.h"
#include "platform/d3d8/comptr.h"
#include "platform/d3d8/formats.h"
#include "platform/d3dx8/worker_budget.h"
#include "platform/win32/win32.h"
#include "project/project.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <termios.h>
#include <unistd.h>

namespace {

// The item's alpha flag marks the alpha formats that DDS files are written
// in; textures of the other formats with alpha (A8L8, A8R3G3B2 ...) are
// stored with the flag clear.
bool HasAlpha(D3DFORMAT format)
{
    const FormatInfo* info = D3DFormatInfo(format);
    return info && info->dds != DdsRecord::None && FormatHasAlpha(*info);
}

std::string UpperCase(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// Reads the written file back and looks every item up again by its name.
void CheckFile(const char* cddsFile)
{
    misc::mmf map;
    if (const cdds::File* file = cdds::File::Open(cddsFile, map)) {
        for (int level = 0; level < cdds::File::kLevels; ++level) {
            dprintf("Level %d: ", level);
            int i = 0;
            for (; const cdds::Item* item = file->GetTexture(i, level); ++i)
                if (file->GetTexture(item->name, level) != item)
                    dprintf("error texture %s %d\n: ", item->name, level);
            dprintf("%d textures\n: ", i);
        }
    }
    map.close();
}

// The console waits for a key so that its window stays readable; scripts,
// tests and the editor run the converter without a terminal and go on.
void WaitForKey()
{
    if (!::isatty(STDIN_FILENO))
        return;
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0)
        return;
    termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    char key = 0;
    while (::read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

} // namespace

ExitCode RunProjectBuildMode(IDirect3DDevice8* device, const char* projectFile, const char* cddsFile)
{
    project::tree tree;
    {
        misc::mmf map;
        if (!map.open(projectFile, true))
            return kExitRanToEnd;
        try {
            xmlparse(static_cast<const char*>(map.data()), static_cast<long>(map.size()), tree);
        } catch (...) {
            return kExitRanToEnd;
        }
    }

    std::vector<TextureEntry> entries;
    std::vector<ComPtr<IDirect3DTexture8>> textures;
    std::vector<PalettePtr> palettes;
    std::string failures;
    int failed = 0;
    const project::const_iterator root = project::root(tree);
    std::vector<project::const_iterator> items;
    for (auto item = root.child_begin(); item != root.child_end(); ++item)
        items.push_back(item);
    const int total = static_cast<int>(items.size());

    // Images load and compress ahead on other threads; their messages and
    // results are taken in project order, as a one-thread run prints them.
    struct Loaded {
        IDirect3DTexture8* texture = nullptr;
        PALETTEENTRY* palette = nullptr;
    };
    auto load = [&](std::size_t i) {
        const auto item = items[i];
        const std::string fileName = project::property(item, "filename");
        dprintf("%d: Load %s\n", static_cast<int>(i), fileName.c_str());
        Loaded out;
        out.texture = LoadTexture(device, fileName.c_str(), project::property(item, "d3dformat").c_str(),
                                  project::property(item, "miplevels").c_str(), &out.palette);
        return out;
    };
    auto take = [&](std::size_t i, Loaded& loaded) {
        const auto item = items[i];
        if (!loaded.texture) {
            failures += project::property(item, "filename") + "\n";
            ++failed;
            return;
        }
        IDirect3DTexture8* texture = loaded.texture;
        textures.emplace_back(texture);
        palettes.emplace_back(loaded.palette);

        TextureEntry entry;
        entry.texture = texture;
        entry.palette = loaded.palette;
        D3DSURFACE_DESC desc{};
        texture->GetLevelDesc(0, &desc);
        entry.alpha = HasAlpha(desc.Format);
        entry.name = UpperCase(project::property(item, "name"));
        static const char* const kUsed[] = {"bHigh", "bMedium", "bLow"};
        static const char* const kValue[] = {"HighLevel", "MediumLevel", "LowLevel"};
        for (int level = 0; level < 3; ++level) {
            entry.levels[level].used = project::property(item, kUsed[level]) == "1";
            entry.levels[level].value = std::atoi(project::property(item, kValue[level]).c_str());
        }
        dprintf(" > %s %s l=%s\n", entry.name.c_str(), project::property(item, "d3dformat").c_str(),
                project::property(item, "miplevels").c_str());
        entries.push_back(std::move(entry));
    };
    // A texture whose file is the log (which grows as the run prints) is read
    // only when everything before it has been printed, as one thread would.
    const auto log = win32::IdentifyFile(kLogFileName);
    auto readsTheLog = [&](std::size_t i) {
        return log && win32::IdentifyFile(project::property(items[i], "filename")) == log;
    };
    RunInOrder<Loaded>(items.size(), d3dx::WorkerBudget(), load, take, readsTheLog);
    dprintf("Loaded %d from %d\n", static_cast<int>(entries.size()), total);

    try {
        if (failed != 0) {
            dprintf("%s", failures.c_str());
            throw misc::error("Dont load %d textures!\n", failed);
        }
        dprintf("\nSave To %s:\n", cddsFile);
        CDDS_Build(cddsFile, entries);
        CheckFile(cddsFile);
    } catch (const misc::error& e) {
        dprintf("Error %s!!!\n", e.text() ? e.text() : "");
    } catch (const char* text) {
        dprintf("Error %s!!!\n", text);
    } catch (...) {
        dprintf("Error %s!!!\n", "UNKNOWN");
    }
    dprintf("press any key");
    WaitForKey();
    return kExitRanToEnd;
}
