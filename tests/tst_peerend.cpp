// How the peer tool waits, ends the command it runs, and locks its device as another program.
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include "tests/testsupport.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr int Patience = 30000; // a loaded machine; every wait ends when its condition holds

// CPU seconds a process has used, from /proc/PID/stat (user + system), -1 once it is gone.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// Running, and not a zombie waiting to be reaped.
bool alive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) != "Z";
}

QString lockPath(const QString &device)
{
    return QStringLiteral("/var/lock/LCK..") + device.mid(5).replace(u'/', u'_');
}

} // namespace

class tst_peerend : public QObject
{
    Q_OBJECT

private slots:
    void idleWhileOutputWaits_data();
    void idleWhileOutputWaits();
    void endsItsCommand_data();
    void endsItsCommand();
    void holdWritesTheLock_data();
    void holdWritesTheLock();

private:
    QTemporaryDir m_dir;
};

void tst_peerend::idleWhileOutputWaits_data()
{
    QTest::addColumn<int>("bytes");
    // More than the peer keeps waiting, but the rest fits the command's terminal: it ends.
    QTest::newRow("command ended") << 70000;
    QTest::newRow("command still writing") << 300000;
}

// A peer that polls a hung-up descriptor it no longer reads spins at full CPU.
void tst_peerend::idleWhileOutputWaits()
{
    QFETCH(int, bytes);
    const QString ended = m_dir.filePath(QStringLiteral("ended-%1").arg(bytes));
    Peer peer({"--exec", QStringLiteral("head -c %1 /dev/zero; touch %2").arg(bytes).arg(ended),
               "--exit-after-send"});
    QVERIFY(peer.path().startsWith(u"/dev/pts/"));
    if (bytes < 100000)
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(ended), Patience);
    const qint64 pid = peer.process().processId();
    const double before = cpuSeconds(pid);
    QElapsedTimer wall;
    wall.start();
    // A measurement over three seconds; a spinning peer ends it sooner.
    double used = 0;
    while (wall.elapsed() < 3000 && used < 0.3) {
        QTest::qWait(100);
        used = cpuSeconds(pid) - before;
    }
    qInfo("peer used %.3f s of CPU in %lld ms while nobody read", used, wall.elapsed());
    QVERIFY2(used < 0.3, qPrintable(QString::number(used)));

    // Then everything arrives, and the peer ends once it is read.
    QSerialPort port(peer.path());
    QVERIFY(port.open(QIODevice::ReadWrite));
    qint64 received = 0;
    const QDeadlineTimer deadline(Patience);
    while (received < bytes && !deadline.hasExpired()) {
        if (port.bytesAvailable() > 0 || port.waitForReadyRead(100))
            received += port.readAll().count('\0');
    }
    QCOMPARE(received, qint64(bytes));
    QVERIFY(peer.waitForExit(Patience));
    QCOMPARE(peer.process().exitCode(), 0);
}

void tst_peerend::endsItsCommand_data()
{
    QTest::addColumn<QString>("command"); // writes the pid to watch to $0
    QTest::newRow("obeys the hangup") << QStringLiteral("echo $$ >\"$F\"; exec sleep 600");
    QTest::newRow("ignores HUP and TERM")
        << QStringLiteral("trap '' HUP TERM; echo $$ >\"$F\"; exec sleep 600");
    QTest::newRow("a grandchild ignores them")
        << QStringLiteral("trap '' HUP TERM; sleep 600 & echo $! >\"$F\"; wait");
}

// A peer that waits forever for a stubborn command never ends, and one that stops waiting
// without killing it leaves it running.
void tst_peerend::endsItsCommand()
{
    QFETCH(QString, command);
    const QString pidFile = m_dir.filePath(QStringLiteral("pid-%1").arg(QTest::currentDataTag()));
    qputenv("F", pidFile.toLocal8Bit());
    Peer peer({"--exec", command});
    qunsetenv("F");
    QVERIFY(peer.path().startsWith(u"/dev/pts/"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(pidFile).size() > 0, Patience);
    QFile file(pidFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const qint64 child = file.readAll().trimmed().toLongLong();
    QVERIFY(child > 0);
    QVERIFY(alive(child));

    ::kill(static_cast<pid_t>(peer.process().processId()), SIGTERM);
    const bool ended = peer.waitForExit(Patience);
    if (!ended || alive(child))
        ::kill(static_cast<pid_t>(child), SIGKILL); // leave nothing behind
    QVERIFY(ended);
    QCOMPARE(peer.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(peer.process().exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!alive(child), Patience);
}

void tst_peerend::holdWritesTheLock_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("content"); // %1 is the pid; empty: checked below by format
    QTest::addColumn<bool>("stranger"); // another program replaces the lock before the end
    QTest::addColumn<bool>("flocked");
    const passwd *user = getpwuid(geteuid());
    const QString name = QString::fromLocal8Bit(user ? user->pw_name : "?");
    QTest::newRow("ascii") << QStringList{"--hold"} << QStringLiteral("%1\n") << false << false;
    QTest::newRow("named") << QStringList{"--hold-format", "named"}
                           << QStringLiteral("%1 quorpeer ") + name + u'\n' << false << false;
    QTest::newRow("other pid") << QStringList{"--hold-pid", "4242"}
                               << QStringLiteral("      4242\n") << false << false;
    QTest::newRow("binary") << QStringList{"--hold-format", "binary"} << QString() << false
                            << false;
    QTest::newRow("qt") << QStringList{"--hold-format", "qt"} << QString() << false << false;
    QTest::newRow("replaced") << QStringList{"--hold"} << QStringLiteral("%1\n") << true << false;
    QTest::newRow("flock") << QStringList{"--hold-flock"} << QStringLiteral("%1\n") << false
                           << true;
}

// Programs find a held device by the lock of its real name, in a format they can read;
// a link's name gets none, and a lock someone else wrote in its place is not removed.
void tst_peerend::holdWritesTheLock()
{
    QFETCH(QStringList, args);
    QFETCH(QString, content);
    QFETCH(bool, stranger);
    QFETCH(bool, flocked);
    const QString link = m_dir.filePath(QStringLiteral("byname"));
    Peer peer(args + QStringList{"--link", link});
    QVERIFY(peer.path().startsWith(u"/dev/pts/"));
    const QString lock = lockPath(peer.path());
    const qint64 pid = peer.process().processId();
    QFile file(lock);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(lock));
    const QByteArray written = file.readAll();
    file.close();
    if (content.contains(u"%1"))
        QCOMPARE(QString::fromLatin1(written), content.arg(pid, 10));
    else if (!content.isEmpty())
        QCOMPARE(QString::fromLatin1(written), content);
    else if (args.contains(u"binary"))
        QCOMPARE(written, QByteArray(reinterpret_cast<const char *>(&pid), 4));
    else
        QVERIFY2(written.startsWith(QByteArray::number(pid) + '\n'), written.constData());
    QVERIFY(!QFile::exists(lockPath(QStringLiteral("/dev/") + link)));
    const auto linkLocks = QDir(QStringLiteral("/var/lock"))
                               .entryList({QStringLiteral("LCK..*byname*")}, QDir::Files);
    QVERIFY2(linkLocks.isEmpty(), qPrintable(linkLocks.join(u' ')));

    const int fd = ::open(peer.path().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    const bool taken = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    QCOMPARE(taken, !flocked);

    if (stranger) {
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("         1\n");
        file.close();
    }
    peer.stop();
    QCOMPARE(QFile::exists(lock), stranger);
    QFile::remove(lock);
}

QTEST_GUILESS_MAIN(tst_peerend)
#include "tst_peerend.moc"
