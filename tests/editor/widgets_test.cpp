// The windows: the build log with a stand-in converter, the properties
// dialog, the preview window, the main window's commands and printing.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPdfWriter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <gtest/gtest.h>

#include "editor/app/atlasdeskview.h"
#include "editor/app/buildlogdialog.h"
#include "editor/app/filedlg.h"
#include "editor/app/mainframe.h"
#include "editor/app/previewwindow.h"
#include "editor/app/qtuiservices.h"
#include "editor/app/tableprinter.h"
#include "editor/core/atlasdeskdoc.h"
#include "editor/core/converter.h"
#include "editor/core/projecttree.h"
#include "tests/editor/fakeui.h"

using namespace atlasdesk;

namespace {

bool waitFor(const std::function<bool()>& done, int ms = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QTest::qWait(10);
    return done();
}

QString runLog(BuildLogDialog& dialog, const QStringList& args = {"-xml", "p.xml", "p.cdds"})
{
    QSignalSpy finished(&dialog, &BuildLogDialog::converterFinished);
    dialog.start(QStringLiteral(FAKE_CONVERTER_EXE), args);
    EXPECT_TRUE(waitFor([&] { return finished.count() > 0; }));
    return dialog.logText();
}

} // namespace

TEST(BuildLog, ShowsEveryLineAndTheExitStatus)
{
    Env env{{"FAKE_CONVERTER_LINES", "3"}, {"FAKE_CONVERTER_EXIT", "7"}};
    BuildLogDialog dialog;
    const QString log = runLog(dialog);
    EXPECT_TRUE(log.contains("fake converter line 1"));
    EXPECT_TRUE(log.contains("fake converter line 3"));
    EXPECT_FALSE(dialog.isRunning());
    EXPECT_TRUE(dialog.findChild<QLabel*>() != nullptr);
}

TEST(BuildLog, TheLastLineSaysHowTheRunEndedAndWhetherTheFileWasWritten)
{
    QTemporaryDir dir;
    const QString cdds = dir.filePath("p.cdds");
    const struct {
        QString program;
        QStringList arguments;
        QString status;  // its start when it ends with ": "
    } cases[] = {
        {"/bin/sh", {"-c", "exit 1"}, "The converter ended with status 1; " + cdds + " was not written."},
        {"/bin/sh", {"-c", "echo > \"$0\"; exit 1", cdds}, "The converter ended with status 1."},
        // The file from before is not this run's.
        {"/bin/sh", {"-c", "exit 1"}, "The converter ended with status 1; " + cdds + " was not written."},
        {FAKE_CONVERTER_EXE, {}, "The converter ended abnormally."},
        {"/nonexistent/Mipforge", {}, "The converter /nonexistent/Mipforge could not be started: "},
    };
    Env env{{"FAKE_CONVERTER_CRASH", "1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status.toStdString());
        BuildLogDialog dialog;
        QSignalSpy finished(&dialog, &BuildLogDialog::converterFinished);
        dialog.start(c.program, c.arguments, cdds);
        ASSERT_TRUE(waitFor([&] { return finished.count() > 0; }));
        const QString status = dialog.findChild<QLabel*>()->text();
        EXPECT_TRUE(c.status.endsWith(": ") ? status.startsWith(c.status) : status == c.status) << status.toStdString();
        EXPECT_FALSE(dialog.isRunning());
    }
}

TEST(BuildLog, EditorKeepsRunningWhileTheConverterWorks)
{
    Env env{{"FAKE_CONVERTER_LINES", "4"}, {"FAKE_CONVERTER_SLEEP_MS", "150"}};
    BuildLogDialog dialog;
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    // Lines arrive one by one, before the converter has ended.
    QSignalSpy finished(&dialog, &BuildLogDialog::converterFinished);
    dialog.start(QStringLiteral(FAKE_CONVERTER_EXE), {"-xml"});
    EXPECT_TRUE(waitFor([&] { return dialog.logText().contains("line 1"); }));
    EXPECT_TRUE(dialog.isRunning());
    dialog.reject();  // closing is refused while it runs
    // A stray Enter or Space does not stop it either.
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Space})
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &dialog, key);
    EXPECT_TRUE(dialog.isRunning());
    EXPECT_TRUE(waitFor([&] { return finished.count() > 0; }));
    EXPECT_GT(ticks, 5);
    EXPECT_TRUE(dialog.logText().contains("line 4"));
}

