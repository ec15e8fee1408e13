// Everything the document and the list ask of the user or the desktop goes
// through this interface, so that tests can answer instead of a human.
#pragma once

#include <QString>
#include <QStringList>

namespace atlasdesk {

class UiServices {
public:
    enum class Answer { Yes, No, Cancel };

    virtual ~UiServices() = default;

    // A question with the buttons Yes, No and Cancel.
    virtual Answer ask(const QString& text) = 0;

    // A failure the user must see, with an OK button.
    virtual void warn(const QString& text) = 0;

    // A save-type file dialog; an empty result means Cancel.
    virtual QString saveFileName(const QString& title, const QString& filter, const QString& initialPath) = 0;

    // An open-type file dialog for existing files; empty means Cancel.
    virtual QStringList openFileNames(const QString& title, const QString& filter, bool multiple) = 0;

    virtual QString clipboardText() = 0;
    virtual void setClipboardText(const QString& text) = 0;

    // Runs the converter for a CDDS build and returns when the user is done
    // with it; the application shows its output in the build-log window.
    // The last argument is the file the build writes.
    virtual void runBuild(const QString& program, const QStringList& arguments) = 0;

    // Hands a file to the desktop's application for it.
    virtual void openWithDesktop(const QString& path) = 0;

    // Busy cursor around long commands; nesting is allowed.
    virtual void setBusy(bool /*busy*/) {}
};

// Shows the busy cursor for the life of the object.
class BusyScope {
public:
    explicit BusyScope(UiServices& ui) : m_ui(ui) { m_ui.setBusy(true); }
    ~BusyScope() { m_ui.setBusy(false); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    UiServices& m_ui;
};

} // namespace atlasdesk
