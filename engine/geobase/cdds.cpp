#include "engine/geobase/cdds.h"

#include "engine/basekit/dprintf.h"
#include "engine/geobase/levels.h"
#include "misc/misc.h"
#include "platform/d3d8/comptr.h"

#include <cstring>

namespace cdds {

bool Surface::SaveLevel(IDirect3DSurface8* surface, misc::mmf_write& image)
{
    D3DSURFACE_DESC desc{};
    if (!surface || FAILED(surface->GetDesc(&desc)))
        return false;
    const auto layout = D3DLevelLayout(desc.Format, desc.Width, desc.Height, 0);
    if (!layout || desc.Width != width || desc.Height != height || layout->size != size)
        return false;
    D3DLOCKED_RECT locked{};
    if (FAILED(surface->LockRect(&locked, nullptr, D3DLOCK_READONLY)))
        return false;
    if (locked.Pitch < 0 || static_cast<std::uint64_t>(locked.Pitch) < layout->pitch) {
        surface->UnlockRect();
        return false;
    }
    // Rows are stored at the layout's pitch, whatever pitch the device
    // hands out, so a reader can find any row from the size alone.
    auto* to = static_cast<std::uint8_t*>(image.place(size));
    const auto* from = static_cast<const std::uint8_t*>(locked.pBits);
    for (UINT row = 0; row < layout->rows; ++row)
        std::memcpy(to + row * layout->pitch, from + std::uint64_t{row} * static_cast<std::uint64_t>(locked.Pitch),
                    layout->pitch);
    surface->UnlockRect();
    data.set(to);
    return true;
}

Texture::Texture(IDirect3DTexture8* texture, long smallLimit, misc::mmf_write& image)
{
    const geobase::texture_shape shape = geobase::shape_of(texture);
    format = static_cast<std::uint32_t>(shape.format);
    width = shape.width;
    height = shape.height;
    small_limit = smallLimit < 0 ? 0 : static_cast<std::uint32_t>(smallLimit);
    geobase::describe_levels(texture, surfaces, image);
    split = geobase::first_small_level(surfaces, small_limit);
}

Item::Item(const char* itemName, int itemLevel, bool alpha) : level(itemLevel), flags(alpha ? kAlpha : 0)
{
    const std::size_t length = std::strlen(itemName);
    if (length > kMaxNameLength)
        throw misc::error("Texture name %s is longer than %d characters", itemName, int(kMaxNameLength));
    std::memcpy(name, itemName, length + 1);
}

namespace {

// Why the file at `base` is not a sound CDDS file, or null.  Everything a
// reader follows later is checked here once: the level tables, every item
// with its name, texture and palette, and every texture's levels.
const char* CheckFile(const geobase::file_bounds& bounds, const File& file)
{
    if (file.magic != File::kMagic)
        return "not a CDDS file";
    if (file.version != File::kVersion)
        return "unsupported version";
    for (const auto& table : file.levels) {
        if (table.size() == 0) {
            if (table.first())
                return "level table without a count";
            continue;
        }
        const misc::image_ref<Item>* refs = bounds.elements(table);
        if (!refs)
            return "level table outside the file";
        for (std::uint32_t i = 0; i < table.size(); ++i) {
            const Item* item = bounds.target(refs[i]);
            if (!item)
                return "item outside the file";
            if (std::memchr(item->name, 0, sizeof(item->name)) == nullptr)
                return "item name without an end";
            const Texture* texture = bounds.target(item->texture);
            if (!texture)
                return "item without a texture";
            if (item->palette && !bounds.target(item->palette, 256))
                return "palette outside the file";
            if (const char* why =
                    bounds.check_levels(texture->format, texture->width, texture->height, texture->surfaces))
                return why;
            if (texture->split >= texture->size())
                return "split level out of range";
        }
    }
    return nullptr;
}

} // namespace

File* File::Open(const char* fileName, misc::mmf& map)
{
    if (!map.open(fileName, true)) {
        dprintf("can't open %s: %s\n", fileName ? fileName : "", map.last_error().text() ? map.last_error().text() : "");
        return nullptr;
    }
    if (map.size() < sizeof(File)) {
        dprintf("bad CDDS file %s: %s\n", fileName, "shorter than its header");
        return nullptr;
    }
    const geobase::file_bounds bounds(map.data(), map.size());
    auto* file = static_cast<File*>(map.data());
    if (const char* why = CheckFile(bounds, *file)) {
        dprintf("bad CDDS file %s: %s\n", fileName, why);
        return nullptr;
    }
    return file;
}

Item* File::GetTexture(int index, int level) const
{
    if (level < 0 || level >= kLevels || index < 0 || static_cast<std::uint32_t>(index) >= levels[level].size())
        return nullptr;
    return levels[level][index].get();
}

Item* File::GetTexture(const char* name, int level) const
{
    if (level < 0 || level >= kLevels || !name)
        return nullptr;
    for (const auto& ref : levels[level])
        if (std::strcmp(ref->name, name) == 0)
            return ref.get();
    return nullptr;
}

} // namespace cdds
