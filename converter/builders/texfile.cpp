#include "converter/builders/texfile.h"

#include "converter/builders/texcompare.h"
#include "engine/basekit/dprintf.h"
#include "engine/geobase/texfileheader.h"
#include "misc/misc.h"
#include "misc/mmf_write.h"

namespace {

void Store(TexFileHeader::texture& record, IDirect3DTexture8* texture, long from, long to, misc::mmf_write& image)
{
    if (from >= to && !record.initsurfaces(texture, static_cast<int>(from), static_cast<int>(to), image))
        throw "Save surface failed";
}

} // namespace

void Tex_WriteTexFile(IDirect3DDevice8*, const char* fileName, const std::vector<IDirect3DTexture8*>& textures,
                      const std::vector<std::string>& names, const std::vector<PALETTEENTRY*>& palettes, int count)
{
    if (count < 0 || static_cast<std::size_t>(count) > textures.size() ||
        static_cast<std::size_t>(count) > names.size() || static_cast<std::size_t>(count) > palettes.size())
        throw "Texture lists shorter than their count";
    const std::size_t n = static_cast<std::size_t>(count);

    // The image reserves what its references can reach and commits only
    // what is used, so any number of textures, none included, fits.
    misc::mmf_write image(8);
    image.open(fileName);
    auto* header = new (image) TexFileHeader();
    header->textures.resize(n, image);

    // Identical palettised images are stored once; each texture keeps its
    // own name and palette.
    std::vector<IDirect3DTexture8*> sharedImages;
    std::vector<long> sharedOf(n, -1);
    for (std::size_t i = 0; i < n; ++i) {
        if (!palettes[i])
            continue;
        std::size_t s = 0;
        while (s < sharedImages.size() && !Tex_SameImage(textures[i], sharedImages[s]))
            ++s;
        if (s == sharedImages.size())
            sharedImages.push_back(textures[i]);
        sharedOf[i] = static_cast<long>(s);
    }
    header->shared.resize(sharedImages.size(), image);
    for (std::size_t s = 0; s < sharedImages.size(); ++s) {
        TexFileHeader::texture& record = header->shared[s];
        record.init(sharedImages[s], "", nullptr, nullptr, image);
        Store(record, sharedImages[s], static_cast<long>(record.mip_levels()) - 1, 0, image);
    }

    for (std::size_t i = 0; i < n; ++i)
        header->textures[i].init(textures[i], names[i].c_str(), palettes[i],
                                 sharedOf[i] < 0 ? nullptr : &header->shared[sharedOf[i]], image);

    for (std::size_t i = 0; i < n; ++i) {
        TexFileHeader::texture& record = header->textures[i];
        Store(record, textures[i], static_cast<long>(record.mip_levels()) - 1, record.first_stored, image);
        dprintf(".");
    }
    // Whole pages, so that an engine can map the leading block by itself.
    header->leading_bytes = static_cast<std::uint32_t>(image.committed());
    for (std::size_t i = 0; i < n; ++i) {
        TexFileHeader::texture& record = header->textures[i];
        Store(record, textures[i], static_cast<long>(record.first_stored) - 1, 0, image);
    }
    image.close();
}
