#include "converter/builders/cddsbuild.h"

#include "converter/builders/texcompare.h"
#include "engine/basekit/dprintf.h"
#include "engine/geobase/cdds.h"
#include "misc/mmf_write.h"
#include "platform/d3d8/comptr.h"
#include "platform/win32/win32.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace {

// Saves levels `from` down to `to` of `texture` through `stored`.
void SaveLevels(IDirect3DTexture8* texture, cdds::Texture& stored, long from, long to, misc::mmf_write& image)
{
    for (long level = from; level >= to; --level) {
        ComPtr<IDirect3DSurface8> surface;
        if (FAILED(texture->GetSurfaceLevel(static_cast<UINT>(level), surface.put())))
            throw "GetSurfaceLevel failed";
        if (!stored.surfaces[level].SaveLevel(surface.get(), image))
            throw "Save surface failed";
    }
}

} // namespace

void CDDS_Build(const char* fileName, std::vector<TextureEntry>& entries)
{
    dprintf("Match textures:\n");
    std::stable_sort(entries.begin(), entries.end(), [](const TextureEntry& a, const TextureEntry& b) {
        return win32::StrICmp(a.name.c_str(), b.name.c_str()) < 0;
    });
    // Entry index -> index into `unique`.
    std::vector<IDirect3DTexture8*> unique;
    std::vector<std::size_t> uniqueOf(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::size_t u = 0;
        while (u < unique.size() && !Tex_SameImage(entries[i].texture, unique[u]))
            ++u;
        if (u == unique.size())
            unique.push_back(entries[i].texture);
        uniqueOf[i] = u;
        dprintf(".");
    }
    dprintf("Find %d uni textures from %d:\n", static_cast<int>(unique.size()), static_cast<int>(entries.size()));

    dprintf("\nCreate file\n");
    misc::mmf_write image(1);
    image.open(fileName);
    auto* file = new (image) cdds::File();
    // Per level: the items in creation order, which is name order, with
    // the entry each stands for.
    std::vector<std::pair<cdds::Item*, std::size_t>> items[cdds::File::kLevels];
    for (int level = 0; level < cdds::File::kLevels; ++level) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const TextureEntry& e = entries[i];
            if (e.levels[level].used)
                items[level].emplace_back(new (image) cdds::Item(e.name.c_str(), e.levels[level].value, e.alpha), i);
        }
        file->levels[level].resize(items[level].size(), image);
        for (std::size_t k = 0; k < items[level].size(); ++k)
            file->levels[level][k].set(items[level][k].first);
        dprintf("level %d: %d textures\n", level, static_cast<int>(items[level].size()));
    }

    dprintf("\nGet texures\n");
    std::vector<cdds::Texture*> stored;
    for (IDirect3DTexture8* texture : unique)
        stored.push_back(new (image) cdds::Texture(texture, cdds::kSmallLevelBytes, image));

    dprintf("\nGet palletes\n");
    std::map<const PALETTEENTRY*, PALETTEENTRY*> paletteCopies{{nullptr, nullptr}};
    for (const TextureEntry& e : entries) {
        if (!e.palette)
            continue;
        auto* copy = static_cast<PALETTEENTRY*>(image.place(256 * sizeof(PALETTEENTRY)));
        std::memcpy(copy, e.palette, 256 * sizeof(PALETTEENTRY));
        paletteCopies[e.palette] = copy;
    }

    dprintf("\nBuild links\n");
    for (const auto& level : items)
        for (const auto& [item, entry] : level) {
            item->texture.set(stored[uniqueOf[entry]]);
            item->palette.set(paletteCopies[entries[entry].palette]);
        }

    // Small levels of every texture first, then the large ones, so that the
    // head of the file is a complete low-detail set.
    dprintf("\nSave textures 1\n");
    for (std::size_t u = 0; u < unique.size(); ++u) {
        SaveLevels(unique[u], *stored[u], static_cast<long>(stored[u]->size()) - 1,
                   static_cast<long>(stored[u]->split) + 1, image);
        dprintf(".");
    }
    dprintf("\nSave textures 2\n");
    for (std::size_t u = 0; u < unique.size(); ++u) {
        SaveLevels(unique[u], *stored[u], static_cast<long>(stored[u]->split), 0, image);
        dprintf(".");
    }
    image.close();
}
