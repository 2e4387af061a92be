// How the peer tool waits with nobody reading, and ends the command it runs.
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include "support/files.h"
#include "support/peer.h"

#include <csignal>
#include <unistd.h>

namespace {

constexpr int Patience = 30000; // a loaded machine; every wait ends when its condition holds

// The fields of /proc/PID/stat after the command name: [0] the state, [11] [12] CPU ticks.
QList<QByteArray> stat(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return text.isEmpty() ? QList<QByteArray>() : text.mid(text.lastIndexOf(')') + 2).split(' ');
}

bool alive(qint64 pid)
{
    const QList<QByteArray> fields = stat(pid);
    return !fields.isEmpty() && fields[0] != "Z"; // a zombie has ended
}

} // namespace

class tst_peerend : public QObject
{
    Q_OBJECT

private slots:
    void idleThenEnds_data();
    void idleThenEnds();

private:
    TempFiles m_dir;
};

void tst_peerend::idleThenEnds_data()
{
    QTest::addColumn<QString>("command"); // writes the pid to watch to $F
    // More output than the peer keeps while nobody reads; the rest fits the command's terminal.
    QTest::newRow("output waits, command ended")
        << QStringLiteral("head -c 70000 /dev/zero; echo $$ >\"$F\"");
    QTest::newRow("ignores HUP and TERM")
        << QStringLiteral("trap '' HUP TERM; echo $$ >\"$F\"; exec sleep 600");
    QTest::newRow("a grandchild ignores them")
        << QStringLiteral("trap '' HUP TERM; sleep 600 & echo $! >\"$F\"; wait");
}

// A peer that polls a hang-up it never reads spins at full CPU; one that waits forever for a
// stubborn command never ends, and one that stops waiting without killing it leaves it running.
void tst_peerend::idleThenEnds()
{
    QFETCH(QString, command);
    const QString pidFile = m_dir.path(QString::fromLatin1(QTest::currentDataTag()));
    qputenv("F", pidFile.toLocal8Bit());
    Peer peer({"--exec", command});
    qunsetenv("F");
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(pidFile).size() > 0, Patience);
    QFile file(pidFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const qint64 child = file.readAll().trimmed().toLongLong();
    const qint64 pid = peer.process().processId();
    const auto cpu = [pid]() {
        const QList<QByteArray> f = stat(pid);
        return f.size() > 12 ? (f[11].toDouble() + f[12].toDouble()) / sysconf(_SC_CLK_TCK) : -1.0;
    };
    // A measurement over three seconds; a spinning peer ends it sooner.
    const double before = cpu();
    QElapsedTimer wall;
    wall.start();
    while (wall.elapsed() < 3000 && cpu() - before < 0.3)
        QTest::qWait(100);
    qInfo("peer used %.2f s of CPU in %lld ms", cpu() - before, wall.elapsed());
    QVERIFY(cpu() - before < 0.3);

    ::kill(static_cast<pid_t>(pid), SIGTERM);
    const bool ended = peer.waitForExit(Patience);
    if (!ended || alive(child))
        ::kill(static_cast<pid_t>(child), SIGKILL); // leave nothing behind
    QVERIFY(ended);
    QCOMPARE(peer.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(peer.process().exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!alive(child), Patience);
}

QTEST_GUILESS_MAIN(tst_peerend)
#include "tst_peerend.moc"
