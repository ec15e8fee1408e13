#include "project/project.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using project::iterator;

// The eleven (name, value) pairs of a texture, in order.
std::vector<std::pair<std::string, std::string>> properties(project::const_iterator texture)
{
    std::vector<std::pair<std::string, std::string>> out;
    for (auto it = texture.child_begin(); it != texture.child_end(); ++it)
        out.emplace_back(it->first, it->second);
    return out;
}

std::vector<std::pair<std::string, std::string>> expected(std::vector<std::string> values)
{
    std::vector<std::pair<std::string, std::string>> out;
    for (std::size_t i = 0; i < project::property_count; ++i)
        out.emplace_back(project::property_names[i], values[i]);
    return out;
}

TEST(Project, NewProjectIsOneEmptyRootAndSurvivesSaving)
{
    project::tree t;
    t.push_back(xmlitem("leftover", nullptr));
    project::new_project(t);
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(project::root(t)->first, "CDDSprojectDs");
    EXPECT_EQ(project::root(t)->second, "");
    EXPECT_FALSE(project::root(t).has_children());
    EXPECT_EQ(std::next(t.begin()), t.end());

    std::string text = project::to_text(t);
    project::tree back;
    xmlparse(text.data(), static_cast<long>(text.size()), back);
    ASSERT_FALSE(back.empty());
    EXPECT_EQ(back.begin()->first, "CDDSprojectDs");
    EXPECT_FALSE(back.begin().has_children());
    EXPECT_EQ(std::next(back.begin()), back.end());
}

TEST(Project, TgaFileGetsDxt5AndItsExtensionAsComment)
{
    project::tree t;
    project::new_project(t);
    iterator tex = project::add_texture_from_file(t, "D:\\art\\Grass.TGA");
    EXPECT_EQ(tex->first, "file");
    EXPECT_EQ(tex->second, "");
    EXPECT_EQ(properties(tex), expected({"Grass.TGA", "D3DFMT_DXT5", "Maximum", "D:\\art\\Grass.TGA", "TGA", "1", "1",
                                         "1", "0", "1", "2"}));
}

TEST(Project, OtherFilesGetDxt1)
{
    project::tree t;
    project::new_project(t);
    iterator tex = project::add_texture_from_file(t, "D:\\art\\rock.bmp");
    EXPECT_EQ(project::property(tex, "d3dformat"), "D3DFMT_DXT1");
    EXPECT_EQ(project::property(tex, "comment"), "bmp");
    EXPECT_EQ(project::property(project::add_texture_from_file(t, "/x/a.tga.png"), "d3dformat"), "D3DFMT_DXT1");
    EXPECT_EQ(project::property(project::add_texture_from_file(t, "/x/b.tGa"), "d3dformat"), "D3DFMT_DXT5");
}

TEST(Project, PathsSplitAtEitherSlashAndNamesWithoutDot)
{
    project::tree t;
    project::new_project(t);
    iterator a = project::add_texture_from_file(t, "/home/art/stone");
    EXPECT_EQ(project::property(a, "name"), "stone");
    EXPECT_EQ(project::property(a, "comment"), "stone");
    EXPECT_EQ(project::property(a, "d3dformat"), "D3DFMT_DXT1");
    iterator b = project::add_texture_from_file(t, "C:\\maps.v2/tiles\\wall");
    EXPECT_EQ(project::property(b, "name"), "wall");
    EXPECT_EQ(project::property(b, "comment"), "wall");
    iterator c = project::add_texture_from_file(t, "plain.dds");
    EXPECT_EQ(project::property(c, "name"), "plain.dds");
    EXPECT_EQ(project::property(c, "comment"), "dds");
    EXPECT_EQ(project::property(c, "filename"), "plain.dds");
    iterator d = project::add_texture_from_file(t, "dir/ends.");
    EXPECT_EQ(project::property(d, "comment"), "");
}

TEST(Project, BlankTexturesAndAppendOrder)
{
    project::tree t;
    project::new_project(t);
    project::add_texture_from_file(t, "a.bmp");
    iterator blank = project::add_blank_texture(t);
    EXPECT_EQ(properties(blank), expected({"", "D3DFMT_DXT1", "Maximum", "", "", "1", "1", "1", "0", "1", "2"}));
    project::add_texture_from_file(t, "c.bmp");
    std::vector<std::string> names;
    for (auto it = project::root(t).child_begin(); it != project::root(t).child_end(); ++it)
        names.push_back(project::property(it, "name", "?"));
    EXPECT_EQ(names, (std::vector<std::string>{"a.bmp", "", "c.bmp"}));
}

TEST(Project, TextureInATreeWithoutRootCreatesTheRoot)
{
    project::tree t;
    project::add_blank_texture(t);
    EXPECT_EQ(project::root(t)->first, "CDDSprojectDs");
    EXPECT_EQ(project::root(t).child_begin()->first, "file");
}

