// The window's cost at a real line's speed: the peer tool sends at a UART's pace, in small pieces,
// while the terminal window shows it; prints the window process's CPU share and the X server's,
// how long a received piece took to be painted, and how long a typed key took to reach the peer.
// Meant to run under a real X server: xvfb-run -a -s '-screen 0 1024x768x24 -dpi 96' bench_paced
// Usage: bench_paced [--rate BPS] [--piece N] [--seconds S] [--repeat N]
//                    [--case notation-lines|raw-random|..] [--log]
// --log: both capture logs (raw and with arrival times) run while the window is measured.
#include "app/form1.h"
#include "measure.h"
#include "serial/serialportcontrol.h"
#include "support/peer.h"
#include "widgets/screen.h"
#include "windowbench.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// CPU seconds of another process from /proc, or -1.
double processCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Fields after the command name, which may hold blanks: state is field 3, utime 14, stime 15.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// The X server that serves $DISPLAY, found by its command line; 0 when there is none.
qint64 xServerPid()
{
    QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty())
        return 0;
    display = display.left(display.indexOf('.') > 0 ? display.indexOf('.') : display.size());
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (!number || !cmdline.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> args = cmdline.readAll().split('\0');
        const QByteArray program = args.value(0).mid(args.value(0).lastIndexOf('/') + 1);
        if ((program == "Xvfb" || program == "Xorg" || program == "X") && args.contains(display))
            return pid;
    }
    return 0;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double maximum(const std::vector<double> &values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

// Paints of the screen: how many, the area, the caret's blinks, and the delay from a byte's
// arrival in the kernel (stamped by a thread that polls the device) to the first paint of text
// after the window has read it. A paint a few pixels wide is the caret's blink.
class PaintWatch : public QObject
{
public:
    std::vector<double> delaysMs;
    double area = 0;
    qint64 paints = 0;
    qint64 blinks = 0;
    // Shared with the stamping thread, under the mutex.
    std::mutex mutex;
    std::condition_variable changed;
    qint64 arrivedNs = -1; // bytes stamped, not yet painted
    qint64 textPaints = 0;
    qint64 takenNs = -1; // the stamped bytes have been read by the window

    void read()
    {
        const std::lock_guard lock(mutex);
        if (takenNs < 0)
            takenNs = arrivedNs;
    }

    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() != QEvent::Paint)
            return false;
        const QRegion &region = static_cast<QPaintEvent *>(e)->region();
        ++paints;
        for (const QRect &r : region)
            area += double(r.width()) * r.height();
        if (region.boundingRect().width() <= 4) {
            ++blinks;
            return false;
        }
        {
            const std::lock_guard lock(mutex);
            if (takenNs >= 0) {
                delaysMs.push_back(double(nowNs() - takenNs) / 1e6);
                takenNs = -1;
                arrivedNs = -1;
            }
            ++textPaints;
        }
        changed.notify_all();
        return false;
    }

    static qint64 nowNs()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
            .count();
    }
};

// Stamps the arrival of bytes on the device for the watch: a second descriptor of the same
// terminal is polled, never read. Only a wait that began before the bytes came counts, so that
// bytes already waiting are never stamped late; the next stamp waits for the paint.
void stampArrivals(const QByteArray &device, PaintWatch &watch, const std::atomic<bool> &stop)
{
    const int fd = ::open(device.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return;
    constexpr auto Look = std::chrono::milliseconds(100); // how often the end is looked for
    while (!stop) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) == 1) {
            // Bytes already waiting since an unknown time: the window's next paint takes them.
            std::unique_lock lock(watch.mutex);
            const qint64 seen = watch.textPaints;
            watch.changed.wait_for(lock, Look, [&] { return stop || watch.textPaints != seen; });
        } else if (::poll(&p, 1, int(Look.count())) == 1) {
            std::unique_lock lock(watch.mutex);
            watch.arrivedNs = PaintWatch::nowNs();
            while (!stop && watch.arrivedNs >= 0)
                watch.changed.wait_for(lock, Look);
        }
    }
    ::close(fd);
}

