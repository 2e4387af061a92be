#pragma once

// The peer tool (quorpeer) on a fresh pseudo-terminal: the one way the tests start it.

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

// quorpeer running on a fresh pseudo-terminal; path() is the device the program opens.
class Peer
{
public:
    explicit Peer(const QStringList &arguments = {})
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(QUORPEER_PATH), arguments);
        // Generous for a loaded machine; the path usually comes within milliseconds.
        if (m_process.waitForStarted(10000))
            m_path = nextLine();
    }
    ~Peer() { stop(); }
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    QString path() const { return m_path; }
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    QProcess &process() { return m_process; }

    // The next line the peer prints, such as the path of a device it made anew.
    QString nextLine(int timeoutMs = 10000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!m_process.canReadLine() && !deadline.hasExpired())
            m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        return QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }

    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(3000))
                m_process.kill();
            m_process.waitForFinished(1000);
        }
    }

    // Wait for the peer to end on its own (e.g. --exit-after-send).
    bool waitForExit(int ms = 10000) { return m_process.waitForFinished(ms); }

private:
    QProcess m_process;
    QString m_path;
};

// An environment that maps COM<n> to the given devices and nothing else.
inline QProcessEnvironment portEnvironment(const QList<QPair<int, QString>> &ports)
{
    QProcessEnvironment env;
    for (const auto &[number, path] : ports)
        env.insert(QStringLiteral("QUORLINE_COM%1").arg(number), path);
    return env;
}
