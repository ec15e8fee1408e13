#include "misc/misc.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

TEST(Error, FormatsWithArguments)
{
    misc::error e("CreateFile() %d", 2);
    ASSERT_NE(e.text(), nullptr);
    EXPECT_STREQ(e.text(), "CreateFile() 2");
}

TEST(Error, FormattedTextIsCutAt254Characters)
{
    std::string longer(300, 'x');
    misc::error e("%s", longer.c_str());
    ASSERT_NE(e.text(), nullptr);
    EXPECT_EQ(std::string(e.text()), std::string(254, 'x'));

    std::string exact(254, 'y');
    EXPECT_EQ(std::string(misc::error("%s", exact.c_str()).text()), exact);
}

TEST(Error, EmptyTextGivesNullMessage)
{
    EXPECT_EQ(misc::error("%s", "").text(), nullptr);
    EXPECT_EQ(misc::error("").text(), nullptr);
    EXPECT_EQ(misc::error(static_cast<const char*>(nullptr)).text(), nullptr);
}

TEST(Error, PlainTextIsNotAFormat)
{
    EXPECT_STREQ(misc::error("100% %d").text(), "100% %d");
}

TEST(Error, CopiesOwnTheirText)
{
    misc::error a("first %d", 1);
    misc::error b(a);
    EXPECT_NE(a.text(), b.text());
    EXPECT_STREQ(b.text(), "first 1");
    misc::error c("other");
    c = a;
    EXPECT_STREQ(c.text(), "first 1");
    c = misc::error("");
    EXPECT_EQ(c.text(), nullptr);
    misc::error d(std::move(a));
    EXPECT_STREQ(d.text(), "first 1");
    c = d;
    misc::error& same = c;
    c = same;
    EXPECT_STREQ(c.text(), "first 1");
}

TEST(Error, ThreadsFormattingAtOnceKeepTheirOwnTexts)
{
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &wrong] {
            std::string want = "thread " + std::to_string(t) + std::string(200, char('a' + t));
            for (int i = 0; i < 2000; ++i) {
                misc::error e("thread %d%s", t, std::string(200, char('a' + t)).c_str());
                if (want != e.text())
                    ++wrong[t];
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

} // namespace
