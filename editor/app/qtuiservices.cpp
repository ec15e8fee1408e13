#include "qtuiservices.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

#include "buildlogdialog.h"

QtUiServices::Answer QtUiServices::ask(const QString& text)
{
    const auto button = QMessageBox::question(m_parent, QApplication::applicationDisplayName(), text,
                                              QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                              QMessageBox::Yes);
    return button == QMessageBox::Yes ? Answer::Yes : button == QMessageBox::No ? Answer::No : Answer::Cancel;
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
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
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
    dialog.start(program, arguments);
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
