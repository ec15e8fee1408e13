#include "engine/basekit/xmlitem.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

xmlitem_tree parse(const std::string& text)
{
    xmlitem_tree t;
    xmlparse(text.data(), static_cast<long>(text.size()), t);
    return t;
}

std::string save(const xmlitem_tree& t)
{
    std::string out;
    xmlsave(out, t);
    return out;
}

// "name=value(children)" picture of a tree.
std::string shape(xmlitem_tree::const_iterator begin, xmlitem_tree::const_iterator end)
{
    std::string s;
    for (auto it = begin; it != end; ++it) {
        if (!s.empty())
            s += ' ';
        s += it->first;
        if (!it->second.empty())
            s += "=" + it->second;
        if (it.has_children())
            s += "(" + shape(it.child_begin(), it.child_end()) + ")";
    }
    return s;
}
std::string shape(const xmlitem_tree& t)
{
    return shape(t.begin(), t.end());
}

TEST(XmlItem, NullValueIsEmpty)
{
    xmlitem a("root", nullptr);
    EXPECT_EQ(a.first, "root");
    EXPECT_EQ(a.second, "");
    xmlitem b("k", "v");
    xmlitem c(b);
    EXPECT_EQ(c.second, "v");
}

TEST(XmlSave, ProjectShapeIsPlainReadableXml)
{
    xmlitem_tree t;
    auto root = t.push_back(xmlitem("CDDSprojectDs", nullptr));
    auto file = t.append_child(root, xmlitem("file", nullptr));
    t.append_child(file, xmlitem("name", "Grass.TGA"));
    t.append_child(file, xmlitem("comment", ""));
    EXPECT_EQ(save(t), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<CDDSprojectDs>\n"
                       "  <file>\n"
                       "    <name>Grass.TGA</name>\n"
                       "    <comment/>\n"
                       "  </file>\n"
                       "</CDDSprojectDs>\n");
}

TEST(XmlSave, AwkwardNamesAndValuesAreEscaped)
{
    xmlitem_tree t;
    auto root = t.push_back(xmlitem("my item", "has value"));
    t.append_child(root, xmlitem("v", "a<b&c]]>\"q\"\r\n"));
    t.append_child(root, xmlitem("", "\x01"));
    EXPECT_EQ(save(t), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<_ n=\"my item\" v=\"has value\">\n"
                       "  <v>a&lt;b&amp;c]]&gt;\"q\"&#13;\n</v>\n"
                       "  <_ n=\"\" vx=\"01\"/>\n"
                       "</_>\n");
}

TEST(XmlParse, ReadsHandWrittenProjects)
{
    auto t = parse("<?xml version=\"1.0\"?>\r\n<!-- a comment -->\r\n<root>\r\n <file>\r\n"
                   "  <name>  spaced  </name>\r\n  <text><![CDATA[<raw> & ]]></text>\r\n"
                   "  <multi>line one\r\nline two</multi>\r\n <?pi ignored?></file>\r\n</root>\r\n");
    EXPECT_EQ(shape(t), "root(file(name=  spaced   text=<raw> &  multi=line one\nline two))");
}

TEST(XmlParse, CharacterReferencesAreDecoded)
{
    EXPECT_EQ(shape(parse("<a>&#65;&#x42;&#x0000000043;&#1103;&apos;&quot;</a>")), "a=ABCя'\"");
}

TEST(XmlParse, SeveralTopLevelElementsAreKept)
{
    auto t = parse("<file><name>a</name></file><file><name>b</name></file>");
    EXPECT_EQ(shape(t), "file(name=a) file(name=b)");
}

TEST(XmlParse, TextIsBoundedByTheLengthAlone)
{
    std::string text = "<a>value</a><b>not this</b>";
    xmlitem_tree t;
    xmlparse(text.data(), 12, t);
    EXPECT_EQ(shape(t), "a=value");
}

TEST(XmlParse, Windows1251ProjectsAreConvertedToUtf8)
{
    // "Трава" and "Камень" in the Cyrillic code page of Windows.
    std::string text = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
                       "<CDDSprojectDs><file><name>\xD2\xF0\xE0\xE2\xE0</name>"
                       "<comment>\xCA\xE0\xEC\xE5\xED\xFC</comment></file></CDDSprojectDs>";
    auto t = parse(text);
    EXPECT_EQ(shape(t), "CDDSprojectDs(file(name=Трава comment=Камень))");

    // The same with single quotes and another spelling of the name.
    auto u = parse("<?xml version='1.0' encoding='CP1251' ?><a>\xFF</a>");
    EXPECT_EQ(shape(u), "a=я");
}

