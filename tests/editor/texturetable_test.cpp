// The texture list's rows and commands, without a window.
#include <QSize>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "editor/core/atlasdeskdoc.h"
#include "editor/core/fieldtable.h"
#include "editor/core/projecttree.h"
#include "editor/core/texturetable.h"
#include "tests/editor/fakeui.h"

using namespace atlasdesk;
using Answer = UiServices::Answer;

namespace {

struct TableFixture : ::testing::Test {
    FakeUi ui;
    AtlasdeskDoc doc{ui};
    TextureTable table{doc};

    // Adds textures straight to the tree, then refills as after an open.
    void load(const std::vector<std::string>& files)
    {
        for (const auto& f : files)
            addTextureFromFile(doc.project(), f);
        table.refill();
    }
    std::vector<std::string> column(int c) const
    {
        std::vector<std::string> out;
        for (int r = 0; r < table.rowCount(); ++r)
            out.push_back(table.text(r, c).toStdString());
        return out;
    }
    std::vector<std::string> treeNames()
    {
        std::vector<std::string> out;
        for (Node t : textures(doc.project()))
            out.push_back(*property(t, "name"));
        return out;
    }
    void select(std::initializer_list<int> rows)
    {
        table.selectionModel()->clearSelection();
        for (int r : rows)
            table.selectionModel()->select(table.index(r, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
};

using Names = std::vector<std::string>;

} // namespace

TEST(FieldTable, IndexIgnoresLetterCaseAndKnowsOnlyTheElevenProperties)
{
    ASSERT_NE(findField("MIPLEVELS"), nullptr);
    EXPECT_EQ(findField("MIPLEVELS")->listColumn, 2);
    EXPECT_EQ(findField("highlevel")->controlId, 1011);
    EXPECT_EQ(findField("names"), nullptr);
    EXPECT_EQ(findField(""), nullptr);
    int listed = 0;
    for (const Field* f = kFieldTable; f->name; ++f)
        listed += f->listColumn >= 0;
    EXPECT_EQ(listed, kListColumns);
    EXPECT_STREQ(fieldForColumn(2)->heading, "Mips");
    EXPECT_EQ(fieldForColumn(5), nullptr);
}

using Table = TableFixture;

TEST_F(Table, ColumnsCarryTheirHeadingsAndWidths)
{
    const char* headings[] = {"Name", "Format", "Mips", "File", "Comment"};
    const int widths[] = {120, 120, 40, 200, 200};
    ASSERT_EQ(table.columnCount(), 5);
    for (int c = 0; c < 5; ++c) {
        EXPECT_EQ(table.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), QString(headings[c]));
        EXPECT_EQ(table.headerData(c, Qt::Horizontal, Qt::SizeHintRole).toSize().width(), widths[c]);
    }
}

TEST_F(Table, AddedFilesGetTheImageDefaults)
{
    ui.openNames = {{"/art/Grass.TGA", "/art/rock.bmp", "/art/noext"}};
    table.addFiles();
    ASSERT_EQ(table.rowCount(), 3);
    EXPECT_TRUE(doc.isModified());
    EXPECT_EQ(column(0), (Names{"Grass.TGA", "rock.bmp", "noext"}));
    EXPECT_EQ(column(1), (Names{"D3DFMT_DXT5", "D3DFMT_DXT1", "D3DFMT_DXT1"}));
    EXPECT_EQ(column(2), (Names{"Maximum", "Maximum", "Maximum"}));
    EXPECT_EQ(column(3), (Names{"/art/Grass.TGA", "/art/rock.bmp", "/art/noext"}));
    EXPECT_EQ(column(4), (Names{"TGA", "bmp", "noext"}));
    const PropertyList expected = {{"name", "Grass.TGA"}, {"d3dformat", "D3DFMT_DXT5"}, {"miplevels", "Maximum"},
                                   {"filename", "/art/Grass.TGA"}, {"comment", "TGA"}, {"bHigh", "1"},
                                   {"bMedium", "1"}, {"bLow", "1"}, {"HighLevel", "0"}, {"MediumLevel", "1"},
                                   {"LowLevel", "2"}};
    EXPECT_EQ(properties(table.texture(0)), expected);
}

TEST_F(Table, CancelledFileDialogChangesNothing)
{
    table.addFiles();
    EXPECT_EQ(table.rowCount(), 0);
    EXPECT_FALSE(doc.isModified());
}

TEST_F(Table, AddingAListedFileAsksAndNoLetsTheNextTakeItsPlace)
{
    load({"/art/a.png", "/art/b.png"});
    table.setFocusedRow(1);
    ui.openNames = {{"/ART/A.PNG", "/art/c.png"}};
    ui.answers = {Answer::No};
    table.addFiles();
    EXPECT_EQ(ui.questions, QStringList{QStringLiteral("Файл /ART/A.PNG уже есть в списке. Добавить?")});
    EXPECT_EQ(column(0), (Names{"a.png", "c.png", "b.png"}));
    // The tree gets the new texture at its end.
    EXPECT_EQ(treeNames(), (Names{"a.png", "b.png", "c.png"}));
}

TEST_F(Table, YesAddsAgainAndCancelKeepsWhatWasAdded)
{
    load({"/art/a.png"});
    ui.openNames = {{"/art/new.png", "/art/A.png", "/art/a.PNG", "/art/late.png"}};
    ui.answers = {Answer::Yes, Answer::Cancel};
    table.addFiles();
    EXPECT_EQ(ui.questions.size(), 2);
    EXPECT_EQ(column(0), (Names{"new.png", "A.png", "a.png"}));
    EXPECT_TRUE(doc.isModified());
}

TEST_F(Table, SortByMipsIsByteOrderWithMissingFirst)
{
    load({"/t/two", "/t/ten", "/t/max", "/t/none", "/t/one"});
    const char* mips[] = {"2", "10", "Maximum", nullptr, "1"};
    auto t = textures(doc.project());
    for (size_t i = 0; i < t.size(); ++i)
        if (mips[i])
            setProperty(doc.project(), t[i], "miplevels", mips[i]);
        else
            doc.project().erase(project::find_property(t[i], "miplevels"));
    table.refill();
    table.selectionModel()->setCurrentIndex(table.index(2, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);

    table.sortByColumn(2);
    EXPECT_EQ(column(2), (Names{"", "1", "10", "2", "Maximum"}));
    EXPECT_EQ(column(0), (Names{"none", "one", "ten", "two", "max"}));
    // The tree keeps its order; the selection and focus stay on their texture.
    EXPECT_EQ(treeNames(), (Names{"two", "ten", "max", "none", "one"}));
    EXPECT_EQ(table.selectedRows(), std::vector<int>{4});
    EXPECT_EQ(table.focusedRow(), 4);

    setProperty(doc.project(), table.texture(4), "name", "Zed");
    table.fillRow(4);
    table.sortByColumn(0);  // upper case before lower case
    EXPECT_EQ(column(0), (Names{"Zed", "none", "one", "ten", "two"}));
}

TEST_F(Table, CutThenPasteMovesTexturesToTheEndOfTheProject)
{
    load({"/t/a", "/t/b", "/t/c", "/t/d", "/t/e"});
    select({0, 1, 3});
    table.cut();
    EXPECT_EQ(column(0), (Names{"c", "e"}));
    EXPECT_EQ(treeNames(), (Names{"c", "e"}));

    table.selectionModel()->clear();
    table.paste();
    // No focused row: the pasted rows go first, their textures last.
    EXPECT_EQ(column(0), (Names{"a", "b", "d", "c", "e"}));
    EXPECT_EQ(treeNames(), (Names{"c", "e", "a", "b", "d"}));
    EXPECT_EQ(properties(table.texture(0)).size(), 11u);
}

TEST_F(Table, PasteGoesToTheFocusedRow)
{
    load({"/t/a", "/t/b", "/t/c"});
    select({0});
    table.copy();
    table.setFocusedRow(2);
    table.paste();
    EXPECT_EQ(column(0), (Names{"a", "b", "a", "c"}));
    EXPECT_EQ(treeNames(), (Names{"a", "b", "c", "a"}));
}

TEST_F(Table, PastingAWholeProjectAddsOneRow)
{
    Tree other;
    resetToNewProject(other);
    addTextureFromFile(other, "/x/one.png");
    addTextureFromFile(other, "/x/two.png");
    ui.clipboard = QString::fromStdString(saveText(other));
    table.paste();
    ASSERT_EQ(table.rowCount(), 1);
    EXPECT_EQ(textures(doc.project()).size(), 1u);
    EXPECT_EQ(table.texture(0)->first, "CDDSprojectDs");
    EXPECT_TRUE(doc.isModified());
}

TEST_F(Table, ClipboardTextIsUnicodeWhateverItsDeclarationSays)
{
    // Old projects declare windows-1251; text on the clipboard is already
    // decoded, so the declaration must not decode it a second time.
    Tree project, clip;
    resetToNewProject(project);
    const Node grass = addTextureFromFile(project, "/art/Трава.tga");
    setProperty(project, grass, "comment", "Трава");
    appendTopLevelCopy(clip, grass);
    std::string body = saveText(clip);
    body.erase(0, body.find("?>") + 2);
    for (const char* declaration : {"<?xml version=\"1.0\" encoding=\"windows-1251\"?>",
                                    "\xEF\xBB\xBF <?xml version='1.0' encoding='cp1251' ?>\n",
                                    "<?xml version=\"1.0\"?>", ""}) {
        ui.clipboard = QString::fromStdString(declaration + body);
        table.paste();
        const Node texture = table.texture(0);
        EXPECT_EQ(*property(texture, "name"), "Трава.tga") << declaration;
        EXPECT_EQ(*property(texture, "comment"), "Трава") << declaration;
        EXPECT_EQ(*property(texture, "filename"), "/art/Трава.tga") << declaration;
    }
    EXPECT_EQ(table.rowCount(), 4);
}

TEST_F(Table, UnparsableClipboardPastesNothing)
{
    load({"/t/a"});
    for (const char* text : {"", "plain words", "<file><name>x</file>"}) {
        ui.clipboard = QString::fromUtf8(text);
        table.paste();
        EXPECT_EQ(table.rowCount(), 1) << text;
    }
    EXPECT_FALSE(doc.isModified());
}

TEST_F(Table, ClipboardHoldsTheSelectedTexturesWithoutARoot)
{
    load({"/t/a", "/t/b", "/t/c"});
    select({2, 0});
    table.copy();
    Tree clip;
    const QByteArray text = ui.clipboard.toUtf8();
    ASSERT_TRUE(parseText(text.constData(), size_t(text.size()), clip));
    auto top = topLevel(clip);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(top[0]->first, "file");
    EXPECT_EQ(*property(top[0], "name"), "a");
    EXPECT_EQ(*property(top[1], "name"), "c");
    EXPECT_FALSE(doc.isModified());
}

TEST_F(Table, DeletingAllRowsLeavesTheRootAlone)
{
    load({"/t/a", "/t/b", "/t/c"});
    table.selectAll();
    EXPECT_EQ(table.selectedRows(), (std::vector<int>{0, 1, 2}));
    table.deleteSelected();
    EXPECT_EQ(table.rowCount(), 0);
    ASSERT_EQ(topLevel(doc.project()).size(), 1u);
    EXPECT_EQ(doc.project().begin()->first, "CDDSprojectDs");
    EXPECT_FALSE(doc.project().begin().has_children());
    EXPECT_TRUE(doc.isModified());
}

TEST_F(Table, RowsShowListedPropertiesWhateverTheirLetterCase)
{
    Tree& t = doc.project();
    Node tex = t.append_child(project::root(t), xmlitem("file", nullptr));
    t.append_child(tex, xmlitem("NAME", "upper"));
    t.append_child(tex, xmlitem("Comment", "mixed"));
    t.append_child(tex, xmlitem("bHigh", "1"));
    table.refill();
    EXPECT_EQ(table.text(0, 0), QStringLiteral("upper"));
    EXPECT_EQ(table.text(0, 4), QStringLiteral("mixed"));
    EXPECT_EQ(table.text(0, 1), QString());
}

TEST_F(Table, NewAndOpenRefillTheRows)
{
    load({"/t/a", "/t/b"});
    doc.newDocument();
    EXPECT_EQ(table.rowCount(), 0);
}
