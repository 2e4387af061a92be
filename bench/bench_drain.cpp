// How long Close Port takes with 1 MiB queued: against a peer that reads as fast as it can, one
// that reads at a set pace, and one that has stopped reading (the close gives up once nothing has
// left for a second); a second close during the wait, and a close allowed 2 s (window, quit).
// "line ms" is what the line itself needs for the bytes; "cpu ms" is the program's CPU in the
// close.
//
// bench_drain [KILOBYTES]   (default: 1024)

#include "serial/portdrain.h"
#include "serial/serialportcontrol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <cstdio>

#include <sys/resource.h>

namespace {

enum class Close { Once, AgainAfter300Ms, Within2s };

struct Case
{
    const char *name;
    qint64 baud;
    QStringList peerArguments;
    bool peerStops;
    Close close;
};

qint64 cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 bytes = (argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024) * 1024;
    const QStringList slowReader{"--read-rate", "65536"};
    const Case cases[] = {
        {"free reader", 115200, {}, false, Close::Once},
        {"reader at 256 KiB/s", 115200, {"--read-rate", "262144"}, false, Close::Once},
        {"stopped reader", 4000000, {}, true, Close::Once},
        {"stopped reader", 9600, {}, true, Close::Once},
        {"64 KiB/s, closed again", 115200, slowReader, false, Close::AgainAfter300Ms},
        {"64 KiB/s, 2 s allowed", 115200, slowReader, false, Close::Within2s},
    };
    std::printf("%-24s %9s %10s %10s %8s %10s\n", "peer", "baud", "line ms", "close ms", "cpu ms",
                "dropped");
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
        if (c.close == Close::AgainAfter300Ms)
            QTimer::singleShot(300, &control, [&control] { control.setPortOpen(false); });
        QElapsedTimer clock;
        clock.start();
        const qint64 cpuBefore = cpuMs();
        if (c.close == Close::Within2s)
            control.closeWithin(QuitDrainMs);
        else
            control.setPortOpen(false);
        const qint64 took = clock.elapsed();
        const qint64 cpu = cpuMs() - cpuBefore;
        if (c.peerStops)
            ::kill(pid_t(peer.processId()), SIGCONT);
        std::printf("%-24s %9lld %10lld %10lld %8lld %10lld\n", c.name, c.baud,
                    bytes * 11 * 1000 / c.baud, took, cpu, control.droppedOnClose());
        std::fflush(stdout);
        peer.terminate();
        peer.waitForFinished(5000);
    }
    return 0;
}
