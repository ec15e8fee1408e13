// The converter's start-up: usage text, argument checks, device, dispatch,
// exit codes and the log file, run through the real binary.
#include "engine/basekit/dprintf.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using testutil::kUsageText;
using testutil::RunMipforge;
using testutil::TempDir;

namespace {

const std::string kComplaint = "Incorrect calling \nPlease type >Mipforge <InDir> <OutDir> [<Out complex file>]";

TEST(Spine, WrongArgumentCountPrintsUsageAndComplaintWithoutDevice)
{
    TempDir dir;
    const std::vector<std::vector<std::string>> cases = {
        {}, {"in"}, {"a", "b", "c", "d", "e", "f"}, {"-xml", "a", "b", "c", "d", "e", "f", "g"}};
    for (const auto& args : cases) {
        // With the device switched off, a run that got as far as the device
        // would end with status 5; the count check comes first.
        auto r = RunMipforge(args, dir.str(), {"MIPFORGE_NO_DEVICE=1"});
        EXPECT_EQ(r.status, 0) << args.size() << " arguments";
        EXPECT_EQ(r.output, kUsageText + kComplaint);
        EXPECT_EQ(testutil::ReadText(dir / "Mipforge.log"), r.output) << "the log holds what the console showed";
    }
}

TEST(Spine, ComplexWithTwoOperandsComplainsAfterTheDevice)
{
    TempDir dir;
    auto r = RunMipforge({"-complex", "in", "tga"}, dir.str());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, kUsageText + kComplaint);

    // The device comes before the complaint: without it the run ends with E_FAIL.
    auto off = RunMipforge({"-complex", "in", "tga"}, dir.str(), {"MIPFORGE_NO_DEVICE=1"});
    EXPECT_EQ(off.status, 5);
    EXPECT_EQ(off.output, kUsageText);
}

TEST(Spine, MissingDeviceEndsWithEFailAfterTheUsageLines)
{
    TempDir dir;
    for (auto args : std::vector<std::vector<std::string>>{{"-xml", "p.xml", "o.cdds"},
                                                            {"-single", "a.tga", "D3DFMT_DXT1", "0", "o.dds"},
                                                            {"in", "tga", "out"}}) {
        auto r = RunMipforge(args, dir.str(), {"MIPFORGE_NO_DEVICE=1"});
        EXPECT_EQ(r.status, 5) << "E_FAIL's low 8 bits";
        EXPECT_EQ(r.output, kUsageText);
        EXPECT_EQ(testutil::ReadText(dir / "Mipforge.log"), kUsageText);
    }
}

TEST(Spine, ModesAreMatchedWithoutRegardToCase)
{
    TempDir dir;
    // A mode name in any case must not fall through to the directory mode,
    // which would treat it as an input folder and find nothing there.
    for (std::string mode : {"-XML", "-Xml"}) {
        auto r = RunMipforge({mode, "nothing.xml", "out.cdds"}, dir.str());
        EXPECT_EQ(r.status, 1) << mode << ": " << r.output;
    }
    for (std::string mode : {"-DUMP", "-dumpPERM"}) {
        auto r = RunMipforge({mode, "nothing.tex", "out"}, dir.str());
        EXPECT_EQ(r.status, 1) << mode << ": " << r.output;
    }
}

TEST(Spine, MissingOperandsAreRefusedNotRead)
{
    TempDir dir;
    for (auto args : std::vector<std::vector<std::string>>{
             {"-xml", "p.xml"}, {"-single", "a", "b", "c"}, {"-noise", "a", "b"}, {"in", "tga"}}) {
        auto r = RunMipforge(args, dir.str());
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_EQ(r.output, kUsageText + kComplaint) << args[0];
    }
}

TEST(Spine, EachRunReplacesTheLog)
{
    TempDir dir;
    testutil::WriteText(dir / "Mipforge.log", std::string(100000, 'x'));
    auto r = RunMipforge({"only-one"}, dir.str());
    EXPECT_EQ(testutil::ReadText(dir / "Mipforge.log"), r.output);
}

TEST(Spine, UnwritableWorkingFolderSkipsTheLogSilently)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root can write anywhere";
    TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    auto r = RunMipforge({}, dir.str());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, kUsageText + kComplaint);
}

// dprintf hands the hook one writable text and does not cut long messages.
std::string g_seen;
void Capture(const char* text)
{
    const_cast<char*>(text)[0] = text[0]; // the hook may write in place
    g_seen += text;
}

TEST(Dprintf, FormatsLongMessagesWhole)
{
    pDPrintOutputProc = Capture;
    g_seen.clear();
    std::string longName(5000, 'n');
    dprintf("can't open %s\n", longName.c_str());
    dprintf("%s", "100% done\n");
    pDPrintOutputProc = nullptr;
    EXPECT_EQ(g_seen, "can't open " + longName + "\n100% done\n");
}

} // namespace
