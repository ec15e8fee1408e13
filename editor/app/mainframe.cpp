#include "editor/app/mainframe.h"

#include <QAction>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <array>

#include "editor/app/atlasdeskview.h"
#include "editor/app/icons.h"
#include "editor/app/modalframe.h"
#include "editor/app/tableprinter.h"
#include "editor/core/atlasdeskdoc.h"
#include "editor/core/uiservices.h"

using namespace atlasdesk;

namespace {

QSettings editorSettings()
{
    return QSettings(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Atlasdesk"));
}

const char kRecentGroup[] = "Recent File List";

} // namespace

CMainFrame::CMainFrame(AtlasdeskDoc& doc, QWidget* parent)
    : QMainWindow(parent), m_doc(doc), m_printer(new QPrinter(QPrinter::HighResolution))
{
    setWindowIcon(programIcon());
    m_view = new AtlasdeskView(doc, this);
    setCentralWidget(m_view);
    createActions();
    createMenus();
    createToolBar();
    createStatusBar();
    loadSettings();

    connect(&m_doc, &AtlasdeskDoc::modifiedChanged, this, &CMainFrame::updateTitle);
    connect(&m_doc, &AtlasdeskDoc::pathChanged, this, &CMainFrame::updateTitle);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this, &CMainFrame::updateCommands);
    connect(&m_view->table(), &QAbstractItemModel::modelReset, this, &CMainFrame::updateCommands);
    connect(&m_view->table(), &QAbstractItemModel::rowsRemoved, this, &CMainFrame::updateCommands);
    updateTitle();
    updateCommands();
    resize(800, 500);
}

CMainFrame::~CMainFrame()
{
    delete m_printer;
}

QAction* CMainFrame::makeAction(int id, const QString& text, const QString& prompt, const QList<QKeySequence>& keys)
{
    auto* a = new QAction(text, this);
    a->setData(id);
    const QStringList parts = prompt.split(QLatin1Char('\n'));
    if (!prompt.isEmpty())
        a->setStatusTip(parts.first());
    if (parts.size() > 1)
        a->setToolTip(parts[1]);
    a->setShortcuts(keys);
    a->setShortcutContext(Qt::WindowShortcut);
    addAction(a);  // accelerators work even while the menu bar or toolbar is hidden
    m_actions.insert(id, a);
    return a;
}

