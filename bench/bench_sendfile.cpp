// Sends a text file at a real line rate to a peer that reads at that pace, and prints how closely
// the progress display follows the bytes the peer has received, and the CPU the program uses
// while it waits before hiding the display.
//
// bench_sendfile [KILOBYTES [BAUD]]   (default: 1024 KB at 115200 baud)
// bench_sendfile count [MEGABYTES]    the line count alone, from the page cache (default 1024 MB)
// bench_sendfile long [MEGABYTES [BAUD]]  one line with no line end (default 256 MB at 4000000
//                                     baud) to a peer that reads at once: peak memory the send
//                                     adds and the longest time the window goes unserved

#include "app/form1.h"
#include "filesend/linereader.h"
#include "measure.h"
#include "serial/serialportcontrol.h"
#include "support/peer.h"
#include "widgets/commondialog.h"
#include "windowbench.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

struct Sample
{
    double seconds = 0;
    double progress = 0; // percent of lines, as the bar shows it
    double received = 0; // percent of the file's bytes the peer has
};

// Times the count of a file of 64-byte lines and of a sparse file with no line end at all, each
// read once first so that it comes from the page cache; with a yield, events are handled between
// the count's pieces as the window does.
int benchCount(qint64 megabytes)
{
    QTemporaryDir dir;
    const QString lines = dir.filePath(QStringLiteral("lines.txt"));
    const QString sparse = dir.filePath(QStringLiteral("sparse.txt"));
    {
        QByteArray block;
        for (int i = 0; block.size() < 1024 * 1024; ++i)
            block += QByteArray(63, char('a' + i % 26)) + '\n';
        QFile file(lines);
        QFile holes(sparse);
        if (!file.open(QIODevice::WriteOnly) || !holes.open(QIODevice::WriteOnly) ||
            !holes.resize(megabytes * 1024 * 1024))
            return 1;
        for (qint64 i = 0; i < megabytes; ++i)
            file.write(block);
    }
    int yields = 0;
    const LineReader::Yield yield = [&yields] {
        ++yields;
        QCoreApplication::processEvents();
        return true;
    };
    for (const QString &path : {lines, sparse}) {
        CountLines(path);
        for (const bool withYield : {false, true}) {
            yields = 0;
            QElapsedTimer clock;
            clock.start();
            const qint64 count = withYield ? CountLines(path, yield) : CountLines(path);
            std::printf("count %s, %lld MB: %lld lines in %.3f s (%s, %d yields)\n",
                        path == lines ? "64-byte lines" : "sparse, no line end", megabytes, count,
                        double(clock.nsecsElapsed()) / 1e9, withYield ? "yielding" : "no yield",
                        yields);
        }
    }
    return 0;
}

// The window with its port open on the peer at baud, sending the file at path.
void openOn(Form1 &window, int baud, const QString &path)
{
    window.show();
    window.MSComm1->setCommPort(1);
    window.MSComm1->setSettings(QStringLiteral("%1,n,8,2").arg(baud));
    window.MSComm1->setPortOpen(true);
    window.CommonDialog1->setChooser([path](QWidget *, const QString &) { return path; });
}

// The most this process has held resident since the last reset, in bytes; -1 when unknown.
qint64 peakResidentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return -1;
}

// Lets the peak start again from what is resident now.
void resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

