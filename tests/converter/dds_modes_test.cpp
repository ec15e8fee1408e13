// The directory, "-single" and "-noise" modes, run through the real binary
// on folders of generated images.
#include "platform/d3dx8/dxt/dxt.h"
#include "tests/support/testutil.h"
#include "tools/samplegen.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

using testutil::kUsageText;
using testutil::RunMipforge;
using testutil::TempDir;
namespace fs = std::filesystem;

namespace {

struct DdsInfo {
    DWORD fourCC = 0, width = 0, height = 0, mips = 0, flags = 0;
    std::vector<std::uint8_t> bytes;
};

DdsInfo ReadDds(const fs::path& path)
{
    DdsInfo info;
    info.bytes = testutil::ReadFile(path);
    auto u32 = [&](size_t at) {
        DWORD v;
        std::memcpy(&v, info.bytes.data() + at, 4);
        return v;
    };
    EXPECT_GE(info.bytes.size(), 128u);
    if (info.bytes.size() < 128)
        return info;
    info.flags = u32(8);
    info.height = u32(12);
    info.width = u32(16);
    info.mips = u32(28);
    info.fourCC = u32(84);
    return info;
}

void Save(const fs::path& path, const std::vector<std::uint8_t>& bytes) { samplegen::SaveBytes(path, bytes); }

samplegen::Image Terrain(int size) { return samplegen::MakeTerrain(samplegen::Terrain::Rock, size, size, 7); }

TEST(DirectoryMode, NamesAreListedWithoutCaseAndProcessedInLowerCaseOrder)
{
    TempDir dir;
    fs::create_directory(dir / "in");
    Save(dir / "in/B.TGA", samplegen::WriteTga(Terrain(16)));
    Save(dir / "in/a.tga", samplegen::WriteTga(Terrain(8)));
    Save(dir / "in/c.bmp", samplegen::WriteBmp(Terrain(8)));
    auto r = RunMipforge({"in", "tga", "out"}, dir.str());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, kUsageText + std::string("in/a.tga -> out/a.dds\nin/B.TGA -> out/b.dds\n"));
    EXPECT_TRUE(fs::exists(dir / "out/a.dds"));
    EXPECT_TRUE(fs::exists(dir / "out/b.dds"));
    EXPECT_FALSE(fs::exists(dir / "out/c.dds"));
    EXPECT_EQ(ReadDds(dir / "out/b.dds").width, 16u);
}

TEST(DirectoryMode, TargetFollowsTheExtension)
{
    TempDir dir;
    fs::create_directory(dir / "in");
    Save(dir / "in/t.tga", samplegen::WriteTga(Terrain(32)));
    Save(dir / "in/b.bmp", samplegen::WriteBmp(Terrain(32)));
    Save(dir / "in/p.bmp", samplegen::WriteBmp(samplegen::MakeIndexed(Terrain(32), 200, false), {.bits = 8}));
    ASSERT_EQ(RunMipforge({"in", "tga", "out"}, dir.str()).status, 0);
    ASSERT_EQ(RunMipforge({"in", "BMP", "out"}, dir.str()).status, 0);
    auto t = ReadDds(dir / "out/t.dds");
    EXPECT_EQ(t.fourCC, DWORD(D3DFMT_DXT5));
    EXPECT_EQ(t.mips, 6u) << "full chain from 32x32";
    EXPECT_EQ(ReadDds(dir / "out/b.dds").fourCC, DWORD(D3DFMT_DXT1));
    EXPECT_EQ(ReadDds(dir / "out/p.dds").fourCC, DWORD(D3DFMT_DXT1)) << "palettised images are compressed too";
}

TEST(DirectoryMode, DdsInputIsRecompressedByName)
{
    TempDir dir;
    fs::create_directory(dir / "in");
    Save(dir / "src.tga", samplegen::WriteTga(Terrain(16)));
    ASSERT_EQ(RunMipforge({"-single", "src.tga", "D3DFMT_DXT5", "0", "in/x.dds"}, dir.str()).status, 1);
    ASSERT_EQ(ReadDds(dir / "in/x.dds").fourCC, DWORD(D3DFMT_DXT5));
    ASSERT_EQ(RunMipforge({"in", "dds", "out"}, dir.str()).status, 0);
    auto out = ReadDds(dir / "out/x.dds");
    EXPECT_EQ(out.fourCC, DWORD(D3DFMT_DXT1));
    EXPECT_EQ(out.mips, 5u) << "the stored levels are kept";
}