TEST(BuildLog, AGrowingLineShowsAsItArrivesAndTheViewKeepsToTheEnd)
{
    // Many lines, then a progress line of dots wider than the window that
    // grows slowly, then its end: the view shows the newest text throughout.
    BuildLogDialog dialog;
    dialog.resize(320, 200);
    dialog.show();
    QSignalSpy finished(&dialog, &BuildLogDialog::converterFinished);
    dialog.start("/bin/sh", {"-c", "i=0; while [ $i -lt 40 ]; do echo line $i; i=$((i+1)); done;"
                                   "printf 'Match textures: '; i=0;"
                                   "while [ $i -lt 150 ]; do printf .; sleep 0.01; i=$((i+1)); done; echo; echo Done"});
    auto* log = dialog.findChild<QPlainTextEdit*>();
    ASSERT_NE(log, nullptr);
    QScrollBar* bar = log->verticalScrollBar();
    EXPECT_TRUE(waitFor([&] { return dialog.logText().contains("Match textures: ..."); }));
    EXPECT_FALSE(dialog.logText().contains("Done"));
    EXPECT_TRUE(waitFor([&] { return finished.count() > 0; }));
    QTest::qWait(50);
    const QStringList lines = dialog.logText().split('\n');
    ASSERT_EQ(lines.size(), 42);
    EXPECT_EQ(lines[40], "Match textures: " + QString(150, '.'));
    EXPECT_EQ(lines[41], "Done");
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(log->horizontalScrollBar()->isVisible());
}

// --- the properties dialog --------------------------------------------------

namespace {

PropertyList blankTexture()
{
    return {{"name", "n"}, {"d3dformat", "D3DFMT_DXT1"}, {"miplevels", "Maximum"}, {"filename", "/t/n.png"},
            {"comment", "c"}, {"bHigh", "1"}, {"bMedium", "0"}, {"bLow", "1"}, {"HighLevel", "0"},
            {"MediumLevel", "1"}, {"LowLevel", "2"}};
}

std::string value(const PropertyList& list, const std::string& key)
{
    for (const auto& [k, v] : list)
        if (k == key)
            return v;
    return "<missing>";
}

void setValue(PropertyList& list, const std::string& key, const std::string& v)
{
    for (auto& [k, old] : list)
        if (k == key)
            old = v;
}

template <class W>
W* control(CFileDlg& dlg, int id)
{
    return qobject_cast<W*>(dlg.control(id));
}

} // namespace

TEST(PropertiesDialog, ControlsOfferTheListsInOrderAndTabInTemplateOrder)
{
    FakeUi ui;
    PropertyList t = blankTexture();
    CFileDlg dlg(t, ui);
    auto* mips = control<QComboBox>(dlg, 1002);
    auto* format = control<QComboBox>(dlg, 1003);
    ASSERT_EQ(mips->count(), 11);
    EXPECT_EQ(mips->itemText(0), QStringLiteral("Maximum"));
    EXPECT_EQ(mips->itemText(10), QStringLiteral("10"));
    ASSERT_EQ(format->count(), 16);
    EXPECT_EQ(format->itemText(0), QStringLiteral("D3DFMT_A8R8G8B8"));
    EXPECT_EQ(format->itemText(6), QStringLiteral("D3DFMT_P8"));
    EXPECT_EQ(format->itemText(15), QStringLiteral("D3DFMT_DXT5"));
    EXPECT_TRUE(mips->isEditable() && format->isEditable());
    EXPECT_EQ(control<QCheckBox>(dlg, 1010)->checkState(), Qt::Unchecked);
    EXPECT_EQ(control<QCheckBox>(dlg, 1012)->text(), QStringLiteral("High"));
    EXPECT_EQ(control<QPushButton>(dlg, 1013)->text(), QStringLiteral("Просмотр"));

    const int order[] = {1005, 1004, 1006, 1002, 1003, 1012, 1011, 1010, 1009, 1008, 1007, 1, 2, 1001, 1000, 1013, 3, 4};
    for (size_t i = 0; i + 1 < std::size(order); ++i) {
        QWidget* w = dlg.control(order[i])->nextInFocusChain();
        // Skip the inner parts of composite controls.
        while (w && w->parentWidget() == dlg.control(order[i]))
            w = w->nextInFocusChain();
        EXPECT_EQ(w, dlg.control(order[i + 1])) << order[i];
    }
}