int benchLongLine(qint64 megabytes, int baud)
{
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("line.txt"));
    {
        // A sparse file: NUL bytes without a line end, made at once and read from memory.
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(megabytes * 1024 * 1024))
            return 1;
    }
    Peer peer;
    if (peer.path().isEmpty())
        return 1;
    Form1 window(PortMap::build(portEnvironment({{1, peer.path()}}), {}));
    openOn(window, baud, path);
    QTimer answerer;
    answerConfirmations(answerer, &window);

    // A timer that should tick every 5 ms: the longest gap is the longest stall.
    QElapsedTimer sinceTick;
    qint64 longestStall = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &window, [&sinceTick, &longestStall] {
        longestStall = std::max(longestStall, sinceTick.restart());
    });
    QCoreApplication::processEvents();
    const qint64 before = residentBytes();
    resetPeak();
    const double cpuBefore = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    sinceTick.start();
    ticker.start(5);
    window.SendFile->trigger();
    const double seconds = double(clock.elapsed()) / 1000.0;
    const qint64 peak = peakResidentBytes();
    std::printf("one line of %lld MB at %d baud: sent in %.1f s wall, %.2f s CPU (the 2 s wait "
                "included)\n",
                megabytes, baud, seconds, cpuSeconds() - cpuBefore);
    std::printf("memory: %.1f MiB resident before, peak %.1f MiB, growth %.1f MiB\n",
                double(before) / 1048576.0, double(peak) / 1048576.0,
                double(peak - before) / 1048576.0);
    std::printf("longest stall of the event loop: %lld ms\n", longestStall);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const Arguments options(QCoreApplication::arguments());
    if (options.positional(0, QString()) == QLatin1String("count"))
        return benchCount(options.positional(1, QStringLiteral("1024")).toLongLong());
    if (options.positional(0, QString()) == QLatin1String("long"))
        return benchLongLine(options.positional(1, QStringLiteral("256")).toLongLong(),
                             options.positional(2, QStringLiteral("4000000")).toInt());
    const qint64 kilobytes = options.positional(0, QStringLiteral("1024")).toLongLong();
    const int baud = options.positional(1, QStringLiteral("115200")).toInt();
    const int bytesPerSecond = baud / 10;

    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral("received"));
    QString path = dir.filePath(QStringLiteral("file.txt"));
    // Lines of 63 characters and LF.
    qint64 payload = 0;
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        for (qint64 i = 0; i < kilobytes * 16; ++i) {
            const QByteArray line =
                QByteArray::number(i).rightJustified(8, '0') + QByteArray(55, char('a' + i % 26));
            file.write(line + '\n');
            payload += line.size();
        }
    }

    Peer peer({QStringLiteral("--read-rate"), QString::number(bytesPerSecond),
               QStringLiteral("--record"), record});
    if (peer.path().isEmpty())
        return 1;
    Form1 window(PortMap::build(portEnvironment({{1, peer.path()}}), {}));
    openOn(window, baud, path);

    QTimer answerer;
    answerConfirmations(answerer, &window);

    QList<Sample> samples;
    QElapsedTimer clock;
    double waitStartCpu = -1;
    double waitStartWall = 0;
    double waitCpu = 0;
    double waitWall = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &window, [&] {
        if (window.Timer1->isActive()) {
            // The wait has begun: stop sampling so that only the program itself runs.
            waitStartCpu = cpuSeconds();
            waitStartWall = clock.elapsed() / 1000.0;
            sampler.stop();
            return;
        }
        const QProgressBar *bar = window.ProgressBar1;
        if (!bar->isVisible() || bar->maximum() <= 0)
            return;
        samples.append({clock.elapsed() / 1000.0, 100.0 * bar->value() / bar->maximum(),
                        100.0 * QFileInfo(record).size() / payload});
    });
    QObject::connect(window.Timer1, &QTimer::timeout, &window, [&] {
        if (waitStartCpu >= 0 && waitCpu == 0) {
            waitCpu = cpuSeconds() - waitStartCpu;
            waitWall = clock.elapsed() / 1000.0 - waitStartWall;
        }
    });

    const double cpuBefore = cpuSeconds();
    clock.start();
    sampler.start(50);
    window.SendFile->trigger();
    const double sendSeconds = clock.elapsed() / 1000.0;
    const double sendCpu = cpuSeconds() - cpuBefore;

    double worst = 0;
    double worstAt = 0;
    for (const Sample &s : samples) {
        if (qAbs(s.progress - s.received) > qAbs(worst)) {
            worst = s.progress - s.received;
            worstAt = s.seconds;
        }
    }
    // The last lines may still be on their way to the peer's record.
    const QDeadlineTimer settle(2000);
    while (QFileInfo(record).size() < payload && !settle.hasExpired())
        QThread::msleep(10);
    const qint64 arrived = QFileInfo(record).size();

    std::printf("file: %lld bytes in %lld lines (%lld bytes without line ends), %d baud, "
                "peer reads %d B/s\n",
                kilobytes * 1024, kilobytes * 16, payload, baud, bytesPerSecond);
    std::printf("send: %.1f s wall, %.2f s CPU; peer received %lld of %lld bytes\n", sendSeconds,
                sendCpu, arrived, payload);
    std::printf("progress vs received: %lld samples, max deviation %+.2f%% (at %.1f s; positive = "
                "bar ahead)\n",
                qint64(samples.size()), worst, worstAt);
    if (!samples.isEmpty()) {
        const Sample &last = samples.last();
        std::printf("last sample before the wait: bar %.2f%%, received %.2f%%\n", last.progress,
                    last.received);
    }
    std::printf("wait: %.2f s wall, %.4f s CPU (%.2f%% of one core)\n", waitWall, waitCpu,
                waitWall > 0 ? 100.0 * waitCpu / waitWall : 0.0);

    peer.stop();
    return 0;
}
