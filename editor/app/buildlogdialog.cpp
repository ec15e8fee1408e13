#include "editor/app/buildlogdialog.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

BuildLogDialog::BuildLogDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("BUILD CDDS"));
    setModal(true);
    m_log = new QPlainTextEdit(this);
    m_log->setReadOnly(true);
    m_log->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_log->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_status = new QLabel(this);
    m_stop = new QPushButton(tr("Stop"), this);
    m_close = new QPushButton(tr("Close"), this);
    m_close->setEnabled(false);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(m_stop, QDialogButtonBox::ActionRole);
    buttons->addButton(m_close, QDialogButtonBox::RejectRole);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_log);
    layout->addWidget(m_status);
    layout->addWidget(buttons);
    resize(640, 400);

    QScrollBar* bar = m_log->verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, &BuildLogDialog::followEnd);
    connect(bar, &QScrollBar::actionTriggered, this, [this, bar] {
        // The action moves the bar after this signal.
        QTimer::singleShot(0, this, [this, bar] { m_follow = bar->value() >= bar->maximum(); });
    });

    m_process.setProcessChannelMode(QProcess::MergedChannels);
    connect(&m_process, &QProcess::readyRead, this, &BuildLogDialog::appendOutput);
    // Enter or Space must not end a build by accident: the log has the
    // focus while it runs, and Stop is never the default button.
    m_stop->setAutoDefault(false);
    m_log->setFocus();
    connect(m_stop, &QPushButton::clicked, this, [this] { m_process.kill(); });
    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);
    connect(&m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        appendOutput();
        if (status == QProcess::CrashExit)
            finish(tr("The converter ended abnormally."));
        else if (!m_output.isEmpty() && !outputWritten())
            finish(tr("The converter ended with status %1; %2 was not written.").arg(code).arg(m_output));
        else
            finish(tr("The converter ended with status %1.").arg(code));
    });
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish(tr("The converter %1 could not be started: %2").arg(m_program, m_process.errorString()));
    });
}

void BuildLogDialog::start(const QString& program, const QStringList& arguments, const QString& output)
{
    m_program = program;
    m_output = output;
    const QFileInfo before(output);
    m_outputBefore = !output.isEmpty() && before.exists() ? before.lastModified() : QDateTime();
    m_status->setText(tr("Running %1 ...").arg(QFileInfo(program).fileName()));
    // The converter waits for a key only on a terminal; closed input makes
    // sure it never waits here.
    m_process.setStandardInputFile(QProcess::nullDevice());
    m_process.start(program, arguments);
}

bool BuildLogDialog::outputWritten() const
{
    // The converter writes beside the target and renames into place, so a
    // written file is newer than the one before the run.
    const QFileInfo after(m_output);
    return after.exists() && (m_outputBefore.isNull() || after.lastModified() > m_outputBefore);
}

bool BuildLogDialog::isRunning() const
{
    return !m_done;
}

QString BuildLogDialog::logText() const
{
    // After a line end the last block is the empty start of the next line.
    QString text = m_log->toPlainText();
    if (m_pending.isEmpty() && text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text;
}

void BuildLogDialog::reject()
{
    // Closing while the converter runs would leave it writing unseen.
    if (m_done)
        QDialog::reject();
}

void BuildLogDialog::appendOutput()
{
    const QByteArray data = m_process.readAll();
    if (data.isEmpty())
        return;
    // The last line may still be growing (the converter's progress dots):
    // it is shown as it arrives and rewritten in place until it ends.
    m_pending += data;
    QTextCursor end(m_log->document());
    end.movePosition(QTextCursor::End);
    end.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
    QStringList lines = QString::fromLocal8Bit(m_pending).split(QLatin1Char('\n'));
    m_pending = m_pending.mid(m_pending.lastIndexOf('\n') + 1);
    for (QString& line : lines)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    end.insertText(lines.join(QLatin1Char('\n')));
}

void BuildLogDialog::followEnd()
{
    // Stays on the last line while the user has not scrolled away from it;
    // the range also changes when a long line brings the horizontal bar.
    if (m_follow)
        m_log->verticalScrollBar()->setValue(m_log->verticalScrollBar()->maximum());
}

void BuildLogDialog::finish(const QString& status)
{
    if (m_done)
        return;
    m_done = true;
    m_status->setText(status);
    m_stop->setEnabled(false);
    m_close->setEnabled(true);
    m_close->setDefault(true);
    m_close->setFocus();
    emit converterFinished();
}
