// Other programs' locks, the program's own terminal, the drain on close and the quit on
// signals, on real pseudo-terminals.

#include "base/failure.h"
#include "serial/deviceguard.h"
#include "serial/portlock.h"
#include "support/boxanswerer.h"
#include "support/controls.h"
#include "support/files.h"
#include "support/peer.h"
#include "support/terminal.h"

#include <QTest>

#include <QCheckBox>
#include <QComboBox>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utime.h>

namespace {

QString lockOf(const QString &device)
{
    return QStringLiteral("/var/lock/LCK..") + device.mid(5).replace(u'/', u'_');
}

// A process that lives until the test ends, to name in lock files.
struct Sleeper
{
    explicit Sleeper(const QStringList &arguments = {QStringLiteral("sleep"),
                                                     QStringLiteral("600")})
    {
        process.start(arguments.first(), arguments.mid(1));
        process.waitForStarted(10000);
    }
    ~Sleeper()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    pid_t pid() const { return pid_t(process.processId()); }
    QProcess process;
};

// A lock file the test made is gone when the test ends, even when it fails half way, so that
// no later pty of the same number finds it.
struct LeftBehind
{
    QString path;
    ~LeftBehind()
    {
        QFile::remove(path);
        ::rmdir(QFile::encodeName(path).constData());
    }
};

// The peer's report of the line it holds: its settings and its exclusive mode.
QString heldLine(Peer &peer)
{
    ::kill(pid_t(peer.process().processId()), SIGUSR1);
    return peer.nextLine();
}

// A mount over a directory of the test's own mount namespace, gone when the test ends.
struct MountedOver
{
    QByteArray target;
    ~MountedOver() { ::umount2(target.constData(), MNT_DETACH); }
};

termios attributes(int fd)
{
    termios tio{};
    tcgetattr(fd, &tio);
    return tio;
}

} // namespace

