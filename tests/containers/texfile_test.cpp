// The engine texture file: the writer's header, shared records and leading
// block, the texture manager's reading, and its refusal of damaged files.
#include "converter/builders/texfile.h"
#include "engine/geobase/texfileheader.h"
#include "engine/geobase/texturemanager.h"
#include "misc/misc.h"
#include "tests/containers/fixture.h"
#include "tests/support/testutil.h"

#include <unistd.h>

using namespace containers;
using testutil::TempDir;

namespace {

class TexFile : public DeviceTest {
protected:
    // grass: DXT1 64x64; p1 and p2: the same palettised image under two
    // palettes; same1 and same2: one non-palettised image twice; small:
    // levels that are all below the small-level limit.
    void SetUp() override
    {
        DeviceTest::SetUp();
        for (int i = 0; i < 256; ++i) {
            paletteA_[i] = {static_cast<BYTE>(i), 0, 0, 0};
            paletteB_[i] = {0, static_cast<BYTE>(i), 0, 0};
        }
        add("grass.tga", MakeTexture(64, 64, 0, D3DFMT_DXT1, 1), nullptr);
        add("p1.bmp", MakeTexture(32, 32, 0, D3DFMT_P8, 2), paletteA_);
        add("p2.bmp", MakeTexture(32, 32, 0, D3DFMT_P8, 2), paletteB_);
        add("same1.dds", MakeTexture(32, 32, 0, D3DFMT_DXT5, 3), nullptr);
        add("same2.dds", MakeTexture(32, 32, 0, D3DFMT_DXT5, 3), nullptr);
        add("small.dds", MakeTexture(8, 8, 0, D3DFMT_DXT1, 4), nullptr);
    }

    void add(const char* name, ComPtr<IDirect3DTexture8> t, PALETTEENTRY* palette)
    {
        textures_.push_back(t.get());
        owned_.push_back(std::move(t));
        names_.push_back(name);
        palettes_.push_back(palette);
    }

    std::vector<std::uint8_t> Write()
    {
        Tex_WriteTexFile(device_, path().c_str(), textures_, names_, palettes_, static_cast<int>(textures_.size()));
        return testutil::ReadFile(path());
    }
    std::string path() const { return (dir_ / "out.tex").string(); }

