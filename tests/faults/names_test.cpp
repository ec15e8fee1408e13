// File and folder names that trip up string handling: spaces, printf
// conversions, non-ASCII UTF-8 and a leading "-" (which looks like an
// option).  They reach the disk and the messages exactly as given.
#include "tests/faults/fault_files.h"
#include "tests/support/testutil.h"
#include "tools/samplegen.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using testutil::RunMipforge;
using testutil::TempDir;

const std::vector<std::string> kStems = {"my texture", "100%", "%s%n%x%%", "трава-草", "-rock", " lead and trail ",
                                         "semi;colon'quote\"", "-xml"};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(AwkwardNames, DirectoryModeKeepsEveryNameInFilesAndMessages)
{
    TempDir dir;
    const std::string in = "in %d folder é";
    const std::string out = "-out %s";
    fs::create_directory(dir / in);
    for (const std::string& stem : kStems)
        testutil::WriteFile(dir / in / (stem + ".tga"), faults::GoodTga());
    // A damaged file with a conversion-laden name still gets its message.
    testutil::WriteFile(dir / in / "%n%n%n%s.tga", std::vector<std::uint8_t>{1, 2, 3});

    const auto r = RunMipforge({in, "tga", out}, dir.str());
    ASSERT_EQ(r.signal, 0) << r.output;
    EXPECT_EQ(r.status, 0) << r.output;
    for (const std::string& stem : kStems) {
        EXPECT_TRUE(Contains(r.output, in + "/" + stem + ".tga -> " + out + "/" + stem + ".dds\n")) << stem << "\n"
                                                                                                      << r.output;
        EXPECT_TRUE(fs::is_regular_file(dir / out / (stem + ".dds"))) << stem;
    }
    EXPECT_TRUE(Contains(r.output, "can't open " + in + "/%n%n%n%s.tga\n")) << r.output;
    EXPECT_EQ(faults::FileNames(dir / out).size(), kStems.size());
}

TEST(AwkwardNames, SingleModeTakesOperandsThatLookLikeOptions)
{
    TempDir dir;
    for (const std::string& stem : kStems) {
        SCOPED_TRACE(stem);
        testutil::WriteFile(dir / (stem + ".bmp"), faults::GoodBmp());
        const std::string outName = stem + " out%.dds";
        const auto r = RunMipforge({"-single", stem + ".bmp", "D3DFMT_DXT1", "0", outName}, dir.str());
        ASSERT_EQ(r.signal, 0) << r.output;
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_TRUE(Contains(r.output, "LoadTexture " + stem + ".bmp, D3DFMT_DXT1, 0\n")) << r.output;
        EXPECT_TRUE(fs::is_regular_file(dir / outName)) << r.output;
    }
}

TEST(AwkwardNames, ProjectBuildFindsSourcesAndWritesTheContainerByTheirNames)
{
    TempDir dir;
    std::string project = "<CDDSprojectDs>";
    for (std::size_t i = 0; i < kStems.size(); ++i) {
        const std::string& stem = kStems[i];
        testutil::WriteFile(dir / (stem + ".tga"), faults::GoodTga());
        std::string escaped;
        for (char c : stem)
            escaped += c == '"' ? "&quot;" : c == '\'' ? "&apos;" : std::string(1, c);
        project += "<file><name>T" + std::to_string(i) + "</name><d3dformat>D3DFMT_DXT5</d3dformat>"
                   "<miplevels>Maximum</miplevels><filename>" + escaped + ".tga</filename><comment/>"
                   "<bHigh>1</bHigh><bMedium>1</bMedium><bLow>1</bLow><HighLevel>0</HighLevel>"
                   "<MediumLevel>1</MediumLevel><LowLevel>2</LowLevel></file>";
    }
    testutil::WriteText(dir / "-p %s.xml", project + "</CDDSprojectDs>");
    const auto r = RunMipforge({"-xml", "-p %s.xml", "-out %n.cdds"}, dir.str());
    ASSERT_EQ(r.signal, 0) << r.output;
    EXPECT_TRUE(Contains(r.output, "Loaded " + std::to_string(kStems.size()) + " from " +
                                       std::to_string(kStems.size()) + "\n")) << r.output;
    EXPECT_FALSE(Contains(r.output, "Error")) << r.output;
    EXPECT_TRUE(fs::is_regular_file(dir / "-out %n.cdds"));
}

} // namespace
