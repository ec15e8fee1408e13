// The editor with the real converter: the preview of one texture, the CDDS
// build through the build-log window, and screenshots of both windows when
// ATLASDESK_SCREENSHOT_DIR names a folder.
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "editor/app/atlasdeskview.h"
#include "editor/app/buildlogdialog.h"
#include "editor/app/filedlg.h"
#include "editor/app/mainframe.h"
#include "editor/app/previewwindow.h"
#include "editor/core/atlasdeskdoc.h"
#include "editor/core/converter.h"
#include "editor/core/preview.h"
#include "editor/core/projecttree.h"
#include "tests/editor/fakeui.h"
#include "tests/support/testutil.h"
#include "tools/samplegen.h"

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

// The converted texture beside the converter's own levels of its source,
// each level with its PSNR.  The sample set's foliage and mip-chain picture
// are among the sources: the chain's levels are taken as drawn (solid
// colours), so a comparison with box-filtered levels would fail.  A source
// that cannot be loaded leaves no texture, and the window shows the
// converter's message instead.
TEST(RealConverter, PreviewShowsEveryLevelOfTheConvertedTexture)
{
    using namespace samplegen;
    Samples samples;
    const QString foliage = samples.dir.filePath("foliage.tga"), chain = samples.dir.filePath("mipchain.tga");
    SaveBytes(foliage.toStdString(), WriteTga(MakeFoliage(256, 256, 5)));
    SaveBytes(chain.toStdString(), WriteTga(MakeMipChain(256, 256,
                                                         {{255, 0, 0, 255}, {0, 255, 0, 192}, {0, 0, 255, 128},
                                                          {255, 255, 255, 64}},
                                                         {0, 0, 0, 0})));
    const struct {
        QString source;
        QString summary;
        size_t levels;
        double leastPsnr;
    } cases[] = {
        {samples.files[0], "DXT5, 64 x 64, 7 levels", 7, 30},
        {foliage, "DXT5, 256 x 256, 9 levels", 9, 30},
        {chain, "DXT5, 256 x 256, 4 levels", 4, 45},
    };
    FakeUi ui;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source.toStdString());
        const PreviewRun run = runPreviewConversion(MIPFORGE_EXE, c.source, "D3DFMT_DXT5", "Maximum");
        ASSERT_TRUE(run.started);
        EXPECT_TRUE(run.output.contains("Mipforge")) << run.output.toStdString();
        PreviewWindow window(run, ui);
        EXPECT_EQ(window.failure(), QString()) << run.output.toStdString();
        EXPECT_EQ(window.summary(), c.summary) << run.output.toStdString();
        ASSERT_EQ(window.source().levels.size(), c.levels) << window.source().error.toStdString();
        ASSERT_EQ(window.quality().size(), c.levels);
        for (const LevelQuality& q : window.quality()) {
            EXPECT_TRUE(q.compared);
            EXPECT_GT(q.rgb, c.leastPsnr);
            EXPECT_GT(q.alpha, c.leastPsnr);
        }
        if (c.source == foliage) {
            window.resize(1100, 760);
            window.findChild<QComboBox*>("zoom")->setCurrentIndex(1);  // 1:1
            saveShot(window, "atlasdesk-preview.png");
        }
    }

    const QString missing = samples.dir.filePath("missing.tga");
    const PreviewRun failed = runPreviewConversion(MIPFORGE_EXE, missing, "D3DFMT_DXT5", "Maximum");
    PreviewWindow failure(failed, ui);
    EXPECT_EQ(failure.failure(), QStringLiteral("The converter ended with status 0 and wrote no texture."));
    EXPECT_TRUE(failure.converterLines().contains(QStringLiteral("ERROR: Texture file <%1> not found.").arg(missing)))
        << failed.output.toStdString();
    EXPECT_EQ(failure.shownLevels(), 0);
    saveShot(failure, "atlasdesk-preview-failed.png");
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
