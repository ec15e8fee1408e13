#include "engine/geobase/levels.h"

#include "misc/misc.h"
#include "platform/d3d8/comptr.h"

#include <cstring>

namespace geobase {

texture_shape shape_of(IDirect3DTexture8* source)
{
    D3DSURFACE_DESC desc{};
    const DWORD levels = source ? source->GetLevelCount() : 0;
    if (levels == 0 || FAILED(source->GetLevelDesc(0, &desc)))
        throw misc::error("Texture without levels");
    if (!D3DLevelLayout(desc.Format, desc.Width, desc.Height, levels - 1))
        throw misc::error("Texture format %u of %ux%u with %u levels cannot be stored", unsigned(desc.Format),
                          desc.Width, desc.Height, unsigned(levels));
    return {desc.Format, desc.Width, desc.Height, levels};
}

void describe_levels(IDirect3DTexture8* source, misc::image_table<cdds::Surface>& table, misc::mmf_write& image)
{
    const texture_shape shape = shape_of(source);
    table.resize(shape.levels, image);
    for (std::uint32_t i = 0; i < shape.levels; ++i) {
        const auto layout = D3DLevelLayout(shape.format, shape.width, shape.height, i);
        if (layout->size > UINT32_MAX)
            throw misc::error("Texture level of %llu bytes cannot be stored",
                              static_cast<unsigned long long>(layout->size));
        table[i].size = static_cast<std::uint32_t>(layout->size);
        table[i].width = layout->width;
        table[i].height = layout->height;
    }
}

std::uint32_t first_small_level(const misc::image_table<cdds::Surface>& table, std::uint64_t limit)
{
    for (std::uint32_t i = 0; i < table.size(); ++i)
        if (table[i].size < limit)
            return i;
    return table.size() == 0 ? 0 : table.size() - 1;
}

bool save_level(IDirect3DTexture8* source, std::uint32_t level, cdds::Surface& surface, misc::mmf_write& image)
{
    ComPtr<IDirect3DSurface8> s;
    if (FAILED(source->GetSurfaceLevel(level, s.put())))
        return false;
    return surface.SaveLevel(s.get(), image);
}

bool file_bounds::contains(const void* p, std::uint64_t bytes) const
{
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    const auto begin = reinterpret_cast<std::uintptr_t>(base_);
    if (at < begin)
        return false;
    const std::uint64_t offset = at - begin;
    return offset <= size_ && bytes <= size_ - offset;
}

bool file_bounds::terminated(const char* p, std::uint64_t maxLength) const
{
    if (!contains(p, 0))
        return false;
    const std::uint64_t room = size_ - static_cast<std::uint64_t>(reinterpret_cast<const std::uint8_t*>(p) - base_);
    const std::uint64_t scan = room < maxLength + 1 ? room : maxLength + 1;
    return std::memchr(p, 0, scan) != nullptr;
}

const void* file_bounds::resolve(const void* field, std::int32_t raw, std::uint64_t bytes, std::size_t align) const
{
    if (raw == 0 || !contains(field, 4))
        return nullptr;
    const std::int64_t offset =
        static_cast<std::int64_t>(static_cast<const std::uint8_t*>(field) - base_) + std::int64_t{raw};
    if (offset < 0 || static_cast<std::uint64_t>(offset) > size_ || bytes > size_ - static_cast<std::uint64_t>(offset))
        return nullptr;
    // The file is mapped at a page boundary, so an offset's alignment is
    // its address's alignment.
    if (static_cast<std::uint64_t>(offset) % align != 0)
        return nullptr;
    return base_ + offset;
}

const char* file_bounds::check_levels(std::uint32_t format, std::uint32_t width, std::uint32_t height,
                                      const misc::image_table<cdds::Surface>& table) const
{
    if (!D3DFormatInfo(static_cast<D3DFORMAT>(format)))
        return "unknown pixel format";
    if (width == 0 || height == 0 || width > D3D_MAX_TEXTURE_SIZE || height > D3D_MAX_TEXTURE_SIZE)
        return "texture size out of range";
    if (table.size() == 0 || table.size() > D3DFullMipCount(width, height))
        return "bad level count";
    const cdds::Surface* levels = elements(table);
    if (!levels)
        return "level table outside the file";
    for (std::uint32_t i = 0; i < table.size(); ++i) {
        const auto layout = D3DLevelLayout(static_cast<D3DFORMAT>(format), width, height, i);
        const cdds::Surface& s = levels[i];
        if (!layout || s.width != layout->width || s.height != layout->height || s.size != layout->size)
            return "level size does not match the texture";
        if (!target(s.data, s.size))
            return "level data outside the file";
    }
    return nullptr;
}

bool load_level(const cdds::Surface& stored, std::uint32_t format, IDirect3DTexture8* texture, std::uint32_t target)
{
    D3DSURFACE_DESC desc{};
    if (!texture || FAILED(texture->GetLevelDesc(target, &desc)))
        return false;
    const auto layout = D3DLevelLayout(desc.Format, desc.Width, desc.Height, 0);
    if (desc.Format != format || desc.Width != stored.width || desc.Height != stored.height || !layout ||
        layout->size != stored.size || !stored.data)
        return false;
    D3DLOCKED_RECT locked{};
    if (FAILED(texture->LockRect(target, &locked, nullptr, 0)))
        return false;
    if (locked.Pitch < 0 || static_cast<std::uint64_t>(locked.Pitch) < layout->pitch) {
        texture->UnlockRect(target);
        return false;
    }
    const std::uint8_t* from = stored.data.get();
    auto* to = static_cast<std::uint8_t*>(locked.pBits);
    for (UINT row = 0; row < layout->rows; ++row)
        std::memcpy(to + std::uint64_t{row} * static_cast<std::uint64_t>(locked.Pitch), from + row * layout->pitch,
                    layout->pitch);
    texture->UnlockRect(target);
    return true;
}

} // namespace geobase
