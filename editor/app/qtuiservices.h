// The desktop's message boxes, file dialogs, clipboard and build window.
#pragma once

#include "editor/core/uiservices.h"

class QFileDialog;
class QWidget;

// Makes the dialog's name filters match as on Windows, where "*.*" takes
// names without a dot too (Qt's own dialog only).
void matchWindowsWildcards(QFileDialog& dialog);

class QtUiServices : public atlasdesk::UiServices {
public:
    explicit QtUiServices(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParentWidget(QWidget* parent) { m_parent = parent; }

    Answer ask(const QString& text) override;
    void warn(const QString& text) override;
    QString saveFileName(const QString& title, const QString& filter, const QString& initialPath) override;
    QStringList openFileNames(const QString& title, const QString& filter, bool multiple) override;
    QString clipboardText() override;
    void setClipboardText(const QString& text) override;
    void runBuild(const QString& program, const QStringList& arguments) override;
    void openWithDesktop(const QString& path) override;
    void setBusy(bool busy) override;

private:
    QWidget* m_parent;
};
