#include "engine/geobase/texturemanager.h"

#include "engine/basekit/dprintf.h"
#include "engine/geobase/levels.h"
#include "misc/misc.h"
#include "platform/d3d8/comptr.h"

#include <cstring>
#include <string>

namespace {

// Why a record is not sound, or null.  `shared` is the shared table the
// record's shared reference must point into (null for the shared records
// themselves, which have none).
const char* CheckRecord(const geobase::file_bounds& bounds, const TexFileHeader::texture& record,
                        const TexFileHeader::texture* sharedTable, std::uint32_t sharedCount)
{
    if (!record.name)
        return "texture without a name";
    // A name holds at most kMaxNameBytes bytes before its terminating NUL.
    constexpr std::uint64_t kMaxNameBytes = 4096;
    const char* name = bounds.target(record.name);
    if (!name)
        return "texture name outside the file";
    if (!bounds.terminated(name, kMaxNameBytes))
        return bounds.contains(name, kMaxNameBytes + 1) ? "texture name longer than 4096 bytes"
                                                        : "texture name runs past the end of the file";
    if (record.palette && !bounds.target(record.palette, 256))
        return "palette outside the file";
    if (record.shared) {
        const TexFileHeader::texture* owner = bounds.target(record.shared);
        if (!owner || !sharedTable || owner < sharedTable || owner >= sharedTable + sharedCount ||
            (reinterpret_cast<const char*>(owner) - reinterpret_cast<const char*>(sharedTable)) %
                    sizeof(TexFileHeader::texture) !=
                0)
            return "shared record outside the shared table";
    }
    if (const char* why = bounds.check_levels(record.format, record.width, record.height, record.levels))
        return why;
    if (record.first_stored >= record.mip_levels())
        return "first stored level out of range";
    return nullptr;
}

} // namespace

class lTextureManager::file final : public ILandTexturesFile {
public:
    // Maps and checks; false after printing why.
    bool open(const char* name)
    {
        name_ = name ? name : "";
        if (!map_.open(name, true)) {
            dprintf("can't open %s: %s\n", name_.c_str(),
                    map_.last_error().text() ? map_.last_error().text() : "");
            return false;
        }
        if (const char* why = check()) {
            dprintf("bad texture file %s: %s\n", name_.c_str(), why);
            map_.close();
            return false;
        }
        return true;
    }

    const char* GetFileName() override { return name_.c_str(); }
    int GetVersion() override { return static_cast<int>(header()->version); }
    std::uint32_t GetLeadingBlockSize() override { return header()->leading_bytes; }
    int GetTexturesCount() override { return static_cast<int>(header()->textures.size()); }
    const char* GetTextureName(int i) override
    {
        if (i < 0 || i >= GetTexturesCount())
            return nullptr;
        return header()->textures[i].name.get();
    }
    int GetSharedCount() override { return static_cast<int>(header()->shared.size()); }
    const TexFileHeader::texture* GetTexture(const char* name) override
    {
        if (!name)
            return nullptr;
        for (const TexFileHeader::texture& record : header()->textures)
            if (std::strcmp(record.name.get(), name) == 0)
                return &record;
        return nullptr;
    }

    // True when `record` is one of this file's records or shared records.
    bool owns(const TexFileHeader::texture* record) const
    {
        return record && (in_table(header()->textures, record) || in_table(header()->shared, record));
    }

private:
    static bool in_table(const misc::image_table<TexFileHeader::texture>& table, const TexFileHeader::texture* record)
    {
        for (const TexFileHeader::texture& r : table)
            if (&r == record)
                return true;
        return false;
    }

    const TexFileHeader* header() const { return static_cast<const TexFileHeader*>(map_.data()); }

    const char* check() const
    {
        if (map_.size() < sizeof(TexFileHeader))
            return "shorter than its header";
        const geobase::file_bounds bounds(map_.data(), map_.size());
        const TexFileHeader& h = *header();
        if (h.version != TexFileHeader::kVersion)
            return "unsupported version";
        // The block ends at a page boundary, so it may reach past the
        // file's last page; it can never reach past the largest page size.
        if (h.leading_bytes > ((std::uint64_t{map_.size()} + 0xFFFF) & ~std::uint64_t{0xFFFF}))
            return "leading block larger than the file";
        const TexFileHeader::texture* shared = bounds.elements(h.shared);
        if (h.shared.size() != 0 && !shared)
            return "shared table outside the file";
        const TexFileHeader::texture* records = bounds.elements(h.textures);
        if (h.textures.size() != 0 && !records)
            return "texture table outside the file";
        for (std::uint32_t i = 0; i < h.shared.size(); ++i)
            if (const char* why = CheckRecord(bounds, shared[i], nullptr, 0))
                return why;
        for (std::uint32_t i = 0; i < h.textures.size(); ++i)
            if (const char* why = CheckRecord(bounds, records[i], shared, h.shared.size()))
                return why;
        return nullptr;
    }

    std::string name_;
    misc::mmf map_;
};

lTextureManager::lTextureManager() = default;
lTextureManager::~lTextureManager() = default;

bool lTextureManager::Init(IDirect3DDevice8* device, D3DPOOL pool, bool, std::FILE*)
{
    device_ = device;
    pool_ = pool;
    return device != nullptr;
}

bool lTextureManager::InitTexFile(const char* name)
{
    file_.reset();
    auto opened = std::make_unique<file>();
    if (!opened->open(name))
        return false;
    file_ = std::move(opened);
    return true;
}

ILandTexturesFile* lTextureManager::getTexturesFile() { return file_.get(); }

IDirect3DTexture8* lTextureManager::CreateTextureFromTexFile(const TexFileHeader::texture* record, bool perm)
{
    if (!device_ || !file_ || !file_->owns(record))
        return nullptr;
    const std::uint32_t first = perm ? record->first_stored : 0;
    const cdds::Surface& top = record->levels[first];
    IDirect3DTexture8* texture = nullptr;
    if (FAILED(device_->CreateTexture(top.width, top.height, record->mip_levels() - first, 0,
                                      static_cast<D3DFORMAT>(record->format), pool_, &texture))) {
        dprintf("can't create texture %s\n", record->name.get());
        return nullptr;
    }
    return texture;
}

bool lTextureManager::LoadSurface(const TexFileHeader::texture* record, int level, IDirect3DTexture8* texture,
                                  int target)
{
    if (!file_ || !file_->owns(record) || level < 0 || static_cast<std::uint32_t>(level) >= record->mip_levels() ||
        target < 0)
        return false;
    return geobase::load_level(record->levels[level], record->format, texture, static_cast<std::uint32_t>(target));
}
