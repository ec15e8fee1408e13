#include "editor/core/atlasdeskdoc.h"

#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cstring>

#include "editor/core/converter.h"
#include "editor/core/mappedfile.h"
#include "editor/core/uiservices.h"

namespace atlasdesk {

AtlasdeskDoc::AtlasdeskDoc(UiServices& ui, QObject* parent) : QObject(parent), m_ui(ui), m_project(new Tree)
{
    resetToNewProject(*m_project);
}

AtlasdeskDoc::~AtlasdeskDoc()
{
    delete m_project;
}

QString AtlasdeskDoc::title() const
{
    return m_path.isEmpty() ? tr("Untitled") : QFileInfo(m_path).fileName();
}

void AtlasdeskDoc::setModified(bool modified)
{
    if (m_modified == modified)
        return;
    m_modified = modified;
    emit modifiedChanged(modified);
}

void AtlasdeskDoc::setPath(const QString& path)
{
    m_path = path;
    emit pathChanged(path);
}

bool AtlasdeskDoc::newDocument()
{
    resetToNewProject(*m_project);
    setPath(QString());
    setModified(false);
    emit contentsReplaced();
    return true;
}

bool AtlasdeskDoc::openDocument(const QString& path)
{
    MappedFile file;
    if (!file.open(path))
        return false;
    Tree parsed;
    if (!parseText(file.data(), file.size(), parsed))
        return false;
    // The list assumes a root; a document without one is refused rather
    // than opened half-usable.
    if (!hasRoot(parsed))
        return false;
    assignTree(*m_project, parsed);
    setPath(QFileInfo(path).absoluteFilePath());
    setModified(false);
    emit contentsReplaced();
    return true;
}

bool AtlasdeskDoc::saveDocument(const QString& path)
{
    const std::string text = saveText(*m_project);
    QSaveFile out(path);
    errno = 0;
    if (!out.open(QIODevice::WriteOnly) || out.write(text.data(), qint64(text.size())) != qint64(text.size()) ||
        !out.commit()) {
        // Qt has no text of its own for some failures (a full disk among
        // them); the system's is the better reason then.
        const int system = errno;
        const QString reason = out.error() == QFileDevice::UnspecifiedError && system
                                   ? QString::fromLocal8Bit(std::strerror(system))
                                   : out.errorString();
        m_ui.warn(tr("Failed to save document.\n%1: %2").arg(path, reason));
        return false;
    }
    setPath(QFileInfo(path).absoluteFilePath());
    setModified(false);
    return true;
}

bool AtlasdeskDoc::saveModified()
{
    if (!m_modified)
        return true;
    switch (m_ui.ask(tr("Save changes to %1?").arg(title()))) {
    case UiServices::Answer::Cancel:
        return false;
    case UiServices::Answer::No:
        return true;
    case UiServices::Answer::Yes:
        break;
    }
    return fileSave();
}

bool AtlasdeskDoc::fileNew()
{
    return saveModified() && newDocument();
}

bool AtlasdeskDoc::fileOpen(const QString& path)
{
    return saveModified() && openDocument(path);
}

bool AtlasdeskDoc::fileSave()
{
    return m_path.isEmpty() ? fileSaveAs() : saveDocument(m_path);
}

bool AtlasdeskDoc::fileSaveAs()
{
    const QString path = m_ui.saveFileName(tr("Save As"), tr("All Files (*)"), m_path.isEmpty() ? title() : m_path);
    return !path.isEmpty() && saveDocument(path);
}

void AtlasdeskDoc::build()
{
    if (m_modified) {
        switch (m_ui.ask(QStringLiteral("Document changed. Save it?"))) {
        case UiServices::Answer::Cancel:
            return;
        case UiServices::Answer::Yes:
            fileSave();  // the build goes on whatever the save did
            break;
        case UiServices::Answer::No:
            break;
        }
    }
    // Without a file the converter has nothing to read.
    const QString project = m_path;
    if (project.isEmpty())
        return;
    const QString output = m_ui.saveFileName(QStringLiteral("Select CDDS file"), QStringLiteral("CDDS Files (*.cdds)"),
                                             defaultCddsPath(project));
    if (output.isEmpty())
        return;
    m_ui.runBuild(converterProgram(), {QStringLiteral("-xml"), project, output});
}

} // namespace atlasdesk
