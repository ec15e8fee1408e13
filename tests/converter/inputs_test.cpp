// Ordinary inputs that once went wrong for new users: palettised pictures,
// Windows-style folder names, entries without a dot, names that differ in
// case or carry several dots, odd mip counts, and a console that cannot be
// written.
#include "dxt.h"
#include "samplegen.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

using testutil::RunMipforge;
using testutil::TempDir;
namespace fs = std::filesystem;

namespace {

DWORD Field(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    DWORD v = 0;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

// Level 0 of a DXT1 or DXT5 file, decoded; empty when the file is not one.
samplegen::Image TopLevel(const fs::path& path)
{
    const auto bytes = testutil::ReadFile(path);
    if (bytes.size() < 128)
        return {};
    const auto format = static_cast<D3DFORMAT>(Field(bytes, 84));
    const int height = static_cast<int>(Field(bytes, 12)), width = static_cast<int>(Field(bytes, 16));
    if ((format != D3DFMT_DXT1 && format != D3DFMT_DXT5) ||
        bytes.size() < 128 + std::size_t((width + 3) / 4) * ((height + 3) / 4) * dxt::BlockBytes(format))
        return {};
    samplegen::Image image(width, height);
    dxt::DecodeImage(format, bytes.data() + 128, std::size_t((width + 3) / 4) * dxt::BlockBytes(format), width,
                     height, &image.pixels[0].r, std::size_t(width) * 4);
    return image;
}

double RgbPsnr(const samplegen::Image& a, const samplegen::Image& b)
{
    if (a.width != b.width || a.height != b.height || a.pixels.empty())
        return 0;
    double sum = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i)
        for (int c : {a.pixels[i].r - b.pixels[i].r, a.pixels[i].g - b.pixels[i].g, a.pixels[i].b - b.pixels[i].b})
            sum += c * c;
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255 * 3 * a.pixels.size() / sum);
}

samplegen::Image Colours(const samplegen::Indexed& ix)
{
    samplegen::Image image(ix.width, ix.height);
    for (std::size_t i = 0; i < ix.indices.size(); ++i)
        image.pixels[i] = ix.palette[ix.indices[i]];
    return image;
}

// A P8 DDS file: header, the 256-entry palette, one level of indices.
std::vector<std::uint8_t> P8Dds(const samplegen::Indexed& ix)
{
    std::vector<std::uint8_t> b(128 + 1024, 0);
    auto put = [&](std::size_t at, DWORD v) { std::memcpy(&b[at], &v, 4); };
    std::memcpy(b.data(), "DDS ", 4);
    put(4, 124), put(8, 0x100F), put(12, DWORD(ix.height)), put(16, DWORD(ix.width)), put(20, DWORD(ix.width));
    put(76, 32), put(80, 0x20), put(88, 8), put(108, 0x1000);
    for (std::size_t i = 0; i < ix.palette.size(); ++i) {
        const samplegen::Rgba& c = ix.palette[i];
        std::memcpy(&b[128 + 4 * i], &c, 4);  // red, green, blue, flags: PALETTEENTRY order
    }
    b.insert(b.end(), ix.indices.begin(), ix.indices.end());
    return b;
}

samplegen::TgaOptions ColourMapped()
{
    samplegen::TgaOptions options;
    options.depth = 8;
    return options;
}

samplegen::Indexed Palettised(int colours)
{
    samplegen::Indexed ix =
        samplegen::MakeIndexed(samplegen::MakeTerrain(samplegen::Terrain::Rock, 32, 32, 5), colours, false);
    for (auto& v : ix.indices)
        v = static_cast<std::uint8_t>(v % colours);
    return ix;
}

