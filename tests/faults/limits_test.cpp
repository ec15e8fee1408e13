// Pictures at and past the size limit, through the real converter: a header
// that lies about its size must not make the converter take gigabytes, and
// the largest allowed picture must convert within a sane amount of memory.
#include "tests/faults/fault_files.h"
#include "tests/faults/limited_run.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

using faults::Limits;
using testutil::TempDir;

constexpr std::uint64_t kGiB = 1024ull * 1024 * 1024;

// A lying header is refused before its pixels are allocated: under a 2 GiB
// address-space limit no reader may reserve the 16 GiB that 65535 x 65535
// texels would take, and none may touch more than a little memory.
TEST(Limits, HeadersClaimingHugePicturesAreRefusedWithoutAllocating)
{
    for (std::uint32_t side : {65535u, 16385u, 16384u}) {
        SCOPED_TRACE(side);
        TempDir dir;
        std::filesystem::create_directory(dir / "in");
        testutil::WriteFile(dir / "in" / "good.tga", faults::GoodTga());
        const auto lying = faults::LyingHeaders(side);
        for (const auto& [name, bytes] : lying)
            testutil::WriteFile(dir / "in" / name, bytes);

        Limits limits;
        if (!faults::UnderAddressSanitizer())
            limits.addressSpace = 2 * kGiB;
        for (const char* ext : {"tga", "bmp", "dds", "png", "jpg", "ppm"}) {
            SCOPED_TRACE(ext);
            const auto run = faults::RunMipforgeLimited({"in", ext, "out"}, dir.str(), limits);
            ASSERT_EQ(run.signal, 0) << run.output;
            EXPECT_EQ(run.status, 0) << run.output;
            for (const auto& [name, bytes] : lying)
                if (name.ends_with(ext)) {
                    EXPECT_NE(run.output.find("can't open in/" + name + "\n"), std::string::npos) << run.output;
                    EXPECT_FALSE(std::filesystem::exists(dir / "out" / (name.substr(0, name.rfind('.')) + ".dds")));
                }
            EXPECT_LT(run.peakRssKiB, 64 * 1024) << "peak memory of the run in KiB";
        }
        EXPECT_TRUE(std::filesystem::exists(dir / "out" / "good.dds"));
    }
}

// The largest picture the readers take, 16384 x 16384, converts to DXT1 with
// its whole chain, within twice the size of its 32-bit texels.
TEST(Limits, LargestAllowedPictureConvertsWithinMemoryBounds)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "in");
    constexpr int kSide = 16384;
    testutil::WriteFile(dir / "in" / "huge.bmp", faults::HugeRleBmp(kSide));
    Limits limits;
    limits.timeoutSeconds = 1800;
    const auto run = faults::RunMipforgeLimited({"in", "bmp", "out"}, dir.str(), limits);
    ASSERT_EQ(run.signal, 0) << run.output;
    ASSERT_EQ(run.status, 0) << run.output;
    ASSERT_NE(run.output.find("in/huge.bmp -> out/huge.dds\n"), std::string::npos) << run.output;
    // DXT1: half a byte per texel over a chain of 15 levels, plus the header.
    std::uint64_t expected = 4 + 124;
    for (int side = kSide; side >= 1; side /= 2)
        expected += std::uint64_t(std::max(1, side / 4)) * std::max(1, side / 4) * 8;
    EXPECT_EQ(std::filesystem::file_size(dir / "out" / "huge.dds"), expected);
    const long bound = faults::UnderAddressSanitizer() ? 6L * 1024 * 1024 : 2L * 1024 * 1024;
    EXPECT_LT(run.peakRssKiB, bound) << "peak memory of the run in KiB";
    RecordProperty("peak_rss_kib", std::to_string(run.peakRssKiB));
    std::printf("16384 x 16384 to DXT1: peak resident memory %ld MiB\n", run.peakRssKiB / 1024);
}

// Under a tight address space the run goes on without the threads it cannot
// start, and the container builder takes the reservation it can get.  An
// output that is a symbolic link or a device is written through, never
// replaced by a file of its own.
TEST(Limits, TightAddressSpaceAndSpecialOutputPathsStillWork)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "in");
    testutil::WriteFile(dir / "in" / "a.tga", faults::GoodTga());
    const struct {
        std::vector<std::string> args;
        std::uint64_t bytes;
    } runs[] = {{{"-single", "in/a.tga", "D3DFMT_DXT5", "0", "s.dds"}, 60ull << 20},
                {{"-complex", "in", "tga", "t.tex"}, kGiB}};
    for (const auto& [args, bytes] : runs) {
        Limits limits;
        limits.addressSpace = faults::UnderAddressSanitizer() ? 0 : bytes;
        const auto run = faults::RunMipforgeLimited(args, dir.str(), limits);
        EXPECT_EQ(run.signal, 0) << args[0] << run.output;
        EXPECT_TRUE(std::filesystem::exists(dir / args.back())) << args[0] << run.output;
    }
    testutil::WriteText(dir / "real.dds", "old");
    std::filesystem::create_symlink("real.dds", dir / "link.dds");
    const bool device = ::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    for (const char* out : {"link.dds", "null"})
        testutil::RunMipforge({"-single", "in/a.tga", "DXT5", "0", out}, dir.str());
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.dds"));
    EXPECT_GT(std::filesystem::file_size(dir / "real.dds"), 128u);
    EXPECT_TRUE(!device || std::filesystem::is_character_file(dir / "null"));
}

} // namespace
