// The project document: new, open, save, the save questions and the CDDS
// build command, all answered by a scripted user.
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "editor/core/atlasdeskdoc.h"
#include "editor/core/projecttree.h"
#include "tests/editor/fakeui.h"

using namespace atlasdesk;
using Answer = UiServices::Answer;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

Tree parseFile(const QString& path)
{
    const QByteArray bytes = readFile(path);
    Tree t;
    EXPECT_TRUE(parseText(bytes.constData(), size_t(bytes.size()), t));
    return t;
}

struct DocFixture : ::testing::Test {
    QTemporaryDir dir;
    FakeUi ui;
    AtlasdeskDoc doc{ui};

    QString path(const QString& name) const { return dir.filePath(name); }
    void addTexture(const std::string& file) { addTextureFromFile(doc.project(), file); }
};

} // namespace

using Document = DocFixture;

TEST_F(Document, NewProjectSavesToSingleRootWithoutChildren)
{
    addTexture("/art/a.png");
    ASSERT_TRUE(doc.newDocument());
    EXPECT_FALSE(doc.isModified());
    EXPECT_TRUE(doc.pathName().isEmpty());
    ASSERT_TRUE(doc.saveDocument(path("new.xml")));

    Tree back = parseFile(path("new.xml"));
    ASSERT_EQ(topLevel(back).size(), 1u);
    EXPECT_EQ(back.begin()->first, "CDDSprojectDs");
    EXPECT_FALSE(back.begin().has_children());
}

TEST_F(Document, SaveThenOpenGivesTheSameTextures)
{
    addTexture("/art/Grass.TGA");
    addTexture("/art/Имя с пробелом.bmp");
    doc.setModified();
    ASSERT_TRUE(doc.saveDocument(path("p.xml")));
    EXPECT_FALSE(doc.isModified());
    EXPECT_EQ(doc.title(), QStringLiteral("p.xml"));

    AtlasdeskDoc other(ui);
    QSignalSpy replaced(&other, &AtlasdeskDoc::contentsReplaced);
    ASSERT_TRUE(other.openDocument(path("p.xml")));
    EXPECT_EQ(replaced.count(), 1);
    EXPECT_FALSE(other.isModified());
    EXPECT_EQ(other.pathName(), QFileInfo(path("p.xml")).absoluteFilePath());
    auto t = textures(other.project());
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(*property(t[1], "filename"), "/art/Имя с пробелом.bmp");
    EXPECT_EQ(properties(t[0]), properties(textures(doc.project())[0]));
}

TEST_F(Document, UnreadableFilesKeepTheCurrentProject)
{
    addTexture("/art/keep.png");
    doc.setModified();
    ASSERT_TRUE(doc.saveDocument(path("keep.xml")));
    doc.setModified();
    const std::string before = saveText(doc.project());

    writeFile(path("garbage.xml"), "this is <not xml");
    writeFile(path("empty.xml"), "");
    writeFile(path("noelement.xml"), "<?xml version=\"1.0\"?>\n");
    writeFile(path("truncated.xml"), saveText(doc.project()).substr(0, 40).c_str());
    for (const char* name : {"garbage.xml", "empty.xml", "noelement.xml", "truncated.xml", "missing.xml"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(doc.openDocument(path(name)));
        EXPECT_EQ(saveText(doc.project()), before);
        EXPECT_TRUE(doc.isModified());
        EXPECT_EQ(doc.pathName(), QFileInfo(path("keep.xml")).absoluteFilePath());
    }
}

TEST_F(Document, ProjectWithAnotherRootNameOpens)
{
    writeFile(path("other.xml"), "<?xml version=\"1.0\"?><Something><file/></Something>");
    ASSERT_TRUE(doc.openDocument(path("other.xml")));
    EXPECT_EQ(doc.project().begin()->first, "Something");
    EXPECT_EQ(textures(doc.project()).size(), 1u);
}

TEST_F(Document, SaveIsAllOrNothing)
{
    addTexture("/art/a.png");
    ASSERT_TRUE(doc.saveDocument(path("p.xml")));
    const QByteArray good = readFile(path("p.xml"));
    addTexture("/art/b.png");
    doc.setModified();
    EXPECT_FALSE(doc.saveDocument(path("no/such/folder/p.xml")));
    ASSERT_EQ(ui.warnings.size(), 1);
    EXPECT_TRUE(ui.warnings[0].startsWith("Failed to save document.\n" + path("no/such/folder/p.xml") + ": "));
    EXPECT_TRUE(doc.isModified());
    EXPECT_EQ(readFile(path("p.xml")), good);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"p.xml"});
}