// Every road a palettised picture can take into a compressed texture reads
// its palette: read as grey indices these pictures score 2 to 12 dB (the
// harsh 16-colour one scores 17 dB through its palette).
TEST(PalettisedSources, DirectoryAndNoiseModesConvertThroughThePalette)
{
    const samplegen::Indexed p256 = Palettised(200), p2 = Palettised(2), p4 = Palettised(4), p16 = Palettised(16);
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        samplegen::Image colours;
    } sources[] = {
        {"bmp8.bmp", samplegen::WriteBmp(p256, {.bits = 8}), Colours(p256)},
        {"cmap.tga", samplegen::WriteTga(p256, ColourMapped()), Colours(p256)},
        {"png1.png", samplegen::WritePng(p2, 1), Colours(p2)},
        {"png2.png", samplegen::WritePng(p4, 2), Colours(p4)},
        {"png4.png", samplegen::WritePng(p16, 4), Colours(p16)},
        {"png8.png", samplegen::WritePng(p256, 8), Colours(p256)},
        {"p8.dds", P8Dds(p256), Colours(p256)},
    };
    TempDir dir;
    fs::create_directory(dir / "in");
    for (const auto& s : sources)
        testutil::WriteFile(dir / "in" / s.name, s.bytes);
    ASSERT_EQ(RunMipforge({"in", "*", "out"}, dir.str()).status, 0);
    for (const auto& s : sources) {
        SCOPED_TRACE(s.name);
        const std::string stem = fs::path(s.name).stem().string();
        EXPECT_GT(RgbPsnr(TopLevel(dir / "out" / (stem + ".dds")), s.colours), 15);
        ASSERT_EQ(RunMipforge({"-noise", "in/" + std::string(s.name), "noise.dds", "0"}, dir.str()).status, 1);
        EXPECT_GT(RgbPsnr(TopLevel(dir / "noise.dds"), s.colours), 15);
    }
}

// Folders written the Windows way, entries without a dot, names that differ
// only in case, names with several dots, and mip counts that are no count.
TEST(CommandLines, AwkwardOperandsAndNamesGiveTheirOwnResults)
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
    } rows[] = {
        {{"in\\", "tga", "o3\\"}, 0, "in/A.tga -> o3/a.dds\n", "o3/x...dds"},
        {{"in", "tga", "o3"}, 0, "in/a.TGA left out: same lower-case name as in/A.tga\n", ""},
        {{"in", "*", "o4"}, 0, "can't open in/subdir\n", "o4/grass..old.dds"},
        {{"-complex", "in", "tga", ""}, 0, "\nERROR: CreateFile() 2\n\n", ""},
        {{"-complex", "in", "tga", "t.tex"}, 0, "push in/grass..old.tga -> grass..old.tga\n", "t.tex"},
        {{"-dump", "t.tex", "d3\\"}, 1, "grass..old.tga\n", "d3/x...tga.dds"},
        {{"-single", "in/A.tga", "D3DFMT_DXT1", "-1", "s.dds"}, 0, "can't create texture in/A.tga\n", ""},
        {{"-single", "in/A.tga", "D3DFMT_DXT1", "2147483648", "s.dds"}, 0, "can't create texture in/A.tga\n", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args[0] + " " + row.args[1] + " " + row.args[2]);
        const auto r = RunMipforge(row.args, dir.str());
        EXPECT_EQ(r.status, row.status);
        EXPECT_NE(r.output.find(row.said), std::string::npos) << r.output;
        EXPECT_TRUE(row.exists.empty() || fs::exists(dir / row.exists)) << row.exists;
    }
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find('\\'), std::string::npos) << e.path();
    EXPECT_FALSE(fs::exists(dir / "s.dds"));
}

// A console that went away changes neither the job nor the log.
TEST(Console, ClosedOrBrokenStandardOutputLeavesTheRunAndTheLogWhole)
{
    TempDir dir;
    fs::create_directory(dir / "in");
    for (int i = 0; i < 6; ++i)
        testutil::WriteFile(dir / "in" / ("t" + std::to_string(i) + ".tga"),
                            samplegen::WriteTga(samplegen::MakeTerrain(samplegen::Terrain::Grass, 64, 64, i)));
    ASSERT_EQ(RunMipforge({"in", "tga", "out"}, dir.str()).status, 0);
    const std::string log = testutil::ReadText(dir / "Mipforge.log");
    for (auto console : {testutil::Console::Closed, testutil::Console::FirstByteOnly}) {
        fs::remove_all(dir / "out");
        const auto r = RunMipforge({"in", "tga", "out"}, dir.str(), {}, console);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(testutil::ReadText(dir / "Mipforge.log"), log);
        EXPECT_TRUE(fs::exists(dir / "out/t5.dds"));
    }
}

} // namespace
