#include "misc/mmf_write.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string message(const misc::error& e)
{
    return e.text() ? e.text() : "";
}

// Offsets handed out for a sequence of allocation sizes.
std::vector<std::uint32_t> offsets(misc::mmf_write& image, std::initializer_list<std::size_t> sizes)
{
    std::vector<std::uint32_t> out;
    for (std::size_t s : sizes) {
        std::uint32_t at = 0xFFFFFFFF;
        EXPECT_TRUE(image.allocate(s, at));
        out.push_back(at);
    }
    return out;
}

std::vector<std::string> names_in(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(MmfWrite, AlignmentEightRoundsEveryAllocation)
{
    testutil::TempDir dir;
    misc::mmf_write image(8);
    image.open((dir / "out").c_str());
    EXPECT_EQ(offsets(image, {1, 8, 9, 1}), (std::vector<std::uint32_t>{0, 8, 16, 32}));
    EXPECT_EQ(image.used(), 40u);
    EXPECT_EQ(image.counter(0), 40u);
}

TEST(MmfWrite, AlignmentOneTakesExactSizes)
{
    testutil::TempDir dir;
    misc::mmf_write image(1);
    image.open((dir / "out").c_str());
    EXPECT_EQ(offsets(image, {1, 8, 9, 1}), (std::vector<std::uint32_t>{0, 1, 9, 18}));
    EXPECT_EQ(image.used(), 19u);
}

TEST(MmfWrite, ZeroBytesGiveTheCurrentEndAndChangeNothing)
{
    testutil::TempDir dir;
    misc::mmf_write image(8);
    image.open((dir / "out").c_str());
    EXPECT_EQ(offsets(image, {0}), std::vector<std::uint32_t>{0});
    EXPECT_EQ(image.committed(), 0u);
    EXPECT_EQ(offsets(image, {3, 0}), (std::vector<std::uint32_t>{0, 8}));
    EXPECT_EQ(image.used(), 8u);
    EXPECT_EQ(image.counter(0), 8u);
}

TEST(MmfWrite, CommitsWholePagesAsTheImageGrows)
{
    testutil::TempDir dir;
    misc::mmf_write image(1);
    image.open((dir / "out").c_str());
    const std::size_t page = image.page_size();
    offsets(image, {1});
    EXPECT_EQ(image.committed(), page);
    offsets(image, {page - 1});
    EXPECT_EQ(image.committed(), page);
    offsets(image, {1});
    EXPECT_EQ(image.committed(), 2 * page);
    offsets(image, {3 * page});
    EXPECT_EQ(image.committed(), 5 * page);
    // Committed memory is writable right up to its end.
    std::memset(image.address(0), 0xAB, image.used());
}

TEST(MmfWrite, ReservesTheReachOfImageReferencesByDefault)
{
    testutil::TempDir dir;
    misc::mmf_write image(1);
    image.open((dir / "out").c_str());
    EXPECT_EQ(image.reserved(), std::size_t(1) << 31);
    image.discard();
    image.open((dir / "out").c_str(), std::size_t(1) << 40);
    EXPECT_EQ(image.reserved(), std::size_t(1) << 31);
    // A megabyte more than a small fixed reserve would have held works.
    std::uint32_t at = 0;
    EXPECT_TRUE(image.allocate(300u << 20, at));
    EXPECT_EQ(image.committed(), std::size_t(300) << 20);
}

TEST(MmfWrite, AllocationMayEndExactlyAtTheReserve)
{
    testutil::TempDir dir;
    misc::mmf_write image(8);
    const std::size_t reserve = 3 * image.page_size() + 16;
    image.open((dir / "out").c_str(), reserve);
    std::uint32_t at = 0;
    EXPECT_TRUE(image.allocate(reserve - 8, at));
    EXPECT_TRUE(image.allocate(8, at));
    EXPECT_EQ(at, reserve - 8);
    EXPECT_EQ(image.used(), reserve);
    std::memset(image.address(0), 1, reserve);
    EXPECT_TRUE(image.allocate(0, at));
    try {
        image.allocate(1, at);
        FAIL() << "no overflow";
    } catch (const misc::error& e) {
        EXPECT_EQ(message(e), "Memory overflow " + std::to_string(reserve));
    }
    EXPECT_EQ(image.used(), reserve);
}

TEST(MmfWrite, OneByteBeyondTheReserveOverflows)
{
    testutil::TempDir dir;
    misc::mmf_write image(1);
    image.open((dir / "out").c_str(), 100);
    std::uint32_t at = 0;
    try {
        image.allocate(101, at);
        FAIL() << "no overflow";
    } catch (const misc::error& e) {
        EXPECT_EQ(message(e), "Memory overflow 100");
    }
    EXPECT_TRUE(image.allocate(100, at));
    EXPECT_THROW(image.allocate(SIZE_MAX, at), misc::error);
}

TEST(MmfWrite, CloseWritesExactlyTheUsedBytes)
{
    testutil::TempDir dir;
    misc::mmf_write image(1);
    image.open((dir / "five").c_str());
    std::memcpy(image.place(5), "abcde", 5);
    image.close();
    EXPECT_FALSE(image.is_open());
    EXPECT_EQ(testutil::ReadText(dir / "five"), "abcde");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"five"});
    // Closing again does nothing.
    image.close();
}

