// Soak: the terminal window with its port open to the peer tool for a long run at a real line's
// pace, notation on, the peer sending text, all 256 codes and random bursts in turn, and a key
// typed into the window every second. Prints memory growth per MB received, whether every byte
// arrived (the screen equals what the peer sent, rendered), the CPU share and how long typed
// keys took to reach the peer.
//
// With --replug N the device is unplugged and plugged in again every N seconds, the window
// running with --reconnect: each connection gets its share of the transmission, and the peer
// leaves once the window has read it, so the screen must still equal all that was sent. Keys
// are not typed then (one typed as the device leaves has no right answer).
//
// usage: quorline_soak [--seconds N] [--rate BYTES_PER_SECOND] [--replug N]
//        (defaults: 600, 11520, 0 = never unplugged)

#include "app/form1.h"
#include "measure.h"
#include "serial/portmap.h"
#include "serial/serialportcontrol.h"
#include "support/peer.h"
#include "widgets/screen.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

// The peer's whole transmission: text lines, all 256 codes, a random burst, over and over.
QByteArray makeTransmission(qint64 total)
{
    QRandomGenerator random(7);
    QByteArray all256;
    for (int c = 0; c < 256; ++c)
        all256.append(char(c));
    QByteArray out;
    out.reserve(total);
    for (int cycle = 0; out.size() < total; ++cycle) {
        for (int line = 0; line < 20; ++line)
            out += "Cycle " + QByteArray::number(cycle) + " line " + QByteArray::number(line) +
                   ": the quick brown fox jumps over the lazy dog 0123456789\r\n";
        out += all256;
        QByteArray burst(4096, Qt::Uninitialized);
        for (char &b : burst)
            b = char(random.bounded(256));
        out += burst;
    }
    out.truncate(total);
    return out;
}

// What the screen shows for received bytes with the notation on, by the rule itself.
QByteArray rendered(const QByteArray &bytes, const std::array<QString, 32> &names)
{
    QByteArray out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const auto c = uchar(ch);
        if (c < 32)
            out += '[' + names[c].toLatin1() + ']';
        else if (c > 127)
            out += '[' + QByteArray::number(c, 16).toUpper() + ']';
        else
            out += char(c);
    }
    return out;
}

qint64 residentKiB()
{
    return residentBytes() / 1024;
}

