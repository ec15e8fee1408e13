// The preview window: the -single run behind it, what it shows of a good
// run (the compressed levels beside the source's, one zoom, one scroll
// position) and of a failed one (what happened, the converter's lines, and
// never the picture of an earlier run).
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

#include "editor/app/filedlg.h"
#include "editor/app/previewwindow.h"
#include "editor/core/converter.h"
#include "editor/core/preview.h"
#include "tests/editor/fakeui.h"

using namespace atlasdesk;

namespace {

// An A8R8G8B8 DDS file of one level holding `image`.
QByteArray argbDds(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    const auto w = quint32(argb.width()), h = quint32(argb.height());
    const quint32 header[31] = {124, 0x100F, h, w, w * 4, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                32, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 0x1000, 0, 0, 0, 0};
    QByteArray d("DDS ");
    for (quint32 v : header)
        for (int i = 0; i < 4; ++i)
            d.append(char(v >> (8 * i)));
    for (int y = 0; y < argb.height(); ++y)
        d.append(reinterpret_cast<const char*>(argb.constScanLine(y)), qsizetype(w) * 4);
    return d;
}

QScrollArea* view(PreviewWindow& w, const char* name) { return w.findChild<QScrollArea*>(QLatin1String(name)); }

void choose(PreviewWindow& w, const char* combo, const QString& item)
{
    auto* box = w.findChild<QComboBox*>(QLatin1String(combo));
    ASSERT_NE(box, nullptr);
    box->setCurrentIndex(box->findText(item));
}

} // namespace

TEST(PreviewWindow, RunsTheConverterAndShowsTheLevels)
{
    QTemporaryDir dir;
    const QString argsFile = dir.filePath("args.txt");
    Env env{{"ATLASDESK_CONVERTER", FAKE_CONVERTER_EXE}, {"FAKE_CONVERTER_ARGS", argsFile.toLocal8Bit()}};
    FakeUi ui;
    PropertyList t = {{"filename", "/t/n.png"}, {"d3dformat", "D3DFMT_DXT1"}, {"miplevels", "3"}};
    CFileDlg dlg(t, ui);
    PreviewWindow* window = dlg.previewConversion();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->failure(), QString());
    EXPECT_EQ(window->shownLevels(), 3);
    EXPECT_EQ(window->summary(), QStringLiteral("A8R8G8B8, 4 x 4, 3 levels"));
    EXPECT_TRUE(window->converterLines().contains("fake converter line 2"));
    QFile f(argsFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromLocal8Bit(f.readAll()).split('\n', Qt::SkipEmptyParts),
              QStringList({"-single", "/t/n.png", "D3DFMT_DXT1", "3", previewFilePath()}));
    // One preview file per editor process.
    EXPECT_TRUE(previewFilePath().endsWith(
        QStringLiteral("/atlasdesk-preview-%1.dds").arg(QCoreApplication::applicationPid())));
}