    TempDir dir_;
    PALETTEENTRY paletteA_[256], paletteB_[256];
    std::vector<ComPtr<IDirect3DTexture8>> owned_;
    std::vector<IDirect3DTexture8*> textures_;
    std::vector<std::string> names_;
    std::vector<PALETTEENTRY*> palettes_;
};

TEST_F(TexFile, HeaderHoldsVersionTablesAndAPageMultipleLeadingBlock)
{
    const auto b = Write();
    EXPECT_EQ(U32(b, 0), 12u);
    EXPECT_EQ(U32(b, 4), 6u);
    EXPECT_EQ(Ref(b, 8), 24) << "the records follow the header";
    EXPECT_EQ(U32(b, 16), 1u) << "one shared record for p1 and p2";
    EXPECT_EQ(Ref(b, 20), 24 + 6 * 68) << "then the shared table (432 is a multiple of 8)";
    const std::uint32_t leading = U32(b, 12);
    const auto page = static_cast<std::uint32_t>(::sysconf(_SC_PAGESIZE));
    EXPECT_EQ(leading % page, 0u);
    EXPECT_GT(leading, 0u);
    EXPECT_EQ(b.size() % 8, 0u) << "every allocation is a multiple of 8";
}

TEST_F(TexFile, RecordsDescribeEachTextureUnderItsName)
{
    Write();
    misc::mmf map;
    ASSERT_TRUE(map.open(path().c_str()));
    const auto* header = static_cast<const TexFileHeader*>(map.data());
    ASSERT_EQ(header->textures.size(), 6u);
    for (std::size_t i = 0; i < names_.size(); ++i) {
        const TexFileHeader::texture& r = header->textures[i];
        D3DSURFACE_DESC desc{};
        textures_[i]->GetLevelDesc(0, &desc);
        EXPECT_STREQ(r.name.get(), names_[i].c_str());
        EXPECT_EQ(r.format, static_cast<std::uint32_t>(desc.Format));
        EXPECT_EQ(r.width, desc.Width);
        EXPECT_EQ(r.mip_levels(), textures_[i]->GetLevelCount());
        EXPECT_EQ(static_cast<bool>(r.palette), palettes_[i] != nullptr);
    }
    // 64x64 DXT1: 2048 then 512 bytes; 32x32 P8: 1024 then 256; 8x8 DXT1:
    // every level below the limit, so the first level already counts.
    EXPECT_EQ(header->textures[0].first_stored, 1u);
    EXPECT_EQ(header->textures[1].first_stored, 1u);
    EXPECT_EQ(header->textures[5].first_stored, 0u);
    EXPECT_EQ(std::memcmp(header->textures[2].palette.get(), paletteB_, sizeof(paletteB_)), 0);
}

TEST_F(TexFile, IdenticalPalettisedImagesShareOneStoredRecord)
{
    Write();
    misc::mmf map;
    ASSERT_TRUE(map.open(path().c_str()));
    const auto* header = static_cast<const TexFileHeader*>(map.data());
    const TexFileHeader::texture& shared = header->shared[0];
    const TexFileHeader::texture& p1 = header->textures[1];
    const TexFileHeader::texture& p2 = header->textures[2];
    EXPECT_STREQ(shared.name.get(), "");
    EXPECT_FALSE(shared.palette);
    EXPECT_EQ(p1.shared.get(), &shared);
    EXPECT_EQ(p2.shared.get(), &shared);
    EXPECT_NE(p1.palette.get(), p2.palette.get()) << "each keeps its own palette";
    for (std::uint32_t i = 0; i < shared.mip_levels(); ++i) {
        EXPECT_EQ(p1.levels[i].data.get(), shared.levels[i].data.get());
        EXPECT_EQ(p2.levels[i].data.get(), shared.levels[i].data.get());
        EXPECT_EQ(std::memcmp(shared.levels[i].data.get(), LevelBytes(textures_[1], i).data(), shared.levels[i].size),
                  0);
    }
    // Non-palettised twins are stored in full each.
    const TexFileHeader::texture& same1 = header->textures[3];
    const TexFileHeader::texture& same2 = header->textures[4];
    EXPECT_FALSE(same1.shared);
    EXPECT_NE(same1.levels[0].data.get(), same2.levels[0].data.get());
}

TEST_F(TexFile, SmallLevelsLieInTheLeadingBlockBeforeAllLargeOnes)
{
    Write();
    misc::mmf map;
    ASSERT_TRUE(map.open(path().c_str()));
    const auto* header = static_cast<const TexFileHeader*>(map.data());
    const auto* base = static_cast<const std::uint8_t*>(map.data());
    std::int64_t smallEnd = 0, largeStart = INT64_MAX;
    for (const TexFileHeader::texture& r : header->textures) {
        if (r.shared)
            continue;
        for (std::uint32_t i = 0; i < r.mip_levels(); ++i) {
            const std::int64_t at = r.levels[i].data.get() - base;
            if (i >= r.first_stored)
                smallEnd = std::max<std::int64_t>(smallEnd, at + r.levels[i].size);
            else
                largeStart = std::min(largeStart, at);
        }
    }
    EXPECT_LE(smallEnd, largeStart);
    EXPECT_LE(smallEnd, static_cast<std::int64_t>(header->leading_bytes));
    // The shared images' levels come before everything else.
    EXPECT_LT(header->shared[0].levels[0].data.get() - base, header->textures[0].name.get() - (const char*)base);
}

TEST_F(TexFile, EmptyListWritesAFileWithNoTextures)
{
    textures_.clear();
    names_.clear();
    palettes_.clear();
    const auto b = Write();
    EXPECT_EQ(b.size(), sizeof(TexFileHeader));
    lTextureManager manager;
    manager.Init(device_, D3DPOOL_MANAGED, false, nullptr);
    ASSERT_TRUE(manager.InitTexFile(path().c_str())) << Printed();
    EXPECT_EQ(manager.getTexturesFile()->GetTexturesCount(), 0);
    EXPECT_EQ(manager.getTexturesFile()->GetTextureName(0), nullptr);
}

TEST_F(TexFile, ManagerGivesBackEveryLevelOrTheStoredOnes)
{
    Write();
    lTextureManager manager;
    manager.Init(device_, D3DPOOL_MANAGED, false, nullptr);
    ASSERT_TRUE(manager.InitTexFile(path().c_str())) << Printed();
    ILandTexturesFile* file = manager.getTexturesFile();
    ASSERT_EQ(file->GetTexturesCount(), 6);
    EXPECT_EQ(file->GetVersion(), 12);
    EXPECT_EQ(file->GetSharedCount(), 1);
    EXPECT_EQ(file->GetTexture("nothing"), nullptr);
    EXPECT_EQ(file->GetTextureName(6), nullptr);
    for (int j = 0; j < file->GetTexturesCount(); ++j) {
        const TexFileHeader::texture* r = file->GetTexture(file->GetTextureName(j));
        ASSERT_NE(r, nullptr);
        for (bool perm : {false, true}) {
            const int first = perm ? static_cast<int>(r->first_stored) : 0;
            ComPtr<IDirect3DTexture8> t(manager.CreateTextureFromTexFile(r, perm));
            ASSERT_TRUE(t);
            ASSERT_EQ(t->GetLevelCount(), r->mip_levels() - first);
            for (int k = first; k < static_cast<int>(r->mip_levels()); ++k) {
                ASSERT_TRUE(manager.LoadSurface(r, k, t.get(), k - first));
                EXPECT_EQ(LevelBytes(t.get(), k - first), LevelBytes(textures_[j], k)) << names_[j] << " " << k;
            }
            EXPECT_FALSE(manager.LoadSurface(r, first, t.get(), 1)) << "a level of another size";
            EXPECT_FALSE(manager.LoadSurface(r, static_cast<int>(r->mip_levels()), t.get(), 0));
        }
    }
}

// Damaged files, on a small set in which every record is reachable.
class TexFileDamage : public TexFile {
protected:
    void SetUp() override
    {
        TexFile::SetUp();
        owned_.clear();
        textures_.clear();
        names_.clear();
        palettes_.clear();
        add("a.tga", MakeTexture(8, 8, 0, D3DFMT_DXT1, 5), nullptr);
        add("p1.bmp", MakeTexture(4, 4, 0, D3DFMT_P8, 6), paletteA_);
        add("p2.bmp", MakeTexture(4, 4, 0, D3DFMT_P8, 6), paletteB_);
    }
};

TEST_F(TexFileDamage, ManagerRefusesEveryTruncation)
{
    const auto b = Write();
    const auto cut = dir_ / "cut.tex";
    lTextureManager manager;
    manager.Init(device_, D3DPOOL_MANAGED, false, nullptr);
    for (std::size_t length = 0; length < b.size(); ++length) {
        WriteFresh(cut.string(), b.data(), length);
        ASSERT_FALSE(manager.InitTexFile(cut.string().c_str())) << length << " bytes";
        ASSERT_EQ(manager.getTexturesFile(), nullptr);
    }
}

TEST_F(TexFileDamage, ManagerSurvivesEveryCorruptedRecordWord)
{
    const auto b = Write();
    const std::string bad = (dir_ / "bad.tex").string();
    lTextureManager manager;
    manager.Init(device_, D3DPOOL_MANAGED, false, nullptr);
    // The header, the records, the shared record and what it allocates.
    const std::size_t structures = 24 + 4 * 68 + 8 + 3 * 16;
    const int refused = CountRefusedCorruptions(
        b, structures, {0, 1, 4, 0x7fffffff, 0x80000000, 0xffffffff, 0xfffffff8, 0x4000}, bad, [&] {
            if (!manager.InitTexFile(bad.c_str()))
                return false;
            ILandTexturesFile* file = manager.getTexturesFile();
            for (int j = 0; j < file->GetTexturesCount(); ++j) {
                const TexFileHeader::texture* r = file->GetTexture(file->GetTextureName(j));
                ComPtr<IDirect3DTexture8> t(manager.CreateTextureFromTexFile(r, true));
                if (!t)
                    continue;
                const int first = static_cast<int>(r->first_stored);
                for (int k = first; k < static_cast<int>(r->mip_levels()); ++k)
                    EXPECT_TRUE(manager.LoadSurface(r, k, t.get(), k - first));
            }
            return true;
        });
    EXPECT_GT(refused, 0);
    EXPECT_NE(Printed().find("bad texture file"), std::string::npos);
}

// A name of up to 4,096 bytes is read; a longer one is named as too long,
// not as lying outside the file.
TEST_F(TexFileDamage, NamesHoldUpTo4096Bytes)
{
    lTextureManager manager;
    manager.Init(device_, D3DPOOL_MANAGED, false, nullptr);
    for (std::size_t length : {4096u, 4097u}) {
        names_[0] = std::string(length, 'n');
        Write();
        EXPECT_EQ(manager.InitTexFile(path().c_str()), length == 4096) << length;
    }
    EXPECT_NE(Printed().find("texture name longer than 4096 bytes"), std::string::npos) << Printed();
}

} // namespace