int pacedCase(bool notation, bool lines, qint64 rate, int piece, int seconds, bool log)
{
    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral("record"));
    // Enough to last the warm-up, the measured time and the keys.
    const qint64 total = rate * (seconds + 20);
    Peer peer({"--wait-open", "--rate", QString::number(rate), "--piece", QString::number(piece),
               "--flood", QString::number(total), "--pattern", lines ? "text" : "random",
               "--record", record});
    if (peer.path().isEmpty())
        return 2;
    QProcessEnvironment env;
    env.insert(QStringLiteral("QUORLINE_COM1"), peer.path());
    Form1 form(PortMap::build(env, {}));
    form.Form_Load();
    form.show();
    form.activateWindow();
    form.chkShowControl->setChecked(notation);
    if (log) {
        form.startLog(dir.filePath(QStringLiteral("raw.log")), LogForm::Raw);
        form.startLog(dir.filePath(QStringLiteral("stamped.txt")), LogForm::Stamped);
    }
    QTimer boxWatch;
    exitOnBox(boxWatch, &form, "bench_paced");
    form.btnOpen->click();
    if (!form.MSComm1->portOpen())
        return 2;
    // Past start-up and the first screenful, the screen scrolls as it will from now on.
    runFor(3000);

    PaintWatch watch;
    form.Text1->viewport()->installEventFilter(&watch);
    QObject::connect(form.MSComm1, &SerialPortControl::OnComm, &form, [&watch] { watch.read(); });
    const qint64 xPid = xServerPid();
    const double xBefore = processCpuSeconds(xPid);
    const double cpuBefore = cpuSeconds();
    const qsizetype shownBefore = form.Text1->length();
    QElapsedTimer wall;
    wall.start();
    runFor(qint64(seconds) * 1000);
    const double wallSeconds = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    const double xCpu = processCpuSeconds(xPid) - xBefore;
    const qsizetype shown = form.Text1->length() - shownBefore;
    const bool caret = form.Text1->hasFocus();
    const qint64 paints = watch.paints;
    const double area = watch.area;
    const qint64 blinks = watch.blinks;

    // Keys while the stream goes on; a watcher thread sees each byte arrive in the peer's record,
    // another stamps the stream's arrivals for the delay to the screen.
    constexpr int Keys = 20;
    std::vector<Clock::time_point> pressed;
    std::vector<Clock::time_point> arrived;
    std::atomic<bool> stop = false;
    const QByteArray device = peer.path().toLocal8Bit();
    std::thread stamper([&device, &watch, &stop] { stampArrivals(device, watch, stop); });
    const QByteArray recordPath = record.toLocal8Bit();
    std::thread watcher(
        [&arrived, &stop, &recordPath] { watchGrowth(recordPath, Keys, arrived, stop); });
    QTimer presser;
    QObject::connect(&presser, &QTimer::timeout, &form, [&form, &pressed, &presser] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_K, Qt::NoModifier, QStringLiteral("k"));
        pressed.push_back(Clock::now());
        QApplication::sendEvent(form.Text1, &press);
        if (pressed.size() >= Keys)
            presser.stop();
    });
    presser.start(150);
    QElapsedTimer limit;
    limit.start();
    while ((presser.isActive() || arrived.size() < pressed.size()) && limit.elapsed() < 20000)
        runFor(20);
    stop = true;
    watcher.join();
    stamper.join();
    form.Text1->viewport()->removeEventFilter(&watch);
    std::vector<double> keyMs;
    for (size_t i = 0; i < arrived.size() && i < pressed.size(); ++i)
        keyMs.push_back(std::chrono::duration<double, std::milli>(arrived[i] - pressed[i]).count());

    std::printf("%-8s %-6s  window %5.2f CPU s = %5.2f%% of a core  X server %s  | %6.0f chars/s "
                "shown, %5.1f paints/s, %7.0f px/s painted, caret %3.1f blinks/s | arrival to "
                "paint ms median %5.1f max %5.1f (%zu, %lld over 50) | key ms median %5.2f max "
                "%5.2f (%zu of "
                "%d)%s\n",
                notation ? "notation" : "raw", lines ? "lines" : "random", cpu,
                100 * cpu / wallSeconds,
                xCpu >= 0 ? qPrintable(QStringLiteral("%1 CPU s = %2%")
                                           .arg(xCpu, 5, 'f', 2)
                                           .arg(100 * xCpu / wallSeconds, 5, 'f', 2))
                          : "unknown",
                double(shown) / wallSeconds, double(paints) / wallSeconds, area / wallSeconds,
                double(blinks) / wallSeconds, median(watch.delaysMs), maximum(watch.delaysMs),
                watch.delaysMs.size(),
                qlonglong(std::count_if(watch.delaysMs.begin(), watch.delaysMs.end(),
                                        [](double ms) { return ms > 50; })),
                median(keyMs), maximum(keyMs), keyMs.size(), Keys,
                caret ? "" : "  (screen without focus: no caret)");
    std::fflush(stdout);
    return int(keyMs.size()) == Keys ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const auto option = [&args](const QString &name, const QString &fallback) {
        const qsizetype i = args.indexOf(name);
        return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
    };
    const qint64 rate = option(QStringLiteral("--rate"), QStringLiteral("10472")).toLongLong();
    const int piece = option(QStringLiteral("--piece"), QStringLiteral("64")).toInt();
    const int seconds = option(QStringLiteral("--seconds"), QStringLiteral("30")).toInt();
    const QString only = option(QStringLiteral("--case"), QString());
    const int repeat = option(QStringLiteral("--repeat"), QStringLiteral("1")).toInt();
    const bool log = args.contains(QStringLiteral("--log"));
    if (rate <= 0 || piece <= 0 || seconds <= 0 || repeat <= 0) {
        std::fprintf(stderr, "bench_paced: --rate, --piece, --seconds and --repeat take positive "
                             "numbers\n");
        return 2;
    }
    if (!only.isEmpty())
        return pacedCase(only.startsWith(QLatin1String("notation")),
                         only.endsWith(QLatin1String("lines")), rate, piece, seconds, log);

    double load[3] = {};
    if (getloadavg(load, 3) < 0)
        load[0] = -1;
    std::printf("paced peer: %lld bytes/s in %d-byte pieces, %d s per case, platform %s, X server "
                "pid %lld; load average %.2f on %ld cores%s\n",
                qlonglong(rate), piece, seconds, qPrintable(QGuiApplication::platformName()),
                qlonglong(xServerPid()), load[0], sysconf(_SC_NPROCESSORS_ONLN),
                log ? "; both capture logs on" : "");
    std::fflush(stdout);
    // The cases take turns, so that a slow spell of the machine falls on all of them alike.
    const QStringList cases = {"notation-lines", "raw-lines", "notation-random", "raw-random"};
    std::vector<std::vector<double>> shares(cases.size());
    int failures = 0;
    for (int round = 0; round < repeat; ++round) {
        for (qsizetype c = 0; c < cases.size(); ++c) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QCoreApplication::applicationFilePath(),
                        QStringList{"--case", cases[c], "--rate", QString::number(rate), "--piece",
                                    QString::number(piece), "--seconds", QString::number(seconds)} +
                            (log ? QStringList{"--log"} : QStringList()));
            child.waitForFinished(-1);
            const QByteArray out = child.readAllStandardOutput();
            std::fputs(out.constData(), stdout);
            std::fflush(stdout);
            const qsizetype at = out.indexOf("% of a core");
            if (at > 0)
                shares[c].push_back(
                    out.left(at).mid(out.lastIndexOf('=', at) + 1).trimmed().toDouble());
            if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
                std::printf("%s: failed (exit %d)\n", qPrintable(cases[c]), child.exitCode());
                ++failures;
            }
        }
    }
    if (repeat > 1) {
        std::printf("window's CPU share, median of %d:", repeat);
        for (qsizetype c = 0; c < cases.size(); ++c)
            std::printf("  %s %.2f%%", qPrintable(cases[c]), median(shares[c]));
        std::printf("\n");
    }
    return failures == 0 ? 0 : 1;
}