void CMainFrame::createActions()
{
    using K = QKeySequence;
    const auto ctrl = [](Qt::Key k) { return K(Qt::CTRL | k); };
    const auto shift = [](Qt::Key k) { return K(Qt::SHIFT | k); };

    connect(makeAction(ID_FILE_NEW, QStringLiteral("&New\tCtrl+N"), QStringLiteral("Create a new document\nNew"),
                       {ctrl(Qt::Key_N)}),
            &QAction::triggered, this, [this] { m_doc.fileNew(); });
    connect(makeAction(ID_FILE_OPEN, QStringLiteral("&Open...\tCtrl+O"),
                       QStringLiteral("Open an existing document\nOpen"), {ctrl(Qt::Key_O)}),
            &QAction::triggered, this, &CMainFrame::fileOpen);
    connect(makeAction(ID_FILE_SAVE, QStringLiteral("&Save\tCtrl+S"), QStringLiteral("Save the active document\nSave"),
                       {ctrl(Qt::Key_S)}),
            &QAction::triggered, this, [this] {
                if (m_doc.fileSave())
                    addRecentFile(m_doc.pathName());
            });
    connect(makeAction(ID_FILE_SAVE_AS, QStringLiteral("Save &As..."),
                       QStringLiteral("Save the active document with a new name\nSave As")),
            &QAction::triggered, this, [this] {
                if (m_doc.fileSaveAs())
                    addRecentFile(m_doc.pathName());
            });
    connect(makeAction(ID_FILE_PRINT, QStringLiteral("&Print...\tCtrl+P"),
                       QStringLiteral("Print the active document\nPrint"), {ctrl(Qt::Key_P)}),
            &QAction::triggered, this, &CMainFrame::filePrint);
    connect(makeAction(ID_FILE_PRINT_PREVIEW, QStringLiteral("Print Pre&view"),
                       QStringLiteral("Display full pages\nPrint Preview")),
            &QAction::triggered, this, &CMainFrame::filePrintPreview);
    connect(makeAction(ID_FILE_PRINT_SETUP, QStringLiteral("P&rint Setup..."),
                       QStringLiteral("Change the printer and printing options\nPrint Setup")),
            &QAction::triggered, this, &CMainFrame::filePrintSetup);
    connect(makeAction(ID_APP_EXIT, QStringLiteral("E&xit"),
                       QStringLiteral("Quit the application; prompts to save documents\nExit")),
            &QAction::triggered, this, &QWidget::close);

    AtlasdeskView* v = m_view;
    TextureTable* t = &m_view->table();
    connect(makeAction(ID_EDIT_EDIT, QStringLiteral("Edit\tF2"), QString(),
                       {K(Qt::Key_F2), K(Qt::Key_Return), K(Qt::Key_Enter)}),
            &QAction::triggered, v, &AtlasdeskView::editSelected);
    connect(makeAction(ID_EDIT_CUT, QStringLiteral("Cu&t\tCtrl+X"),
                       QStringLiteral("Cut the selection and put it on the Clipboard\nCut"),
                       {ctrl(Qt::Key_X), shift(Qt::Key_Delete)}),
            &QAction::triggered, t, &TextureTable::cut);
    connect(makeAction(ID_EDIT_COPY, QStringLiteral("&Copy\tCtrl+C"),
                       QStringLiteral("Copy the selection and put it on the Clipboard\nCopy"),
                       {ctrl(Qt::Key_C), ctrl(Qt::Key_Insert)}),
            &QAction::triggered, t, &TextureTable::copy);
    connect(makeAction(ID_EDIT_PASTE, QStringLiteral("&Paste\tCtrl+V"),
                       QStringLiteral("Insert Clipboard contents\nPaste"), {ctrl(Qt::Key_V), shift(Qt::Key_Insert)}),
            &QAction::triggered, t, &TextureTable::paste);
    connect(makeAction(ID_EDIT_SELECT_ALL, QStringLiteral("Select All\tCtrl+A"), QString(), {ctrl(Qt::Key_A)}),
            &QAction::triggered, t, &TextureTable::selectAll);
    connect(makeAction(ID_EDIT_ADD_FILES, QStringLiteral("Add files"), QString()), &QAction::triggered, t,
            &TextureTable::addFiles);
    connect(makeAction(ID_BUILD_CDDS, QStringLiteral("BUILD CDDS"), QString()), &QAction::triggered, this,
            [this] { m_doc.build(); });
    connect(makeAction(ID_EDIT_DELETE, QStringLiteral("Delete"), QString(), {K(Qt::Key_Delete)}), &QAction::triggered,
            t, &TextureTable::deleteSelected);
    connect(makeAction(ID_EDIT_INSERT, QStringLiteral("Insert"), QString(), {K(Qt::Key_Insert)}),
            &QAction::triggered, v, &AtlasdeskView::insertTexture);

    QAction* toolbar = makeAction(ID_VIEW_TOOLBAR, QStringLiteral("&Toolbar"),
                                  QStringLiteral("Show or hide the toolbar\nToggle ToolBar"));
    toolbar->setCheckable(true);
    toolbar->setChecked(true);
    QAction* status = makeAction(ID_VIEW_STATUS_BAR, QStringLiteral("&Status Bar"),
                                 QStringLiteral("Show or hide the status bar\nToggle StatusBar"));
    status->setCheckable(true);
    status->setChecked(true);
    connect(status, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });

    connect(makeAction(ID_APP_ABOUT, QStringLiteral("&About Atlasdesk..."),
                       QStringLiteral("Display program information, version number and copyright\nAbout")),
            &QAction::triggered, this, &CMainFrame::about);

    for (int i = 0; i < kRecentFiles; ++i) {
        auto* a = new QAction(this);
        a->setData(ID_FILE_MRU_FILE1 + i);
        a->setStatusTip(QStringLiteral("Open this document"));
        a->setVisible(false);
        connect(a, &QAction::triggered, this, [this, i] {
            if (i >= m_recent.size() || !m_doc.saveModified())
                return;
            // An entry that no longer opens leaves the list.
            const QString path = m_recent[i];
            if (!openAfterQuestion(path)) {
                m_recent.removeAll(path);
                updateRecentMenu();
                saveSettings();
            }
        });
        m_recentActions.append(a);
    }
}

