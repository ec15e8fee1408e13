// The converter against a hostile file system, through the real binary:
// outputs that cannot be written, a disk that fills up, inputs that vanish
// or stop short.  Each save either completes or fails with its message and
// leaves what stood there before untouched; the run goes on with the next
// file and never dies.
#include "tests/faults/fault_files.h"
#include "tests/faults/limited_run.h"
#include "tests/support/testutil.h"
#include "tools/samplegen.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using faults::Bytes;
using testutil::RunMipforge;
using testutil::TempDir;

// An input folder of two good pictures and a project naming them.
void MakeInputs(const TempDir& dir)
{
    fs::create_directory(dir / "in");
    testutil::WriteFile(dir / "in" / "a.tga", faults::GoodTga());
    testutil::WriteFile(dir / "in" / "b.tga", samplegen::WriteTga(samplegen::MakeTerrain(samplegen::Terrain::Grass, 64, 64, 3)));
    std::string project = "<CDDSprojectDs>";
    for (const char* name : {"a", "b"})
        project += std::string("<file><name>") + name + "</name><d3dformat>D3DFMT_DXT5</d3dformat>"
                   "<miplevels>Maximum</miplevels><filename>in/" + name + ".tga</filename><comment/>"
                   "<bHigh>1</bHigh><bMedium>1</bMedium><bLow>1</bLow><HighLevel>0</HighLevel>"
                   "<MediumLevel>1</MediumLevel><LowLevel>2</LowLevel></file>";
    testutil::WriteText(dir / "p.xml", project + "</CDDSprojectDs>");
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// No temporary file of an unfinished save stays behind.
void ExpectNoLeftovers(const fs::path& folder)
{
    if (!fs::is_directory(folder))
        return;
    for (const std::string& name : faults::FileNames(folder))
        EXPECT_EQ(name.find(".tmp-"), std::string::npos) << "left behind: " << name;
}

// Every mode, told to write where it cannot (`out` names the place for
// the outputs), reports the failure with its own message and ends normally.
void ExpectEveryModeReportsUnwritable(const TempDir& dir, const std::string& out)
{
    const std::string outDir = out + "/dds";
    auto r = RunMipforge({"in", "tga", outDir}, dir.str());
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(Contains(r.output, "can't save " + outDir + "/a.dds\n")) << r.output;
    EXPECT_TRUE(Contains(r.output, "can't save " + outDir + "/b.dds\n")) << r.output;

    r = RunMipforge({"-single", "in/a.tga", "D3DFMT_DXT5", "0", out + "/one.dds"}, dir.str());
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(Contains(r.output, "can't save " + out + "/one.dds\n")) << r.output;

    r = RunMipforge({"-noise", "in/a.tga", out + "/noise.dds", "10"}, dir.str());
    EXPECT_EQ(r.signal, 0);
    EXPECT_TRUE(Contains(r.output, "can't save " + out + "/noise.dds\n")) << r.output;

    r = RunMipforge({"-complex", "in", "tga", out + "/all.tex"}, dir.str());
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(Contains(r.output, "\nERROR: ")) << r.output;

    r = RunMipforge({"-xml", "p.xml", out + "/all.cdds"}, dir.str());
    EXPECT_EQ(r.signal, 0);
    EXPECT_TRUE(Contains(r.output, "Error ")) << r.output;
    EXPECT_TRUE(Contains(r.output, "!!!\n")) << r.output;
}

// Running as root, a permission bit stops nothing; a path that leads through
// a regular file, or a folder that is really a file, stops everyone.
TEST(UnwritableOutput, PathThroughARegularFileFailsEverySaveWithItsMessage)
{
    TempDir dir;
    MakeInputs(dir);
    testutil::WriteText(dir / "blocker", "keep");
    ExpectEveryModeReportsUnwritable(dir, "blocker");
    EXPECT_EQ(testutil::ReadText(dir / "blocker"), "keep");
}

TEST(UnwritableOutput, OutputFolderThatIsAFileIsReportedPerFileAndLeftAlone)
{
    TempDir dir;
    MakeInputs(dir);
    testutil::WriteText(dir / "out", "not a folder");
    const auto r = RunMipforge({"in", "tga", "out"}, dir.str());
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(Contains(r.output, "can't save out/a.dds\n")) << r.output;
    EXPECT_TRUE(Contains(r.output, "can't save out/b.dds\n")) << r.output;
    EXPECT_EQ(testutil::ReadText(dir / "out"), "not a folder");
}

TEST(UnwritableOutput, ReadOnlyFileSystemFailsEverySaveWithItsMessage)
{
    TempDir dir;
    MakeInputs(dir);
    faults::SmallTmpfs ro((dir / "ro").string(), 1 << 20, true);
    if (!ro.mounted())
        GTEST_SKIP() << "this process may not mount a file system";
    ExpectEveryModeReportsUnwritable(dir, "ro");
    EXPECT_TRUE(fs::is_empty(dir / "ro"));
}

// A full disk: the save that runs out of room fails with its message, leaves
// no part-written file, and the good file that stood under that name before
// is still there byte for byte.  `limits` carries the file-size limit that
// stands in for the full disk; `out` is the folder that fills up.
void ExpectFullDiskKeepsOldFiles(const TempDir& dir, const std::string& out, const faults::Limits& limits)
{
    const Bytes old = {'o', 'l', 'd', ' ', 'g', 'o', 'o', 'd', ' ', 'f', 'i', 'l', 'e'};
    for (const char* name : {"big.dds", "dds/big.dds", "all.tex", "all.cdds"}) {
        fs::create_directories((dir / out / name).parent_path());
        testutil::WriteFile(dir / out / name, old);
    }
    auto run = [&](const std::vector<std::string>& args) {
        auto r = faults::RunMipforgeLimited(args, dir.str(), limits);
        EXPECT_EQ(r.signal, 0) << r.output;
        return r;
    };

    auto r = run({"-single", "in/big.tga", "D3DFMT_A8R8G8B8", "0", out + "/big.dds"});
    EXPECT_TRUE(Contains(r.output, "can't save " + out + "/big.dds\n")) << r.output;

    r = run({"in", "tga", out + "/dds"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.output, "can't save " + out + "/dds/big.dds\n")) << r.output;

    r = run({"-complex", "in", "tga", out + "/all.tex"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.output, "\nERROR: ")) << r.output;

    r = run({"-xml", "big.xml", out + "/all.cdds"});
    EXPECT_TRUE(Contains(r.output, "Error ")) << r.output;

    for (const char* name : {"big.dds", "dds/big.dds", "all.tex", "all.cdds"})
        EXPECT_EQ(testutil::ReadFile(dir / out / name), old) << name;
    ExpectNoLeftovers(dir / out);
    ExpectNoLeftovers(dir / out / "dds");
}

// A picture whose outputs are a few hundred kilobytes.
void MakeBigInput(const TempDir& dir)
{
    fs::create_directory(dir / "in");
    testutil::WriteFile(dir / "in" / "big.tga", samplegen::WriteTga(samplegen::MakeFoliage(256, 256, 9)));
    testutil::WriteText(dir / "big.xml",
                        "<CDDSprojectDs><file><name>big</name><d3dformat>D3DFMT_A8R8G8B8</d3dformat>"
                        "<miplevels>Maximum</miplevels><filename>in/big.tga</filename><comment/><bHigh>1</bHigh>"
                        "<bMedium>1</bMedium><bLow>1</bLow><HighLevel>0</HighLevel><MediumLevel>1</MediumLevel>"
                        "<LowLevel>2</LowLevel></file></CDDSprojectDs>");
}

TEST(FullDisk, FileSizeLimitFailsTheSaveAndKeepsTheOldFile)
{
    TempDir dir;
    MakeBigInput(dir);
    faults::Limits limits;
    limits.fileSize = 48 * 1024;  // the log and the old files fit, no output does
    ExpectFullDiskKeepsOldFiles(dir, "out", limits);
}

TEST(FullDisk, SmallFileSystemFailsTheSaveAndKeepsTheOldFile)
{
    TempDir dir;
    MakeBigInput(dir);
    faults::SmallTmpfs small((dir / "small").string(), 64 * 1024);
    if (!small.mounted())
        GTEST_SKIP() << "this process may not mount a file system";
    ExpectFullDiskKeepsOldFiles(dir, "small", {});
}

// Inputs that are listed but cannot be read whole: removed after the
// listing (a link to nothing), empty, cut inside the header or the pixels,
// a folder or a pipe under an image name.  Each is reported and skipped;
// the good ones around them are converted.
TEST(DamagedInputs, CutAndVanishedFilesAmongGoodOnesAreSkippedWithAMessage)
{
    TempDir dir;
    fs::create_directory(dir / "in");
    const Bytes good = faults::GoodTga();
    testutil::WriteFile(dir / "in" / "a.tga", good);
    testutil::WriteFile(dir / "in" / "z.tga", good);
    const Bytes bmp = faults::GoodBmp();
    const std::vector<std::pair<std::string, std::size_t>> cuts = {
        {"c0.tga", 0}, {"c1.tga", 10}, {"c2.tga", 18}, {"c3.tga", good.size() / 2}, {"c4.tga", good.size() - 1}};
    for (const auto& [name, length] : cuts)
        testutil::WriteFile(dir / "in" / name, good.data(), length);
    fs::create_symlink(dir / "in" / "removed-long-ago.tga", dir / "in" / "gone.tga");
    fs::create_directory(dir / "in" / "folder.tga");
    ASSERT_EQ(::mkfifo((dir / "in" / "pipe.tga").c_str(), 0644), 0);

    faults::Limits limits;
    limits.timeoutSeconds = 120;
    const auto r = faults::RunMipforgeLimited({"in", "tga", "out"}, dir.str(), limits);
    ASSERT_EQ(r.signal, 0) << "the run was killed (waiting on the pipe?)\n" << r.output;
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.output, "in/a.tga -> out/a.dds\n")) << r.output;
    EXPECT_TRUE(Contains(r.output, "in/z.tga -> out/z.dds\n")) << r.output;
    for (const char* bad : {"c0", "c1", "c2", "c3", "c4", "gone", "folder", "pipe"}) {
        EXPECT_TRUE(Contains(r.output, std::string("can't open in/") + bad + ".tga\n")) << bad << "\n" << r.output;
        EXPECT_FALSE(fs::exists(dir / "out" / (std::string(bad) + ".dds"))) << bad;
    }

    // The same folder into one texture file: the damaged ones are absent.
    const auto c = faults::RunMipforgeLimited({"-complex", "in", "tga", "all.tex"}, dir.str(), limits);
    ASSERT_EQ(c.signal, 0) << c.output;
    EXPECT_TRUE(Contains(c.output, "push in/a.tga -> a.tga\n")) << c.output;
    EXPECT_TRUE(Contains(c.output, "push in/z.tga -> z.tga\n")) << c.output;
    EXPECT_FALSE(Contains(c.output, "push in/c")) << c.output;
    EXPECT_FALSE(Contains(c.output, "ERROR: UNDEFINED")) << c.output;
    EXPECT_TRUE(fs::exists(dir / "all.tex"));
}

