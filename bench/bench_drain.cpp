// How long Close Port takes with 1 MiB queued: against a peer that reads as fast as it can, one
// that reads at a set pace, and one that has stopped reading (the close gives up at its bound).
//
// bench_drain [KILOBYTES]   (default: 1024)

#include "serial/portdrain.h"
#include "serial/serialportcontrol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <csignal>
#include <cstdio>

namespace {

struct Case
{
    const char *name;
    qint64 baud;
    QStringList peerArguments;
    bool peerStops;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 bytes = (argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024) * 1024;
    const Case cases[] = {
        {"free reader", 115200, {}, false},
        {"reader at 256 KiB/s", 115200, {"--read-rate", "262144"}, false},
        {"stopped reader", 4000000, {}, true},
    };
    std::printf("%-22s %9s %10s %10s %10s\n", "peer", "baud", "bound ms", "close ms", "dropped");
    for (const Case &c : cases) {
        QProcess peer;
        peer.start(QStringLiteral(QUORPEER_PATH), c.peerArguments);
        if (!peer.waitForStarted(10000) || !peer.waitForReadyRead(10000))
            return 1;
        const QString path = QString::fromLocal8Bit(peer.readLine()).trimmed();
        QProcessEnvironment env;
        env.insert(QStringLiteral("QUORLINE_COM1"), path);
        SerialPortControl control(PortMap::build(env, {}));
        control.setSettings(QStringLiteral("%1,n,8,2").arg(c.baud));
        control.setPortOpen(true);
        control.setOutput(QByteArray(bytes, 'x'));
        if (c.peerStops)
            ::kill(pid_t(peer.processId()), SIGSTOP);
        QElapsedTimer clock;
        clock.start();
        control.setPortOpen(false);
        const qint64 took = clock.elapsed();
        if (c.peerStops)
            ::kill(pid_t(peer.processId()), SIGCONT);
        std::printf("%-22s %9lld %10lld %10lld %10lld\n", c.name, c.baud,
                    drainBoundMs(bytes, c.baud, 11), took, control.droppedOnClose());
        peer.terminate();
        peer.waitForFinished(5000);
    }
    return 0;
}