void CMainFrame::createMenus()
{
    m_fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    for (int id : {ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_SAVE, ID_FILE_SAVE_AS})
        m_fileMenu->addAction(action(id));
    m_fileMenu->addSeparator();
    for (int id : {ID_FILE_PRINT, ID_FILE_PRINT_PREVIEW, ID_FILE_PRINT_SETUP})
        m_fileMenu->addAction(action(id));
    m_fileMenu->addSeparator();
    // Stands in for the list while it is empty.
    m_recentPlaceholder = m_fileMenu->addAction(QStringLiteral("Recent File"));
    m_recentPlaceholder->setEnabled(false);
    for (QAction* a : m_recentActions)
        m_fileMenu->addAction(a);
    m_fileMenu->addSeparator();
    m_fileMenu->addAction(action(ID_APP_EXIT));

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->addAction(action(ID_EDIT_EDIT));
    edit->addSeparator();
    for (int id : {ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE})
        edit->addAction(action(id));
    edit->addSeparator();
    edit->addAction(action(ID_EDIT_SELECT_ALL));
    edit->addSeparator();
    edit->addAction(action(ID_EDIT_ADD_FILES));
    edit->addSeparator();
    edit->addAction(action(ID_BUILD_CDDS));

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    view->addAction(action(ID_VIEW_TOOLBAR));
    view->addAction(action(ID_VIEW_STATUS_BAR));

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(action(ID_APP_ABOUT));
}

void CMainFrame::createToolBar()
{
    m_toolBar = new QToolBar(QStringLiteral("Standard"), this);
    m_toolBar->setObjectName(QStringLiteral("toolbar128"));
    m_toolBar->setIconSize(QSize(16, 15));
    m_toolBar->setMovable(true);
    m_toolBar->setAllowedAreas(Qt::AllToolBarAreas);
    const std::pair<int, ToolIcon> buttons[] = {
        {ID_FILE_NEW, ToolIcon::New},   {ID_FILE_OPEN, ToolIcon::Open},  {ID_FILE_SAVE, ToolIcon::Save},
        {0, ToolIcon::New},             {ID_EDIT_CUT, ToolIcon::Cut},    {ID_EDIT_COPY, ToolIcon::Copy},
        {ID_EDIT_PASTE, ToolIcon::Paste}, {0, ToolIcon::New},            {ID_FILE_PRINT, ToolIcon::Print},
        {0, ToolIcon::New},             {ID_APP_ABOUT, ToolIcon::About}};
    for (const auto& [id, icon] : buttons) {
        if (!id) {
            m_toolBar->addSeparator();
            continue;
        }
        action(id)->setIcon(toolIcon(icon));
        m_toolBar->addAction(action(id));
    }
    addToolBar(Qt::TopToolBarArea, m_toolBar);
    QAction* toggle = action(ID_VIEW_TOOLBAR);
    connect(toggle, &QAction::toggled, m_toolBar, &QToolBar::setVisible);
    connect(m_toolBar, &QToolBar::visibilityChanged, toggle, &QAction::setChecked);
}

void CMainFrame::createStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->addWidget(new QLabel(QStringLiteral("Ready")), 1);
    // A lit indicator shows its text; an unlit one, or one the platform
    // cannot read, is greyed.
    for (size_t i = 0; i < m_lockPanes.size(); ++i) {
        auto* label = new QLabel(QString::fromLatin1(std::array{"CAP", "NUM", "SCRL"}[i]));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setAlignment(Qt::AlignCenter);
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) + 8);
        label->setEnabled(false);
        bar->addPermanentWidget(label);
        m_lockPanes[i] = label;
    }
    // The locks may change in any window, so they are read a few times a
    // second rather than on this window's key events only.
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, &CMainFrame::updateLockPanes);
    poll->start(250);
    updateLockPanes();
}

void CMainFrame::setLockStateReader(std::function<std::optional<LockStates>()> reader)
{
    m_readLocks = std::move(reader);
    updateLockPanes();
}

void CMainFrame::updateLockPanes()
{
    const LockStates locks = m_readLocks().value_or(LockStates{});
    const bool lit[] = {locks.caps, locks.num, locks.scroll};
    for (size_t i = 0; i < m_lockPanes.size(); ++i)
        m_lockPanes[i]->setEnabled(lit[i]);
}

QLabel* CMainFrame::lockPane(int index) const
{
    return m_lockPanes.at(size_t(index));
}

