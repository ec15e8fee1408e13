// The modal window that shows the converter's output while a CDDS build
// runs.  The converter has no console of its own here, so its lines appear
// as they arrive; the editor keeps painting because the window runs the
// event loop instead of blocking in a wait.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <QProcess>

class QPlainTextEdit;
class QPushButton;
class QLabel;

class BuildLogDialog : public QDialog {
    Q_OBJECT
public:
    explicit BuildLogDialog(QWidget* parent = nullptr);

    // Starts the program; its standard output and error go to the log.
    // When `output` is given, the end of the run says whether the program
    // wrote it: the converter's status alone does not tell.
    void start(const QString& program, const QStringList& arguments, const QString& output = {});

    bool isRunning() const;
    QString logText() const;

signals:
    void converterFinished();

public slots:
    void reject() override;

private:
    void appendOutput();
    void followEnd();
    bool outputWritten() const;
    void finish(const QString& status);

    QProcess m_process;
    QPlainTextEdit* m_log;
    QLabel* m_status;
    QPushButton* m_stop;
    QPushButton* m_close;
    QString m_program;
    QString m_output;
    QDateTime m_outputBefore;  // its modification time before the run; null when absent
    QByteArray m_pending;  // the bytes of the last line, which has not ended yet
    bool m_done = false;
    bool m_follow = true;  // the view keeps to the last line
};
