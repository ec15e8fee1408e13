// The container modes through the real binary: "-complex" with "-dump" and
// "-dumpperm", and the project build "-xml".
#include "converter/builders/texfile.h"
#include "converter/device.h"
#include "engine/geobase/cdds.h"
#include "misc/misc.h"
#include "platform/d3d8/comptr.h"
#include "tests/support/testutil.h"
#include "tools/samplegen.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using testutil::RunMipforge;
using testutil::TempDir;

namespace fs = std::filesystem;

namespace {

testutil::RunResult RunComplex(const std::string& dir) { return RunMipforge({"-complex", "in", "bmp", "t.tex"}, dir); }

constexpr std::size_t kDdsHeaderBytes = 4 + 124;

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return std::uint32_t{b.at(at)} | std::uint32_t{b.at(at + 1)} << 8 | std::uint32_t{b.at(at + 2)} << 16 |
           std::uint32_t{b.at(at + 3)} << 24;
}

std::vector<std::uint8_t> Pixels(const fs::path& dds)
{
    auto bytes = testutil::ReadFile(dds);
    if (bytes.size() < kDdsHeaderBytes)
        return {};
    return {bytes.begin() + kDdsHeaderBytes, bytes.end()};
}

// Terrain pictures in `folder`: grass.bmp 64x64 and rock.bmp 32x16 (24-bit,
// so both modes compress them to DXT1), and a palettised sand.bmp.
void WriteImages(const fs::path& folder)
{
    fs::create_directories(folder);
    using samplegen::Terrain;
    samplegen::SaveBytes(folder / "grass.bmp", samplegen::WriteBmp(samplegen::MakeTerrain(Terrain::Grass, 64, 64, 1)));
    samplegen::SaveBytes(folder / "rock.bmp", samplegen::WriteBmp(samplegen::MakeTerrain(Terrain::Rock, 32, 16, 2)));
    samplegen::BmpOptions indexed;
    indexed.bits = 8;
    samplegen::SaveBytes(folder / "sand.bmp",
                         samplegen::WriteBmp(samplegen::MakeIndexed(samplegen::MakeTerrain(Terrain::Sand, 32, 32, 3),
                                                                    64, false),
                                             indexed));
}

TEST(ComplexMode, DumpGivesThePixelsTheDirectoryModeWrites)
{
    TempDir dir;
    WriteImages(dir / "in");
    auto plain = RunMipforge({"in", "bmp", "plain"}, dir.str());
    ASSERT_EQ(plain.status, 0) << plain.output;
    auto complex = RunComplex(dir.str());
    ASSERT_EQ(complex.status, 0) << complex.output;
    EXPECT_NE(complex.output.find("\nsave file t.tex version 12  ..."), std::string::npos) << complex.output;
    EXPECT_EQ(complex.output.find("ERROR"), std::string::npos) << complex.output;
    auto dump = RunMipforge({"-dump", "t.tex", "dump"}, dir.str());
    ASSERT_EQ(dump.status, 1) << dump.output;
    EXPECT_NE(dump.output.find("grass.bmp\n"), std::string::npos) << dump.output;
    for (const char* name : {"grass", "rock"}) {
        const auto expected = Pixels(dir / "plain" / (std::string(name) + ".dds"));
        ASSERT_FALSE(expected.empty()) << name;
        EXPECT_EQ(Pixels(dir / "dump" / (std::string(name) + ".bmp.dds")), expected) << name;
    }
}

