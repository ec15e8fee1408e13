// The CDDS file: the assembly's layout and progress text, the reader's
// lookups, and the reader's refusal of damaged files.
#include "converter/builders/cddsbuild.h"
#include "engine/geobase/cdds.h"
#include "misc/misc.h"
#include "tests/containers/fixture.h"
#include "tests/support/testutil.h"

#include <algorithm>
#include <filesystem>

using namespace containers;
using testutil::TempDir;

namespace {

TextureEntry Entry(const char* name, IDirect3DTexture8* texture, PALETTEENTRY* palette, bool high, bool medium,
                   bool low, bool alpha = false)
{
    TextureEntry e;
    e.name = name;
    e.texture = texture;
    e.palette = palette;
    e.alpha = alpha;
    e.levels[0] = {high, 3};
    e.levels[1] = {medium, 2};
    e.levels[2] = {low, 1};
    return e;
}

class CddsBuild : public DeviceTest {
protected:
    // Four entries, given out of name order: AAB and GRASS hold the same
    // image, NOLEVEL is in no level, A_B is palettised.
    void SetUp() override
    {
        DeviceTest::SetUp();
        aab_ = MakeTexture(64, 64, 0, D3DFMT_DXT1, 1);
        grass_ = MakeTexture(64, 64, 0, D3DFMT_DXT1, 1);
        ab_ = MakeTexture(16, 16, 0, D3DFMT_P8, 2);
        nolevel_ = MakeTexture(32, 32, 0, D3DFMT_DXT1, 3);
        for (int i = 0; i < 256; ++i)
            palette_[i] = {static_cast<BYTE>(i), static_cast<BYTE>(255 - i), 7, 0};
        entries_ = {Entry("GRASS", grass_.get(), nullptr, true, false, true),
                    Entry("NOLEVEL", nolevel_.get(), nullptr, false, false, false),
                    Entry("AAB", aab_.get(), nullptr, true, false, true, true),
                    Entry("A_B", ab_.get(), palette_, true, true, false)};
    }

    std::vector<std::uint8_t> Build()
    {
        CDDS_Build(path().c_str(), entries_);
        return testutil::ReadFile(path());
    }
    std::string path() const { return (dir_ / "out.cdds").string(); }

    TempDir dir_;
    ComPtr<IDirect3DTexture8> aab_, grass_, ab_, nolevel_;
    PALETTEENTRY palette_[256];
    std::vector<TextureEntry> entries_;
};

TEST_F(CddsBuild, SectionsFollowEachOtherInAllocationOrder)
{
    const auto b = Build();
    EXPECT_EQ(U32(b, 0), cdds::File::kMagic);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "CDDS");
    EXPECT_EQ(U32(b, 4), cdds::File::kVersion);
    // Level tables: High A_B AAB GRASS, Medium A_B, Low AAB GRASS; each
    // level's items (64 bytes) are followed by its table of references.
    EXPECT_EQ(U32(b, 8), 3u);
    EXPECT_EQ(Ref(b, 12), 224);
    EXPECT_EQ(U32(b, 16), 1u);
    EXPECT_EQ(Ref(b, 20), 300);
    EXPECT_EQ(U32(b, 24), 2u);
    EXPECT_EQ(Ref(b, 28), 432);
    EXPECT_EQ(Ref(b, 224), 32);
    EXPECT_EQ(Ref(b, 228), 96);
    EXPECT_EQ(Ref(b, 232), 160);
    EXPECT_EQ(Ref(b, 300), 236);
    EXPECT_EQ(Ref(b, 432), 304);
    EXPECT_EQ(Ref(b, 436), 368);
    // Unique textures in name order, each a 40-byte record and its surface
    // table: A_B (5 levels), AAB (7), NOLEVEL (6); then the palette copy.
    const std::int64_t abTexture = 440, aabTexture = 560, nolevelTexture = 712, paletteCopy = 848;
    EXPECT_EQ(Ref(b, abTexture + 16 + 4), abTexture + 40);
    EXPECT_EQ(U32(b, abTexture + 16), 5u);
    EXPECT_EQ(Ref(b, aabTexture + 16 + 4), aabTexture + 40);
    EXPECT_EQ(U32(b, aabTexture + 16), 7u);
    EXPECT_EQ(Ref(b, nolevelTexture + 16 + 4), nolevelTexture + 40);
    EXPECT_EQ(U32(b, nolevelTexture + 16), 6u);
    EXPECT_EQ(std::memcmp(b.data() + paletteCopy, palette_, sizeof(palette_)), 0);
    // The mip data takes the rest, exactly.
    std::uint64_t data = 0;
    for (auto* t : {ab_.get(), aab_.get(), nolevel_.get()})
        for (UINT i = 0; i < t->GetLevelCount(); ++i)
            data += LevelBytes(t, i).size();
    EXPECT_EQ(b.size(), paletteCopy + 1024 + data);
}