class TestPortSafety : public QObject
{
    Q_OBJECT

private slots:
    // Each of these opens must be refused and must leave the other program's lock in place.
    void refusedByLocks_data()
    {
        QTest::addColumn<QByteArray>("content"); // %1: a live process's PID
        QTest::addColumn<bool>("throughLink");
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("live lock, opened through a link")
            << QByteArray("%1\n") << true << 0 << "(sleep)";
        QTest::newRow("pid only, live") << QByteArray("%1\n") << false << 0 << "(sleep)";
        QTest::newRow("pid name user, 60 s old")
            << QByteArray("%1 minicom root\n") << false << 60 << "(sleep)";
        QTest::newRow("binary, live") << QByteArray("binary") << false << 0 << "(sleep)";
        QTest::newRow("pid 1") << QByteArray("1\n") << false << 0 << "process 1";
        QTest::newRow("pid 0") << QByteArray("0\n") << false << 0 << "names no process";
        QTest::newRow("negative pid") << QByteArray("-42\n") << false << 0 << "names no process";
        QTest::newRow("empty, 60 s old") << QByteArray() << false << 60 << "names no process";
        QTest::newRow("empty, just made") << QByteArray() << false << 0 << "being written";
        QTest::newRow("binary garbage")
            << QByteArray("\x01\xff\x00\x10\x7f\x03", 6) << false << 0 << "names no process";
        QTest::newRow("huge") << QByteArray(4 << 20, 'x') << false << 0 << "names no process";
        QTest::newRow("beyond any pid")
            << QByteArray("99999999999\n") << false << 0 << "names no process";
        QTest::newRow("digits run into text")
            << QByteArray("%1abc\n") << false << 0 << "names no process";
        QTest::newRow("a directory") << QByteArray("dir") << false << 0 << "not a regular file";
        QTest::newRow("a symbolic link") << QByteArray("link") << false << 0 << "symbolic link";
    }
    void refusedByLocks()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, throughLink);
        QFETCH(int, ageSeconds);
        QFETCH(QString, mentions);
        Peer peer;
        Sleeper holder;
        const TempFiles dir;
        const QString lock = lockOf(peer.path());
        const QByteArray name = QFile::encodeName(lock);
        const LeftBehind cleanup{lock};
        if (content == "dir") {
            QVERIFY(::mkdir(name.constData(), 0755) == 0);
        } else if (content == "link") {
            QVERIFY(::symlink(qPrintable(dir.path("elsewhere")), name.constData()) == 0);
        } else {
            if (content == "binary") {
                const int pid = holder.pid();
                content = QByteArray(reinterpret_cast<const char *>(&pid), sizeof pid);
            } else if (content.contains("%1")) {
                content.replace("%1", QByteArray::number(holder.pid()));
            }
            QFile file(lock);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
            file.close();
            const time_t old = time(nullptr) - ageSeconds;
            const utimbuf times{old, old};
            ::utime(name.constData(), &times);
        }
        const QString link = dir.path("ttyLink");
        QVERIFY(QFile::link(peer.path(), link));

        SerialPortControl control(
            PortMap::build(portEnvironment({{1, throughLink ? link : peer.path()}}), {}));
        const QString why = refusal(control);
        struct stat st
        {
        };
        const bool stillThere = ::lstat(name.constData(), &st) == 0;
        const QByteArray after = S_ISREG(st.st_mode) ? readWhole(lock) : content;
        QVERIFY2(why.contains(mentions), qPrintable(why));
        QVERIFY(!control.portOpen());
        QVERIFY2(stillThere, "the other program's lock file was removed");
        QCOMPARE(after, content);
    }

    // A program that locks the device itself with flock keeps it.
    void refusedByFlock()
    {
        Peer peer;
        Sleeper holder({QStringLiteral("flock"), QStringLiteral("--no-fork"), peer.path(),
                        QStringLiteral("sleep"), QStringLiteral("600")});
        const auto held = [&peer] {
            const int fd = ::open(qPrintable(peer.path()), O_RDONLY | O_NOCTTY | O_NONBLOCK);
            const bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
            ::close(fd);
            return busy;
        };
        // flock takes the lock, then becomes sleep: the name is checked once it has.
        const auto named = [&holder] {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(holder.pid()));
            return comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "sleep";
        };
        QTRY_VERIFY_WITH_TIMEOUT(held() && named(), 10000);
        SerialPortControl control(PortMap::build(portEnvironment({{1, peer.path()}}), {}));
        const QString why = refusal(control);
        QVERIFY2(why.contains(QStringLiteral("process %1 (sleep)").arg(holder.pid())),
                 qPrintable(why));
        QVERIFY(!control.portOpen());
        QVERIFY(!QFile::exists(lockOf(peer.path()))); // our own lock went with the refusal
    }

    // Where we may not write a lock, other programs' locks are read all the same, and our flock
    // alone guards the open.
    void readOnlyLockDirectory_data()
    {
        QTest::addColumn<bool>("foreign");
        QTest::newRow("another program's lock") << true;
        QTest::newRow("no lock") << false;
    }
    void readOnlyLockDirectory()
    {
        QFETCH(bool, foreign);
        if (::geteuid() != 0)
            QSKIP("a read-only lock directory of the test's own needs root");
        // Mounts made from here on are this thread's alone, and never reach the machine's.
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            QSKIP("no mount namespace of the test's own here");
        Peer peer;
        Sleeper holder;
        const TempFiles dir;
        const QString name = portlock::lockName(peer.path());
        const QByteArray content = QByteArray::number(holder.pid()) + " minicom root\n";
        if (foreign) {
            QFile file(dir.path(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        }
        const QByteArray lockDir = QFile::encodeName(
            QFileInfo(QString::fromLatin1(portlock::Directory)).canonicalFilePath());
        QVERIFY(::mount(qPrintable(dir.path()), lockDir.constData(), nullptr, MS_BIND, nullptr) ==
                0);
        const MountedOver mounted{lockDir};
        QVERIFY(::mount(nullptr, lockDir.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                        nullptr) == 0);
        QVERIFY(::access(lockDir.constData(), W_OK) != 0);

        SerialPortControl control(PortMap::build(portEnvironment({{1, peer.path()}}), {}));
        const QString why = refusal(control);
        if (foreign) {
            QVERIFY2(why.contains(QStringLiteral("process %1 (sleep)").arg(holder.pid())),
                     qPrintable(why));
            QVERIFY(!control.portOpen());
            QCOMPARE(readWhole(dir.path(name)), content);
            return;
        }
        QVERIFY2(why.isEmpty(), qPrintable(why));
        const int other = ::open(qPrintable(peer.path()), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        const bool flocked = ::flock(other, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        ::close(other);
        QVERIFY2(flocked, "the open port is not flocked");
        QVERIFY(QDir(dir.path()).isEmpty());
    }

    // A refused open, and the drop-down's probe, leave the line of the program that holds the
    // device as it was: its settings and its exclusive mode.
    void refusedOpenLeavesLineAlone_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("byProbe");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("flock and exclusive mode") << "flock+excl" << false << "(quorpeer)";
        QTest::newRow("flock and exclusive mode, probed") << "flock+excl" << true << "(quorpeer)";
        QTest::newRow("flock") << "flock" << false << "holds a lock on the device";
        QTest::newRow("exclusive mode") << "excl" << false << "in exclusive mode";
    }
    void refusedOpenLeavesLineAlone()
    {
        QFETCH(QString, how);
        QFETCH(bool, byProbe);
        QFETCH(QString, mentions);
        Peer peer({"--hold-line", how});
        const QString before = heldLine(peer);
        QVERIFY2(before.startsWith(u"line speed="), qPrintable(before));
        QCOMPARE(before.endsWith(u"excl=1"), how.contains(u"excl"));
        SerialPortControl control(PortMap::build(portEnvironment({{1, peer.path()}}), {}));
        const QString why = byProbe ? control.probe(1) : refusal(control);
        QVERIFY2(
            why.contains(QStringLiteral("process %1 (quorpeer)").arg(peer.process().processId())),
            qPrintable(why));
        QVERIFY2(why.contains(mentions), qPrintable(why));
        QVERIFY(!control.portOpen());
        QCOMPARE(heldLine(peer), before);
        QVERIFY(!QFile::exists(lockOf(peer.path())));
    }

    // Our lock is never seen empty by a program that reads it while we take it, and any user
    // may read it whatever our umask.
    void ownLockAppearsWhole()
    {
        Peer peer;
        const QByteArray lock = QFile::encodeName(lockOf(peer.path()));
        std::atomic<bool> stop{false};
        std::atomic<int> whole{0};
        std::atomic<int> empty{0};
        std::atomic<bool> started{false};
        std::thread reader([&] {
            char buf[64];
            started = true;
            while (!stop) {
                const int fd = ::open(lock.constData(), O_RDONLY | O_CLOEXEC);
                if (fd < 0)
                    continue;
                const ssize_t n = ::read(fd, buf, sizeof buf);
                ::close(fd);
                (n > 0 ? whole : empty) += 1;
            }
        });
        const mode_t umask = ::umask(077);
        struct Restore
        {
            std::atomic<bool> &stop;
            std::thread &reader;
            mode_t umask;
            ~Restore()
            {
                ::umask(umask);
                stop = true;
                reader.join();
            }
        } restore{stop, reader, umask};

        SerialPortControl control(PortMap::build(portEnvironment({{1, peer.path()}}), {}));
        while (!started)
            std::this_thread::yield();
        mode_t mode = 0;
        // On a busy machine the reader may run seldom: go on until it has looked often enough.
        for (int round = 0; round < 200 || (whole < 100 && round < 5000); ++round) {
            control.setPortOpen(true);
            struct stat st
            {
            };
            QVERIFY(::stat(lock.constData(), &st) == 0);
            mode = st.st_mode & 07777;
            control.setPortOpen(false);
        }
        qInfo("the reader found the lock %d times, empty %d times", whole.load(), empty.load());
        QCOMPARE(mode, mode_t(0644));
        QVERIFY(whole > 0);
        QCOMPARE(empty.load(), 0);
    }

    // What a lock file says from its content and age: an empty or unreadable one that is young
    // is being written by its program, not a stale one to be removed.
    void lockReading_data()
    {
        using Kind = portlock::Reading::Kind;
        QTest::addColumn<QByteArray>("content"); // "unreadable": it cannot be read
        QTest::addColumn<qint64>("ageMs");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("pid");
        QTest::newRow("padded pid")
            << QByteArray("      1234\n") << qint64(0) << int(Kind::Names) << 1234;
        QTest::newRow("pid, an hour old")
            << QByteArray("1234 minicom root\n") << qint64(3600000) << int(Kind::Names) << 1234;
        QTest::newRow("QLockFile's form")
            << QByteArray("1234\nquorpeer\nhost\n") << qint64(10) << int(Kind::Names) << 1234;
        QTest::newRow("empty, just made")
            << QByteArray() << qint64(0) << int(Kind::BeingWritten) << 0;
        QTest::newRow("empty, 1.9 s")
            << QByteArray() << qint64(1900) << int(Kind::BeingWritten) << 0;
        QTest::newRow("empty, 2 s")
            << QByteArray() << qint64(2000) << int(Kind::NamesNoProcess) << 0;
        QTest::newRow("blanks of a padded pid, just made")
            << QByteArray("    ") << qint64(5) << int(Kind::BeingWritten) << 0;
        QTest::newRow("unreadable, just made")
            << QByteArray("unreadable") << qint64(100) << int(Kind::BeingWritten) << 0;
        QTest::newRow("unreadable, 3 s")
            << QByteArray("unreadable") << qint64(3000) << int(Kind::CannotBeRead) << 0;
        QTest::newRow("garbage, just made")
            << QByteArray("abc\n") << qint64(0) << int(Kind::NamesNoProcess) << 0;
        QTest::newRow("empty, dated an hour ahead")
            << QByteArray() << qint64(-3600000) << int(Kind::NamesNoProcess) << 0;
    }
    void lockReading()
    {
        QFETCH(QByteArray, content);
        QFETCH(qint64, ageMs);
        QFETCH(int, kind);
        QFETCH(int, pid);
        const auto bytes =
            content == "unreadable" ? std::nullopt : std::optional<QByteArrayView>(content);
        const portlock::Reading expected{portlock::Reading::Kind(kind), pid_t(pid)};
        QVERIFY(portlock::readLock(bytes, ageMs) == expected);
    }

    // A dead process's lock must not keep the port shut; ours must not outlive the close.
    void deadLockCleanedOwnLockRemoved()
    {
        Peer peer;
        const pid_t gone = ::fork();
        if (gone == 0)
            ::_exit(0);
        QVERIFY(gone > 0 && ::waitpid(gone, nullptr, 0) == gone);
        const QString lock = lockOf(peer.path());
        const LeftBehind cleanup{lock};
        QFile file(lock);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::number(gone) + " minicom root\n");
        file.close();

        SerialPortControl control(PortMap::build(portEnvironment({{1, peer.path()}}), {}));
        const QString why = refusal(control);
        QVERIFY2(why.isEmpty(), qPrintable(why));
        QCOMPARE(readWhole(lock).trimmed().toLongLong(), QCoreApplication::applicationPid());
        SerialPortControl second(PortMap::build(portEnvironment({{1, peer.path()}}), {}));
        QVERIFY(refusal(second).contains(QString::number(QCoreApplication::applicationPid())));
        control.setPortOpen(false);
        QVERIFY(!QFile::exists(lock));
        // Nor may the lock QSerialPort takes under a name of its own.
        const QString number = peer.path().section(u'/', -1);
        const QStringList left =
            QDir(QStringLiteral("/var/lock")).entryList({QStringLiteral("LCK*")}, QDir::Files);
        QVERIFY2(left.filter(QRegularExpression(QStringLiteral("pts_+%1$").arg(number))).isEmpty(),
                 qPrintable(left.join(u' ')));
    }

    // Devices that must never be opened, and paths that stop being a terminal.
    void refusedDevices_data()
    {
        QTest::addColumn<QString>("path"); // "loop", "turns into a file", or a device
        QTest::addColumn<QString>("mentions");
        QTest::newRow("symlink loop") << "loop"
                                      << "loop of symbolic links";
        QTest::newRow("tty, then a regular file") << "turns into a file"
                                                  << "regular file";
        QTest::newRow("the controlling terminal") << "/dev/tty"
                                                  << "terminal this program runs in";
        QTest::newRow("the console") << "/dev/console"
                                     << "not a serial device";
        QTest::newRow("pty multiplexer") << "/dev/ptmx"
                                         << "not a serial device";
        QTest::newRow("virtual console") << "/dev/tty1"
                                         << "virtual console";
        QTest::newRow("random") << "/dev/urandom"
                                << "not a serial device";
    }
    void refusedDevices()
    {
        QFETCH(QString, path);
        QFETCH(QString, mentions);
        if (path.startsWith(u"/dev/") && !QFile::exists(path))
            QSKIP("this system has no such device");
        const TempFiles dir;
        Peer peer;
        QString device = path;
        if (path == u"loop") {
            device = dir.path("a");
            QVERIFY(QFile::link(dir.path("b"), device) && QFile::link(device, dir.path("b")));
        } else if (path == u"turns into a file") {
            device = dir.path("ttyMoving");
            QVERIFY(QFile::link(peer.path(), device));
        }
        SerialPortControl control(PortMap::build(portEnvironment({{1, device}}), {}));
        if (path == u"turns into a file") {
            QVERIFY(refusal(control).isEmpty()); // the probe finds a terminal
            control.setPortOpen(false);
            QVERIFY(QFile::remove(device));
            QFile file(device);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QString why = refusal(control);
        QVERIFY2(why.contains(mentions), qPrintable(why));
        QVERIFY(!control.portOpen());
    }

    // A pty takes every rate, so the read-back rule is checked alone: a rate the device did not
    // take must not pass as set, and a UART's near miss must not be refused.
    void speedTaken_data()
    {
        QTest::addColumn<qint64>("requested");
        QTest::addColumn<qint64>("actual");
        QTest::addColumn<bool>("taken");
        QTest::newRow("128k on a 115200 UART") << qint64(128000) << qint64(115200) << false;
        QTest::newRow("exact") << qint64(115200) << qint64(115200) << true;
        QTest::newRow("1% off") << qint64(9600) << qint64(9696) << true;
        QTest::newRow("unreadable") << qint64(9600) << qint64(0) << false;
    }
    void speedTaken()
    {
        QFETCH(qint64, requested);
        QFETCH(qint64, actual);
        QFETCH(bool, taken);
        QCOMPARE(deviceguard::speedTaken(requested, actual), taken);
    }

    // Close must not throw away queued output, and must not hang on a device that takes none.
    void closeDrains_data()
    {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("readRate");
        QTest::addColumn<bool>("peerStops");
        QTest::addColumn<bool>("peerSpoke"); // the line went quiet after a few bytes came in
        QTest::addColumn<bool>("modal");     // a modal window's loop runs above the wait for 1.5 s
        QTest::newRow("slow reader gets everything") << (256 << 10) << "115200,n,8,2"
                                                     << "65536" << false << false << false;
        QTest::newRow("slow reader, after bytes came") << (256 << 10) << "115200,n,8,2"
                                                       << "65536" << false << true << false;
        QTest::newRow("reader stops: the rest is counted") << (256 << 10) << "4000000,n,8,2"
                                                           << "" << true << false << false;
        QTest::newRow("reader stops under a modal window") << (256 << 10) << "115200,n,8,2"
                                                           << "" << true << false << true;
    }
    void closeDrains()
    {
        QFETCH(int, bytes);
        QFETCH(QString, settings);
        QFETCH(QString, readRate);
        QFETCH(bool, peerStops);
        QFETCH(bool, peerSpoke);
        QFETCH(bool, modal);
        const TempFiles dir;
        const QString record = dir.path("peer.rec");
        QStringList arguments{"--record", record};
        if (!readRate.isEmpty())
            arguments << "--read-rate" << readRate;
        if (peerSpoke)
            arguments << "--wait-open"
                      << "--send"
                      << "hello";
        Peer peer(arguments);
        SerialPortControl control(PortMap::build(portEnvironment({{1, peer.path()}}), {}));
        control.setSettings(settings);
        QVERIFY(refusal(control).isEmpty());
        if (peerSpoke) {
            QSignalSpy heard(&control, &SerialPortControl::OnComm);
            QVERIFY(heard.wait(5000));
            QTest::qWait(200); // long enough for the line to count as quiet
        }
        QByteArray data(bytes, '\0');
        for (int k = 0; k < bytes; ++k)
            data[k] = char(k * 7 + k / 251);
        control.setOutput(data);
        if (peerStops)
            ::kill(pid_t(peer.process().processId()), SIGSTOP);
        // The rest is dropped in time even while another loop runs above the wait.
        qint64 queuedUnderModal = -1;
        if (modal) {
            QTimer::singleShot(100, &control, [&control, &queuedUnderModal] {
                QEventLoop window;
                QTimer::singleShot(1500, &window, &QEventLoop::quit);
                window.exec();
                queuedUnderModal = control.bytesToWrite();
            });
        }
        QElapsedTimer clock;
        clock.start();
        control.setPortOpen(false);
        const qint64 took = clock.elapsed();
        if (peerStops)
            ::kill(pid_t(peer.process().processId()), SIGCONT);
        QVERIFY(!control.portOpen());
        QCOMPARE(queuedUnderModal, modal ? 0 : -1);
        qInfo("close took %lld ms, dropped %lld of %d bytes", took, control.droppedOnClose(),
              bytes);
        QCOMPARE(control.droppedOnClose() > 0, peerStops);
        QCOMPARE(control.closeNote().isEmpty(), !peerStops);
        const qint64 left = bytes - control.droppedOnClose();
        if (!peerStops) {
            QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(record).size(), left, 20000);
            QCOMPARE(readWhole(record), data);
            return;
        }
        // Nothing leaves for a second: the close gives up. A hang is far beyond it.
        QVERIFY2(took < 5000, "the close waited for a device that takes nothing");
        // What the peer got is the start of the data: nothing counted as dropped was sent. (A pty
        // loses what it held for a reader that was not reading when the port closed.)
        peer.stop();
        const QByteArray got = readWhole(record);
        QVERIFY(got.size() <= left);
        QCOMPARE(got, data.left(got.size()));
    }

    // The user must hear of bytes dropped at the close: they believe them sent. The close waits
    // only while the device takes bytes, a window's close 2 s at most, and a second Close Port
    // drops the rest at once; meanwhile the window answers keys and shows the port as closing.
    void closeTellsOfDroppedBytes_data()
    {
        QTest::addColumn<bool>("byWindow");
        QTest::addColumn<bool>("deviceTakesNothing"); // else it reads 64 KiB/s of a 1 MiB send
        QTest::addColumn<bool>("clickedAgain");
        QTest::addColumn<int>("withinMs");
        QTest::newRow("Close Port, the device takes nothing") << false << true << false << 1500;
        QTest::newRow("Close Port clicked again, a slow device") << false << false << true << 1500;
        QTest::newRow("window closed, the device takes nothing") << true << true << false << 1500;
        QTest::newRow("window closed, a slow device") << true << false << false << 3000;
    }
    void closeTellsOfDroppedBytes()
    {
        QFETCH(bool, byWindow);
        QFETCH(bool, deviceTakesNothing);
        QFETCH(bool, clickedAgain);
        QFETCH(int, withinMs);
        BoxAnswerer boxes;
        Terminal terminal(deviceTakesNothing ? QStringList() : QStringList{"--read-rate", "65536"});
        Form1 &window = terminal.window;
        QVERIFY2(terminal.open(), qPrintable(boxes.texts().join(u'\n')));
        window.chkDuplex->setChecked(false); // a typed key shows on the screen as it goes out
        window.MSComm1->setOutput(QByteArray(deviceTakesNothing ? 64 << 10 : 1 << 20, 'x'));
        if (deviceTakesNothing)
            ::kill(pid_t(terminal.peer.process().processId()), SIGSTOP);
        bool shownClosing = false;
        QTimer::singleShot(300, &window, [&] {
            shownClosing = window.MSComm1->isClosing() && !window.btnClose->toolTip().isEmpty();
            QTest::keyClick(window.Text1, Qt::Key_K, Qt::NoModifier);
            if (clickedAgain)
                window.btnClose->click();
        });
        QElapsedTimer clock;
        clock.start();
        if (byWindow)
            window.close();
        else
            window.btnClose->click();
        const qint64 took = clock.elapsed();
        if (deviceTakesNothing)
            ::kill(pid_t(terminal.peer.process().processId()), SIGCONT);
        qInfo("the close took %lld ms", took);
        QVERIFY(!window.MSComm1->portOpen());
        QVERIFY2(took < withinMs, qPrintable(QStringLiteral("%1 ms").arg(took)));
        QVERIFY2(window.Text1->text().endsWith(u'k'), "the key typed during the close was lost");
        QCOMPARE(shownClosing, !byWindow);
        QVERIFY(window.btnClose->toolTip().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(boxes.texts().size(), 1, 5000);
        QVERIFY2(boxes.texts()[0].contains(u"dropped"), qPrintable(boxes.texts()[0]));
        QCOMPARE(boxes.titles()[0], u"Quorline");
    }

    // A signal must not leave the port locked and raw, nor wait long for a device that is slow
    // to take a send, nor show a box that no one will answer at a logout.
    void signalsQuitCleanly_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("times");
        QTest::addColumn<QString>("device"); // idle, takes nothing, or slow
        QTest::newRow("SIGTERM") << int(SIGTERM) << 1 << "idle";
        QTest::newRow("SIGHUP") << int(SIGHUP) << 1 << "idle";
        QTest::newRow("SIGINT") << int(SIGINT) << 1 << "idle";
        QTest::newRow("SIGTERM while Close Port waits for a device that takes nothing")
            << int(SIGTERM) << 1 << "takes nothing";
        QTest::newRow("SIGTERM twice while Close Port waits for a slow device")
            << int(SIGTERM) << 2 << "slow";
    }
    void signalsQuitCleanly()
    {
        QFETCH(int, signal);
        QFETCH(int, times);
        QFETCH(QString, device);
        Peer peer(device == u"slow" ? QStringList{"--read-rate", "65536"} : QStringList());
        if (device == u"takes nothing")
            ::kill(pid_t(peer.process().processId()), SIGSTOP);
        const int slave = ::open(qPrintable(peer.path()), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(slave >= 0);
        termios before = attributes(slave);
        cfsetspeed(&before, B2400);
        before.c_lflag |= ECHO | ICANON;
        QVERIFY(tcsetattr(slave, TCSANOW, &before) == 0);

        QProcess rig;
        QProcessEnvironment env = portEnvironment({{1, peer.path()}});
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        rig.setProcessEnvironment(env);
        // 4 MiB at 64 KiB/s: the close would wait a minute.
        rig.start(QStringLiteral(QUITRIG_PATH),
                  device == u"idle" ? QStringList() : QStringList{QString::number(4 << 20)});
        QTRY_VERIFY_WITH_TIMEOUT(rig.canReadLine(), 20000);
        QCOMPARE(rig.readLine().trimmed(), "open");
        QVERIFY(QFile::exists(lockOf(peer.path())));
        termios during = attributes(slave);
        QCOMPARE(cfgetospeed(&during), speed_t(B9600)); // the open did take the line
        if (device != u"idle") {
            QTRY_VERIFY_WITH_TIMEOUT(rig.canReadLine(), 10000);
            QCOMPARE(rig.readLine().trimmed(), "closing");
            QTest::qWait(200); // Close Port is clicked and waits
        }

        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < times; ++i) {
            if (i > 0)
                QTest::qWait(50);
            ::kill(pid_t(rig.processId()), signal);
        }
        QVERIFY(rig.waitForFinished(20000));
        const qint64 took = clock.elapsed();
        if (device == u"takes nothing")
            ::kill(pid_t(peer.process().processId()), SIGCONT);
        const termios after = attributes(slave);
        ::close(slave);
        qInfo("quit %lld ms after the signal", took);
        const QByteArray output = rig.readAllStandardOutput();
        QCOMPARE(rig.exitStatus(), QProcess::NormalExit);
        QCOMPARE(rig.exitCode(), 0);
        QVERIFY(!QFile::exists(lockOf(peer.path())));
        QVERIFY2(!output.contains("box:"), output.constData());
        QVERIFY2(took < 3000, qPrintable(QStringLiteral("%1 ms").arg(took)));
        // The dropped bytes are still told, where a quit can tell them.
        QCOMPARE(rig.readAllStandardError().contains("dropped"), device != u"idle");
        QCOMPARE(cfgetospeed(&after), speed_t(B2400));
        QVERIFY((after.c_lflag & (ECHO | ICANON)) == (ECHO | ICANON));
    }

    // Started in the background of a job-control shell with its own terminal as COM1, the
    // program must neither stop on SIGTTOU nor list that terminal.
    void ownTerminalNeverListed_data()
    {
        QTest::addColumn<QString>("com1");
        QTest::addColumn<bool>("listed");
        QTest::newRow("/dev/tty") << "/dev/tty" << false;
        QTest::newRow("the terminal's own path") << "$(tty)" << false;
        QTest::newRow("a pty of its own, for contrast") << "peer" << true;
    }
    void ownTerminalNeverListed()
    {
        QFETCH(QString, com1);
        QFETCH(bool, listed);
        Peer peer;
        if (com1 == u"peer")
            com1 = peer.path();
        // script gives the shell a terminal of its own, so that it runs with job control.
        const QString shell =
            QStringLiteral("bash --norc --noprofile -ic 'QT_QPA_PLATFORM=offscreen "
                           "QUORLINE_COM1=%1 %2 --check-install & wait $!; echo status=$?; exit'")
                .arg(com1, QStringLiteral(QUORLINE_PATH));
        // The program lists and tries the machine's serial devices (the console among them):
        // a mount namespace of the test's own hides them.
        QProcess hidden;
        hidden.start(QStringLiteral("unshare"),
                     {"-m", "sh", "-c", "mount -t tmpfs none /sys/class/tty"});
        if (!hidden.waitForFinished(10000) || hidden.exitCode() != 0)
            QSKIP("the machine's serial devices cannot be hidden (no mount namespace)");
        QProcess script;
        script.setStandardInputFile(QProcess::nullDevice());
        script.start(QStringLiteral("unshare"),
                     {"-m", "sh", "-c",
                      "mount -t tmpfs none /sys/class/tty && exec script -qec \"$0\" /dev/null",
                      shell});
        const bool ended = script.waitForFinished(30000);
        const QByteArray output = script.readAll();
        QVERIFY2(ended, output.constData());
        QVERIFY2(output.contains("status=0"), output.constData());
        const QByteArray ports = output.mid(output.indexOf("ports:")).split('\r').first();
        QCOMPARE(ports.simplified().split(' ').contains("COM1"), listed);
    }
};

QTEST_MAIN(TestPortSafety)
#include "tst_portsafety.moc"
