#pragma once

// ser2net on the loopback interface, serving a device of the tests on a private configuration.

#include "support/files.h"

#include <QHostAddress>

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

// A TCP port that nothing listens on just now.
inline quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// ser2net serving one pty twice: RFC 2217 on telnetPort, raw bytes on rawPort, one at a time.
class Ser2net
{
public:
    Ser2net(const QString &device, const QString &dir)
        : m_config(dir + QStringLiteral("/ser2net.yaml")), m_pid(dir + QStringLiteral("/pid")),
          telnetPort(freePort()), rawPort(freePort())
    {
        // ser2net passes the device's bytes on 64 at a time unless told otherwise, which caps
        // a flood at about 2 MB/s whatever the client does.
        const QString connector = QStringLiteral("  connector: serialdev,%1,9600n81,local\n"
                                                 "  options:\n    dev-to-net-bufsize: 65536\n")
                                      .arg(device);
        writeFile(m_config,
                  (QStringLiteral("connection: &telnet\n"
                                  "  accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n")
                       .arg(telnetPort) +
                   connector +
                   QStringLiteral("connection: &raw\n  accepter: tcp,127.0.0.1,%1\n").arg(rawPort) +
                   connector)
                      .toUtf8());
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        start();
    }
    ~Ser2net() { stop(); }
    Ser2net(const Ser2net &) = delete;
    Ser2net &operator=(const Ser2net &) = delete;

    bool start()
    {
        m_process.start(QStringLiteral("ser2net"), {"-n", "-u", "-P", m_pid, "-c", m_config});
        if (!m_process.waitForStarted(5000))
            return false;
        for (int i = 0; i < 100; ++i) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, rawPort);
            if (probe.waitForConnected(100)) {
                probe.abort();
                QThread::msleep(100); // the device is free again once ser2net has seen the close
                return true;
            }
            QThread::msleep(50);
        }
        return false;
    }
    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    QString url(bool telnet) const
    {
        return telnet ? QStringLiteral("rfc2217://127.0.0.1:%1").arg(telnetPort)
                      : QStringLiteral("tcp://127.0.0.1:%1").arg(rawPort);
    }

private:
    QString m_config, m_pid;
    QProcess m_process;

public:
    const quint16 telnetPort, rawPort;
};