TEST(XmlParse, Utf16WithByteOrderMarkIsRead)
{
    std::string text("\xFF\xFE", 2);
    for (char c : std::string("<a>hi</a>")) {
        text += c;
        text += '\0';
    }
    EXPECT_EQ(shape(parse(text)), "a=hi");
    EXPECT_EQ(shape(parse("\xEF\xBB\xBF<a>bom</a>")), "a=bom");
}

TEST(XmlParse, UnknownEncodingIsRefused)
{
    EXPECT_ANY_THROW(parse("<?xml version=\"1.0\" encoding=\"no-such-code-page\"?><a/>"));
}

// Every text here must be refused with an exception, and nothing else.
TEST(XmlParse, MalformedTextIsRefused)
{
    const std::vector<std::string> bad = {
        "",
        " ",
        "<?xml version=\"1.0\"?>",
        "just text",
        "text<a/>",
        "<a>",
        "<a></b>",
        "<a><b></a></b>",
        "<a b=></a>",
        "<a>&undefined;</a>",
        "<a>a & b</a>",
        "<a>&#0;</a>",
        "<a>&#x1;</a>",
        "<a>&#xD800;</a>",
        "<a>&#99999999999;</a>",
        "<a>&#x;</a>",
        "<a>&#x10000000041;</a>",
        "<a>&#18446744073709551681;</a>",
        "<a v=\"&bogus;\"/>",
        "<a><![CDATA[never closed</a>",
        "<a><!-- never closed </a>",
        "</a>",
        "<>",
        std::string("\x00\x01\x02\xFF\xFE\xFD", 6),
        "<a nx=\"zz\"/>",
        "<a vx=\"123\"/>",
    };
    for (const std::string& text : bad)
        EXPECT_ANY_THROW(parse(text)) << "accepted: " << text;
}

TEST(XmlParse, DocumentTypesAndEntitiesAreRefused)
{
    const std::vector<std::string> bad = {
        // Entity expansion bomb.
        "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
        "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
        "<!ENTITY lol2 \"&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;\">"
        "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">]>"
        "<lolz>&lol3;</lolz>",
        // External entity.
        "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]><a>&xxe;</a>",
        // External DTD.
        "<!DOCTYPE a SYSTEM \"http://127.0.0.1:1/a.dtd\"><a/>",
        "<!DOCTYPE a><a/>",
    };
    for (const std::string& text : bad)
        EXPECT_ANY_THROW(parse(text)) << "accepted: " << text;
}

TEST(XmlParse, EveryCutOfADocumentIsRefused)
{
    xmlitem_tree t;
    auto root = t.push_back(xmlitem("CDDSprojectDs", nullptr));
    auto file = t.append_child(root, xmlitem("file", nullptr));
    t.append_child(file, xmlitem("name", "a&b <c>"));
    t.append_child(file, xmlitem("odd name", "\x02"));
    t.append_child(file, xmlitem("tab", "\t"));
    std::string text = save(t);
    ASSERT_EQ(text.back(), '\n');
    // Only the final line end may go.
    for (std::size_t n = 0; n + 1 < text.size(); ++n) {
        xmlitem_tree cut;
        EXPECT_ANY_THROW(xmlparse(text.data(), static_cast<long>(n), cut)) << "length " << n;
    }
    EXPECT_EQ(shape(parse(text.substr(0, text.size() - 1))), shape(t));
}

TEST(XmlParse, FailedParseLeavesTheTreeAlone)
{
    xmlitem_tree t;
    t.push_back(xmlitem("keep", "me"));
    EXPECT_ANY_THROW(xmlparse("<a><b></a>", 10, t));
    EXPECT_EQ(shape(t), "keep=me");
}

TEST(XmlParse, RandomBytesNeverCrash)
{
    std::mt19937 rng(1234);
    const std::string alphabet = "<>/=&;#x\"'![]?-abAB01 \t\r\n\x80\xC3\xFF";
    int accepted = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        const int n = static_cast<int>(rng() % 64);
        for (int k = 0; k < n; ++k)
            text += rng() % 4 == 0 ? static_cast<char>(rng() & 0xFF) : alphabet[rng() % alphabet.size()];
        if (rng() % 2)
            text = "<a>" + text + "</a>";
        try {
            parse(text);
            ++accepted;
        } catch (const std::exception&) {
        }
    }
    EXPECT_LT(accepted, 20000);
}

TEST(XmlParse, DeepNestingWorks)
{
    const int depth = 100000;
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += "<d>";
    text += "x";
    for (int i = 0; i < depth; ++i)
        text += "</d>";
    auto t = parse(text);
    int levels = 0;
    auto it = t.begin();
    while (it.has_children()) {
        it = it.child_begin();
        ++levels;
    }
    EXPECT_EQ(levels, depth - 1);
    EXPECT_EQ(it->second, "x");
    std::string again = save(t);
    EXPECT_EQ(parse(again).begin()->first, "d");
}

} // namespace
