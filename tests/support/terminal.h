#pragma once

// The terminal window on a real pseudo-terminal with the peer tool at the other end: the one rig
// for every test of the window on a port.

#include "app/form1.h"
#include "serial/portmap.h"
#include "serial/serialportcontrol.h"
#include "support/files.h"
#include "support/peer.h"
#include "widgets/commondialog.h"
#include "widgets/screen.h"

#include <QPushButton>
#include <QSerialPort>
#include <QTest>

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

// The window's start-up opens each port for a moment to see that it opens. A peer told to wait
// for the open would start on that probe, and the probe's close would show its first bytes before
// the test has set the window up: unless the test says when, the peer starts a while later.
inline QStringList pastStartupProbe(QStringList arguments)
{
    if (arguments.contains(QStringLiteral("--wait-open")) &&
        !arguments.contains(QStringLiteral("--delay")))
        arguments << QStringLiteral("--delay") << QStringLiteral("250");
    return arguments;
}

// How a Terminal starts (outside the class: a default argument cannot use it from inside).
struct TerminalOptions
{
    // The peer writes all it receives to recordFile.
    bool record = false;
    // The window's start-up (port discovery, lists, help text) runs before it shows; off,
    // the window shows as constructed and the test may set fields before calling load().
    bool load = true;
    // The file dialog answers with `choices`, in order (an empty name once they run out).
    bool chooser = false;
};

// A window whose COM1 is the peer's pty and nothing else, shown.
class Terminal
{
public:
    using Options = TerminalOptions;

    explicit Terminal(const QStringList &peerArguments = {}, Options options = {})
        : peer(pastStartupProbe(
              options.record ? QStringList{QStringLiteral("--record"), recordFile} + peerArguments
                             : peerArguments)),
          window(PortMap::build(portEnvironment({{1, peer.path()}}), {}))
    {
        if (options.chooser)
            window.CommonDialog1->setChooser([this](QWidget *, const QString &) {
                ++chooserCalls;
                return choices.empty() ? QString() : choices.takeFirst();
            });
        if (options.load)
            load();
        else
            window.show();
    }

    void load()
    {
        window.Form_Load();
        window.show();
    }

    // Opens COM1 as the user does: the first listed port, the settings chosen, Open Port.
    bool open()
    {
        window.btnOpen->click();
        return window.MSComm1->portOpen();
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
