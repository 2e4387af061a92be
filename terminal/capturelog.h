#pragma once

#include "terminal/stampedlog.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

enum class LogForm { Raw, Stamped };

// One capture log on disk: the raw received bytes, or the text with arrival times. Writes are
// buffered and reach the file at least once a second, at flush() and when the log goes. A file
// that cannot take them stops the log and says so once, through stopped(); the caller's screen
// and port are not touched.
class CaptureLog : public QObject
{
    Q_OBJECT

public:
    explicit CaptureLog(LogForm form, QObject *parent = nullptr);
    ~CaptureLog() override;
    CaptureLog(const CaptureLog &) = delete;
    CaptureLog &operator=(const CaptureLog &) = delete;

    LogForm form() const { return m_form; }
    bool isActive() const { return m_fd >= 0; }
    QString path() const { return m_path; }

    // Appends to the file at path from now on (a log already running ends first). A folder, a
    // FIFO or a device is refused; a refusal or a failure to open is reported through stopped().
    bool start(const QString &path);
    // Writes what is buffered and closes the file.
    void stop();
    // Hands what is buffered to the file.
    void flush();

    // Bytes that came from the port, or went to it, at msSinceEpoch. The raw form keeps only
    // what came.
    void add(LogDirection direction, QByteArrayView bytes, qint64 msSinceEpoch)
    {
        if (m_fd < 0)
            return;
        if (m_form == LogForm::Stamped)
            m_stamped.append(direction, msSinceEpoch, bytes, m_buffer);
        else if (direction == LogDirection::Received)
            m_buffer.append(bytes);
        if (m_buffer.size() >= BufferLimit)
            flush();
    }

    // The message of a log that stopped: "Logging to FILE stopped: reason".
    static QString stoppedText(const QString &path, const QString &reason);

signals:
    // The log has stopped on its own; message says which file and why.
    void stopped(const QString &message);

private:
    static constexpr qsizetype BufferLimit = 1 << 20;

    int writeOut();
    void fail(const QString &reason);

    LogForm m_form;
    int m_fd = -1;
    QString m_path;
    QByteArray m_buffer;
    StampedForm m_stamped;
    QTimer m_flushTimer;
};
