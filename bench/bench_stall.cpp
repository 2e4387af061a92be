// Typing into a device while it floods: the peer tool sends random bytes as fast as it can, the
// window (notation on) shows them at a given screen limit, and another thread posts a key every
// 25 ms. Prints the screen's intake, how long each key took to reach the peer, and the longest
// time the window's event loop did not answer (a thread posts a heartbeat and times its answer).
// Usage: bench_stall [--seconds S] [--limit MiB] (the limit is QUORLINE_SCREEN_LIMIT's)
#include "app/form1.h"
#include "measure.h"
#include "serial/serialportcontrol.h"
#include "support/peer.h"
#include "widgets/screen.h"
#include "windowbench.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QInputDevice>
#include <QKeyEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double MB = 1024.0 * 1024.0;

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// The heartbeat: posted by a thread, answered by the window's event loop.
class Heartbeat : public QObject
{
public:
    static inline const QEvent::Type Type = QEvent::Type(QEvent::registerEventType());
    std::atomic<qint64> postedNs = -1; // -1: answered, a new one may go
    std::atomic<qint64> longestNs = 0;
    std::atomic<qint64> over20 = 0;

    bool event(QEvent *e) override
    {
        if (e->type() != Type)
            return QObject::event(e);
        const qint64 waited = nowNs() - postedNs.exchange(-1);
        longestNs = std::max<qint64>(longestNs, waited);
        over20 += waited > 20'000'000 ? 1 : 0;
        return true;
    }
};

double percentile(const std::vector<double> &sorted, double p)
{
    if (sorted.empty())
        return 0;
    return sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size())))];
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const Arguments early([argc, argv] {
        QStringList all;
        for (int i = 0; i < argc; ++i)
            all.append(QString::fromLocal8Bit(argv[i]));
        return all;
    }());
    const QString limitMiB = early.option(QStringLiteral("--limit"));
    // The screen reads its limit when it is made.
    if (!limitMiB.isEmpty())
        qputenv("QUORLINE_SCREEN_LIMIT", limitMiB.toLocal8Bit());
    QApplication app(argc, argv);
    const int seconds = int(early.number(QStringLiteral("--seconds"), 20));
    if (seconds <= 0) {
        std::fprintf(stderr, "bench_stall: --seconds takes a positive number\n");
        return 2;
    }

    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral("record"));
    const Peer peer(
        {"--wait-open", "--flood", "1000000000000", "--pattern", "random", "--record", record});
    if (peer.path().isEmpty())
        return 2;
    Form1 form(PortMap::build(portEnvironment({{1, peer.path()}}), {}));
    form.Form_Load();
    form.show();
    form.chkShowControl->setChecked(true);
    QTimer boxWatch;
    exitOnBox(boxWatch, &form, "bench_stall");
    form.btnOpen->click();
    if (!form.MSComm1->portOpen())
        return 2;
    Screen *screen = form.Text1;
    const qint64 limit = screen->model().limit();
    // The record file exists once the peer has opened it.
    runFor(500);

    // The keyboard device the key events name is made here, not in the thread that posts them.
    QInputDevice::primaryKeyboard();
    std::vector<Clock::time_point> pressed;
    std::vector<Clock::time_point> arrived;
    std::atomic<bool> stop = false;
    std::atomic<qint64> peakResident = 0;
    Heartbeat heartbeat;
    const QByteArray recordPath = record.toLocal8Bit();
    std::thread watcher([&arrived, &stop, &recordPath] {
        watchGrowth(recordPath, std::numeric_limits<qsizetype>::max(), arrived, stop);
    });
    std::thread presser([&pressed, &stop, screen] {
        auto next = Clock::now();
        while (!stop) {
            next += std::chrono::milliseconds(25);
            std::this_thread::sleep_until(next);
            pressed.push_back(Clock::now());
            QCoreApplication::postEvent(screen, new QKeyEvent(QEvent::KeyPress, Qt::Key_K,
                                                              Qt::NoModifier, QStringLiteral("k")));
        }
    });
    std::thread beater([&heartbeat, &stop, &peakResident] {
        int tick = 0;
        while (!stop) {
            qint64 idle = -1;
            if (heartbeat.postedNs.compare_exchange_strong(idle, nowNs()))
                QCoreApplication::postEvent(&heartbeat, new QEvent(Heartbeat::Type));
            if (++tick % 50 == 0)
                peakResident = std::max(peakResident.load(), residentBytes());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    const qint64 shownBefore = screen->length() + screen->droppedTotal();
    qint64 trims = 0;
    qint64 droppedSeen = screen->droppedTotal();
    QTimer trimWatch;
    QObject::connect(&trimWatch, &QTimer::timeout, &form, [&] {
        trims += screen->droppedTotal() != droppedSeen ? 1 : 0;
        droppedSeen = screen->droppedTotal();
    });
    trimWatch.start(10);
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runFor(qint64(seconds) * 1000);
    const double wallSeconds = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    const qint64 shown = screen->length() + screen->droppedTotal() - shownBefore;
    stop = true;
    presser.join();
    beater.join();
    // The last keys still on their way.
    runFor(300);
    watcher.join();

    std::vector<double> keyMs;
    for (size_t i = 0; i < arrived.size() && i < pressed.size(); ++i)
        keyMs.push_back(std::chrono::duration<double, std::milli>(arrived[i] - pressed[i]).count());
    std::sort(keyMs.begin(), keyMs.end());
    std::printf("flood %d s, notation on, random, screen limit %lld MiB, load average %.2f on %ld "
                "cores\n",
                seconds, qlonglong(limit / (1024 * 1024)), loadAverage(),
                sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("intake %.1f MB/s shown (%.0f MB, %lld trims, %.2f CPU s per shown GB) | key to "
                "device ms median %.2f p99 %.2f max %.2f (%zu of %zu) | longest stall %.1f ms "
                "(%lld over 20 ms) | peak RSS %.0f MB\n",
                double(shown) / MB / wallSeconds, double(shown) / MB, qlonglong(trims),
                cpu / (double(shown) / MB / 1024), percentile(keyMs, 0.5), percentile(keyMs, 0.99),
                keyMs.empty() ? 0.0 : keyMs.back(), keyMs.size(), pressed.size(),
                double(heartbeat.longestNs) / 1e6, qlonglong(heartbeat.over20.load()),
                double(peakResident) / MB);
    std::fflush(stdout);
    return keyMs.size() + 2 >= pressed.size() ? 0 : 1;
}
