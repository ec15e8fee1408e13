// bench_preview: how long the editor's preview window takes to open on a
// 2048 x 2048 texture with all its levels, DXT1 and DXT5, from the window's
// construction to its first paint, with the steps behind it timed on their
// own.  The textures are converted by the real converter from pictures the
// sample generator makes.  Runs on the offscreen platform unless
// QT_QPA_PLATFORM says otherwise.  Usage: bench_preview [--reps N]
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollArea>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "editor/app/previewwindow.h"
#include "editor/app/qtuiservices.h"
#include "editor/core/ddsimage.h"
#include "editor/core/imagecompare.h"
#include "editor/core/preview.h"
#include "tools/samplegen.h"

namespace {

// Notes the first paint event of a widget.
class PaintWatch : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return QObject::eventFilter(watched, event);
    }
};

struct Times {
    std::vector<double> ms;
    void add(double v) { ms.push_back(v); }
    double min() const { return *std::min_element(ms.begin(), ms.end()); }
    double median() const
    {
        std::vector<double> s = ms;
        std::sort(s.begin(), s.end());
        return s[s.size() / 2];
    }
};

double timeMs(const std::function<void()>& work)
{
    QElapsedTimer t;
    t.start();
    work();
    return double(t.nsecsElapsed()) / 1e6;
}

// Construction, show, and the events up to and including the one that
// painted the compressed view.
double openWindow(const atlasdesk::PreviewRun& run, atlasdesk::UiServices& ui)
{
    QElapsedTimer t;
    t.start();
    PreviewWindow window(run, ui);
    window.resize(1100, 760);
    PaintWatch watch;
    auto* view = window.findChild<QScrollArea*>(QStringLiteral("compressedView"));
    if (!view || !window.failure().isEmpty()) {
        std::fprintf(stderr, "bench_preview: the preview failed: %s\n", qPrintable(window.failure()));
        std::exit(1);
    }
    view->widget()->installEventFilter(&watch);
    window.show();
    while (!watch.painted && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int reps = 5;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--reps") == 0)
            reps = std::max(1, std::atoi(argv[++i]));

    QTemporaryDir dir;
    using namespace samplegen;
    const struct {
        const char* format;
        const char* name;
        Image picture;
        PngKind kind;
    } textures[] = {
        {"D3DFMT_DXT1", "rock.png", MakeTerrain(Terrain::Rock, 2048, 2048, 7), PngKind::Rgb},
        {"D3DFMT_DXT5", "foliage.png", MakeFoliage(2048, 2048, 8), PngKind::Rgba},
    };
    QtUiServices ui;
    std::printf("%-12s %10s %10s %10s %10s %12s %12s\n", "texture", "decode", "source", "psnr", "views",
                "open min", "open median");
    for (const auto& t : textures) {
        const QString source = dir.filePath(QLatin1String(t.name));
        SaveBytes(source.toStdString(), WritePng(t.picture, t.kind));
        atlasdesk::PreviewRun run = atlasdesk::runPreviewConversion(MIPFORGE_EXE, source, t.format, "Maximum");
        const QString dds = dir.filePath(QLatin1String(t.name) + QStringLiteral(".dds"));
        if (!run.started || !QFile::copy(run.outputFile, dds)) {
            std::fprintf(stderr, "bench_preview: the converter wrote no %s\n%s", t.format, qPrintable(run.output));
            return 1;
        }
        run.outputFile = dds;

        Times decode, load, psnr, views, open;
        QFile file(dds);
        file.open(QIODevice::ReadOnly);
        const QByteArray bytes = file.readAll();
        for (int r = 0; r < reps; ++r) {
            atlasdesk::DdsPicture compressed, levels;
            decode.add(timeMs([&] { compressed = atlasdesk::decodeDds(bytes); }));
            load.add(timeMs([&] { levels = atlasdesk::loadSourceLevels(source, QStringLiteral("Maximum")); }));
            psnr.add(timeMs([&] {
                for (size_t i = 0; i < compressed.levels.size() && i < levels.levels.size(); ++i)
                    atlasdesk::compareLevels(compressed.levels[i], levels.levels[i]);
            }));
            views.add(timeMs([&] {
                atlasdesk::viewPicture(compressed.levels[0], atlasdesk::AlphaView::Blended);
                atlasdesk::viewPicture(levels.levels[0], atlasdesk::AlphaView::Blended);
            }));
            open.add(openWindow(run, ui));
        }
        std::printf("%-12s %8.1fms %8.1fms %8.1fms %8.1fms %10.1fms %10.1fms\n", t.format + 7, decode.min(),
                    load.min(), psnr.min(), views.min(), open.min(), open.median());
    }
    std::printf("(2048 x 2048, 12 levels; steps: fastest of %d; open: construction to first paint)\n", reps);
    return 0;
}