// A file cut while the run is reading the folder: the converter is started
// on a folder of many good files while this process shortens them one by
// one.  Whatever each file looked like when it was read, the run ends
// normally and every file is either converted or reported.
TEST(DamagedInputs, FilesCutWhileTheRunGoesOnAreConvertedOrReported)
{
    TempDir dir;
    fs::create_directory(dir / "in");
    const Bytes good = samplegen::WriteTga(samplegen::MakeFoliage(256, 256, 4));
    constexpr int kFiles = 40;
    for (int i = 0; i < kFiles; ++i)
        testutil::WriteFile(dir / "in" / ("f" + std::to_string(100 + i) + ".tga"), good);

    const pid_t cutter = ::fork();
    ASSERT_GE(cutter, 0);
    if (cutter == 0) {
        for (int i = kFiles - 1; i >= 0; i -= 2) {
            ::usleep(5 * 1000);
            ::truncate((dir / "in" / ("f" + std::to_string(100 + i) + ".tga")).c_str(),
                       static_cast<off_t>(good.size() / 3));
        }
        ::_exit(0);
    }
    const auto r = RunMipforge({"in", "tga", "out"}, dir.str());
    int status = 0;
    ::waitpid(cutter, &status, 0);
    ASSERT_EQ(r.signal, 0) << r.output;
    EXPECT_EQ(r.status, 0);
    int cut = 0;
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "f" + std::to_string(100 + i);
        const bool converted = Contains(r.output, "in/" + name + ".tga -> out/" + name + ".dds\n");
        const bool reported = Contains(r.output, "can't open in/" + name + ".tga\n");
        EXPECT_TRUE(converted != reported) << name << "\n" << r.output;
        EXPECT_EQ(converted, fs::exists(dir / "out" / (name + ".dds"))) << name;
        cut += reported;
    }
    std::printf("%d of %d files were cut before they were read\n", cut, kFiles);
}

} // namespace