// Each failure after a good run: the old preview file is gone, no level is
// shown, and the window says what happened above the converter's lines.
TEST(PreviewWindow, FailedRunShowsWhatHappenedAndNoEarlierPicture)
{
    const struct {
        const char* program;
        const char* variable;  // set to "value" for the run
        const char* value;
        int timeoutMs;
        QString failure;  // its start when it ends with ": "
        const char* line;
    } cases[] = {
        {"/nonexistent/Mipforge", nullptr, nullptr, 30000,
         "The converter could not be started: /nonexistent/Mipforge: ", ""},
        {FAKE_CONVERTER_EXE, "FAKE_CONVERTER_FAIL", "ERROR: Texture file </t/n.png> not found.", 30000,
         "The converter ended with status 1 and wrote no texture.", "ERROR: Texture file </t/n.png> not found."},
        {FAKE_CONVERTER_EXE, "FAKE_CONVERTER_EXIT", "5", 30000, "The converter ended with status 5.",
         "fake converter line 2"},
        {FAKE_CONVERTER_EXE, "FAKE_CONVERTER_CRASH", "1", 30000, "The converter ended abnormally.",
         "fake converter line 2"},
        {FAKE_CONVERTER_EXE, "FAKE_CONVERTER_SLEEP_MS", "3000", 300, "The converter did not finish within 0.3 s.",
         "fake converter line 1"},
    };
    FakeUi ui;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failure.toStdString());
        ASSERT_TRUE(runPreviewConversion(FAKE_CONVERTER_EXE, "/t/n.png", "D3DFMT_DXT1", "3").started);
        ASSERT_TRUE(QFile::exists(previewFilePath()));
        if (c.variable)
            qputenv(c.variable, c.value);
        const PreviewRun run = runPreviewConversion(c.program, "/t/n.png", "D3DFMT_DXT1", "3", c.timeoutMs);
        if (c.variable)
            qunsetenv(c.variable);
        PreviewWindow window(run, ui);
        EXPECT_TRUE(c.failure.endsWith(": ") ? window.failure().startsWith(c.failure) : window.failure() == c.failure)
            << window.failure().toStdString();
        EXPECT_EQ(window.shownLevels(), 0);
        auto* output = window.findChild<QPlainTextEdit*>("converterOutput");
        ASSERT_NE(output, nullptr);
        EXPECT_TRUE(output->isReadOnly());
        EXPECT_TRUE(output->toPlainText().contains(QLatin1String(c.line))) << output->toPlainText().toStdString();
        EXPECT_EQ(output->isVisibleTo(&window), run.started);
    }
    // The properties dialog's button gets a window for a failed start, too.
    Env env{{"ATLASDESK_CONVERTER", "/nonexistent/Mipforge"}};
    PropertyList t = {{"filename", "/t/n.png"}, {"d3dformat", "D3DFMT_DXT1"}, {"miplevels", "3"}};
    CFileDlg dlg(t, ui);
    PreviewWindow* window = dlg.previewConversion();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->failure().startsWith("The converter could not be started: "));
    EXPECT_TRUE(window->isVisible());
}

// Source and compressed level at the same zoom and scroll position; the
// difference and alpha views magnify by whole texels, without smoothing.
TEST(PreviewWindow, ComparesWithTheSourceAtOneZoomAndScrollPosition)
{
    QTemporaryDir dir;
    QImage source(256, 256, QImage::Format_ARGB32);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            source.setPixel(x, y, qRgba(x, y, 128, x));
    ASSERT_TRUE(source.save(dir.filePath("source.png")));
    QImage compressed = source;
    compressed.setPixel(1, 1, qRgba(41, 1, 128, 1));  // red 40 above the source's
    QFile dds(dir.filePath("out.dds"));
    ASSERT_TRUE(dds.open(QIODevice::WriteOnly));
    dds.write(argbDds(compressed));
    dds.close();

    PreviewRun run;
    run.source = dir.filePath("source.png");
    run.mips = "1";
    run.outputFile = dds.fileName();
    run.started = true;
    run.exitStatus = 1;
    FakeUi ui;
    PreviewWindow window(run, ui);
    window.resize(800, 600);
    window.show();
    ASSERT_EQ(window.quality().size(), 1u);
    EXPECT_NEAR(window.quality()[0].rgb, 10 * std::log10(65025.0 * 3 * 65536 / 1600), 1e-9);
    EXPECT_EQ(window.findChild<QTableWidget*>("levels")->item(0, 3)->text(), QStringLiteral("inf"));

    choose(window, "zoom", "4x");
    QTest::qWait(10);
    QScrollArea* left = view(window, "sourceView");
    QScrollArea* right = view(window, "compressedView");
    ASSERT_GT(left->horizontalScrollBar()->maximum(), 300);
    left->horizontalScrollBar()->setValue(300);
    right->verticalScrollBar()->setValue(200);
    EXPECT_EQ(right->horizontalScrollBar()->value(), 300);
    EXPECT_EQ(left->verticalScrollBar()->value(), 200);

    choose(window, "shown", "Difference x16");
    const QImage difference = right->widget()->grab().toImage();
    ASSERT_EQ(difference.size(), QSize(1024, 1024));
    for (auto [x, y, expected] : {std::tuple{4, 4, qRgb(255, 0, 0)}, {7, 7, qRgb(255, 0, 0)}, {8, 8, qRgb(0, 0, 0)},
                                  {3, 3, qRgb(0, 0, 0)}})
        EXPECT_EQ(difference.pixel(x, y), expected) << x << "," << y;
    choose(window, "alphaView", "Alpha as grey");
    EXPECT_EQ(left->widget()->grab().toImage().pixel(43, 0), qRgb(10, 10, 10));
}
