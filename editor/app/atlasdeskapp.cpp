#include "editor/app/atlasdeskapp.h"

#include <QApplication>

#include "editor/app/icons.h"
#include "editor/app/mainframe.h"
#include "editor/core/atlasdeskdoc.h"

AtlasdeskApp::AtlasdeskApp() : m_doc(std::make_unique<atlasdesk::AtlasdeskDoc>(m_ui))
{
    QCoreApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    QCoreApplication::setApplicationName(QStringLiteral("Atlasdesk"));
    // No display name: Qt would append it to every dialog's caption.
    QApplication::setWindowIcon(programIcon());
    m_frame = std::make_unique<CMainFrame>(*m_doc);
    m_ui.setParentWidget(m_frame.get());
}

AtlasdeskApp::~AtlasdeskApp()
{
    m_frame.reset();
}

bool AtlasdeskApp::initInstance(const QStringList& arguments)
{
    if (arguments.size() > 1) {
        // openProject has said why in a message box.
        if (!m_frame->openProject(arguments[1]))
            return false;
    } else {
        m_doc->newDocument();
    }
    m_frame->show();
    return true;
}