TEST(PropertiesDialog, UnknownTokensAreShownAndWrittenBackUnchanged)
{
    FakeUi ui;
    PropertyList t = blankTexture();
    setValue(t, "bLow", "true");
    setValue(t, "d3dformat", "D3DFMT_L8");
    // Bytes of an old project's code page: shown as best Qt can, and kept
    // as they are unless the field is edited.
    setValue(t, "filename", "D:\\art\\\xD2\xF0\xE0\xE2\xE0.tga");
    setValue(t, "comment", "\xD2\xF0\xE0\xE2\xE0");
    CFileDlg dlg(t, ui);
    control<QLineEdit>(dlg, 1004)->setText(QStringLiteral("Трава"));
    EXPECT_EQ(control<QCheckBox>(dlg, 1008)->checkState(), Qt::PartiallyChecked);
    EXPECT_EQ(control<QComboBox>(dlg, 1003)->currentText(), QStringLiteral("D3DFMT_L8"));
    QLineEdit* mipsText = control<QComboBox>(dlg, 1002)->lineEdit();
    mipsText->clear();
    QTest::keyClicks(mipsText, QStringLiteral("12"));
    dlg.accept();
    EXPECT_EQ(dlg.result(), 1);
    EXPECT_EQ(value(t, "bLow"), "*");  // indeterminate: the edit leaves it alone
    EXPECT_EQ(value(t, "d3dformat"), "D3DFMT_L8");
    EXPECT_EQ(value(t, "miplevels"), "12");
    EXPECT_EQ(value(t, "bMedium"), "0");
    EXPECT_EQ(value(t, "bHigh"), "1");
    EXPECT_EQ(value(t, "filename"), "D:\\art\\\xD2\xF0\xE0\xE2\xE0.tga");
    EXPECT_EQ(value(t, "comment"), "Трава");
}

TEST(PropertiesDialog, MissingPropertiesDisableTheirControlsAndAreNotCreated)
{
    FakeUi ui;
    PropertyList t = {{"comment", "*"}, {"bHigh", "*"}, {"HighLevel", "1"}};
    CFileDlg dlg(t, ui);
    EXPECT_FALSE(dlg.control(1006)->isEnabled());
    EXPECT_FALSE(dlg.control(1005)->isEnabled());
    EXPECT_TRUE(control<QLineEdit>(dlg, 1006)->text().isEmpty());
    EXPECT_EQ(control<QLineEdit>(dlg, 1004)->text(), QStringLiteral("*"));
    dlg.accept();
    EXPECT_EQ(t.size(), 3u);
}

TEST(PropertiesDialog, CancelWritesNothingAndStepsCloseWith666And667)
{
    FakeUi ui;
    PropertyList t = blankTexture();
    {
        CFileDlg dlg(t, ui);
        control<QLineEdit>(dlg, 1004)->setText("changed");
        dlg.reject();
        EXPECT_EQ(dlg.result(), 2);
        EXPECT_EQ(value(t, "comment"), "c");
    }
    {
        CFileDlg dlg(t, ui);
        control<QLineEdit>(dlg, 1004)->setText("next");
        dlg.show();
        QApplication::setActiveWindow(&dlg);
        dlg.control(1004)->setFocus();
        QTest::keyClick(dlg.control(1004), Qt::Key_Right, Qt::AltModifier);
        EXPECT_EQ(dlg.result(), 666);
        EXPECT_EQ(value(t, "comment"), "next");
    }
    CFileDlg dlg(t, ui);
    control<QPushButton>(dlg, 4)->click();
    EXPECT_EQ(dlg.result(), 667);
}

