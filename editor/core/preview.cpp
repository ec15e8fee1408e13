#include "preview.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include "converter.h"

namespace atlasdesk {

PreviewRun runPreviewConversion(const QString& program, const QString& file, const QString& format,
                                const QString& mips, int timeoutMs)
{
    PreviewRun run;
    run.outputFile = previewFilePath();
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, {QStringLiteral("-single"), file, format, mips, run.outputFile});
    if (!process.waitForStarted())
        return run;
    run.started = true;

    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, [&] {
        run.timedOut = true;
        loop.quit();
    });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    limit.start(timeoutMs);
    if (process.state() != QProcess::NotRunning)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.output = QString::fromLocal8Bit(process.readAll());
    return run;
}

} // namespace atlasdesk