TEST(MmfWrite, EmptyImageWritesAnEmptyFile)
{
    testutil::TempDir dir;
    testutil::WriteText(dir / "old", "previous contents");
    misc::mmf_write image(8);
    image.open((dir / "old").c_str());
    image.close();
    EXPECT_TRUE(fs::exists(dir / "old"));
    EXPECT_EQ(fs::file_size(dir / "old"), 0u);
}

TEST(MmfWrite, NeverOpenedImageCreatesNoFile)
{
    testutil::TempDir dir;
    {
        misc::mmf_write image(8);
        image.close();
    }
    EXPECT_TRUE(names_in(dir.path()).empty());
}

TEST(MmfWrite, ImageDroppedWithoutCloseWritesNothing)
{
    testutil::TempDir dir;
    testutil::WriteText(dir / "keep", "old");
    {
        misc::mmf_write image(1);
        image.open((dir / "keep").c_str());
        std::memcpy(image.place(3), "new", 3);
    }
    EXPECT_EQ(testutil::ReadText(dir / "keep"), "old");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"keep"});
}

TEST(MmfWrite, CloseIntoAMissingFolderThrowsAndCreatesNothing)
{
    testutil::TempDir dir;
    misc::mmf_write image(1);
    image.open((dir / "no" / "such" / "file").c_str());
    std::memcpy(image.place(4), "data", 4);
    try {
        image.close();
        FAIL() << "close succeeded";
    } catch (const misc::error& e) {
        EXPECT_EQ(message(e), "CreateFile() " + std::to_string(ENOENT));
    }
    EXPECT_FALSE(image.is_open());
    EXPECT_TRUE(names_in(dir.path()).empty());
}

TEST(MmfWrite, ShortWriteLeavesTheOldFileAndNoTemporary)
{
    testutil::TempDir dir;
    const std::string old(100, 'o');
    testutil::WriteText(dir / "target", old);

    misc::mmf_write image(1);
    image.open((dir / "target").c_str());
    std::memset(image.place(64 * 1024), 'n', 64 * 1024);

    // A file-size limit turns the write into a short one, as a full disk does.
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const char* thrown = nullptr;
    try {
        image.close();
    } catch (const char* text) {
        thrown = text;
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);

    ASSERT_NE(thrown, nullptr);
    EXPECT_STREQ(thrown, "WriteFile(MEM_RESERVE)");
    EXPECT_EQ(testutil::ReadText(dir / "target"), old);
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"target"});
    EXPECT_FALSE(image.is_open());
}

TEST(MmfWrite, UnwritableFolderLeavesTheOldFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permission bits do not stop root";
    testutil::TempDir dir;
    testutil::WriteText(dir / "target", "old");
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    misc::mmf_write image(1);
    image.open((dir / "target").c_str());
    std::memcpy(image.place(3), "new", 3);
    EXPECT_THROW(image.close(), misc::error);
    fs::permissions(dir.path(), fs::perms::owner_all);
    EXPECT_EQ(testutil::ReadText(dir / "target"), "old");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"target"});
}

#if defined(__SANITIZE_ADDRESS__)
#define MIPFORGE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MIPFORGE_ASAN 1
#endif
#endif

TEST(MmfWrite, FailedReservationThrowsAndTouchesNoFile)
{
#ifdef MIPFORGE_ASAN
    GTEST_SKIP() << "an address-space limit starves the sanitizer's own mappings";
#else
    testutil::TempDir dir;
    testutil::WriteText(dir / "target", "old");
    const std::string target = (dir / "target").string();
    int pipefd[2];
    ASSERT_EQ(::pipe(pipefd), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The child limits its address space to a little more than it uses,
        // so that not even the smallest reservation (1 MB) fits.
        ::close(pipefd[0]);
        misc::mmf_write image(8);
        unsigned long pages = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%lu", &pages) != 1)
                pages = 0;
            std::fclose(statm);
        }
        struct rlimit as = {0, 0};
        ::getrlimit(RLIMIT_AS, &as);
        as.rlim_cur = pages * static_cast<unsigned long>(::sysconf(_SC_PAGESIZE)) + (256u << 10);
        ::setrlimit(RLIMIT_AS, &as);
        std::string text = "no exception";
        try {
            image.open(target.c_str(), std::size_t(1) << 30);
        } catch (const misc::error& e) {
            text = e.text() ? e.text() : "";
        }
        text += image.is_open() ? " open" : " closed";
        ssize_t ignored = ::write(pipefd[1], text.data(), text.size());
        (void)ignored;
        ::_exit(0);
    }
    ::close(pipefd[1]);
    char buffer[256] = {};
    ssize_t n = ::read(pipefd[0], buffer, sizeof buffer - 1);
    ::close(pipefd[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buffer), "VirtualAlloc(MEM_RESERVE) 1073741824 byte - " + std::to_string(ENOMEM) + " closed");
    EXPECT_EQ(testutil::ReadText(dir / "target"), "old");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"target"});
