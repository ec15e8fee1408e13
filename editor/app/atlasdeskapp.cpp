#include "atlasdeskapp.h"

#include <QApplication>
#include <QMessageBox>

#include "atlasdeskdoc.h"
#include "icons.h"
#include "mainframe.h"

AtlasdeskApp::AtlasdeskApp() : m_doc(std::make_unique<atlasdesk::AtlasdeskDoc>(m_ui))
{
    QCoreApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    QCoreApplication::setApplicationName(QStringLiteral("Atlasdesk"));
    QApplication::setApplicationDisplayName(QStringLiteral("Atlasdesk"));
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
        if (!m_frame->openProject(arguments[1])) {
            qWarning("Atlasdesk: cannot open the project %s", qUtf8Printable(arguments[1]));
            QMessageBox::warning(nullptr, QStringLiteral("Atlasdesk"),
                                 QObject::tr("Cannot open the project %1.").arg(arguments[1]));
            return false;
        }
    } else {
        m_doc->newDocument();
    }
    m_frame->show();
    return true;
}
