#include "engine/basekit/xmlitem.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// Names and values that stress the text form: empty, white space only,
// leading and trailing spaces, line ends of every kind, markup characters,
// CDATA ends, non-ASCII text, bytes that are not UTF-8, control characters,
// NUL, names that are not XML names and names equal to the attributes used
// for escaping.
const std::vector<std::string> kAwkward = {
    "",
    " ",
    "   ",
    "\t",
    "\n",
    "\r",
    "\r\n",
    "\n\r",
    " lead",
    "trail ",
    "  both  ",
    "a\r\nb",
    "line\nbreak",
    "tab\there",
    "<",
    ">",
    "&",
    "&amp;",
    "&#13;",
    "\"",
    "'",
    "]]>",
    "<![CDATA[x]]>",
    "<!-- c -->",
    "<?pi?>",
    "Трава",
    "ünïcödé",
    "日本",
    "\xF0\x9F\x98\x80",
    "\xFF\xFE",
    "\xC3",
    "\xED\xA0\x80",
    std::string("nul\0byte", 8),
    "\x01\x1F",
    "\x7F",
    "name",
    "_",
    "n",
    "v",
    "nx",
    "vx",
    "1digit",
    "-dash",
    ".dot",
    "a:b",
    "xml",
    "with space",
    "D:\\art\\Grass.TGA",
    "D3DFMT_DXT5",
    "a\xEF\xBF\xBF",
};

class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    std::string text()
    {
        switch (rng_() % 4) {
        case 0:
            return kAwkward[rng_() % kAwkward.size()];
        case 1: {
            std::string s;
            int parts = 1 + static_cast<int>(rng_() % 3);
            for (int i = 0; i < parts; ++i)
                s += kAwkward[rng_() % kAwkward.size()];
            return s;
        }
        case 2: {
            std::string s;
            int n = static_cast<int>(rng_() % 12);
            for (int i = 0; i < n; ++i)
                s += static_cast<char>(rng_() & 0xFF);
            return s;
        }
        default: {
            static const char plain[] = "abcXYZ019_-.";
            std::string s;
            int n = 1 + static_cast<int>(rng_() % 8);
            for (int i = 0; i < n; ++i)
                s += plain[rng_() % (sizeof plain - 1)];
            return s;
        }
        }
    }

    void fill(xmlitem_tree& t, xmlitem_tree::iterator parent, int depth)
    {
        int children = depth >= 4 ? 0 : static_cast<int>(rng_() % (depth == 0 ? 3 : 5));
        for (int i = 0; i < children; ++i) {
            auto child = t.insert(parent.child_end(), xmlitem(text(), text().c_str()));
            if (rng_() % 3 != 0)
                fill(t, child, depth + 1);
        }
    }

    xmlitem_tree tree()
    {
        xmlitem_tree t;
        int tops = 1 + static_cast<int>(rng_() % 3);
        for (int i = 0; i < tops; ++i)
            fill(t, t.push_back(xmlitem(text(), text().c_str())), 1);
        return t;
    }

private:
    std::mt19937 rng_;
};

// Compares two trees node by node; returns where they first differ.
std::string difference(xmlitem_tree::const_iterator a, xmlitem_tree::const_iterator a_end,
                       xmlitem_tree::const_iterator b, xmlitem_tree::const_iterator b_end, const std::string& at)
{
    int index = 0;
    for (; a != a_end && b != b_end; ++a, ++b, ++index) {
        std::string here = at + "/" + std::to_string(index);
        if (a->first != b->first)
            return here + ": name";
        if (a->second != b->second)
            return here + ": value of " + a->first;
        std::string below = difference(a.child_begin(), a.child_end(), b.child_begin(), b.child_end(), here);
        if (!below.empty())
            return below;
    }
    if ((a == a_end) != (b == b_end))
        return at + ": child count";
    return {};
}

TEST(XmlRoundTrip, ThousandsOfAwkwardTreesComeBackEqual)
{
    Generator gen(20261207);
    for (int i = 0; i < 5000; ++i) {
        xmlitem_tree t = gen.tree();
        std::string text;
        xmlsave(text, t);
        xmlitem_tree back;
        try {
            xmlparse(text.data(), static_cast<long>(text.size()), back);
        } catch (const std::exception& e) {
            FAIL() << "tree " << i << " refused: " << e.what() << "\n" << text;
        }
        std::string diff = difference(t.begin(), t.end(), back.begin(), back.end(), "");
        ASSERT_EQ(diff, "") << "tree " << i << "\n" << text;
        // Saving what was read gives the same text again.
        std::string again;
        xmlsave(again, back);
        ASSERT_EQ(again, text);
    }
}

TEST(XmlRoundTrip, EachAwkwardStringSurvivesAsNameAndValueInEveryPosition)
{
    for (const std::string& s : kAwkward) {
        xmlitem_tree t;
        auto top = t.push_back(xmlitem(s, s.c_str()));
        auto mid = t.append_child(top, xmlitem(s, s.c_str()));
        t.append_child(mid, xmlitem(s, s.c_str()));
        t.append_child(top, xmlitem(s, nullptr));
        t.push_back(xmlitem(s, s.c_str()));
        // A value with a NUL byte cannot pass through the C-string
        // constructor; set it directly.
        for (auto& item : {top, mid})
            item->second = s;
        std::string text;
        xmlsave(text, t);
        xmlitem_tree back;
        xmlparse(text.data(), static_cast<long>(text.size()), back);
        EXPECT_EQ(difference(t.begin(), t.end(), back.begin(), back.end(), ""), "") << text;
    }
}

} // namespace