TEST(Project, PropertyLookupAndSetAreExact)
{
    project::tree t;
    project::new_project(t);
    iterator tex = project::add_blank_texture(t);
    EXPECT_FALSE(project::find_property(tex, "Name").is_node());
    EXPECT_EQ(project::property(tex, "NAME", "none"), "none");
    project::set_property(t, tex, "name", "stone");
    EXPECT_EQ(project::property(tex, "name"), "stone");
    EXPECT_EQ(properties(tex).size(), project::property_count);
    project::set_property(t, tex, "Name", "other");
    auto all = properties(tex);
    ASSERT_EQ(all.size(), project::property_count + 1);
    EXPECT_EQ(all.back(), std::make_pair(std::string("Name"), std::string("other")));
    EXPECT_EQ(all.front().second, "stone");
}

TEST(Project, TextureLookupByFileIgnoresAsciiCaseOnly)
{
    project::tree t;
    project::new_project(t);
    iterator no_file = t.append_child(project::root(t), xmlitem("file", nullptr));
    t.append_child(no_file, xmlitem("name", "x"));
    iterator a = project::add_texture_from_file(t, "D:\\Art\\Grass.TGA");
    iterator b = project::add_texture_from_file(t, "/art/Трава.tga");
    EXPECT_EQ(project::find_texture(t, "d:\\art\\grass.tga"), a);
    EXPECT_EQ(project::find_texture(t, "/art/Трава.TGA"), b);
    EXPECT_FALSE(project::find_texture(t, "/art/трава.tga").is_node());
    EXPECT_FALSE(project::find_texture(t, "").is_node());
    project::tree empty;
    EXPECT_FALSE(project::find_texture(empty, "a").is_node());
}

TEST(Project, FormatAndMipLists)
{
    EXPECT_STREQ(project::format_names[0], "D3DFMT_A8R8G8B8");
    EXPECT_STREQ(project::format_names[6], "D3DFMT_P8");
    EXPECT_STREQ(project::format_names[11], "D3DFMT_DXT1");
    EXPECT_STREQ(project::format_names[15], "D3DFMT_DXT5");
    EXPECT_STREQ(project::mip_counts[0], "Maximum");
    for (int i = 1; i <= 10; ++i)
        EXPECT_EQ(project::mip_counts[i], std::to_string(i));
}

TEST(Project, FileRoundTripKeepsEveryTexture)
{
    testutil::TempDir dir;
    project::tree t;
    project::new_project(t);
    project::add_texture_from_file(t, "D:\\art\\Grass.TGA");
    iterator odd = project::add_blank_texture(t);
    project::set_property(t, odd, "comment", "  <two\r\nlines> & \"quotes\"  ");
    project::set_property(t, odd, "name", "Камень");
    const std::string path = (dir / "p.xml").string();
    ASSERT_TRUE(project::save_file(t, path));
    EXPECT_EQ(testutil::ReadText(path), project::to_text(t));

    project::tree back;
    ASSERT_TRUE(project::load_file(path, back));
    EXPECT_EQ(project::to_text(back), project::to_text(t));
    auto second = std::next(project::root(back).child_begin());
    EXPECT_EQ(project::property(second, "comment"), "  <two\r\nlines> & \"quotes\"  ");
}

TEST(Project, UnreadableFilesLeaveTheTreeAlone)
{
    testutil::TempDir dir;
    project::tree t;
    project::new_project(t);
    project::add_blank_texture(t);
    const std::string before = project::to_text(t);
    EXPECT_FALSE(project::load_file((dir / "missing.xml").string(), t));
    testutil::WriteText(dir / "empty.xml", "");
    EXPECT_FALSE(project::load_file((dir / "empty.xml").string(), t));
    testutil::WriteText(dir / "bad.xml", "<CDDSprojectDs><file></CDDSprojectDs>");
    EXPECT_FALSE(project::load_file((dir / "bad.xml").string(), t));
    EXPECT_EQ(project::to_text(t), before);
}

TEST(Project, RootWithAnotherNameStillOpens)
{
    testutil::TempDir dir;
    testutil::WriteText(dir / "other.xml", "<Something><file><name>n</name></file></Something>");
    project::tree t;
    ASSERT_TRUE(project::load_file((dir / "other.xml").string(), t));
    EXPECT_EQ(project::root(t)->first, "Something");
    EXPECT_EQ(project::property(project::root(t).child_begin(), "name"), "n");
}

TEST(Project, FailedSaveKeepsTheOldFile)
{
    testutil::TempDir dir;
    project::tree t;
    project::new_project(t);
    EXPECT_FALSE(project::save_file(t, (dir / "no" / "folder.xml").string()));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

} // namespace
