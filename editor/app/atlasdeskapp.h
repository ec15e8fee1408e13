// The application: settings location, the one document, the main window
// and start-up from the command line.
#pragma once

#include <QStringList>
#include <memory>

#include "editor/app/qtuiservices.h"

class CMainFrame;

namespace atlasdesk {
class AtlasdeskDoc;
}

class AtlasdeskApp {
public:
    AtlasdeskApp();
    ~AtlasdeskApp();

    // No argument: a new project; one argument: open that project.  False
    // when the project cannot be opened; the program then ends.
    bool initInstance(const QStringList& arguments);

    atlasdesk::AtlasdeskDoc& document() const { return *m_doc; }

private:
    QtUiServices m_ui;
    std::unique_ptr<atlasdesk::AtlasdeskDoc> m_doc;
    std::unique_ptr<CMainFrame> m_frame;
};
