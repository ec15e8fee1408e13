// Work spread over threads must not change a single output byte or the
// order of a single message.
#include "converter/pipeline.h"
#include "engine/basekit/dprintf.h"
#include "tests/support/testutil.h"
#include "tools/samplegen.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

using testutil::RunMipforge;
using testutil::TempDir;
namespace fs = std::filesystem;

namespace {

std::string g_out;
void Collect(const char* text) { g_out += text; }

TEST(RunInOrder, MessagesAndResultsArriveInListOrderWhateverTheFinishingOrder)
{
    pDPrintOutputProc = Collect;
    for (unsigned ahead : {1u, 2u, 5u}) {
        g_out.clear();
        std::vector<int> delivered;
        RunInOrder<int>(
            12, ahead,
            [](std::size_t i) {
                // Early items finish last.
                std::this_thread::sleep_for(std::chrono::milliseconds((12 - i) % 4 * 3));
                dprintf("work %zu\n", i);
                dprintf("%s", i % 3 ? "" : "third\n");
                return static_cast<int>(i * i);
            },
            [&](std::size_t i, int& r) {
                dprintf("deliver %zu\n", i);
                delivered.push_back(r);
            });
        std::string expected;
        for (int i = 0; i < 12; ++i)
            expected += "work " + std::to_string(i) + "\n" + (i % 3 ? "" : "third\n") + "deliver " +
                        std::to_string(i) + "\n";
        EXPECT_EQ(g_out, expected) << "ahead " << ahead;
        ASSERT_EQ(delivered.size(), 12u);
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ(delivered[i], i * i);
    }
    pDPrintOutputProc = nullptr;
}

TEST(DPrintCapture, NestsAndLeavesOtherThreadsAlone)
{
    pDPrintOutputProc = Collect;
    g_out.clear();
    DPrintCapture outer;
    dprintf("a");
    {
        DPrintCapture inner;
        dprintf("b");
        std::thread([] { dprintf("other thread\n"); }).join();
        EXPECT_EQ(inner.take(), std::vector<std::string>{"b"});
    }
    dprintf("c");
    EXPECT_EQ(outer.take(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(g_out, "other thread\n");
    pDPrintOutputProc = nullptr;
}

// Every file of a folder, by relative name.
std::map<std::string, std::vector<std::uint8_t>> Snapshot(const fs::path& root)
{
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            files[fs::relative(e.path(), root).string()] = testutil::ReadFile(e.path());
    return files;
}

TEST(Threads, OneThreadAndAllThreadsWriteTheSameBytesAndText)
{
    TempDir src;
    samplegen::WriteSampleSet(src.path());
    // A few unreadable files among the good ones, so failure messages are
    // interleaved with progress lines.
    testutil::WriteText(src / "broken.tga", "not an image");
    testutil::WriteText(src / "empty.bmp", "");
    // Two inputs with one output name, the big one first so that the small
    // one is ready before it; the later one's file must stay.
    using samplegen::SaveBytes;
    SaveBytes(src / "zz.bmp", samplegen::WriteBmp(samplegen::MakeTerrain(samplegen::Terrain::Rock, 1024, 1024, 3)));
    SaveBytes(src / "zz.png", samplegen::WritePng(samplegen::Image(16, 16, {9, 99, 199}), samplegen::PngKind::Rgb));
    ASSERT_EQ(RunMipforge({"-single", "zz.png", "D3DFMT_DXT5", "0", "zz.dds"}, src.str()).status, 1);
    fs::remove(src / "Mipforge.log");

    std::vector<std::string> outputs;
    std::vector<std::map<std::string, std::vector<std::uint8_t>>> trees;
    for (std::string threads : {"1", "2", "7"}) {
        TempDir run;
        std::vector<std::string> env = {"MIPFORGE_THREADS=" + threads};
        std::string text;
        auto r = RunMipforge({src.str(), "*", (run / "dds").string()}, run.str(), env);
        ASSERT_EQ(r.status, 0) << r.output;
        text += r.output;
        auto complex = RunMipforge({"-complex", src.str(), "tga", (run / "t.tex").string()}, run.str(),
                                   env);
        text += complex.output;
        // A folder that is its own output: zz.dds is an input that zz.bmp,
        // before it, overwrites.
        fs::copy(src.path(), run / "self");
        text += RunMipforge({"self", "*", "self"}, run.str(), env).output;
        // Paths differ between runs only in the run folder's name.
        for (size_t at; (at = text.find(run.str())) != std::string::npos;)
            text.replace(at, run.str().size(), "<run>");
        outputs.push_back(text);
        trees.push_back(Snapshot(run.path()));
        trees.back().erase("Mipforge.log"); // it holds the run folder's name; its text is compared above
    }
    EXPECT_GT(trees[0].size(), 10u);
    EXPECT_NE(outputs[0].find("zz.png -> <run>/dds/zz.dds\n"), std::string::npos) << outputs[0];
    for (size_t i = 1; i < outputs.size(); ++i) {
        EXPECT_EQ(outputs[i], outputs[0]);
        ASSERT_EQ(trees[i].size(), trees[0].size());
        for (const auto& [name, bytes] : trees[0])
            EXPECT_TRUE(trees[i][name] == bytes) << name << " differs with more threads";
    }
}

} // namespace
