#pragma once

// The file send's rig: a window on a peer that records all it receives, files to send, and
// hooks that act at a chosen moment of the send.

#include "app/form1.h"
#include "serial/portmap.h"
#include "serial/serialportcontrol.h"
#include "support/files.h"
#include "support/peer.h"
#include "widgets/commondialog.h"

#include <QProgressBar>
#include <QSerialPort>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

// Written after everything else, so that what the peer holds before it is all that was sent.
inline const QByteArray EndMarker = QByteArrayLiteral("#end#");

// What the peer recorded before the marker once the marker arrives, written through port, or
// through a port of its own on device when port is null or closed.
inline QByteArray receivedBeforeMarker(const QString &record, const QString &device,
                                       SerialPortControl *port = nullptr)
{
    QSerialPort own(device);
    if (port && port->portOpen())
        port->setOutput(EndMarker);
    else if (!own.open(QIODevice::ReadWrite) || own.write(EndMarker) != EndMarker.size() ||
             !own.waitForBytesWritten(10000))
        return "(the marker could not be written)";
    QByteArray got;
    (void)QTest::qWaitFor([&got, &record] { return (got = readWhole(record)).contains(EndMarker); },
                          10000);
    return got.left(got.indexOf(EndMarker));
}

// Runs an action once, as soon as the send's closing wait is seen running.
class WaitWatcher
{
public:
    WaitWatcher(Form1 &window, const std::function<void()> &action)
    {
        QObject::connect(&m_poll, &QTimer::timeout, &window, [this, &window, action] {
            if (!window.Timer1->isActive())
                return;
            m_poll.stop();
            action();
        });
        m_poll.start(20);
    }

private:
    QTimer m_poll;
};

// The terminal window with COM1 on a peer that records all it receives.
class SendRig
{
public:
    explicit SendRig(const QStringList &peerArguments = {})
        : peer(QStringList{QStringLiteral("--record"), recordFile} + peerArguments),
          window(PortMap::build(portEnvironment({{1, peer.path()}}), {}))
    {
        window.CommonDialog1->setChooser([this](QWidget *, const QString &) {
            ++chooserCalls;
            return choices.empty() ? QString() : choices.takeFirst();
        });
        window.show();
    }

    // Opens COM1 directly at the given rate; a pty runs at its own pace whatever the rate, but
    // the send paces its progress by it.
    bool openPort(int baud = 4000000)
    {
        window.MSComm1->setCommPort(1);
        window.MSComm1->setSettings(QStringLiteral("%1,n,8,2").arg(baud));
        window.MSComm1->setPortOpen(true);
        return window.MSComm1->portOpen();
    }

    QString file(const QByteArray &content) { return files.file(content); }

    QByteArray received() const { return readWhole(recordFile); }

    // What the peer has received once it holds at least `size` bytes (or after the timeout).
    QByteArray receivedAtLeast(qsizetype size, int timeoutMs = 10000) const
    {
        QByteArray got;
        (void)QTest::qWaitFor([this, &got, size] { return (got = received()).size() >= size; },
                              timeoutMs);
        return got;
    }

    // Everything the peer has received, and nothing will follow: a marker written after it has
    // arrived.
    QByteArray receivedInTheEnd()
    {
        return receivedBeforeMarker(recordFile, peer.path(), window.MSComm1);
    }

    TempFiles files;
    const QString recordFile = files.path(QStringLiteral("received"));
    Peer peer;
    Form1 window;
    QStringList choices;
    int chooserCalls = 0;
};

inline const QString Confirmation =
    QStringLiteral("This function sends a file simply .. with no protocol");
inline const QString SendError = QStringLiteral("Error during file send ... port not open?");

// Lines "<tag>1" .. "<tag>n", each ended by LF.
inline QByteArray numberedLines(const char *tag, int count)
{
    QByteArray all;
    for (int i = 1; i <= count; ++i)
        all += tag + QByteArray::number(i) + '\n';
    return all;
}

inline QByteArray withoutLineEnds(QByteArray bytes)
{
    bytes.removeIf([](char c) { return c == '\r' || c == '\n'; });
    return bytes;
}

// Runs `action` once, during the yield that follows the line that brings the bar to `value`.
inline void onceAtValue(Form1 &window, int value, const std::function<void()> &action)
{
    auto done = std::make_shared<bool>(false);
    QObject::connect(window.ProgressBar1, &QProgressBar::valueChanged, window.ProgressBar1,
                     [value, done, action](int now) {
                         if (now != value || *done)
                             return;
                         *done = true;
                         QTimer::singleShot(0, action);
                     });
}