TEST(ComplexMode, DumpPermStartsAtTheFirstStoredLevel)
{
    TempDir dir;
    WriteImages(dir / "in");
    ASSERT_EQ(RunComplex(dir.str()).status, 0);
    ASSERT_EQ(RunMipforge({"-dump", "t.tex", "all"}, dir.str()).status, 1);
    auto perm = RunMipforge({"-dumpperm", "t.tex", "perm"}, dir.str());
    ASSERT_EQ(perm.status, 1) << perm.output;
    // 64x64 DXT1: level 0 is 2048 bytes, level 1 (32x32) 512 bytes, the
    // first below the small-level limit.
    const auto all = testutil::ReadFile(dir / "all" / "grass.bmp.dds");
    const auto stored = testutil::ReadFile(dir / "perm" / "grass.bmp.dds");
    ASSERT_GT(all.size(), kDdsHeaderBytes + 2048);
    ASSERT_GT(stored.size(), kDdsHeaderBytes);
    EXPECT_EQ(U32(stored, 12), 32u) << "height of the new level 0";
    EXPECT_EQ(U32(stored, 16), 32u) << "width of the new level 0";
    EXPECT_EQ(U32(stored, 28), U32(all, 28) - 1) << "one level fewer";
    EXPECT_TRUE(std::equal(stored.begin() + kDdsHeaderBytes, stored.end(), all.begin() + kDdsHeaderBytes + 2048,
                           all.end()));
}

TEST(ComplexMode, PalettisedTexturesDumpThroughTheirPalette)
{
    TempDir dir;
    WriteImages(dir / "in");
    ASSERT_EQ(RunComplex(dir.str()).status, 0);
    auto dump = RunMipforge({"-dump", "t.tex", "dump"}, dir.str());
    EXPECT_EQ(dump.output.find("can't save"), std::string::npos) << dump.output;
    const auto dds = testutil::ReadFile(dir / "dump" / "sand.bmp.dds");
    ASSERT_GT(dds.size(), kDdsHeaderBytes + 32 * 32 * 4);
    EXPECT_EQ(U32(dds, 88), 32u) << "A8R8G8B8";
    EXPECT_EQ(U32(dds, 28), 6u) << "every level";

    // Level 0 holds the palette colours of the BMP's indices, top row first.
    const auto indexed =
        samplegen::MakeIndexed(samplegen::MakeTerrain(samplegen::Terrain::Sand, 32, 32, 3), 64, false);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const auto& c = indexed.palette[indexed.indices[y * 32 + x]];
            const std::size_t at = kDdsHeaderBytes + (y * 32 + x) * 4;
            ASSERT_EQ(dds[at], c.b);
            ASSERT_EQ(dds[at + 1], c.g);
            ASSERT_EQ(dds[at + 2], c.r);
            ASSERT_EQ(dds[at + 3], 255);
        }
}

TEST(ComplexMode, ListWithoutLoadableImagesWritesAnEmptyFile)
{
    TempDir dir;
    fs::create_directories(dir / "in");
    testutil::WriteText(dir / "in" / "broken.bmp", "not a picture");
    auto r = RunComplex(dir.str());
    EXPECT_NE(r.output.find("can't open in/broken.bmp\n\nsave file t.tex version 12  "), std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("ERROR"), std::string::npos) << r.output;
    auto dump = RunMipforge({"-dump", "t.tex", "out"}, dir.str());
    EXPECT_EQ(dump.status, 1);
    EXPECT_EQ(dump.output, testutil::kUsageText) << "an empty file dumps nothing and says nothing";
}

TEST(DumpMode, RefusesNamesThatLeaveTheOutputFolder)
{
    TempDir dir;
    IDirect3D8* d3d = nullptr;
    IDirect3DDevice8* device = nullptr;
    ASSERT_EQ(OpenRenderingDevice(&d3d, &device), S_OK);
    std::vector<ComPtr<IDirect3DTexture8>> owned;
    std::vector<IDirect3DTexture8*> textures;
    for (int i = 0; i < 4; ++i) {
        owned.emplace_back();
        ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, owned.back().put()), S_OK);
        textures.push_back(owned.back().get());
    }
    const std::vector<std::string> names = {"../escape.tga", "sub/x.tga", "back\\slash.tga", "ok.tga"};
    Tex_WriteTexFile(device, (dir / "t.tex").string().c_str(), textures, names, {nullptr, nullptr, nullptr, nullptr},
                     4);
    owned.clear();
    device->Release();
    d3d->Release();

    fs::create_directories(dir / "work");
    auto r = RunMipforge({"-dump", "../t.tex", "out"}, (dir / "work").string());
    EXPECT_NE(r.output.find("bad texture name ../escape.tga\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("bad texture name sub/x.tga\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("bad texture name back\\slash.tga\n"), std::string::npos) << r.output;
    EXPECT_TRUE(fs::exists(dir / "work" / "out" / "ok.tga.dds"));
    EXPECT_FALSE(fs::exists(dir / "work" / "escape.tga.dds"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "work" / "out"), fs::directory_iterator()), 1);
}

