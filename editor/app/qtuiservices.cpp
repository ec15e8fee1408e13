#include "editor/app/qtuiservices.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QMessageBox>
#include <QUrl>

#include "editor/app/buildlogdialog.h"
#include "editor/app/modalframe.h"

namespace {

// A message box captioned with the application's title, in the modal frame.
int runMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons,
                  QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, QStringLiteral("Atlasdesk"), text, buttons, parent);
    box.setDefaultButton(defaultButton);
    useModalFrame(box);
    return box.exec();
}

} // namespace

void matchWindowsWildcards(QFileDialog& dialog)
{
    // A Windows pattern ending in ".*" also takes names without a dot, so
    // "*.*" lists every file; Qt's own matching would hide "README".
    auto* model = dialog.findChild<QFileSystemModel*>();
    if (!model)
        return;
    const auto widen = [&dialog, model] {
        // "All Files (*.*)": the patterns are the words in the parentheses.
        const QString filter = dialog.selectedNameFilter();
        const qsizetype open = filter.lastIndexOf(QLatin1Char('('));
        const qsizetype close = filter.lastIndexOf(QLatin1Char(')'));
        QStringList patterns = open >= 0 && close > open
                                   ? filter.mid(open + 1, close - open - 1).split(QLatin1Char(' '), Qt::SkipEmptyParts)
                                   : filter.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (qsizetype i = 0, n = patterns.size(); i < n; ++i)
            if (patterns[i].endsWith(QLatin1String(".*")))
                patterns.append(patterns[i].chopped(2));
        model->setNameFilters(patterns);
    };
    widen();
    QObject::connect(&dialog, &QFileDialog::filterSelected, model, widen);
}

QtUiServices::Answer QtUiServices::ask(const QString& text)
{
    const int button = runMessageBox(m_parent, QMessageBox::Question, text,
                                     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    return button == QMessageBox::Yes ? Answer::Yes : button == QMessageBox::No ? Answer::No : Answer::Cancel;
}

void QtUiServices::warn(const QString& text)
{
    runMessageBox(m_parent, QMessageBox::Warning, text, QMessageBox::Ok, QMessageBox::Ok);
}

QString QtUiServices::saveFileName(const QString& title, const QString& filter, const QString& initialPath)
{
    // The dialog asks before replacing a file and adds no extension.
    QFileDialog dialog(m_parent, title, initialPath, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.selectFile(initialPath);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

QStringList QtUiServices::openFileNames(const QString& title, const QString& filter, bool multiple)
{
    QFileDialog dialog(m_parent, title, QString(), filter);
    // The desktop's own dialog would match the patterns its own way.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    matchWindowsWildcards(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

QString QtUiServices::clipboardText()
{
    return QApplication::clipboard()->text();
}

void QtUiServices::setClipboardText(const QString& text)
{
    QApplication::clipboard()->setText(text);
}

void QtUiServices::runBuild(const QString& program, const QStringList& arguments)
{
    BuildLogDialog dialog(m_parent);
    dialog.start(program, arguments, arguments.isEmpty() ? QString() : arguments.last());
    dialog.exec();
}

void QtUiServices::openWithDesktop(const QString& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void QtUiServices::setBusy(bool busy)
{
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}
