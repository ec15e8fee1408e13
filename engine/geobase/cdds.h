// The CDDS container: textures grouped into three detail levels (High,
// Medium, Low), each level a name-ordered table of items that point at a
// stored texture and an optional palette.  The structures are built in place
// inside a misc::mmf_write image by the converter and read in place from a
// mapped file by the engine; every link between them is a self-relative
// image reference, so a file needs no fixing wherever it is mapped.
// The byte layout is described in docs/formats.md.
#pragma once

#include "misc/mmf_write.h"
#include "platform/d3d8/d3d8.h"

#include <cstddef>
#include <cstdint>

namespace misc {
class mmf;
}

namespace cdds {

// Levels whose pixel data is smaller than this many bytes are "small": a
// texture's small levels are saved before any texture's large ones, so the
// head of a file holds a complete low-detail set.
constexpr long kSmallLevelBytes = 1000;

// Longest texture name an item holds (the rest of its 32 bytes is the NUL).
constexpr std::size_t kMaxNameLength = 31;

// One mip level of a stored texture: where its pixels are and what they are.
// Rows lie as the device's level layout gives them (4x4 block rows for DXT,
// rows padded to 4 bytes otherwise).
struct Surface {
    misc::image_ref<std::uint8_t> data;  // the pixel bytes, null until saved
    std::uint32_t size = 0;              // byte count of the level
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    // Appends the pixels of `surface` to `image` and points `data` at them.
    // False when the surface does not match this level or cannot be read.
    bool SaveLevel(IDirect3DSurface8* surface, misc::mmf_write& image);
};

// A stored texture: its format and size, and one Surface per mip level.
struct Texture {
    std::uint32_t format = 0;  // D3DFORMAT
    std::uint32_t width = 0;   // of level 0
    std::uint32_t height = 0;
    // The first level whose byte size is below the small-level limit (the
    // last level when none is).  Levels after it belong to the leading part
    // of the file; it and the levels before it follow the leading part.
    std::uint32_t split = 0;
    misc::image_table<Surface> surfaces;  // one per level, level 0 first
    std::uint32_t small_limit = 0;        // the limit `split` was chosen with
    std::uint32_t reserved[3] = {0, 0, 0};

    // Built in place in `image`; takes the surface table from `image` and
    // fills every level's size and dimensions (not its pixels).  Throws
    // misc::error when the texture's levels cannot be described.
    Texture(IDirect3DTexture8* texture, long smallLimit, misc::mmf_write& image);

    std::uint32_t size() const { return surfaces.size(); }
};

// One entry of a detail level: a named texture with its level value.
struct Item {
    char name[kMaxNameLength + 1] = {};
    misc::image_ref<Texture> texture;
    misc::image_ref<PALETTEENTRY> palette;  // 256 entries, or null
    std::int32_t level = 0;                 // the detail value of this level
    std::uint32_t flags = 0;                // kAlpha
    std::uint32_t reserved[4] = {0, 0, 0, 0};

    static constexpr std::uint32_t kAlpha = 1;

    // Throws misc::error naming `name` when it is longer than kMaxNameLength.
    Item(const char* name, int level, bool alpha);

    bool alpha() const { return (flags & kAlpha) != 0; }
};

// The file header: identification and the three level tables.
struct File {
    static constexpr std::uint32_t kMagic = 0x53444443;  // "CDDS" in file order
    static constexpr std::uint32_t kVersion = 1;
    static constexpr int kLevels = 3;

    std::uint32_t magic = kMagic;
    std::uint32_t version = kVersion;
    misc::image_table<misc::image_ref<Item>> levels[kLevels];

    File() = default;

    // Maps `name` through `map` (the caller closes it) and checks every
    // table, reference, name, count and size of the file against its bytes.
    // The container, or null after printing why.
    static File* Open(const char* name, misc::mmf& map);

    // The index-th item of `level` (0 High, 1 Medium, 2 Low), null past the
    // end or for a level outside 0..2.
    Item* GetTexture(int index, int level) const;
    // The item called `name` in `level` (exact comparison), or null.
    Item* GetTexture(const char* name, int level) const;
};

static_assert(sizeof(Surface) == 16);
static_assert(sizeof(Texture) == 40);
static_assert(offsetof(Texture, split) == 12);
static_assert(offsetof(Texture, surfaces) == 16);
static_assert(sizeof(Item) == 64);
static_assert(offsetof(Item, name) == 0);
static_assert(offsetof(Item, texture) == 32);
static_assert(offsetof(Item, palette) == 36);
static_assert(sizeof(File) == 32);
static_assert(offsetof(File, levels) == 8);
static_assert(offsetof(File, levels) + sizeof(File::levels[0]) == 16);
static_assert(offsetof(File, levels) + 2 * sizeof(File::levels[0]) == 24);

} // namespace cdds
