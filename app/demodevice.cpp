#include "app/demodevice.h"

#include <QCoreApplication>
#include <QTextStream>

DemoDevice::~DemoDevice()
{
    if (m_peer.state() != QProcess::NotRunning) {
        m_peer.terminate();
        m_peer.waitForFinished(2000);
    }
}

bool DemoDevice::start()
{
    QTextStream err(stderr);
    const QString peer = QCoreApplication::applicationDirPath() + QStringLiteral("/quorpeer");
    m_peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_peer.start(peer, {QStringLiteral("--demo")});
    if (!m_peer.waitForStarted(5000)) {
        err << "quorline: cannot start the demo device " << peer << ": " << m_peer.errorString()
            << '\n';
        return false;
    }
    while (!m_peer.canReadLine() && m_peer.waitForReadyRead(5000)) {
    }
    const QString path = QString::fromLocal8Bit(m_peer.readLine()).trimmed();
    if (path.isEmpty()) {
        err << "quorline: the demo device did not start\n";
        return false;
    }
    qputenv("QUORLINE_COM1", path.toLocal8Bit());
    err << "quorline: demo device on " << path << " as COM1\n";
    return true;
}