#endif
}

TEST(MmfWrite, SidePoolIsUsedFirstAndLeavesTheCounter)
{
    testutil::TempDir dir;
    misc::mmf_write image(8);
    image.open((dir / "out").c_str());
    std::uint32_t at = 0;
    image.allocate(64, at);
    image.set_side_pool(16, 24);
    EXPECT_EQ(offsets(image, {5, 9}), (std::vector<std::uint32_t>{16, 24}));
    // Too big for what is left of the pool: taken from the end.
    EXPECT_EQ(offsets(image, {16}), std::vector<std::uint32_t>{64});
    EXPECT_EQ(offsets(image, {8}), std::vector<std::uint32_t>{80});
    // Pool allocations are not counted.
    EXPECT_EQ(image.used(), 88u);
    EXPECT_EQ(image.counter(0), 88u);
}

TEST(MmfWrite, SelectedCounterCollectsSizes)
{
    testutil::TempDir dir;
    misc::mmf_write image(8);
    image.open((dir / "out").c_str());
    offsets(image, {3});
    image.select_counter(1);
    offsets(image, {9, 1});
    EXPECT_EQ(image.counter(0), 8u);
    EXPECT_EQ(image.counter(1), 24u);
    image.open((dir / "out").c_str());
    EXPECT_EQ(image.counter(0), 0u);
    EXPECT_EQ(image.counter(1), 0u);
    offsets(image, {1});
    EXPECT_EQ(image.counter(0), 8u);
}

TEST(MmfWrite, PrefixOffsetsResolveIntoThePrefix)
{
    testutil::TempDir dir;
    char prefix[16] = "header";
    misc::mmf_write image(1);
    image.open((dir / "out").c_str());
    image.set_prefix(prefix, sizeof prefix);
    std::uint32_t at = 0;
    image.allocate(4, at);
    EXPECT_EQ(at, sizeof prefix);
    EXPECT_EQ(image.address(3), prefix + 3);
    EXPECT_EQ(image.offset_of(image.address(at)), at);
}

struct Node {
    int value = 7;
    misc::image_ref<Node> next;
};

struct Root {
    misc::image_table<Node> nodes;
    misc::image_ref<Root> self;
};

TEST(ImageRef, StoresTheDistanceFromTheFieldAndZeroForNull)
{
    testutil::TempDir dir;
    misc::mmf_write image(8);
    image.open((dir / "refs").c_str());
    Root* root = new (image) Root;
    EXPECT_EQ(root->nodes.size(), 0u);
    EXPECT_EQ(root->nodes.begin(), nullptr);
    EXPECT_EQ(root->self.get(), nullptr);
    EXPECT_EQ(root->self.raw(), 0);

    root->nodes.resize(3, image);
    ASSERT_EQ(root->nodes.size(), 3u);
    EXPECT_EQ(image.offset_of(&root->nodes[0]), 16u);
    EXPECT_EQ(&root->nodes[2], &root->nodes[0] + 2);
    for (const Node& n : root->nodes)
        EXPECT_EQ(n.value, 7);
    // Sizing again, or to 0, changes nothing.
    root->nodes.resize(5, image);
    EXPECT_EQ(root->nodes.size(), 3u);
    EXPECT_EQ(image.used(), 16u + 3 * sizeof(Node));

    root->nodes[0].next.set(&root->nodes[2]);
    root->nodes[2].next.set(&root->nodes[0]);
    root->self.set(root);
    EXPECT_EQ(root->nodes[0].next.raw(), int(2 * sizeof(Node)) - 4);
    EXPECT_EQ(root->nodes[2].next.raw(), -int(2 * sizeof(Node)) - 4);
    EXPECT_EQ(root->self.get(), root);
    EXPECT_EQ(root->nodes.first().raw(), 16 - 4);

    std::memset(image.place(1), 0, 1);
    image.close();

    // The file read back at another address still resolves.
    std::vector<std::uint8_t> bytes = testutil::ReadFile(dir / "refs");
    ASSERT_EQ(bytes.size(), 16u + 3 * sizeof(Node) + 8);
    alignas(8) std::uint8_t copy[64];
    std::memcpy(copy, bytes.data(), bytes.size());
    std::int32_t count, first, self;
    std::memcpy(&count, copy + 0, 4);
    std::memcpy(&first, copy + 4, 4);
    std::memcpy(&self, copy + 8, 4);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(4 + first, 16);
    EXPECT_EQ(8 + self, 0);
    std::int32_t next0;
    std::memcpy(&next0, copy + 16 + offsetof(Node, next), 4);
    EXPECT_EQ(16 + int(offsetof(Node, next)) + next0, 16 + 2 * int(sizeof(Node)));
}

} // namespace
