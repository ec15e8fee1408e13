// The editor with the real converter: the preview of one texture, the CDDS
// build through the build-log window, and screenshots of both windows when
// ATLASDESK_SCREENSHOT_DIR names a folder.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "atlasdeskdoc.h"
#include "atlasdeskview.h"
#include "buildlogdialog.h"
#include "converter.h"
#include "preview.h"
#include "fakeui.h"
#include "filedlg.h"
#include "mainframe.h"
#include "previewwindow.h"
#include "projecttree.h"
#include "samplegen.h"
#include "testutil.h"

using namespace atlasdesk;

namespace {

struct Samples {
    QTemporaryDir dir;
    std::vector<QString> files;

    Samples()
    {
        using namespace samplegen;
        const std::string base = dir.path().toStdString();
        SaveBytes(base + "/grass.tga", WriteTga(MakeTerrain(Terrain::Grass, 64, 64, 1)));
        SaveBytes(base + "/rock.bmp", WriteBmp(MakeTerrain(Terrain::Rock, 64, 32, 2)));
        SaveBytes(base + "/sand.png", WritePng(MakeTerrain(Terrain::Sand, 32, 32, 3), PngKind::Rgb));
        SaveBytes(base + "/leaves.tga", WriteTga(MakeFoliage(64, 64, 4)));
        for (const char* n : {"grass.tga", "rock.bmp", "sand.png", "leaves.tga"})
            files.push_back(dir.filePath(n));
    }
};

void saveShot(QWidget& w, const char* name)
{
    const QString folder = qEnvironmentVariable("ATLASDESK_SCREENSHOT_DIR");
    if (folder.isEmpty())
        return;
    w.show();
    QTest::qWait(100);
    EXPECT_TRUE(w.grab().save(QDir(folder).filePath(QString::fromLatin1(name))));
}

bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QTest::qWait(20);
    return done();
}

} // namespace

TEST(RealConverter, PreviewShowsEveryLevelOfTheConvertedTexture)
{
    Samples samples;
    qputenv("ATLASDESK_CONVERTER", MIPFORGE_EXE);
    QFile::remove(previewFilePath());
    const PreviewRun run = runPreviewConversion(converterProgram(), samples.files[0], "D3DFMT_DXT5", "Maximum");
    qunsetenv("ATLASDESK_CONVERTER");
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(run.output.contains("Mipforge")) << run.output.toStdString();

    FakeUi ui;
    PreviewWindow window(run.outputFile, ui);
    EXPECT_EQ(window.summary(), QStringLiteral("DXT5, 64 x 64, 7 levels")) << run.output.toStdString();
    EXPECT_EQ(window.shownLevels(), 7);
    saveShot(window, "atlasdesk-preview.png");
}

TEST(RealConverter, BuildLogHoldsTheConverterLinesAndTheCddsAppears)
{
    Samples samples;
    FakeUi ui;
    AtlasdeskDoc doc(ui);
    for (const QString& f : samples.files)
        addTextureFromFile(doc.project(), f.toStdString());
    const QString project = samples.dir.filePath("tiles.xml");
    const QString cdds = samples.dir.filePath("tiles.cdds");
    ASSERT_TRUE(doc.saveDocument(project));

    BuildLogDialog dialog;
    QSignalSpy finished(&dialog, &BuildLogDialog::converterFinished);
    dialog.start(QStringLiteral(MIPFORGE_EXE), {"-xml", project, cdds});
    ASSERT_TRUE(waitFor([&] { return finished.count() > 0; }, 120000));
    const QString log = dialog.logText();
    const QString usage = QString::fromLocal8Bit(testutil::kUsageText).split('\n').first();
    EXPECT_TRUE(log.contains(usage)) << log.toStdString();
    saveShot(dialog, "atlasdesk-buildlog.png");
    if (log.contains("not available in this build"))
        GTEST_SKIP() << "this converter cannot build CDDS files yet";
    EXPECT_TRUE(QFile::exists(cdds)) << log.toStdString();
}

TEST(Screenshot, MainWindowWithSampleTextures)
{
    if (qEnvironmentVariableIsEmpty("ATLASDESK_SCREENSHOT_DIR"))
        GTEST_SKIP() << "set ATLASDESK_SCREENSHOT_DIR to take it";
    Samples samples;
    FakeUi ui;
    AtlasdeskDoc doc(ui);
    CMainFrame frame(doc);
    QStringList files;
    for (const QString& f : samples.files)
        files << f;
    ui.openNames = {files};
    frame.action(ID_EDIT_ADD_FILES)->trigger();
    auto& table = frame.view()->table();
    setProperty(doc.project(), table.texture(1), "miplevels", "6");
    setProperty(doc.project(), table.texture(2), "comment", "beach");
    table.fillRow(1);
    table.fillRow(2);
    table.selectOnly(1);
    frame.resize(900, 360);
    saveShot(frame, "atlasdesk-main.png");

    std::vector<int> rows;
    PropertyList combined;
    table.selectAll();
    ASSERT_TRUE(table.combine(TextureTable::EditMode::Selected, rows, combined));
    CFileDlg dialog(combined, ui, &frame);
    saveShot(dialog, "atlasdesk-properties.png");
}
