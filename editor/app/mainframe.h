// The main window: menu, accelerators, toolbar, status bar, recent files,
// printing, and the routing of every command to the document or the view.
#pragma once

#include <QMainWindow>
#include <QMap>
#include <array>
#include <functional>
#include <optional>

#include "editor/app/lockstate.h"

class QAction;
class QLabel;
class QMenu;
class QPrinter;
class QToolBar;
class AtlasdeskView;

namespace atlasdesk {
class AtlasdeskDoc;
}

// Command ids of the editor's actions.
enum CommandId {
    ID_EDIT_SELECT_ALL = 32771,
    ID_EDIT_DELETE = 32772,
    ID_EDIT_ADD_FILES = 32773,
    ID_BUILD_CDDS = 32774,
    ID_EDIT_INSERT = 32775,
    ID_EDIT_EDIT = 32776,
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_SAVE = 57603,
    ID_FILE_SAVE_AS = 57604,
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_PRINT = 57607,
    ID_FILE_PRINT_PREVIEW = 57609,
    ID_FILE_MRU_FILE1 = 57616,
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
};

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kRecentFiles = 6;

    CMainFrame(atlasdesk::AtlasdeskDoc& doc, QWidget* parent = nullptr);
    ~CMainFrame() override;

    QAction* action(int id) const { return m_actions.value(id, nullptr); }
    AtlasdeskView* view() const { return m_view; }
    QToolBar* toolBar() const { return m_toolBar; }
    QStringList recentFiles() const { return m_recent; }

    // Opens a project (after the save question) and records it as recent;
    // a failure is shown in a message box.
    bool openProject(const QString& path);
    void addRecentFile(const QString& path);

    // The CAP, NUM and SCRL panes (0 to 2) and where their states come
    // from (tests give their own).
    QLabel* lockPane(int index) const;
    void setLockStateReader(std::function<std::optional<LockStates>()> reader);
    void updateLockPanes();

    // Prints the texture table with the project's title line.
    void printTo(QPrinter& printer);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* makeAction(int id, const QString& text, const QString& prompt, const QList<QKeySequence>& keys = {});
    void createActions();
    void createMenus();
    void createToolBar();
    void createStatusBar();
    void updateTitle();
    void updateCommands();
    void updateRecentMenu();
    void loadSettings();
    void saveSettings() const;

    void fileOpen();
    bool openAfterQuestion(const QString& path);
    void filePrint();
    void filePrintPreview();
    void filePrintSetup();
    void about();

    atlasdesk::AtlasdeskDoc& m_doc;
    AtlasdeskView* m_view;
    QToolBar* m_toolBar = nullptr;
    QMenu* m_fileMenu = nullptr;
    QAction* m_recentPlaceholder = nullptr;
    QList<QAction*> m_recentActions;
    QMap<int, QAction*> m_actions;
    QStringList m_recent;
    QPrinter* m_printer;
    std::array<QLabel*, 3> m_lockPanes{};
    std::function<std::optional<LockStates>()> m_readLocks = readLockStates;
};