TEST(DumpMode, DamagedFileIsReportedAndNothingWritten)
{
    TempDir dir;
    std::vector<std::uint8_t> bytes(64, 0);
    bytes[0] = 12;
    bytes[4] = 5;   // five records ...
    bytes[8] = 0x40; // ... whose table runs past the end
    testutil::WriteFile(dir / "t.tex", bytes);
    auto r = RunMipforge({"-dump", "t.tex", "out"}, dir.str());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("bad texture file t.tex: "), std::string::npos) << r.output;
    EXPECT_TRUE(fs::is_empty(dir / "out"));
}

// Project files as the editor writes them.
std::string TextureXml(const std::string& name, const std::string& file, const std::string& format,
                       const std::string& high, const std::string& medium, const std::string& low)
{
    return "<file><name>" + name + "</name><filename>" + file + "</filename><d3dformat>" + format +
           "</d3dformat><miplevels>Maximum</miplevels><comment>bmp</comment><bHigh>" + high +
           "</bHigh><HighLevel>2</HighLevel><bMedium>" + medium + "</bMedium><MediumLevel>1</MediumLevel><bLow>" +
           low + "</bLow><LowLevel>0</LowLevel></file>\n";
}

std::string Project(const std::string& textures)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CDDSprojectDs>\n" + textures + "</CDDSprojectDs>\n";
}

TEST(ProjectBuild, BuildsTheFileAndChecksEveryLevel)
{
    TempDir dir;
    WriteImages(dir / "in");
    testutil::WriteText(dir / "p.xml", Project(TextureXml("Grass01", "in/grass.bmp", "D3DFMT_DXT1", "1", "1", "0") +
                                               TextureXml("rock", "in/rock.bmp", "D3DFMT_DXT5", "1", "0", "true") +
                                               TextureXml("sand", "in/sand.bmp", "D3DFMT_P8", "0", "0", "1")));
    auto r = RunMipforge({"-xml", "p.xml", "out.cdds"}, dir.str());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("0: Load in/grass.bmp\n > GRASS01 D3DFMT_DXT1 l=Maximum\n"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("Loaded 3 from 3\n\nSave To out.cdds:\nMatch textures:\n"), std::string::npos);
    EXPECT_NE(r.output.find("Level 0: 2 textures\n: Level 1: 1 textures\n: Level 2: 1 textures\n: press any key"),
              std::string::npos)
        << r.output;

    misc::mmf map;
    const cdds::File* file = cdds::File::Open((dir / "out.cdds").string().c_str(), map);
    ASSERT_NE(file, nullptr);
    const cdds::Item* rock = file->GetTexture("ROCK", 0);
    ASSERT_NE(rock, nullptr);
    EXPECT_TRUE(rock->alpha()) << "DXT5";
    EXPECT_EQ(rock->texture->format, static_cast<std::uint32_t>(D3DFMT_DXT5));
    EXPECT_EQ(rock->level, 2);
    EXPECT_EQ(file->GetTexture("ROCK", 2), nullptr) << "\"true\" is not \"1\"";
    const cdds::Item* sand = file->GetTexture("SAND", 2);
    ASSERT_NE(sand, nullptr);
    EXPECT_TRUE(sand->palette) << "a P8 texture keeps its palette";
    EXPECT_FALSE(file->GetTexture("GRASS01", 0)->palette);
}

TEST(ProjectBuild, TextureWithoutLevelKeysIsStoredButInNoLevel)
{
    TempDir dir;
    WriteImages(dir / "in");
    testutil::WriteText(dir / "p.xml", Project(TextureXml("a", "in/grass.bmp", "D3DFMT_DXT1", "1", "0", "0") +
                                               "<file><name>bare</name><filename>in/rock.bmp</filename></file>\n"));
    auto r = RunMipforge({"-xml", "p.xml", "out.cdds"}, dir.str());
    EXPECT_NE(r.output.find("1: Load in/rock.bmp\n > BARE  l=\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Find 2 uni textures from 2:\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Level 0: 1 textures\n: Level 1: 0 textures\n: Level 2: 0 textures\n: "),
              std::string::npos)
        << r.output;
}

