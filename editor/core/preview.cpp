#include "editor/core/preview.h"

#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include "editor/core/converter.h"

namespace atlasdesk {

namespace {

// The statuses of the converter's -single mode.
constexpr int kSingleConverted = 1;
constexpr int kSingleNotLoaded = 0;

} // namespace

PreviewRun runPreviewConversion(const QString& program, const QString& file, const QString& format,
                                const QString& mips, int timeoutMs)
{
    PreviewRun run;
    run.source = file;
    run.mips = mips;
    run.outputFile = previewFilePath();
    run.timeoutMs = timeoutMs;
    if (QFile::exists(run.outputFile) && !QFile::remove(run.outputFile)) {
        run.startError = QStringLiteral("the old preview file %1 cannot be removed").arg(run.outputFile);
        return run;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, {QStringLiteral("-single"), file, format, mips, run.outputFile});
    if (!process.waitForStarted()) {
        run.startError = program + QStringLiteral(": ") + process.errorString();
        return run;
    }
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
    run.crashed = !run.timedOut && process.exitStatus() == QProcess::CrashExit;
    run.exitStatus = process.exitCode();
    run.output = QString::fromLocal8Bit(process.readAll());
    return run;
}

QString previewFailure(const PreviewRun& run, const DdsPicture& written)
{
    if (!run.started)
        return QStringLiteral("The converter could not be started: %1.").arg(run.startError);
    if (run.timedOut)
        return QStringLiteral("The converter did not finish within %1 s.").arg(run.timeoutMs / 1000.0);
    if (run.crashed)
        return QStringLiteral("The converter ended abnormally.");
    if (run.exitStatus != kSingleConverted && run.exitStatus != kSingleNotLoaded)
        return QStringLiteral("The converter ended with status %1.").arg(run.exitStatus);
    if (!written.format.isEmpty())
        return {};
    if (!QFile::exists(run.outputFile))
        return QStringLiteral("The converter ended with status %1 and wrote no texture.").arg(run.exitStatus);
    return QStringLiteral("The converter ended with status %1, but its texture cannot be shown: %2.")
        .arg(run.exitStatus)
        .arg(written.error);
}

} // namespace atlasdesk
