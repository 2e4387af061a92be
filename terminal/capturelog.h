#pragma once

#include "terminal/stampedlog.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <condition_variable>
#include <mutex>
#include <thread>

enum class LogForm { Raw, Stamped };

// One capture log on disk: the raw received bytes, or the text with arrival times. The text is
// made as the bytes come; a thread of the log's own writes it, so that a slow or full disk never
// holds up the port. What has come reaches the file within a second, and all of it by stop() or
// when the log goes. A file that cannot take it stops the log and says so once, through
// stopped(); the caller's screen and port are not touched.
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
    // Writes all that has come, waiting for the disk, and closes the file.
    void stop();
    // Hands what has come to the writing thread.
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
        if (m_buffer.size() >= HandOver)
            flush();
    }

    // The message of a log that stopped: "Logging to FILE stopped: reason".
    static QString stoppedText(const QString &path, const QString &reason);

signals:
    // The log has stopped on its own; message says which file and why.
    void stopped(const QString &message);

private:
    // Text handed to the writer a piece at a time; past Behind bytes not yet written, flush()
    // waits for the disk rather than let memory grow.
    static constexpr qsizetype HandOver = 1 << 20;
    static constexpr qsizetype Behind = 64 << 20;

    void writeLoop(int fd, quint64 generation);
    int endWriter();
    void writerFailed(quint64 generation);
    void fail(const QString &reason);

    LogForm m_form;
    int m_fd = -1;
    QString m_path;
    QByteArray m_buffer;
    StampedForm m_stamped;
    QTimer m_flushTimer;

    // Shared with the writing thread, under m_mutex.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QByteArray m_pending;
    bool m_ending = false;
    int m_writeError = 0;
    quint64 m_generation = 0;
    std::thread m_writer;
};
