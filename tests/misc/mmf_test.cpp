#include "misc/misc.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <sys/stat.h>

namespace {

std::string text_of(const misc::mmf& map)
{
    return map.last_error().text() ? map.last_error().text() : "";
}

TEST(Mmf, MapsAWholeFileReadOnly)
{
    testutil::TempDir dir;
    testutil::WriteText(dir / "a.txt", "hello, map");
    misc::mmf map((dir / "a.txt").c_str());
    ASSERT_TRUE(map.is_open()) << text_of(map);
    EXPECT_TRUE(map.readonly());
    ASSERT_EQ(map.size(), 10u);
    EXPECT_EQ(std::string(static_cast<const char*>(map.data()), map.size()), "hello, map");
    EXPECT_EQ(map.last_error().text(), nullptr);
    map.close();
    EXPECT_EQ(map.data(), nullptr);
    EXPECT_EQ(map.size(), 0u);
    map.close();
}

TEST(Mmf, ReadWriteMappingChangesTheFile)
{
    testutil::TempDir dir;
    testutil::WriteText(dir / "b.bin", "abcdef");
    {
        misc::mmf map;
        ASSERT_TRUE(map.open((dir / "b.bin").c_str(), false)) << text_of(map);
        EXPECT_FALSE(map.readonly());
        static_cast<char*>(map.data())[0] = 'X';
    }
    EXPECT_EQ(testutil::ReadText(dir / "b.bin"), "Xbcdef");
}

TEST(Mmf, MissingFileFailsWithCreateFileAndStaysReusable)
{
    testutil::TempDir dir;
    misc::mmf map;
    EXPECT_FALSE(map.open((dir / "missing").c_str()));
    EXPECT_EQ(text_of(map), "CreateFile() " + std::to_string(ENOENT));
    EXPECT_FALSE(map.is_open());
    EXPECT_EQ(map.size(), 0u);

    testutil::WriteText(dir / "there", "xyz");
    ASSERT_TRUE(map.open((dir / "there").c_str()));
    EXPECT_EQ(map.size(), 3u);
    // The text of the last failure is kept after a later success.
    EXPECT_EQ(text_of(map), "CreateFile() " + std::to_string(ENOENT));
}

TEST(Mmf, ConstructorWithMissingFileLeavesItClosed)
{
    testutil::TempDir dir;
    misc::mmf map((dir / "none").c_str());
    EXPECT_FALSE(map.is_open());
    EXPECT_EQ(text_of(map), "CreateFile() " + std::to_string(ENOENT));
}

TEST(Mmf, EmptyFileFailsWithCreateFileMapping)
{
    testutil::TempDir dir;
    testutil::WriteText(dir / "empty", "");
    misc::mmf map;
    EXPECT_FALSE(map.open((dir / "empty").c_str()));
    EXPECT_EQ(text_of(map).rfind("CreateFileMapping() ", 0), 0u) << text_of(map);
    EXPECT_FALSE(map.is_open());
}

TEST(Mmf, FoldersAndPipesAreRefused)
{
    testutil::TempDir dir;
    misc::mmf map;
    EXPECT_FALSE(map.open(dir.str().c_str()));
    EXPECT_EQ(text_of(map), "CreateFile() " + std::to_string(EISDIR));

    std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(map.open(fifo.c_str()));
    EXPECT_EQ(text_of(map).rfind("CreateFileMapping() ", 0), 0u) << text_of(map);
}

TEST(Mmf, NullNameReturnsFalseAndClosesThePreviousFile)
{
    testutil::TempDir dir;
    testutil::WriteText(dir / "f", "1");
    misc::mmf map((dir / "f").c_str());
    ASSERT_TRUE(map.is_open());
    EXPECT_FALSE(map.open(nullptr));
    EXPECT_FALSE(map.is_open());
}

} // namespace
