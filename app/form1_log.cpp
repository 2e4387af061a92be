#include "app/form1.h"
#include "widgets/commondialog.h"
#include "widgets/messagebox.h"
#include "widgets/screen.h"

#include <QAction>
#include <QDateTime>

namespace {

// The save dialog's types, in the order of LogForm.
const QStringList &logTypes()
{
    static const QStringList types{QStringLiteral("Raw bytes (*)"),
                                   QStringLiteral("Text with arrival times (*.txt)")};
    return types;
}

QString formName(LogForm form)
{
    return form == LogForm::Raw ? QStringLiteral("raw bytes")
                                : QStringLiteral("text with arrival times");
}

} // namespace

void Form1::createLogging()
{
    RawLog = new CaptureLog(LogForm::Raw, this);
    RawLog->setObjectName(QStringLiteral("RawLog"));
    StampedLog = new CaptureLog(LogForm::Stamped, this);
    StampedLog->setObjectName(QStringLiteral("StampedLog"));
    for (CaptureLog *log : {RawLog, StampedLog})
        // Queued: a failure found inside the receive handler is shown once that has finished,
        // so that the box's own event loop cannot read the port in between.
        connect(log, &CaptureLog::stopped, this, &Form1::logStopped, Qt::QueuedConnection);

    LogToFile = new QAction(QStringLiteral("Log to File..."), this);
    LogToFile->setObjectName(QStringLiteral("LogToFile"));
    LogToFile->setCheckable(true);
    LogToFile->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L));
    connect(LogToFile, &QAction::triggered, this, &Form1::LogToFile_triggered);
    Text1->addMenuActions({LogToFile});
    showLogState();
}

void Form1::LogToFile_triggered()
{
    if (RawLog->isActive() || StampedLog->isActive()) {
        RawLog->stop();
        StampedLog->stop();
    } else {
        const CommonDialog::AppendChoice choice =
            CommonDialog1->ShowAppend(QStringLiteral("Log to File"), logTypes());
        if (!choice.path.isEmpty())
            startLog(choice.path, choice.type == 1 ? LogForm::Stamped : LogForm::Raw);
    }
    showLogState();
}

void Form1::startLog(const QString &path, LogForm form)
{
    (form == LogForm::Raw ? RawLog : StampedLog)->start(path);
    showLogState();
}

void Form1::showLogState()
{
    QStringList running;
    for (const CaptureLog *log : {RawLog, StampedLog})
        if (log->isActive())
            running.append(
                QStringLiteral("Logging to %1 (%2)").arg(log->path(), formName(log->form())));
    LogToFile->setChecked(!running.isEmpty());
    LogToFile->setToolTip(running.isEmpty() ? QStringLiteral("Append what the port says to a file")
                                            : running.join(QLatin1Char('\n')));
}

void Form1::logStopped(const QString &message)
{
    showLogState();
    showMessage(this, message);
}

void Form1::logBytesNow(LogDirection direction, QByteArrayView bytes, qint64 ms)
{
    const qint64 now = ms != 0 ? ms : QDateTime::currentMSecsSinceEpoch();
    RawLog->add(direction, bytes, now);
    StampedLog->add(direction, bytes, now);
}