TEST(ProjectBuild, MissingImageListsItAndLeavesNoFile)
{
    TempDir dir;
    WriteImages(dir / "in");
    testutil::WriteText(dir / "p.xml", Project(TextureXml("a", "in/grass.bmp", "D3DFMT_DXT1", "1", "1", "1") +
                                               TextureXml("b", "in/missing.bmp", "D3DFMT_DXT1", "1", "1", "1")));
    auto r = RunMipforge({"-xml", "p.xml", "out.cdds"}, dir.str());
    EXPECT_NE(r.output.find("Loaded 1 from 2\nin/missing.bmp\nError Dont load 1 textures!\n!!!\npress any key"),
              std::string::npos)
        << r.output;
    EXPECT_FALSE(fs::exists(dir / "out.cdds"));
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find("out.cdds"), std::string::npos) << entry.path();
}

TEST(ProjectBuild, RootWithoutTexturesBuildsAnEmptyFile)
{
    TempDir dir;
    testutil::WriteText(dir / "p.xml", "<CDDSprojectDs/>");
    auto r = RunMipforge({"-xml", "p.xml", "out.cdds"}, dir.str());
    EXPECT_NE(r.output.find("Loaded 0 from 0\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Level 0: 0 textures\n: Level 1: 0 textures\n: Level 2: 0 textures\n: "),
              std::string::npos);
    EXPECT_EQ(fs::file_size(dir / "out.cdds"), sizeof(cdds::File));
}

TEST(ProjectBuild, TooLongNameEndsTheBuildNamingIt)
{
    TempDir dir;
    WriteImages(dir / "in");
    const std::string name(40, 'x');
    testutil::WriteText(dir / "p.xml", Project(TextureXml(name, "in/grass.bmp", "D3DFMT_DXT1", "1", "0", "0")));
    auto r = RunMipforge({"-xml", "p.xml", "out.cdds"}, dir.str());
    EXPECT_NE(r.output.find("Error Texture name " + std::string(40, 'X')), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(dir / "out.cdds"));
}

// Reads from the terminal's master side until `text` has appeared or the
// child has gone quiet for `seconds`.
bool ReadUntil(int master, std::string& out, const std::string& text, int seconds)
{
    while (out.find(text) == std::string::npos) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, seconds * 1000) <= 0)
            return false;
        char buffer[256];
        const ssize_t n = ::read(master, buffer, sizeof(buffer));
        if (n <= 0)
            return false;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

TEST(ProjectBuild, WaitsForAKeyOnlyOnATerminal)
{
    TempDir dir;
    testutil::WriteText(dir / "p.xml", "<CDDSprojectDs/>");
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::chdir(dir.str().c_str()) == 0)
            ::execl(MIPFORGE_EXE, MIPFORGE_EXE, "-xml", "p.xml", "out.cdds", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string out;
    const bool prompted = ReadUntil(master, out, "press any key", 60);
    EXPECT_TRUE(prompted) << out;
    // Still waiting a while after the prompt ...
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "ended without a key";
    // ... and ending once a key arrives.
    ASSERT_EQ(::write(master, "k", 1), 1);
    pid_t ended = 0;
    for (int i = 0; i < 600 && ended == 0; ++i) {
        ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (ended == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ::close(master);
    EXPECT_EQ(ended, pid) << "still waiting after a key";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    // Without a terminal (the other tests) the mode returns at once.
}

TEST(ProjectBuild, UnreadableProjectEndsSilently)
{
    TempDir dir;
    testutil::WriteText(dir / "p.xml", "<unclosed>");
    for (const char* project : {"p.xml", "none.xml"}) {
        auto r = RunMipforge({"-xml", project, "out.cdds"}, dir.str());
        EXPECT_EQ(r.output, testutil::kUsageText) << project;
        EXPECT_FALSE(fs::exists(dir / "out.cdds"));
    }
}

} // namespace
