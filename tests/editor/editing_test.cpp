// Editing one or several textures through the combined texture, stepping
// with ">>" and "<<", and inserting a blank texture.
#include <gtest/gtest.h>

#include "editor/core/atlasdeskdoc.h"
#include "editor/core/projecttree.h"
#include "editor/core/texturetable.h"
#include "tests/editor/fakeui.h"

using namespace atlasdesk;

namespace {

const std::string* find(const PropertyList& list, const std::string& key)
{
    for (const auto& [k, v] : list)
        if (k == key)
            return &v;
    return nullptr;
}

void set(PropertyList& list, const std::string& key, const std::string& value)
{
    for (auto& [k, v] : list)
        if (k == key)
            v = value;
}

struct EditFixture : ::testing::Test {
    FakeUi ui;
    AtlasdeskDoc doc{ui};
    TextureTable table{doc};
    std::vector<PropertyList> shown;  // what each dialog was given

    void load(const std::vector<std::string>& files)
    {
        for (const auto& f : files)
            addTextureFromFile(doc.project(), f);
        table.refill();
    }
    void select(std::initializer_list<int> rows)
    {
        table.selectionModel()->clearSelection();
        for (int r : rows)
            table.selectionModel()->select(table.index(r, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    // A dialog that records what it shows, applies `change` and closes with
    // the next of `results`.
    TextureTable::DialogRunner dialog(std::vector<int> results,
                                      std::function<void(PropertyList&)> change = nullptr)
    {
        return [this, results, change, i = size_t(0)](PropertyList& combined) mutable {
            shown.push_back(combined);
            if (change)
                change(combined);
            return i < results.size() ? results[i++] : TextureTable::kCancel;
        };
    }
    std::string prop(int row, const char* key)
    {
        const std::string* v = property(table.texture(row), key);
        return v ? *v : "<missing>";
    }
};

} // namespace

using Editing = EditFixture;

TEST_F(Editing, DifferingValuesShowAStarAndOkKeepsThem)
{
    load({"/t/a.png", "/t/b.png"});
    setProperty(doc.project(), table.texture(0), "comment", "a");
    setProperty(doc.project(), table.texture(1), "comment", "b");
    select({0, 1});
    table.edit(TextureTable::EditMode::Selected, dialog({TextureTable::kOk}));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(*find(shown[0], "comment"), "*");
    EXPECT_EQ(*find(shown[0], "d3dformat"), "D3DFMT_DXT1");
    EXPECT_EQ(prop(0, "comment"), "a");
    EXPECT_EQ(prop(1, "comment"), "b");
    EXPECT_TRUE(doc.isModified());
}

TEST_F(Editing, AValueOnlyOneTextureHasGoesToAll)
{
    load({"/t/a.png", "/t/b.png"});
    setProperty(doc.project(), table.texture(0), "comment", "x");
    doc.project().erase(project::find_property(table.texture(1), "comment"));
    select({0, 1});
    table.edit(TextureTable::EditMode::Selected, dialog({TextureTable::kOk}));
    EXPECT_EQ(*find(shown[0], "comment"), "x");
    EXPECT_EQ(prop(0, "comment"), "x");
    EXPECT_EQ(prop(1, "comment"), "x");
    EXPECT_EQ(table.text(1, 4), QStringLiteral("x"));
}

TEST_F(Editing, SeveralTexturesNeverShowOrChangeNamesAndFiles)
{
    load({"/t/a.png", "/t/b.png", "/t/c.png"});
    select({0, 2});
    table.edit(TextureTable::EditMode::Selected, dialog({TextureTable::kOk}, [](PropertyList& c) {
                   set(c, "miplevels", "4");
               }));
    EXPECT_EQ(find(shown[0], "name"), nullptr);
    EXPECT_EQ(find(shown[0], "filename"), nullptr);
    EXPECT_EQ(prop(0, "miplevels"), "4");
    EXPECT_EQ(prop(2, "miplevels"), "4");
    EXPECT_EQ(prop(1, "miplevels"), "Maximum");
    EXPECT_EQ(prop(0, "name"), "a.png");
    EXPECT_EQ(prop(2, "filename"), "/t/c.png");
}

TEST_F(Editing, SingleEditShowsNameAndFileAndCompletesTheLevelKeys)
{
    Tree& t = doc.project();
    Node tex = t.append_child(project::root(t), xmlitem("file", nullptr));
    t.append_child(tex, xmlitem("name", "bare"));
    table.refill();
    select({0});
    table.edit(TextureTable::EditMode::Selected, dialog({TextureTable::kOk}));
    const PropertyList expected = {{"name", "bare"}, {"bHigh", "*"}, {"bMedium", "*"}, {"bLow", "*"},
                                   {"HighLevel", "1"}, {"MediumLevel", "2"}, {"LowLevel", "3"}};
    EXPECT_EQ(shown[0], expected);
    EXPECT_EQ(prop(0, "HighLevel"), "1");
    EXPECT_EQ(prop(0, "MediumLevel"), "2");
    EXPECT_EQ(prop(0, "LowLevel"), "3");
    EXPECT_EQ(prop(0, "bHigh"), "<missing>");  // "*" is never stored
}

TEST_F(Editing, CancelAndNoRowChangeNothing)
{
    load({"/t/a.png"});
    table.edit(TextureTable::EditMode::Selected, dialog({TextureTable::kOk}));
    EXPECT_TRUE(shown.empty());
    select({0});
    table.edit(TextureTable::EditMode::Selected, dialog({TextureTable::kCancel}, [](PropertyList& c) {
                   set(c, "comment", "changed");
               }));
    EXPECT_EQ(prop(0, "comment"), "png");
    EXPECT_FALSE(doc.isModified());
}

TEST_F(Editing, NextAndPreviousApplyTheDialogThenStepAndStopAtTheEnds)
{
    load({"/t/a.png", "/t/b.png", "/t/c.png", "/t/d.png"});
    select({0, 1});
    table.setFocusedRow(1);
    using T = TextureTable;
    // >> from a two-row edit applies to both rows, then goes to the row
    // after the focus, alone; >> on the last row opens it again; << goes
    // back; Cancel there keeps what the steps applied.
    int step = 0;
    table.edit(T::EditMode::Selected,
               dialog({T::kNext, T::kNext, T::kNext, T::kPrevious, T::kCancel}, [&step](PropertyList& c) {
                   set(c, "comment", "step" + std::to_string(step++));
               }));
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(find(shown[0], "name"), nullptr);
    EXPECT_EQ(*find(shown[1], "name"), "c.png");
    EXPECT_EQ(*find(shown[2], "name"), "d.png");
    EXPECT_EQ(*find(shown[3], "name"), "d.png");
    EXPECT_EQ(*find(shown[4], "name"), "c.png");
    // The dialog on d.png shows what the step before stored there.
    EXPECT_EQ(*find(shown[3], "comment"), "step2");
    EXPECT_EQ(prop(0, "comment"), "step0");
    EXPECT_EQ(prop(1, "comment"), "step0");
    EXPECT_EQ(prop(2, "comment"), "step1");
    EXPECT_EQ(prop(3, "comment"), "step3");
    EXPECT_EQ(table.text(3, 4), QStringLiteral("step3"));
    EXPECT_TRUE(doc.isModified());
}

TEST_F(Editing, InsertWithoutFocusPutsABlankTextureFirstAndEditsIt)
{
    load({"/t/a.png", "/t/b.png"});
    table.selectionModel()->clear();
    table.insertBlank(dialog({TextureTable::kCancel}));
    ASSERT_EQ(table.rowCount(), 3);
    EXPECT_EQ(table.text(0, 0), QString());
    EXPECT_EQ(table.text(1, 0), QStringLiteral("a.png"));
    EXPECT_EQ(table.focusedRow(), 0);
    EXPECT_TRUE(doc.isModified());
    // The texture is the tree's last, and the dialog showed the blank defaults.
    EXPECT_EQ(textures(doc.project()).back(), table.texture(0));
    ASSERT_EQ(shown.size(), 1u);
    const PropertyList blank = {{"name", ""}, {"d3dformat", "D3DFMT_DXT1"}, {"miplevels", "Maximum"},
                                {"filename", ""}, {"comment", ""}, {"bHigh", "1"}, {"bMedium", "1"},
                                {"bLow", "1"}, {"HighLevel", "0"}, {"MediumLevel", "1"}, {"LowLevel", "2"}};
    EXPECT_EQ(shown[0], blank);
}

TEST_F(Editing, InsertGoesToTheFocusedRowAndEditsOnlyIt)
{
    load({"/t/a.png", "/t/b.png"});
    select({0});
    table.setFocusedRow(1);
    table.insertBlank(dialog({TextureTable::kOk}, [](PropertyList& c) { set(c, "name", "fresh"); }));
    EXPECT_EQ(table.text(1, 0), QStringLiteral("fresh"));
    EXPECT_EQ(table.text(0, 0), QStringLiteral("a.png"));
    // Other rows keep their selection.
    EXPECT_EQ(table.selectedRows(), (std::vector<int>{0, 1}));
}