TEST(DirectoryMode, OutputFolderWithOrWithoutTrailingSlash)
{
    TempDir dir;
    fs::create_directory(dir / "in");
    Save(dir / "in/a.tga", samplegen::WriteTga(Terrain(8)));
    auto plain = RunMipforge({"in", "tga", "out"}, dir.str());
    auto slash = RunMipforge({"in/", "tga", "out/"}, dir.str());
    EXPECT_EQ(plain.output, slash.output);
    EXPECT_EQ(ReadDds(dir / "out/a.dds").bytes.size(), 128u + 64 + 16 + 16 + 16);
}

TEST(DirectoryMode, NoMatchEndsWith255AndWritesNothing)
{
    TempDir dir;
    fs::create_directory(dir / "in");
    Save(dir / "in/a.bmp", samplegen::WriteBmp(Terrain(8)));
    auto r = RunMipforge({"in", "tga", "out"}, dir.str());
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.output, kUsageText);
    EXPECT_TRUE(fs::is_empty(dir / "out"));
    EXPECT_EQ(RunMipforge({"missing", "tga", "out"}, dir.str()).status, 255);
}

TEST(DirectoryMode, BadFilesAreReportedAndSkipped)
{
    TempDir dir;
    fs::create_directory(dir / "in");
    fs::create_directory(dir / "in/sub.tga");
    Save(dir / "in/100%.tga", {1, 2, 3});
    Save(dir / "in/good.tga", samplegen::WriteTga(Terrain(8)));
    Save(dir / "in/noext", samplegen::WriteTga(Terrain(8)));
    auto r = RunMipforge({"in", "*", "out"}, dir.str());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("can't open in/100%.tga\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("can't open in/sub.tga\n"), std::string::npos);
    EXPECT_NE(r.output.find("in/good.tga -> out/good.dds\n"), std::string::npos);
    EXPECT_EQ(r.output.find("noext ->"), std::string::npos) << "a name without a dot is skipped silently";
    EXPECT_TRUE(fs::exists(dir / "out/good.dds"));
}

TEST(DirectoryMode, UnwritableOutputIsReportedPerFile)
{
    TempDir dir;
    fs::create_directory(dir / "in");
    Save(dir / "in/a.tga", samplegen::WriteTga(Terrain(8)));
    testutil::WriteText(dir / "out", "a file where the folder should be");
    auto r = RunMipforge({"in", "tga", "out"}, dir.str());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("can't save out/a.dds\n"), std::string::npos) << r.output;
}

class SingleMode : public ::testing::Test {
protected:
    void SetUp() override { Save(dir_ / "src.tga", samplegen::WriteTga(Terrain(64))); }
    testutil::RunResult Single(const std::string& format, const std::string& mips, const std::string& out = "o.dds")
    {
        return RunMipforge({"-single", "src.tga", format, mips, out}, dir_.str());
    }
    TempDir dir_;
};

TEST_F(SingleMode, MipCountZeroOrMaximumTakesTheSourceChain)
{
    for (std::string mips : {"0", "Maximum"}) {
        auto r = Single("D3DFMT_DXT5", mips);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, std::string(kUsageText) + "LoadTexture src.tga, D3DFMT_DXT5, " + mips + "\n");
        EXPECT_EQ(ReadDds(dir_ / "o.dds").mips, 7u) << mips;
    }
    ASSERT_EQ(Single("D3DFMT_DXT5", "1").status, 1);
    auto one = ReadDds(dir_ / "o.dds");
    EXPECT_EQ(one.mips, 1u);
    EXPECT_EQ(one.flags, 0x81007u);
}

TEST_F(SingleMode, MipCountAboveTheSourceFailsAtTheFirstMissingLevel)
{
    Save(dir_ / "small.tga", samplegen::WriteTga(Terrain(8)));
    auto r = RunMipforge({"-single", "small.tga", "D3DFMT_DXT1", "5", "o.dds"}, dir_.str());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("can't create texture small.tga\n"), std::string::npos) << r.output;
    r = RunMipforge({"-single", "small.tga", "D3DFMT_DXT1", "4", "o.dds"}, dir_.str());
    EXPECT_EQ(r.status, 1);
}

