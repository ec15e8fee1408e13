// Pieces the two containers share: describing and storing mip levels, and
// checking stored structures against the bytes of a mapped file.
#pragma once

#include "engine/geobase/cdds.h"
#include "misc/mmf_write.h"
#include "platform/d3d8/d3d8.h"

#include <cstdint>
#include <string>

namespace geobase {

// Format and level-0 size of `source`, with its level count.
struct texture_shape {
    D3DFORMAT format;
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t levels;
};

// Throws misc::error when the texture has no levels or a format the level
// layout does not know.
texture_shape shape_of(IDirect3DTexture8* source);

// Sizes `table` to the texture's level count and fills every level's size
// and dimensions.  Throws like shape_of.
void describe_levels(IDirect3DTexture8* source, misc::image_table<cdds::Surface>& table, misc::mmf_write& image);

// The first level whose byte size is below `limit`, or the last level.
std::uint32_t first_small_level(const misc::image_table<cdds::Surface>& table, std::uint64_t limit);

// Stores level `level` of `source` through `surface`; false on failure.
bool save_level(IDirect3DTexture8* source, std::uint32_t level, cdds::Surface& surface, misc::mmf_write& image);

// The bytes of a mapped file, against which stored references are checked
// before they are followed.  All arithmetic is on 64-bit offsets, so a
// corrupt reference can never form a pointer outside the file.
class file_bounds {
public:
    file_bounds(const void* base, std::uint64_t size) : base_(static_cast<const std::uint8_t*>(base)), size_(size) {}

    // The object a reference field refers to, when `count` objects of T
    // there lie wholly inside the file and are aligned for T; else null.
    // A null reference gives null as well: test `ref` first where null is
    // allowed.
    template <class T>
    const T* target(const misc::image_ref<T>& ref, std::uint64_t count = 1) const
    {
        return static_cast<const T*>(resolve(&ref, ref.raw(), count * sizeof(T), alignof(T)));
    }
    // The first element of a table, when all its elements lie in the file;
    // null for an empty table or when they do not.
    template <class T>
    const T* elements(const misc::image_table<T>& table) const
    {
        if (table.size() == 0)
            return nullptr;
        return target(table.first(), table.size());
    }
    // True when `bytes` bytes at `p` lie inside the file.
    bool contains(const void* p, std::uint64_t bytes) const;
    // True when a NUL ends a text at `p` within the file and within
    // `maxLength` + 1 bytes.
    bool terminated(const char* p, std::uint64_t maxLength) const;

    // Checks a stored texture's level table: a known format, sides within
    // the device's limits, at most a full chain of levels, and every level
    // with the size and dimensions the level layout gives and pixel data
    // inside the file.  Null when sound, else what is wrong.
    const char* check_levels(std::uint32_t format, std::uint32_t width, std::uint32_t height,
                             const misc::image_table<cdds::Surface>& table) const;

private:
    const void* resolve(const void* field, std::int32_t raw, std::uint64_t bytes, std::size_t align) const;

    const std::uint8_t* base_;
    std::uint64_t size_;
};

// Copies a stored level into level `target` of `texture`, whose format and
// level size must match.  False when they do not or the lock fails.
bool load_level(const cdds::Surface& stored, std::uint32_t format, IDirect3DTexture8* texture, std::uint32_t target);

} // namespace geobase