TEST(PropertiesDialog, EnterInTheCommentFieldKeepsTheFocusThereNextTime)
{
    FakeUi ui;
    PropertyList t = blankTexture();
    CFileDlg::setRememberedFocus(0);
    {
        CFileDlg dlg(t, ui);
        dlg.show();
        QApplication::setActiveWindow(&dlg);
        dlg.control(1004)->setFocus();
        QTest::keyClick(dlg.control(1004), Qt::Key_Return);
        EXPECT_EQ(dlg.result(), 1);
    }
    EXPECT_EQ(CFileDlg::rememberedFocus(), 1004);
    CFileDlg next(t, ui);
    next.show();
    QApplication::setActiveWindow(&next);
    EXPECT_TRUE(waitFor([&] { return next.focusWidget() == next.control(1004); }, 2000));
    CFileDlg::setRememberedFocus(0);
}

TEST(PropertiesDialog, SourceButtonsUseTheFileDialogAndTheDesktop)
{
    FakeUi ui;
    PropertyList t = blankTexture();
    CFileDlg dlg(t, ui);
    ui.openNames = {{"/new/source.tga"}};
    dlg.chooseSource();
    EXPECT_EQ(control<QLineEdit>(dlg, 1005)->text(), QStringLiteral("/new/source.tga"));
    dlg.openSource();
    EXPECT_EQ(ui.opened, QStringList{"/new/source.tga"});
}

// --- modal windows ------------------------------------------------------------

namespace {

// Runs `open`, which shows a modal window, and hands that window to
// `inspect` while it is up; `inspect` must close it.
void whileModal(const std::function<void()>& open, const std::function<void(QWidget*)>& inspect)
{
    bool seen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QWidget* w = QApplication::activeModalWidget(); w && !seen && w->isVisible()) {
            seen = true;
            inspect(w);
        }
    });
    poll.start(20);
    open();
    EXPECT_TRUE(seen);
}

} // namespace

TEST(ModalWindows, CaptionsAreExactAndFramesHaveNoSizeButtons)
{
    QtUiServices services;
    FakeUi ui;
    PropertyList t = blankTexture();
    CFileDlg dlg(t, ui);
    const std::pair<std::function<void()>, QString> windows[] = {
        {[&] { services.ask("Document changed. Save it?"); }, "Atlasdesk"},
        {[&] { services.warn("Failed to save document."); }, "Atlasdesk"},
        {[&] { dlg.exec(); }, "Dialog"}};
    for (const auto& [open, caption] : windows)
        whileModal(open, [&, caption = caption](QWidget* w) {
            EXPECT_EQ(w->windowTitle(), caption);
            const Qt::WindowFlags flags = w->windowFlags();
            EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
            EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
            EXPECT_EQ(w->minimumSize(), w->maximumSize());
            qobject_cast<QDialog*>(w)->reject();
        });
}

TEST(ModalWindows, AllFilesTakesNamesWithoutADotAsOnWindows)
{
    QTemporaryDir dir;
    for (const char* name : {"a.bmp", "noext"}) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QDir::setCurrent(dir.path());
    QtUiServices services;
    QStringList chosen;
    whileModal([&] { chosen = services.openFileNames("Select Image files", "All Files (*.*)", true); },
               [&](QWidget* w) {
                   EXPECT_EQ(w->windowTitle(), "Select Image files");
                   auto* dialog = qobject_cast<QFileDialog*>(w);
                   ASSERT_NE(dialog, nullptr);
                   dialog->setDirectory(dir.path());
                   auto* model = dialog->findChild<QFileSystemModel*>();
                   ASSERT_TRUE(waitFor([&] {
                       return model->rowCount(model->index(dir.path())) == 2;
                   }, 5000));
                   auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                   ASSERT_NE(name, nullptr);
                   name->setText("\"a.bmp\" \"noext\"");
                   static_cast<QDialog*>(dialog)->accept();  // as the Open button does
               });
    EXPECT_EQ(chosen, QStringList({dir.filePath("a.bmp"), dir.filePath("noext")}));
}

// --- the main window --------------------------------------------------------

