// The project document: owns one project tree, opens and saves it, tracks
// unsaved changes and runs the CDDS build through the converter.  Knows no
// widgets; everything modal goes through UiServices.
#pragma once

#include <QObject>
#include <QString>

#include "editor/core/projecttree.h"

namespace atlasdesk {

class UiServices;

class AtlasdeskDoc : public QObject {
    Q_OBJECT
public:
    explicit AtlasdeskDoc(UiServices& ui, QObject* parent = nullptr);
    ~AtlasdeskDoc() override;

    Tree& project() { return *m_project; }
    UiServices& ui() { return m_ui; }

    QString pathName() const { return m_path; }
    // The file name of the path, or "Untitled" for a project never saved.
    QString title() const;
    bool isModified() const { return m_modified; }
    void setModified(bool modified = true);

    // The document steps themselves, without any question.
    bool newDocument();
    bool openDocument(const QString& path);
    bool saveDocument(const QString& path);

    // The File commands: each asks to save a modified project first.
    // They return false when the user cancelled or the step failed.
    bool fileNew();
    bool fileOpen(const QString& path);
    bool fileSave();
    bool fileSaveAs();

    // The save question before a modified project is replaced or the
    // program ends; false means Cancel (or a failed save).
    bool saveModified();

    // "BUILD CDDS".
    void build();

signals:
    void modifiedChanged(bool modified);
    void pathChanged(const QString& path);
    // The whole tree was replaced (New, Open): views refill.
    void contentsReplaced();

private:
    void setPath(const QString& path);

    UiServices& m_ui;
    Tree* m_project;  // owned; a pointer keeps the tree header out of users
    QString m_path;
    bool m_modified = false;
};

} // namespace atlasdesk
