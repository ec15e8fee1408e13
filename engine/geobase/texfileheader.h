// The engine texture file: a header, one record per texture and the mip data
// of all textures, laid out so that every texture's small levels form one
// leading block that an engine keeps resident, while the larger levels are
// read on demand.  Built in place in a misc::mmf_write image, read in place
// from a mapped file.  The byte layout is described in docs/formats.md.
#pragma once

#include "engine/geobase/cdds.h"
#include "misc/mmf_write.h"
#include "platform/d3d8/d3d8.h"

#include <cstddef>
#include <cstdint>

struct TexFileHeader {
    static constexpr std::uint32_t kVersion = 12;

    // One texture: its name, format, size and levels.  A palettised texture
    // whose image equals one stored before keeps its own name and palette
    // but uses the levels of that image's shared record.
    struct texture {
        misc::image_ref<char> name;               // NUL-terminated, in the image
        std::uint32_t format = 0;                 // D3DFORMAT
        std::uint32_t width = 0;                  // of level 0
        std::uint32_t height = 0;
        misc::image_ref<PALETTEENTRY> palette;    // 256 entries, or null
        misc::image_ref<texture> shared;          // the record whose levels these are, or null
        std::uint32_t data_bytes = 0;             // pixel bytes of all levels together
        std::uint32_t reserved1[4] = {0, 0, 0, 0};
        // The first level that belongs to the leading block: the first whose
        // byte size is below cdds::kSmallLevelBytes, else the last level.
        std::uint32_t first_stored = 0;
        std::uint32_t reserved2[3] = {0, 0, 0};
        misc::image_table<cdds::Surface> levels;  // one per mip level, level 0 first

        texture() = default;

        // Describes `source` under `name` (copied into the image) with
        // `palette` (256 entries copied into the image, or null) and the
        // shared record `shared` (null, or a record of the same image whose
        // levels are stored).  Sizes the level table and sets the level
        // count and the first stored level.  Throws misc::error when the
        // texture's levels cannot be described.
        void init(IDirect3DTexture8* source, const char* name, const tagPALETTEENTRY* palette, texture* shared,
                  misc::mmf_write& image);
        // Stores levels `from` down to `to` (both included) of `source`: the
        // pixels are appended to the image, or, for a record with a shared
        // record, the shared record's level data is referred to.  False when
        // a level cannot be read.
        bool initsurfaces(IDirect3DTexture8* source, int from, int to, misc::mmf_write& image);

        std::uint32_t mip_levels() const { return levels.size(); }
    };

    std::uint32_t version = kVersion;
    misc::image_table<texture> textures;  // one per texture, in list order
    std::uint32_t leading_bytes = 0;      // size of the leading block, a multiple of the page size
    misc::image_table<texture> shared;    // one per distinct palettised image
};

static_assert(sizeof(TexFileHeader) == 24);
static_assert(offsetof(TexFileHeader, textures) == 4);
static_assert(offsetof(TexFileHeader, leading_bytes) == 12);
static_assert(offsetof(TexFileHeader, shared) == 16);
static_assert(sizeof(TexFileHeader::texture) == 68);
static_assert(offsetof(TexFileHeader::texture, first_stored) == 44);
static_assert(offsetof(TexFileHeader::texture, levels) == 60);