TEST_F(CddsBuild, ItemsLinkTheirTextureAndPaletteOrNull)
{
    const auto b = Build();
    // A_B in High (32) and in Medium (236): the palettised texture, the copy.
    for (std::size_t item : {32u, 236u}) {
        EXPECT_STREQ(reinterpret_cast<const char*>(b.data() + item), "A_B");
        EXPECT_EQ(Ref(b, item + 32), 440);
        EXPECT_EQ(Ref(b, item + 36), 848);
    }
    // AAB and GRASS share one texture and have no palette.
    for (std::size_t item : {96u, 160u, 304u, 368u}) {
        EXPECT_EQ(Ref(b, item + 32), 560);
        EXPECT_EQ(U32(b, item + 36), 0u) << "null palette reference";
    }
    EXPECT_EQ(U32(b, 96 + 40), 3u) << "High level value";
    EXPECT_EQ(U32(b, 304 + 40), 1u) << "Low level value";
    EXPECT_EQ(U32(b, 96 + 44), cdds::Item::kAlpha);
    EXPECT_EQ(U32(b, 160 + 44), 0u);
}

TEST_F(CddsBuild, LevelTablesAreInNameOrderIgnoringCase)
{
    auto a = MakeTexture(8, 8, 1, D3DFMT_DXT1, 10);
    entries_ = {Entry("b2", a.get(), nullptr, true, true, true), Entry("AAB", a.get(), nullptr, true, true, true),
                Entry("A_B", a.get(), nullptr, true, true, true), Entry("a1", a.get(), nullptr, true, true, true)};
    Build();
    misc::mmf map;
    const cdds::File* file = cdds::File::Open(path().c_str(), map);
    ASSERT_NE(file, nullptr) << Printed();
    for (int level = 0; level < 3; ++level) {
        std::vector<std::string> names;
        for (int i = 0; const cdds::Item* item = file->GetTexture(i, level); ++i)
            names.push_back(item->name);
        // "_" sorts before letters once both names are taken in lower case.
        EXPECT_EQ(names, (std::vector<std::string>{"a1", "A_B", "AAB", "b2"})) << "level " << level;
    }
}

TEST_F(CddsBuild, ImagesDifferingInOneLevelAreStoredApart)
{
    auto changed = Altered(aab_.get(), 6);
    entries_[0].texture = changed.get();
    Build();
    EXPECT_NE(Printed().find("Find 4 uni textures from 4:\n"), std::string::npos) << Printed();
}

TEST_F(CddsBuild, EntryInNoLevelIsStoredButListedNowhere)
{
    const auto b = Build();
    misc::mmf map;
    const cdds::File* file = cdds::File::Open(path().c_str(), map);
    ASSERT_NE(file, nullptr);
    for (int level = 0; level < 3; ++level)
        EXPECT_EQ(file->GetTexture("NOLEVEL", level), nullptr);
    // Its pixels are in the file all the same.
    const auto top = LevelBytes(nolevel_.get(), 0);
    EXPECT_NE(std::search(b.begin(), b.end(), top.begin(), top.end()), b.end());
}

TEST_F(CddsBuild, SmallLevelsOfEveryTextureLeadTheMipData)
{
    Build();
    misc::mmf map;
    const cdds::File* file = cdds::File::Open(path().c_str(), map);
    ASSERT_NE(file, nullptr);
    const auto* base = static_cast<const std::uint8_t*>(map.data());
    std::int64_t lastSmall = -1, firstLarge = INT64_MAX;
    for (const char* name : {"A_B", "AAB"}) {
        const cdds::Texture* t = file->GetTexture(name, 0)->texture.get();
        // 64x64 DXT1: 2048 bytes, then 512; 16x16 P8: 256 bytes at the top.
        EXPECT_EQ(t->split, std::string(name) == "AAB" ? 1u : 0u) << name;
        for (std::uint32_t i = 0; i < t->size(); ++i) {
            const std::int64_t at = t->surfaces[i].data.get() - base;
            EXPECT_EQ(std::memcmp(t->surfaces[i].data.get(),
                                  LevelBytes(std::string(name) == "AAB" ? aab_.get() : ab_.get(), i).data(),
                                  t->surfaces[i].size),
                      0);
            if (i > t->split)
                lastSmall = std::max(lastSmall, at);
            else
                firstLarge = std::min(firstLarge, at);
        }
    }
    EXPECT_LT(lastSmall, firstLarge);
}

TEST_F(CddsBuild, ProgressLinesAsPrinted)
{
    Build();
    EXPECT_EQ(Printed(), "Match textures:\n....Find 3 uni textures from 4:\n"
                         "\nCreate file\nlevel 0: 3 textures\nlevel 1: 1 textures\nlevel 2: 2 textures\n"
                         "\nGet texures\n\nGet palletes\n\nBuild links\n"
                         "\nSave textures 1\n...\nSave textures 2\n...");
}