double percentile(QList<double> values, double p)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[qsizetype(p * double(values.size() - 1))];
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const Arguments options(QApplication::arguments());
    const auto seconds = qint64(options.number(QStringLiteral("--seconds"), 600));
    const auto rate = qint64(options.number(QStringLiteral("--rate"), 11520));
    const auto replug = qint64(options.number(QStringLiteral("--replug"), 0));

    QTemporaryDir dir;
    const QByteArray sent = makeTransmission(seconds * rate);
    const QString sendPath = dir.filePath(QStringLiteral("send.bin"));
    const QString recordPath = dir.filePath(QStringLiteral("typed.bin"));
    QFile sendFile(sendPath);
    if (!sendFile.open(QIODevice::WriteOnly) || sendFile.write(sent) != sent.size())
        return 2;
    sendFile.close();

    QProcess peer;
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // One connection: the whole run, or with --replug its share sent in 4/5 of the period.
    const qint64 share = replug > 0 ? std::max<qint64>(rate * replug * 4 / 5, 1) : sent.size();
    const QString link = dir.filePath(QStringLiteral("ttySoak"));
    qint64 sessions = 0;
    const auto plugIn = [&] {
        const QString slice = dir.filePath(QStringLiteral("send%1.bin").arg(sessions));
        QFile part(slice);
        if (!part.open(QIODevice::WriteOnly) || part.write(sent.mid(sessions * share, share)) < 0)
            return false;
        part.close();
        QStringList arguments{QStringLiteral("--wait-open"),
                              QStringLiteral("--delay"),
                              QStringLiteral("1000"),
                              QStringLiteral("--rate"),
                              QString::number(rate),
                              QStringLiteral("--send-file"),
                              slice,
                              QStringLiteral("--record"),
                              recordPath,
                              QStringLiteral("--link"),
                              link};
        if (replug > 0)
            arguments << QStringLiteral("--exit-after-send");
        ++sessions;
        peer.start(QStringLiteral(QUORPEER_PATH), arguments);
        return peer.waitForStarted(5000) && peer.waitForReadyRead(5000);
    };
    if (!plugIn())
        return 2;
    const QString device = QString::fromLocal8Bit(peer.readLine()).trimmed();

    QProcessEnvironment env;
    env.insert(QStringLiteral("QUORLINE_COM1"), link);
    Form1 window(PortMap::build(env, {}));
    window.MSComm1->setReconnect(replug > 0);
    window.Form_Load();
    window.show();
    window.cboBaud->setCurrentIndex(10); // 115.2k
    if (!window.chkShowControl->isChecked())
        window.chkShowControl->click();
    const QByteArray expected = rendered(sent, window.ControlNames);

    const qint64 baseKiB = residentKiB();
    const double baseCpu = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    window.btnOpen->click();
    std::printf("soak: %lld s at %lld bytes/s, %lld bytes to receive, peer on %s\n",
                static_cast<long long>(seconds), static_cast<long long>(rate),
                static_cast<long long>(sent.size()), qPrintable(device));
    std::printf("%8s %12s %12s %10s %12s %12s %8s %8s\n", "time s", "screen MB", "received MB",
                "RSS MiB", "key max ms", "late max ms", "cpu %", "load");

    // A key every second; its delay is the time until the peer has recorded it.
    QByteArray typed;
    QList<double> keyDelays;
    // The worst key delay and timer lateness since the last sample line.
    double periodKeyMax = 0;
    double periodLateMax = 0;
    qint64 keyAt = -1;
    qint64 recorded = 0;
    QTimer typing;
    typing.setInterval(1000);
    QObject::connect(&typing, &QTimer::timeout, &window, [&keyAt, &typed, &clock, &window] {
        if (keyAt >= 0)
            return; // the last one has not arrived yet
        const char key = char('a' + typed.size() % 26);
        typed += key;
        keyAt = clock.nsecsElapsed();
        QTest::keyClick(window.Text1, key);
    });
    QTimer watchRecord;
    watchRecord.setInterval(1);
    QObject::connect(&watchRecord, &QTimer::timeout, &window,
                     [&keyAt, &recordPath, &recorded, &keyDelays, &clock, &periodKeyMax] {
                         if (keyAt < 0)
                             return;
                         const qint64 size = QFileInfo(recordPath).size();
                         if (size > recorded) {
                             recorded = size;
                             keyDelays.append(double(clock.nsecsElapsed() - keyAt) / 1e6);
                             periodKeyMax = std::max(periodKeyMax, keyDelays.last());
                             keyAt = -1;
                         }
                     });
    // How late a 10 ms timer fires: the event loop's own responsiveness.
    QList<double> lateness;
    QElapsedTimer tick;
    tick.start();
    QTimer heartbeat;
    heartbeat.setInterval(10);
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, &window, [&lateness, &tick, &periodLateMax] {
        lateness.append(std::max(0.0, double(tick.nsecsElapsed()) / 1e6 - 10.0));
        periodLateMax = std::max(periodLateMax, lateness.last());
        tick.restart();
    });
    // The screen shows received bytes rendered; this finds how many source bytes that is.
    std::array<qint64, 256> widths{};
    for (int c = 0; c < 256; ++c)
        widths[c] = rendered(QByteArray(1, char(c)), window.ControlNames).size();
    constexpr qsizetype Block = 64 * 1024;
    QList<qint64> blockStarts{0};
    qint64 length = 0;
    for (qsizetype i = 0; i < sent.size(); ++i) {
        length += widths[uchar(sent[i])];
        if ((i + 1) % Block == 0)
            blockStarts.append(length);
    }
    const auto receivedBytes = [&sent, &widths, &blockStarts](qint64 shown) {
        const auto it = std::upper_bound(blockStarts.cbegin(), blockStarts.cend(), shown) - 1;
        qint64 n = qint64(it - blockStarts.cbegin()) * Block;
        for (qint64 at = *it; n < sent.size() && at + widths[uchar(sent[n])] <= shown; ++n)
            at += widths[uchar(sent[n])];
        return n;
    };

    // The first sample is the reference for the steady growth, past start-up's own allocations.
    qint64 firstKiB = -1;
    qint64 firstReceived = 0;
    // Our own CPU share in each interval against the machine's load tells a stall of ours from
    // one where others took the processor.
    double periodCpu = cpuSeconds();
    qint64 periodStart = clock.elapsed();
    QTimer sample;
    sample.setInterval(int(std::clamp<qint64>(seconds * 1000 / 10, 1000, 60000)));
    QObject::connect(&sample, &QTimer::timeout, &window,
                     [&window, &firstKiB, &firstReceived, &receivedBytes, &clock, &periodKeyMax,
                      &periodLateMax, &periodCpu, &periodStart] {
                         const qint64 shown = window.Text1->length();
                         if (firstKiB < 0) {
                             firstKiB = residentKiB();
                             firstReceived = receivedBytes(shown);
                         }
                         const double cpuNow = cpuSeconds();
                         const qint64 now = clock.elapsed();
                         const double share = 100 * (cpuNow - periodCpu) * 1000 /
                                              double(std::max<qint64>(now - periodStart, 1));
                         std::printf("%8.0f %12.2f %12.2f %10.1f %12.1f %12.1f %8.1f %8.2f\n",
                                     double(now) / 1000, double(shown) / 1e6,
                                     double(receivedBytes(shown)) / 1e6,
                                     double(residentKiB()) / 1024, periodKeyMax, periodLateMax,
                                     share, loadAverage());
                         periodCpu = cpuNow;
                         periodStart = now;
                         std::fflush(stdout);
                         periodKeyMax = 0;
                         periodLateMax = 0;
                     });
    // Unplugging: the peer leaves once its share is read; the next one comes at the next period.
    qint64 reopens = 0;
    bool wasOpen = true;
    QTimer replugging;
    replugging.setInterval(int(std::max<qint64>(replug, 1) * 1000));
    QObject::connect(&replugging, &QTimer::timeout, &window, [&] {
        if (sessions * share < sent.size() && peer.state() == QProcess::NotRunning && !plugIn())
            std::printf("soak: the peer did not start again\n");
    });
    QTimer watchOpen;
    watchOpen.setInterval(50);
    QObject::connect(&watchOpen, &QTimer::timeout, &window, [&window, &reopens, &wasOpen] {
        const bool open = window.MSComm1->portOpen();
        reopens += open && !wasOpen ? 1 : 0;
        wasOpen = open;
    });
    if (replug > 0) {
        replugging.start();
        watchOpen.start();
    } else {
        typing.start();
    }
    watchRecord.start();
    heartbeat.start();
    sample.start();

    // Run for the time the peer needs, then until the screen holds everything (or a minute more).
    QEventLoop loop;
    QTimer check;
    check.setInterval(200);
    // Unplugged, each period sends for 4/5 of its time: the run takes a quarter longer.
    const qint64 runSeconds = replug > 0 ? seconds * 5 / 4 + replug : seconds;
    QObject::connect(&check, &QTimer::timeout, &loop,
                     [&window, &expected, &clock, runSeconds, &loop] {
                         const bool done = window.Text1->length() >= expected.size();
                         if ((clock.elapsed() >= runSeconds * 1000 && done) ||
                             clock.elapsed() >= (runSeconds + 60) * 1000)
                             loop.quit();
                     });
    check.start();
    loop.exec();
    typing.stop();
    const qint64 wallMs = clock.elapsed();
    const double cpu = cpuSeconds() - baseCpu;
    const qint64 endKiB = residentKiB();
    // Let the last typed key arrive.
    QElapsedTimer settle;
    settle.start();
    while (keyAt >= 0 && settle.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    const QByteArray screen = window.Text1->bytes();
    QFile record(recordPath);
    const QByteArray arrived = record.open(QIODevice::ReadOnly) ? record.readAll() : QByteArray();
    peer.terminate();
    peer.waitForFinished(3000);

    const bool screenExact = screen == expected;
    qsizetype firstDifference = -1;
    for (qsizetype i = 0; i < std::min(screen.size(), expected.size()) && firstDifference < 0; ++i)
        if (screen[i] != expected[i])
            firstDifference = i;
    const double receivedMB = double(sent.size()) / 1e6;
    std::printf("\nreceived: %.2f MB sent by the peer; screen %s (%lld of %lld rendered bytes",
                receivedMB, screenExact ? "EXACT" : "DIFFERS",
                static_cast<long long>(screen.size()), static_cast<long long>(expected.size()));
    if (firstDifference >= 0)
        std::printf(", first difference at %lld", static_cast<long long>(firstDifference));
    std::printf(")\n");
    std::printf("memory: RSS %.1f MiB after open, %.1f MiB at end: %.2f MiB per MB received"
                " (the screen holds %.2f bytes per byte received)\n",
                double(baseKiB) / 1024, double(endKiB) / 1024,
                double(endKiB - baseKiB) / 1024 / receivedMB,
                double(expected.size()) / double(sent.size()));
    if (firstKiB >= 0 && sent.size() > firstReceived)
        std::printf("memory: from the first sample on, %.2f MiB per MB received\n",
                    double(endKiB - firstKiB) / 1024 / (double(sent.size() - firstReceived) / 1e6));
    std::printf("cpu: %.1f s in %.1f s wall, %.1f%% of one core\n", cpu, double(wallMs) / 1000,
                100 * cpu * 1000 / double(wallMs));
    std::printf("typed keys: %lld typed, %lld reached the peer %s; delay ms median %.2f, p99 %.2f,"
                " max %.2f\n",
                static_cast<long long>(typed.size()), static_cast<long long>(arrived.size()),
                arrived == typed ? "in order" : "NOT AS TYPED", percentile(keyDelays, 0.5),
                percentile(keyDelays, 0.99), percentile(keyDelays, 1.0));
    std::printf("event loop: 10 ms timer late by median %.2f ms, p99 %.2f ms, max %.2f ms\n",
                percentile(lateness, 0.5), percentile(lateness, 0.99), percentile(lateness, 1.0));
    if (replug > 0)
        std::printf("unplugged: %lld times, every %lld s; reopened by itself %lld times; every byte"
                    " sent while connected %s\n",
                    static_cast<long long>(sessions - 1), static_cast<long long>(replug),
                    static_cast<long long>(reopens), screenExact ? "arrived" : "did NOT arrive");
    return screenExact && arrived == typed ? 0 : 1;
}
