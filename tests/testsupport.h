#pragma once

// Helpers shared by the tests: the peer tool on a real pseudo-terminal, and answering modal
// boxes the way a user would.

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <QTimer>

#include <memory>

// quorpeer running on a fresh pseudo-terminal; path() is the device the program opens.
class Peer
{
public:
    explicit Peer(const QStringList &arguments = {})
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(QUORPEER_PATH), arguments);
        // Generous for a loaded machine; the path usually comes within milliseconds.
        if (!m_process.waitForStarted(10000))
            return;
        const QDeadlineTimer deadline(10000);
        while (!m_process.canReadLine() && !deadline.hasExpired())
            m_process.waitForReadyRead(100);
        m_path = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }
    ~Peer() { stop(); }
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    QString path() const { return m_path; }
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    QProcess &process() { return m_process; }

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

#ifdef QT_WIDGETS_LIB
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

// What a modal box showed when it was answered.
struct ModalSeen
{
    bool shown = false;
    QString title;
    QString text;
};

// Answers the next modal box that comes up by pressing the button with the given standard role
// (QMessageBox::Ok, QMessageBox::Cancel ...), as a user would. Keep the result alive until the
// box has been answered.
inline std::shared_ptr<ModalSeen> answerNextModal(QMessageBox::StandardButton button = QMessageBox::Ok,
                                                  int timeoutMs = 10000)
{
    auto seen = std::make_shared<ModalSeen>();
    auto *timer = new QTimer;
    auto deadline = std::make_shared<QDeadlineTimer>(timeoutMs);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, seen, deadline, button] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            seen->shown = true;
            seen->title = box->windowTitle();
            seen->text = box->text();
            if (QAbstractButton *b = box->button(button))
                b->click();
            else
                box->reject();
            timer->deleteLater();
        } else if (deadline->hasExpired()) {
            timer->deleteLater();
        }
    });
    timer->start(10);
    return seen;
}

#endif

inline QByteArray readWhole(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
