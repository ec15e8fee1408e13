// Ordinary inputs that once went wrong for new users: palettised pictures,
// Windows-style folder names, entries without a dot, names that differ in
// case or carry several dots, odd mip counts, and a console that cannot be
// written.
#include "tests/imageio/dds_builder.h"
#include "tests/support/testutil.h"
#include "tools/samplegen.h"

#include <gtest/gtest.h>

#include <filesystem>

using testutil::Console;
using testutil::RunMipforge;
using testutil::TempDir;
namespace fs = std::filesystem;

namespace {

// The directory mode and -noise convert a palettised picture through its
// palette, so they give the bytes of -single, which always passed it on
// (read as grey indices they scored 2 to 12 dB).
TEST(PalettisedSources, DirectoryAndNoiseModesGiveTheBytesOfSingle)
{
    auto palettised = [](int colours) {
        return samplegen::MakeIndexed(samplegen::MakeTerrain(samplegen::Terrain::Rock, 32, 32, 5), colours, false);
    };
    samplegen::TgaOptions colourMapped;
    colourMapped.depth = 8;
    const samplegen::Indexed p256 = palettised(200);
    const std::pair<const char*, std::vector<std::uint8_t>> sources[] = {
        {"bmp8.bmp", samplegen::WriteBmp(p256, {.bits = 8})}, {"cmap.tga", samplegen::WriteTga(p256, colourMapped)},
        {"png1.png", samplegen::WritePng(palettised(2), 1)},  {"png2.png", samplegen::WritePng(palettised(4), 2)},
        {"png4.png", samplegen::WritePng(palettised(16), 4)}, {"png8.png", samplegen::WritePng(p256, 8)},
        {"p8.dds", imageio::MakeDds(D3DFMT_P8, 32, 32, 1, 5).bytes},
    };
    TempDir dir;
    fs::create_directory(dir / "in");
    for (const auto& [name, bytes] : sources)
        testutil::WriteFile(dir / "in" / name, bytes);
    ASSERT_EQ(RunMipforge({"in", "*", "out"}, dir.str()).status, 0);
    for (const auto& [name, bytes] : sources) {
        SCOPED_TRACE(name);
        const std::string in = "in/" + std::string(name), stem = fs::path(name).stem().string();
        const char* dirFormat = in.ends_with("tga") ? "D3DFMT_DXT5" : "D3DFMT_DXT1";
        ASSERT_EQ(RunMipforge({"-noise", in, "noise.dds", "0"}, dir.str()).status, 1);
        ASSERT_EQ(RunMipforge({"-single", in, dirFormat, "0", "dir.dds"}, dir.str()).status, 1);
        ASSERT_EQ(RunMipforge({"-single", in, "D3DFMT_DXT5", "0", "dxt5.dds"}, dir.str()).status, 1);
        EXPECT_EQ(testutil::ReadFile(dir / "out" / (stem + ".dds")), testutil::ReadFile(dir / "dir.dds"));
        EXPECT_EQ(testutil::ReadFile(dir / "noise.dds"), testutil::ReadFile(dir / "dxt5.dds"));
    }
}

// Folders written the Windows way, entries without a dot, names that differ
// only in case or carry several dots, mip counts that are no count, and a
// console that is closed or goes away: each line the run must print is in
// the log exactly once, and the run reaches its end.
TEST(CommandLines, AwkwardOperandsNamesAndConsolesGiveTheirOwnResults)
{
    TempDir dir;
    fs::create_directory(dir / "in");
    fs::create_directory(dir / "in/subdir");
    const auto tga = samplegen::WriteTga(samplegen::MakeTerrain(samplegen::Terrain::Sand, 8, 8, 3));
    for (const char* name : {"A.tga", "a.TGA", "grass..old.tga", "x...tga"})
        testutil::WriteFile(dir / "in" / name, tga);
    const struct {
        std::vector<std::string> args;
        int status;
        std::string said;    // a line the run must print
        std::string exists;  // a file the run must leave ("" for none)
        Console console = Console::Read;
    } rows[] = {
        {{"in\\", "tga", "o3\\"}, 0, "in/A.tga -> o3/a.dds\n", "o3/x...dds"},
        {{"in", "tga", "o3"}, 0, "in/a.TGA left out: same lower-case name as in/A.tga\n", ""},
        {{"in", "*", "o4"}, 0, "can't open in/subdir\n", "o4/grass..old.dds"},
        {{"-complex", "in", "tga", ""}, 0, "\nERROR: CreateFile() 2\n\n", ""},
        {{"-complex", "in", "tga", "t.tex"}, 0, "push in/grass..old.tga -> grass..old.tga\n", "t.tex"},
        {{"-dump", "t.tex", "d3\\"}, 1, "grass..old.tga\n", "d3/x...tga.dds"},
        {{"-single", "in/A.tga", "D3DFMT_DXT1", "-1", "s.dds"}, 0, "can't create texture in/A.tga\n", ""},
        {{"-single", "in/A.tga", "D3DFMT_DXT1", "2147483648", "s.dds"}, 0, "can't create texture in/A.tga\n", ""},
        {{"in", "tga", "o5"}, 0, "in/x...tga -> o5/x...dds\n", "o5/x...dds", Console::Closed},
        {{"in", "tga", "o6"}, 0, "in/x...tga -> o6/x...dds\n", "o6/x...dds", Console::FirstByteOnly},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args[0] + " " + row.args[1] + " " + row.args[2]);
        const auto r = RunMipforge(row.args, dir.str(), {}, row.console);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, row.status);
        const std::string log = testutil::ReadText(dir / "Mipforge.log");
        EXPECT_NE(log.find(row.said), std::string::npos) << log;
        EXPECT_EQ(log.find(row.said), log.rfind(row.said)) << log;
        EXPECT_TRUE(row.exists.empty() || fs::exists(dir / row.exists)) << row.exists;
    }
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find('\\'), std::string::npos) << e.path();
    EXPECT_FALSE(fs::exists(dir / "s.dds"));
}

} // namespace
