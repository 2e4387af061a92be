// The whole receive path: the peer tool floods a pty, OnComm reads it, the notation or the line-end
// conversion renders it and the screen of a shown (offscreen) window takes it. Also the delay from
// a key press to its byte at the peer while a flood runs.
// Usage: bench_terminal [--mb N] [--keys N] [--logs]; each case runs in a process of its own.
// --logs: both capture logs (raw and with arrival times) run through the flood. The -ser2net
// case floods through ser2net (RFC 2217 on the loopback interface) instead.
#include "app/form1.h"
#include "measure.h"
#include "serial/serialportcontrol.h"
#include "support/peer.h"
#include "support/ser2net.h"
#include "terminal/notation.h"
#include "widgets/screen.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr double MB = 1024.0 * 1024.0;
using Clock = std::chrono::steady_clock;

// Random bytes, or text lines of printable characters ending in CR LF.
QByteArray input(bool text, qsizetype size)
{
    std::mt19937 rng(7);
    QByteArray bytes(size, Qt::Uninitialized);
    if (!text) {
        for (char &c : bytes)
            c = char(rng() & 0xff);
        return bytes;
    }
    qsizetype column = 0;
    const qsizetype width = 72;
    for (qsizetype i = 0; i < size; ++i) {
        if (column == width) {
            bytes[i] = '\r';
        } else if (column == width + 1) {
            bytes[i] = '\n';
            column = -1;
        } else {
            bytes[i] = char(32 + rng() % 95);
        }
        ++column;
    }
    return bytes;
}

struct Window
{
    Form1 form;
    explicit Window(const QString &device)
        : form(PortMap::build(portEnvironment({{1, device}}), {}))
    {
        form.Form_Load();
        form.show();
    }
};

// Runs the event loop until done() holds or nothing changes for the stall time.
bool runUntil(const std::function<bool()> &done, const std::function<qint64()> &progress)
{
    QElapsedTimer sinceChange;
    sinceChange.start();
    qint64 last = progress();
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        const qint64 now = progress();
        if (now != last) {
            last = now;
            sinceChange.restart();
        } else if (sinceChange.elapsed() > 15000) {
            return false;
        }
    }
    return true;
}

int throughputCase(bool notation, bool text, qsizetype size, bool logs, bool network)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("input"));
    const QByteArray bytes = input(text, size);
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return 2;
    }
    // ser2net opens the device as the connection comes, before the line is set: start later.
    const Peer peer(network ? QStringList{"--wait-open", "--delay", "500", "--send-file", file}
                            : QStringList{"--wait-open", "--send-file", file});
    if (peer.path().isEmpty())
        return 2;
    // Through ser2net on the loopback interface, RFC 2217, when asked.
    std::unique_ptr<Ser2net> server;
    if (network)
        server = std::make_unique<Ser2net>(peer.path(), dir.path());
    Window w(network ? server->url(true) : peer.path());
    w.form.chkShowControl->setChecked(notation);
    if (logs) {
        w.form.startLog(dir.filePath(QStringLiteral("raw.log")), LogForm::Raw);
        w.form.startLog(dir.filePath(QStringLiteral("stamped.txt")), LogForm::Stamped);
    }

    qsizetype expected = bytes.size();
    if (notation)
        expected = NotationTable(w.form.ControlNames).rendered(bytes).size();
    const qint64 residentBefore = residentBytes();

    // Rate of each tenth of the screen's growth, to see whether appending stays flat.
    std::vector<double> segmentSeconds;
    qint64 events = 0;
    QElapsedTimer clock;
    qint64 segmentStart = 0;
    qsizetype nextMark = expected / 10;
    QObject::connect(w.form.MSComm1, &SerialPortControl::OnComm, &w.form,
                     [&w, &clock, &segmentSeconds, &segmentStart, &nextMark, &events, expected] {
                         ++events;
                         while (w.form.Text1->length() >= nextMark && nextMark > 0 &&
                                segmentSeconds.size() < 10) {
                             const qint64 now = clock.nsecsElapsed();
                             segmentSeconds.push_back(double(now - segmentStart) / 1e9);
                             segmentStart = now;
                             nextMark = expected / 10 * qsizetype(segmentSeconds.size() + 1);
                         }
                     });

    const double cpuBefore = cpuSeconds();
    clock.start();
    w.form.btnOpen->click();
    if (!w.form.MSComm1->portOpen())
        return 2;
    const bool done = runUntil([&w, expected] { return w.form.Text1->length() >= expected; },
                               [&w] { return qint64(w.form.Text1->length()); });
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    const qint64 resident = residentBytes();
    const double inputMB = double(size) / MB;
    const bool exact = done && w.form.Text1->length() == expected;

    std::printf("%s%-8s %-6s %8.2f MB in  %8.2f MB shown  %7.2f MB/s  %6.3f CPU s/MB  "
                "RSS %7.1f MB (%.2f B per input byte)%s\n",
                network ? "ser2net " : "", notation ? "notation" : "raw", text ? "lines" : "random",
                inputMB, double(expected) / MB, inputMB / seconds, cpu / inputMB,
                double(resident) / MB, double(resident - residentBefore) / double(size),
                exact ? "" : (done ? "  (screen length differs)" : "  (stalled)"));
    std::printf("         %lld events, %.0f input bytes per event; MB/s of input per tenth of "
                "the screen:",
                qlonglong(events), double(size) / double(qMax<qint64>(events, 1)));
    for (double s : segmentSeconds)
        std::printf(" %.1f", inputMB / 10 / s);
    std::printf("\n");
    std::fflush(stdout);
    return exact ? 0 : 1;
}