TEST_F(SingleMode, FormatNamesIgnoreCaseAndUnknownNamesGiveDxt1)
{
    ASSERT_EQ(Single("d3dfmt_dxt5", "0").status, 1);
    EXPECT_EQ(ReadDds(dir_ / "o.dds").fourCC, DWORD(D3DFMT_DXT5));
    for (std::string name : {"D3DFMT_DXT6", "", "dxt5"}) {
        ASSERT_EQ(Single(name, "0").status, 1) << name;
        EXPECT_EQ(ReadDds(dir_ / "o.dds").fourCC, DWORD(D3DFMT_DXT1)) << name;
    }
    ASSERT_EQ(Single("D3DFMT_A4R4G4B4", "2").status, 1);
    auto argb = ReadDds(dir_ / "o.dds");
    EXPECT_EQ(argb.fourCC, 0u);
    EXPECT_EQ(argb.bytes.size(), 128u + 64 * 64 * 2 + 32 * 32 * 2);
}

TEST_F(SingleMode, PaletteFormatNeedsAPalettisedSource)
{
    auto r = Single("D3DFMT_P8", "0");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, kUsageText + std::string("LoadTexture src.tga, D3DFMT_P8, 0\nPallete not found\n"));
    EXPECT_FALSE(fs::exists(dir_ / "o.dds"));
}

TEST_F(SingleMode, UnloadableSourceWritesNothing)
{
    auto r = RunMipforge({"-single", "nothing.tga", "D3DFMT_DXT1", "0", "o.dds"}, dir_.str());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("can't open nothing.tga\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "o.dds"));
}

// Alpha of the first texel of each level of a DXT5 file.
std::vector<int> LevelAlphas(const DdsInfo& dds)
{
    std::vector<int> alphas;
    size_t offset = 128;
    UINT w = dds.width, h = dds.height;
    for (DWORD i = 0; i < dds.mips; ++i) {
        std::uint8_t rgba[64];
        dxt::DecodeBlock(D3DFMT_DXT5, dds.bytes.data() + offset, rgba);
        alphas.push_back(rgba[3]);
        offset += size_t((w + 3) / 4) * ((h + 3) / 4) * 16;
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
    }
    EXPECT_EQ(offset, dds.bytes.size());
    return alphas;
}

TEST(NoiseMode, AlphaFallsByTheStepPerLevel)
{
    TempDir dir;
    Save(dir / "leaf.tga", samplegen::WriteTga(samplegen::Image(8, 8, {10, 200, 30, 250})));
    auto r = RunMipforge({"-noise", "leaf.tga", "n.dds", "64"}, dir.str());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, kUsageText);
    auto dds = ReadDds(dir / "n.dds");
    EXPECT_EQ(dds.fourCC, DWORD(D3DFMT_DXT5));
    EXPECT_EQ(LevelAlphas(dds), (std::vector<int>{250, 186, 122, 58}));

    ASSERT_EQ(RunMipforge({"-noise", "leaf.tga", "n.dds", "100"}, dir.str()).status, 1);
    EXPECT_EQ(LevelAlphas(ReadDds(dir / "n.dds")), (std::vector<int>{250, 150, 50, 0})) << "clamped at 0";
    ASSERT_EQ(RunMipforge({"-noise", "leaf.tga", "n.dds", "-3"}, dir.str()).status, 1);
    EXPECT_EQ(LevelAlphas(ReadDds(dir / "n.dds")), (std::vector<int>{250, 253, 255, 255})) << "clamped at 255";
    ASSERT_EQ(RunMipforge({"-noise", "leaf.tga", "n.dds", "0"}, dir.str()).status, 1);
    EXPECT_EQ(LevelAlphas(ReadDds(dir / "n.dds")), (std::vector<int>{250, 250, 250, 250}));
}

TEST(NoiseMode, OtherSourceFormatsAreFadedToo)
{
    TempDir dir;
    Save(dir / "rock.bmp", samplegen::WriteBmp(samplegen::Image(4, 4, {90, 90, 90, 255})));
    ASSERT_EQ(RunMipforge({"-noise", "rock.bmp", "n.dds", "10"}, dir.str()).status, 1);
    EXPECT_EQ(LevelAlphas(ReadDds(dir / "n.dds")), (std::vector<int>{255, 245, 235}));
}

TEST(NoiseMode, MissingSourceEndsWith255)
{
    TempDir dir;
    auto r = RunMipforge({"-noise", "none.tga", "n.dds", "64"}, dir.str());
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.output, kUsageText + std::string("ERROR: Texture file <none.tga> not found.\ncan't open none.tga\n"));
}

} // namespace
