#include "buildlogdialog.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
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

    m_process.setProcessChannelMode(QProcess::MergedChannels);
    connect(&m_process, &QProcess::readyRead, this, &BuildLogDialog::appendOutput);
    connect(m_stop, &QPushButton::clicked, this, [this] { m_process.kill(); });
    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);
    connect(&m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        appendOutput();
        finish(status == QProcess::CrashExit ? tr("The converter ended abnormally.")
                                             : tr("The converter ended with status %1.").arg(code));
    });
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish(tr("The converter could not be started: %1").arg(m_process.errorString()));
    });
}

void BuildLogDialog::start(const QString& program, const QStringList& arguments)
{
    m_status->setText(tr("Running %1 ...").arg(QFileInfo(program).fileName()));
    // The converter waits for a key only on a terminal; closed input makes
    // sure it never waits here.
    m_process.setStandardInputFile(QProcess::nullDevice());
    m_process.start(program, arguments);
}

bool BuildLogDialog::isRunning() const
{
    return !m_done;
}

QString BuildLogDialog::logText() const
{
    return m_log->toPlainText();
}

void BuildLogDialog::reject()
{
    // Closing while the converter runs would leave it writing unseen.
    if (m_done)
        QDialog::reject();
}

void BuildLogDialog::appendOutput()
{
    m_pending += m_process.readAll();
    qsizetype nl;
    while ((nl = m_pending.indexOf('\n')) >= 0) {
        QByteArray line = m_pending.left(nl);
        if (line.endsWith('\r'))
            line.chop(1);
        m_log->appendPlainText(QString::fromLocal8Bit(line));
        m_pending.remove(0, nl + 1);
    }
}

void BuildLogDialog::finish(const QString& status)
{
    if (m_done)
        return;
    if (!m_pending.isEmpty()) {
        m_log->appendPlainText(QString::fromLocal8Bit(m_pending));
        m_pending.clear();
    }
    m_done = true;
    m_status->setText(status);
    m_stop->setEnabled(false);
    m_close->setEnabled(true);
    m_close->setDefault(true);
    m_close->setFocus();
    emit converterFinished();
}