void CMainFrame::updateTitle()
{
    setWindowTitle(m_doc.title() + QStringLiteral("[*] - Atlasdesk"));
    setWindowModified(m_doc.isModified());
}

void CMainFrame::updateCommands()
{
    const bool selected = m_view->table().hasSelection();
    for (int id : {ID_EDIT_EDIT, ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_DELETE})
        action(id)->setEnabled(selected);
}

void CMainFrame::updateRecentMenu()
{
    for (int i = 0; i < kRecentFiles; ++i) {
        QAction* a = m_recentActions[i];
        if (i < m_recent.size()) {
            a->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(m_recent[i]).fileName()));
            a->setToolTip(m_recent[i]);
            a->setVisible(true);
        } else {
            a->setVisible(false);
        }
    }
    m_recentPlaceholder->setVisible(m_recent.isEmpty());
}

void CMainFrame::loadSettings()
{
    QSettings s = editorSettings();
    s.beginGroup(QLatin1String(kRecentGroup));
    m_recent.clear();
    for (int i = 1; i <= kRecentFiles; ++i) {
        const QString f = s.value(QStringLiteral("File%1").arg(i)).toString();
        if (!f.isEmpty())
            m_recent.append(f);
    }
    s.endGroup();
    updateRecentMenu();
}

void CMainFrame::saveSettings() const
{
    QSettings s = editorSettings();
    s.beginGroup(QLatin1String(kRecentGroup));
    for (int i = 1; i <= kRecentFiles; ++i) {
        const QString key = QStringLiteral("File%1").arg(i);
        if (i <= m_recent.size())
            s.setValue(key, m_recent[i - 1]);
        else
            s.remove(key);
    }
    s.endGroup();
}

void CMainFrame::addRecentFile(const QString& path)
{
    if (path.isEmpty())
        return;
    m_recent.removeAll(path);
    m_recent.prepend(path);
    while (m_recent.size() > kRecentFiles)
        m_recent.removeLast();
    updateRecentMenu();
    saveSettings();
}

bool CMainFrame::openProject(const QString& path)
{
    return m_doc.saveModified() && openAfterQuestion(path);
}

bool CMainFrame::openAfterQuestion(const QString& path)
{
    // The project on screen, and whether it has unsaved changes, stay as
    // they were.
    if (!m_doc.openDocument(path)) {
        m_doc.ui().warn(tr("Failed to open document.\n%1").arg(path));
        return false;
    }
    addRecentFile(m_doc.pathName());
    return true;
}

void CMainFrame::fileOpen()
{
    if (!m_doc.saveModified())
        return;
    const QStringList paths = m_doc.ui().openFileNames(tr("Open"), tr("All Files (*)"), false);
    if (!paths.isEmpty())
        openAfterQuestion(paths.first());
}

void CMainFrame::printTo(QPrinter& printer)
{
    printTable(printer, m_view->table(), QStringLiteral("Atlasdesk - %1").arg(m_doc.pathName().isEmpty()
                                                                                 ? m_doc.title()
                                                                                 : m_doc.pathName()));
}

void CMainFrame::filePrint()
{
    QPrintDialog dialog(m_printer, this);
    if (dialog.exec() == QDialog::Accepted)
        printTo(*m_printer);
}

void CMainFrame::filePrintPreview()
{
    QPrintPreviewDialog dialog(m_printer, this);
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* p) { printTo(*p); });
    dialog.exec();
}

void CMainFrame::filePrintSetup()
{
    QPageSetupDialog dialog(m_printer, this);
    dialog.exec();
}

void CMainFrame::about()
{
    QDialog box(this);
    box.setWindowTitle(QStringLiteral("About Atlasdesk"));
    auto* icon = new QLabel(&box);
    icon->setPixmap(programIcon().pixmap(32, 32));
    auto* text = new QLabel(QStringLiteral("Atlasdesk Version 1.0"), &box);
    auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, Qt::Vertical, &box);
    connect(ok, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    auto* layout = new QGridLayout(&box);
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(text, 0, 1, Qt::AlignTop);
    layout->addWidget(ok, 0, 2, 2, 1, Qt::AlignTop);
    layout->setColumnStretch(1, 1);
    useModalFrame(box);
    box.exec();
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (m_doc.saveModified()) {
        saveSettings();
        event->accept();
    } else {
        event->ignore();
    }
}
