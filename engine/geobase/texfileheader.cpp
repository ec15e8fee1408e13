#include "engine/geobase/texfileheader.h"

#include "engine/geobase/levels.h"
#include "misc/misc.h"

#include <cstring>

void TexFileHeader::texture::init(IDirect3DTexture8* source, const char* textureName, const tagPALETTEENTRY* pal,
                                  texture* sharedRecord, misc::mmf_write& image)
{
    const geobase::texture_shape shape = geobase::shape_of(source);
    format = static_cast<std::uint32_t>(shape.format);
    width = shape.width;
    height = shape.height;

    const char* text = textureName ? textureName : "";
    const std::size_t length = std::strlen(text);
    auto* nameCopy = static_cast<char*>(image.place(length + 1));
    std::memcpy(nameCopy, text, length + 1);
    name.set(nameCopy);

    if (pal) {
        auto* copy = static_cast<PALETTEENTRY*>(image.place(256 * sizeof(PALETTEENTRY)));
        std::memcpy(copy, pal, 256 * sizeof(PALETTEENTRY));
        palette.set(copy);
    }
    shared.set(sharedRecord);

    geobase::describe_levels(source, levels, image);
    std::uint64_t total = 0;
    for (const cdds::Surface& level : levels)
        total += level.size;
    data_bytes = total > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(total);
    first_stored = geobase::first_small_level(levels, cdds::kSmallLevelBytes);
}

bool TexFileHeader::texture::initsurfaces(IDirect3DTexture8* source, int from, int to, misc::mmf_write& image)
{
    for (int level = from; level >= to; --level) {
        if (level < 0 || static_cast<std::uint32_t>(level) >= levels.size())
            return false;
        cdds::Surface& surface = levels[level];
        if (const texture* owner = shared.get()) {
            // An identical image is stored once; this record only points at
            // its levels.
            if (owner->levels.size() != levels.size() || !owner->levels[level].data)
                return false;
            surface.data.set(owner->levels[level].data.get());
            continue;
        }
        if (!geobase::save_level(source, static_cast<std::uint32_t>(level), surface, image))
            return false;
    }
    return true;
}