TEST_F(CddsBuild, TooLongNameEndsTheBuildNamingItAndLeavesNoFile)
{
    const std::string name(cdds::kMaxNameLength + 1, 'N');
    entries_[0].name = name;
    try {
        Build();
        FAIL() << "built a file with a cut name";
    } catch (const misc::error& e) {
        ASSERT_NE(e.text(), nullptr);
        EXPECT_NE(std::string(e.text()).find(name), std::string::npos) << e.text();
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));

    for (auto& e : entries_)
        if (e.name == name)
            e.name.pop_back();
    EXPECT_NO_THROW(Build()) << "the longest name that fits";
}

TEST_F(CddsBuild, FailedBuildKeepsTheOldFile)
{
    testutil::WriteText(path(), "the previous build");
    entries_[2].name = std::string(cdds::kMaxNameLength + 1, 'Q');
    EXPECT_THROW(Build(), misc::error);
    EXPECT_EQ(testutil::ReadText(path()), "the previous build");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), std::filesystem::directory_iterator()),
              1)
        << "no temporary file left behind";
}

TEST_F(CddsBuild, EmptyListGivesAnOpenableFileWithEmptyLevels)
{
    entries_.clear();
    const auto b = Build();
    EXPECT_EQ(b.size(), sizeof(cdds::File));
    misc::mmf map;
    const cdds::File* file = cdds::File::Open(path().c_str(), map);
    ASSERT_NE(file, nullptr);
    for (int level = 0; level < 3; ++level)
        EXPECT_EQ(file->GetTexture(0, level), nullptr);
}

TEST_F(CddsBuild, LookupsByIndexAndNameStayInsideTheLevels)
{
    Build();
    misc::mmf map;
    const cdds::File* file = cdds::File::Open(path().c_str(), map);
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(file->GetTexture(2, 0)->name, "GRASS");
    EXPECT_EQ(file->GetTexture(3, 0), nullptr);
    EXPECT_EQ(file->GetTexture(-1, 0), nullptr);
    EXPECT_EQ(file->GetTexture(0, 3), nullptr);
    EXPECT_EQ(file->GetTexture(0, -1), nullptr);
    EXPECT_EQ(file->GetTexture("AAB", 1), nullptr);
    EXPECT_EQ(file->GetTexture("AAB", 2), file->GetTexture(0, 2));
    EXPECT_EQ(file->GetTexture("aab", 2), nullptr) << "names are compared exactly";
}

// Damaged files: the reader follows nothing it has not checked.  A small
// file (every item, texture, palette and level reachable) keeps the number
// of variants down.
class CddsDamage : public CddsBuild {
protected:
    void SetUp() override
    {
        CddsBuild::SetUp();
        a_ = MakeTexture(8, 8, 0, D3DFMT_DXT1, 5);
        p_ = MakeTexture(4, 4, 0, D3DFMT_P8, 6);
        entries_ = {Entry("A", a_.get(), nullptr, true, false, true), Entry("P", p_.get(), palette_, false, true, false)};
    }
    ComPtr<IDirect3DTexture8> a_, p_;
};

TEST_F(CddsDamage, OpenRefusesEveryTruncation)
{
    const auto b = Build();
    const auto cut = dir_ / "cut.cdds";
    for (std::size_t length = 0; length < b.size(); ++length) {
        WriteFresh(cut.string(), b.data(), length);
        misc::mmf map;
        ASSERT_EQ(cdds::File::Open(cut.string().c_str(), map), nullptr) << length << " bytes";
    }
}

TEST_F(CddsDamage, OpenSurvivesEveryCorruptedStructureWord)
{
    const auto b = Build();
    const std::string bad = (dir_ / "bad.cdds").string();
    // Header, items, level tables, textures and their surface tables.
    const std::size_t structures = 32 + 3 * 64 + 3 * 4 + 2 * 40 + 7 * 16;
    const int refused = CountRefusedCorruptions(
        b, structures, {0, 1, 3, 0x7fffffff, 0x80000000, 0xffffffff, 0xfffffffc, 0x100}, bad, [&] {
            misc::mmf map;
            const cdds::File* file = cdds::File::Open(bad.c_str(), map);
            if (!file)
                return false;
            // Whatever opened must be safe to walk completely.
            for (int level = 0; level < 3; ++level)
                for (int i = 0; const cdds::Item* item = file->GetTexture(i, level); ++i) {
                    EXPECT_NE(file->GetTexture(item->name, level), nullptr);
                    const cdds::Texture* t = item->texture.get();
                    std::uint32_t sum = 0;
                    for (std::uint32_t k = 0; k < t->size(); ++k)
                        for (std::uint32_t j = 0; j < t->surfaces[k].size; ++j)
                            sum += t->surfaces[k].data.get()[j];
                    if (item->palette)
                        sum += item->palette.get()[255].peRed;
                    (void)sum;
                }
            return true;
        });
    EXPECT_GT(refused, 0);
    EXPECT_NE(Printed().find("bad CDDS file"), std::string::npos);
}

} // namespace