namespace {

// Every main window of the tests starts without recent files.
struct ClearRecentFiles {
    ClearRecentFiles()
    {
        QSettings(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Atlasdesk"))
            .remove("Recent File List");
    }
};

struct FrameFixture : ::testing::Test {
    ClearRecentFiles clear;
    FakeUi ui;
    AtlasdeskDoc doc{ui};
    CMainFrame frame{doc};
};

QString menuTexts(QMenu* menu)
{
    QStringList out;
    for (QAction* a : menu->actions())
        if (a->isSeparator())
            out << "-";
        else if (a->isVisible())
            out << a->text();
    return out.join(" | ");
}

} // namespace

using MainWindow = FrameFixture;

TEST_F(MainWindow, MenusCarryTheirItemsAndShortcutTexts)
{
    const auto menus = frame.menuBar()->actions();
    ASSERT_EQ(menus.size(), 4);
    EXPECT_EQ(menus[0]->text(), QStringLiteral("&File"));
    EXPECT_EQ(menuTexts(menus[1]->menu()),
              QStringLiteral("Edit\tF2 | - | Cu&t\tCtrl+X | &Copy\tCtrl+C | &Paste\tCtrl+V | - | "
                             "Select All\tCtrl+A | - | Add files | - | BUILD CDDS"));
    EXPECT_EQ(menuTexts(menus[2]->menu()), QStringLiteral("&Toolbar | &Status Bar"));
    EXPECT_EQ(menuTexts(menus[3]->menu()), QStringLiteral("&About Atlasdesk..."));
    EXPECT_EQ(menuTexts(menus[0]->menu()),
              QStringLiteral("&New\tCtrl+N | &Open...\tCtrl+O | &Save\tCtrl+S | Save &As... | - | &Print...\tCtrl+P | "
                             "Print Pre&view | P&rint Setup... | - | Recent File | - | E&xit"));
    frame.addRecentFile(QStringLiteral("/p/one.xml"));
    EXPECT_TRUE(menuTexts(menus[0]->menu()).contains("| - | &1 one.xml | - |"));
}

TEST_F(MainWindow, AcceleratorsIncludeTheOldClipboardKeys)
{
    using K = QKeySequence;
    EXPECT_TRUE(frame.action(ID_EDIT_COPY)->shortcuts().contains(K(Qt::CTRL | Qt::Key_Insert)));
    EXPECT_TRUE(frame.action(ID_EDIT_CUT)->shortcuts().contains(K(Qt::SHIFT | Qt::Key_Delete)));
    EXPECT_TRUE(frame.action(ID_EDIT_PASTE)->shortcuts().contains(K(Qt::SHIFT | Qt::Key_Insert)));
    EXPECT_TRUE(frame.action(ID_EDIT_EDIT)->shortcuts().contains(K(Qt::Key_Return)));
    EXPECT_EQ(frame.action(ID_EDIT_DELETE)->shortcut(), K(Qt::Key_Delete));
    EXPECT_EQ(frame.action(ID_EDIT_INSERT)->shortcut(), K(Qt::Key_Insert));
    EXPECT_EQ(frame.action(ID_FILE_NEW)->statusTip(), QStringLiteral("Create a new document"));
    EXPECT_EQ(frame.action(ID_FILE_NEW)->toolTip(), QStringLiteral("New"));
}

TEST_F(MainWindow, ToolbarHoldsItsEightButtonsInOrder)
{
    QStringList ids;
    for (QAction* a : frame.toolBar()->actions())
        ids << (a->isSeparator() ? QStringLiteral("-") : QString::number(a->data().toInt()));
    EXPECT_EQ(ids.join(' '), QStringLiteral("57600 57601 57603 - 57635 57634 57637 - 57607 - 57664"));
    EXPECT_EQ(frame.toolBar()->iconSize(), QSize(16, 15));
}

TEST_F(MainWindow, SelectionCommandsFollowTheSelectionAndTheTitleTheDocument)
{
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Untitled[*] - Atlasdesk"));
    EXPECT_FALSE(frame.isWindowModified());
    EXPECT_FALSE(frame.action(ID_EDIT_COPY)->isEnabled());
    EXPECT_TRUE(frame.action(ID_EDIT_PASTE)->isEnabled());
    ui.openNames = {{"/t/a.png"}};
    frame.action(ID_EDIT_ADD_FILES)->trigger();
    EXPECT_TRUE(frame.isWindowModified());
    frame.action(ID_EDIT_SELECT_ALL)->trigger();
    EXPECT_TRUE(frame.action(ID_EDIT_COPY)->isEnabled());
    EXPECT_TRUE(frame.action(ID_EDIT_EDIT)->isEnabled());
    frame.action(ID_EDIT_DELETE)->trigger();
    EXPECT_FALSE(frame.action(ID_EDIT_CUT)->isEnabled());
}

TEST_F(MainWindow, RecentFilesKeepSixAndLiveInTheSettings)
{
    for (int i = 1; i <= 8; ++i)
        frame.addRecentFile(QStringLiteral("/p/project%1.xml").arg(i));
    frame.addRecentFile(QStringLiteral("/p/project5.xml"));
    const QStringList expected = {"/p/project5.xml", "/p/project8.xml", "/p/project7.xml",
                                  "/p/project6.xml", "/p/project4.xml", "/p/project3.xml"};
    EXPECT_EQ(frame.recentFiles(), expected);
    QSettings s(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Atlasdesk"));
    EXPECT_EQ(s.value("Recent File List/File1").toString(), expected[0]);
    EXPECT_EQ(s.value("Recent File List/File6").toString(), expected[5]);
    CMainFrame again(doc);
    EXPECT_EQ(again.recentFiles(), expected);
    // The first entry no longer opens: a message, and it leaves the list.
    for (QAction* a : frame.findChildren<QAction*>())
        if (a->data().toInt() == ID_FILE_MRU_FILE1)
            a->trigger();
    EXPECT_EQ(ui.warnings, QStringList{"Failed to open document.\n/p/project5.xml"});
    EXPECT_EQ(frame.recentFiles(), expected.mid(1));
    s.remove("Recent File List");
}

TEST_F(MainWindow, EditCommandsRunTheDialogThroughTheView)
{
    ui.openNames = {{"/t/a.png", "/t/b.png"}};
    frame.action(ID_EDIT_ADD_FILES)->trigger();
    int runs = 0;
    frame.view()->setDialogRunner([&](PropertyList& c) {
        ++runs;
        for (auto& [k, v] : c)
            if (k == "comment")
                v = "via dialog";
        return 1;
    });
    frame.view()->table().selectOnly(1);
    frame.action(ID_EDIT_EDIT)->trigger();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(frame.view()->table().text(1, 4), QStringLiteral("via dialog"));
    frame.action(ID_EDIT_INSERT)->trigger();
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(frame.view()->table().rowCount(), 3);
}

TEST_F(MainWindow, KeysOfTheListReachTheirCommands)
{
    ui.openNames = {{"/t/a.png", "/t/b.png", "/t/c.png"}};
    frame.action(ID_EDIT_ADD_FILES)->trigger();
    int runs = 0;
    frame.view()->setDialogRunner([&](PropertyList&) {
        ++runs;
        return 2;
    });
    frame.show();
    QApplication::setActiveWindow(&frame);
    frame.view()->setFocus();
    auto& table = frame.view()->table();
    table.selectOnly(1);
    QTest::keyClick(frame.view(), Qt::Key_F2);
    QTest::keyClick(frame.view(), Qt::Key_Return);
    EXPECT_EQ(runs, 2);
    QTest::keyClick(frame.view(), Qt::Key_Delete);
    EXPECT_EQ(table.rowCount(), 2);
    QTest::keyClick(frame.view(), Qt::Key_Insert);
    EXPECT_EQ(table.rowCount(), 3);
    EXPECT_EQ(runs, 3);
    // A double click edits the row under the pointer.
    const QRect cell = frame.view()->visualRect(table.index(2, 0));
    QTest::mouseClick(frame.view()->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(frame.view()->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(runs, 4);
    EXPECT_EQ(table.focusedRow(), 2);
    // Below the last row it edits the focused row, which the click keeps.
    table.setFocusedRow(1);
    const QPoint below(cell.center().x(), frame.view()->visualRect(table.index(2, 0)).bottom() + 20);
    ASSERT_FALSE(frame.view()->indexAt(below).isValid());
    QTest::mouseDClick(frame.view()->viewport(), Qt::LeftButton, {}, below);
    EXPECT_EQ(runs, 5);
    EXPECT_EQ(table.focusedRow(), 1);
}

TEST_F(MainWindow, LockPanesShowTheKeyboardsLocks)
{
    std::optional<LockStates> states;
    frame.setLockStateReader([&] { return states; });
    const auto lit = [&] {
        return QString("%1%2%3").arg(frame.lockPane(0)->isEnabled()).arg(frame.lockPane(1)->isEnabled())
            .arg(frame.lockPane(2)->isEnabled());
    };
    EXPECT_EQ(lit(), "000");  // a platform that cannot tell
    states = LockStates{true, false, true};
    frame.updateLockPanes();
    EXPECT_EQ(lit(), "101");
    EXPECT_EQ(frame.lockPane(2)->text(), "SCRL");
    states = LockStates{false, true, false};
    EXPECT_TRUE(waitFor([&] { return lit() == "010"; }, 2000));  // polled, no key needed
}

TEST_F(MainWindow, IndeterminateFlagSurvivesTheRealDialog)
{
    ui.openNames = {{"/t/a.png"}};
    frame.action(ID_EDIT_ADD_FILES)->trigger();
    auto& table = frame.view()->table();
    setProperty(doc.project(), table.texture(0), "bLow", "true");
    frame.view()->setDialogRunner([&](PropertyList& combined) {
        CFileDlg dlg(combined, ui, &frame);
        EXPECT_EQ(qobject_cast<QCheckBox*>(dlg.control(1008))->checkState(), Qt::PartiallyChecked);
        dlg.accept();
        return dlg.result();
    });
    table.selectOnly(0);
    frame.view()->editSelected();
    EXPECT_EQ(*property(table.texture(0), "bLow"), "true");
    EXPECT_EQ(*property(table.texture(0), "bHigh"), "1");
}

TEST_F(MainWindow, FileOpenKeepsTheProjectWhenTheFileIsNoProject)
{
    QTemporaryDir dir;
    QFile bad(dir.filePath("bad.xml"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not xml at all");
    bad.close();
    ui.openNames = {{"/t/a.png"}};
    frame.action(ID_EDIT_ADD_FILES)->trigger();

    ui.answers = {UiServices::Answer::No};
    ui.openNames = {{dir.filePath("bad.xml")}};
    frame.action(ID_FILE_OPEN)->trigger();
    EXPECT_EQ(frame.view()->table().rowCount(), 1);
    EXPECT_TRUE(frame.isWindowModified());
    EXPECT_EQ(ui.warnings, QStringList{"Failed to open document.\n" + dir.filePath("bad.xml")});

    ui.saveNames = {dir.filePath("good.xml")};
    frame.action(ID_FILE_SAVE)->trigger();
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("good.xml[*] - Atlasdesk"));
    EXPECT_FALSE(frame.isWindowModified());
    frame.action(ID_FILE_NEW)->trigger();
    EXPECT_EQ(frame.view()->table().rowCount(), 0);
    ui.openNames = {{dir.filePath("good.xml")}};
    frame.action(ID_FILE_OPEN)->trigger();
    EXPECT_EQ(frame.view()->table().rowCount(), 1);
    EXPECT_EQ(frame.recentFiles().first(), QFileInfo(dir.filePath("good.xml")).absoluteFilePath());
    QSettings(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Atlasdesk"))
        .remove("Recent File List");
}

TEST(Printing, TitleLineAndRowsSpreadOverPages)
{
    FakeUi ui;
    AtlasdeskDoc doc(ui);
    for (int i = 0; i < 150; ++i)
        addTextureFromFile(doc.project(), "/art/texture" + std::to_string(i) + ".tga");
    TextureTable table(doc);

    QImage page(600, 800, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    const int pages = paintTablePage(painter, QRectF(0, 0, 600, 800), table, QStringLiteral("Atlasdesk - p.xml"), 0);
    painter.end();
    EXPECT_GT(pages, 1);
    // The title line and the rows are drawn: ink in the top band and low down.
    auto inkIn = [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y)
            for (int x = 0; x < 600; ++x)
                if (page.pixel(x, y) != qRgb(255, 255, 255))
                    return true;
        return false;
    };
    EXPECT_TRUE(inkIn(0, 20));
    EXPECT_TRUE(inkIn(700, 800));

    QTemporaryDir dir;
    QPdfWriter pdf(dir.filePath("t.pdf"));
    printTable(pdf, table, QStringLiteral("Atlasdesk - p.xml"));
    QFile f(dir.filePath("t.pdf"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_TRUE(bytes.startsWith("%PDF"));
    EXPECT_GE(bytes.count("/Type /Page") - bytes.count("/Type /Pages"), 2);
}
