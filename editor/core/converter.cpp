#include "editor/core/converter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace atlasdesk {

QString converterProgram()
{
    const QString forced = qEnvironmentVariable("ATLASDESK_CONVERTER");
    if (!forced.isEmpty())
        return forced;
    const QString name = QStringLiteral("Mipforge");
    if (QCoreApplication::instance()) {
        QFileInfo beside(QDir(QCoreApplication::applicationDirPath()).filePath(name));
        if (beside.isFile() && beside.isExecutable())
            return beside.absoluteFilePath();
    }
#ifdef ATLASDESK_BUILD_TREE_CONVERTER
    // Run from the build tree, the editor and the converter sit in different
    // folders; the converter built with it is the one to use.
    const QString built = QStringLiteral(ATLASDESK_BUILD_TREE_CONVERTER);
    if (QFileInfo(built).isExecutable())
        return built;
#endif
    const QString onPath = QStandardPaths::findExecutable(name);
    return onPath.isEmpty() ? name : onPath;
}

namespace {

void removePreviewFile() { QFile::remove(previewFilePath()); }

} // namespace

QString previewFilePath()
{
    static const QString path = [] {
        // Runs from the application object's destructor, so also when a test
        // or the editor ends without its event loop's quit.
        qAddPostRoutine(removePreviewFile);
        return QDir(QDir::tempPath())
            .filePath(QStringLiteral("atlasdesk-preview-%1.dds").arg(QCoreApplication::applicationPid()));
    }();
    return path;
}

QString defaultCddsPath(const QString& projectPath)
{
    const qsizetype dot = projectPath.lastIndexOf(QLatin1Char('.'));
    return (dot >= 0 ? projectPath.left(dot) : projectPath) + QStringLiteral(".cdds");
}

} // namespace atlasdesk