TEST_F(Document, SaveQuestionBeforeNewAndOpen)
{
    addTexture("/art/a.png");
    doc.setModified();
    ui.answers = {Answer::Cancel};
    EXPECT_FALSE(doc.fileNew());
    EXPECT_EQ(textures(doc.project()).size(), 1u);

    ui.answers = {Answer::No};
    EXPECT_TRUE(doc.fileNew());
    EXPECT_TRUE(textures(doc.project()).empty());
    EXPECT_EQ(ui.questions.last(), QStringLiteral("Save changes to Untitled?"));

    // Yes on a project without a file asks for a name; Cancel there stops.
    addTexture("/art/b.png");
    doc.setModified();
    ui.answers = {Answer::Yes};
    EXPECT_FALSE(doc.fileOpen(path("whatever.xml")));
    EXPECT_EQ(textures(doc.project()).size(), 1u);

    ui.answers = {Answer::Yes};
    ui.saveNames = {path("saved.xml")};
    writeFile(path("target.xml"), "<CDDSprojectDs/>");
    EXPECT_TRUE(doc.fileOpen(path("target.xml")));
    EXPECT_TRUE(QFile::exists(path("saved.xml")));
    EXPECT_TRUE(textures(doc.project()).empty());
}

TEST_F(Document, OutputDialogStartsWithTheProjectNameCutAtTheLastDot)
{
    struct Case {
        QString project, cdds;
    } cases[] = {{"maps/tiles.xml", "maps/tiles.cdds"}, {"maps/tiles", "maps/tiles.cdds"},
                 {"maps.v2/tiles", "maps.cdds"}};
    ASSERT_FALSE(dir.path().contains(QLatin1Char('.')));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.project.toStdString());
        QDir().mkpath(QFileInfo(path(c.project)).absolutePath());
        ASSERT_TRUE(doc.saveDocument(path(c.project)));
        ui.saveInitial.clear();
        doc.build();
        ASSERT_EQ(ui.saveInitial.size(), 1);
        EXPECT_EQ(ui.saveInitial[0], path(c.cdds));
        EXPECT_EQ(ui.saveTitles.last(), QStringLiteral("Select CDDS file"));
        EXPECT_EQ(ui.saveFilters.last(), QStringLiteral("CDDS Files (*.cdds)"));
        EXPECT_TRUE(ui.builds.isEmpty());  // the dialog was cancelled
    }
}

TEST_F(Document, BuildRunsTheConverterWithAnArgumentList)
{
    qputenv("ATLASDESK_CONVERTER", "/opt/some where/Mipforge");
    ASSERT_TRUE(doc.saveDocument(path("my project.xml")));
    ui.saveNames = {path("out put.cdds")};
    doc.build();
    qunsetenv("ATLASDESK_CONVERTER");
    ASSERT_EQ(ui.builds.size(), 1);
    EXPECT_EQ(ui.builds[0], QStringList({"/opt/some where/Mipforge", "-xml", path("my project.xml"),
                                         path("out put.cdds")})
                                .join('|'));
    EXPECT_TRUE(ui.questions.isEmpty());  // nothing unsaved, nothing asked
}

TEST_F(Document, NoAtTheSaveQuestionBuildsFromDiskAndStaysModified)
{
    ASSERT_TRUE(doc.saveDocument(path("p.xml")));
    const QByteArray onDisk = readFile(path("p.xml"));
    addTexture("/art/unsaved.png");
    doc.setModified();

    ui.answers = {Answer::No};
    ui.saveNames = {path("p.cdds")};
    doc.build();
    EXPECT_EQ(ui.questions, QStringList{"Document changed. Save it?"});
    ASSERT_EQ(ui.builds.size(), 1);
    EXPECT_TRUE(ui.builds[0].contains(path("p.xml")));
    EXPECT_EQ(readFile(path("p.xml")), onDisk);
    EXPECT_TRUE(doc.isModified());
}

TEST_F(Document, YesSavesFirstAndCancelStartsNothing)
{
    ASSERT_TRUE(doc.saveDocument(path("p.xml")));
    addTexture("/art/new.png");
    doc.setModified();

    ui.answers = {Answer::Cancel};
    doc.build();
    EXPECT_TRUE(ui.saveInitial.isEmpty());
    EXPECT_TRUE(ui.builds.isEmpty());
    EXPECT_TRUE(doc.isModified());

    // Yes saves; Cancel in the output dialog then leaves the saved project.
    ui.answers = {Answer::Yes};
    doc.build();
    EXPECT_FALSE(doc.isModified());
    Tree saved = parseFile(path("p.xml"));
    EXPECT_EQ(textures(saved).size(), 1u);
    EXPECT_TRUE(ui.builds.isEmpty());
}

TEST_F(Document, ProjectWithoutAFileStopsTheBuild)
{
    addTexture("/art/a.png");
    doc.setModified();
    ui.answers = {Answer::No};
    doc.build();
    EXPECT_TRUE(ui.saveInitial.isEmpty());
    EXPECT_TRUE(ui.builds.isEmpty());

    // Yes, then Cancel in the Save As dialog: still no file, still no build.
    ui.answers = {Answer::Yes};
    doc.build();
    EXPECT_EQ(ui.saveTitles, QStringList{"Save As"});
    EXPECT_TRUE(ui.builds.isEmpty());
}