// Presses keys while a flood runs; a watcher thread sees each byte arrive in the peer's record.
int keyDelayCase(int keys)
{
    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral("record"));
    const Peer peer(
        {"--wait-open", "--flood", "100000000000", "--pattern", "random", "--record", record});
    if (peer.path().isEmpty())
        return 2;
    Window w(peer.path());
    w.form.btnOpen->click();
    if (!w.form.MSComm1->portOpen())
        return 2;

    std::vector<Clock::time_point> pressed;
    std::vector<Clock::time_point> arrived;
    std::atomic<bool> stop = false;
    const QByteArray recordPath = record.toLocal8Bit();
    std::thread watcher([&arrived, &stop, &recordPath, keys] {
        while (!stop && int(arrived.size()) < keys) {
            struct stat st
            {
            };
            if (::stat(recordPath.constData(), &st) == 0)
                while (int(arrived.size()) < std::min<qint64>(st.st_size, keys))
                    arrived.push_back(Clock::now());
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });

    // Let the flood get going and the screen fill before the first key.
    QElapsedTimer warmUp;
    warmUp.start();
    while (warmUp.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const qsizetype shownBefore = w.form.Text1->length();

    QTimer presser;
    QObject::connect(&presser, &QTimer::timeout, &w.form, [&w, &pressed, keys, &presser] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_K, Qt::NoModifier, QStringLiteral("k"));
        pressed.push_back(Clock::now());
        QApplication::sendEvent(w.form.Text1, &press);
        if (int(pressed.size()) >= keys)
            presser.stop();
    });
    presser.start(100);
    QElapsedTimer limit;
    limit.start();
    while ((int(pressed.size()) < keys || presser.isActive()) && limit.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    // Keep reading the flood until the last key has arrived or a second has passed.
    QElapsedTimer tail;
    tail.start();
    while (tail.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    stop = true;
    watcher.join();
    const qsizetype shownDuring = w.form.Text1->length() - shownBefore;

    std::vector<double> delays;
    for (size_t i = 0; i < arrived.size() && i < pressed.size(); ++i)
        delays.push_back(
            std::chrono::duration<double, std::milli>(arrived[i] - pressed[i]).count());
    std::sort(delays.begin(), delays.end());
    if (delays.empty()) {
        std::printf("key delay: no key reached the peer (%zu pressed)\n", pressed.size());
        return 1;
    }
    std::printf("key delay during a flood (notation on, random): %zu of %zu keys arrived, "
                "median %.2f ms, 90%% %.2f ms, max %.2f ms; %.1f MB shown meanwhile\n",
                delays.size(), pressed.size(), delays[delays.size() / 2],
                delays[delays.size() * 9 / 10], delays.back(), double(shownDuring) / MB);
    std::fflush(stdout);
    return int(delays.size()) == keys ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const Arguments options(QCoreApplication::arguments());
    const double mb = options.number(QStringLiteral("--mb"), 100);
    const int keys = int(options.number(QStringLiteral("--keys"), 30));
    const QString only = options.option(QStringLiteral("--case"));
    const bool logs = QCoreApplication::arguments().contains(QStringLiteral("--logs"));

    if (only == QLatin1String("keys"))
        return keyDelayCase(keys);
    if (!only.isEmpty()) {
        const bool notation = only.startsWith(QLatin1String("notation"));
        const bool text = only.contains(QLatin1String("lines"));
        return throughputCase(notation, text, qsizetype(mb * MB), logs,
                              only.endsWith(QLatin1String("-ser2net")));
    }

    std::printf("screen widget: Screen over %s%s; load average %.2f on %ld cores\n",
                Screen::staticMetaObject.superClass()->className(),
                logs ? ", both capture logs on" : "", loadAverage(), sysconf(_SC_NPROCESSORS_ONLN));
    std::fflush(stdout);
    int failures = 0;
    for (const char *name : {"notation-random", "raw-random", "raw-random-ser2net",
                             "notation-lines", "raw-lines", "keys"}) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    QStringList{"--case", name, "--mb", QString::number(mb), "--keys",
                                QString::number(keys)} +
                        (logs ? QStringList{"--logs"} : QStringList()));
        child.waitForFinished(-1);
        if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
            std::printf("%s: failed (exit %d)\n", name, child.exitCode());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
