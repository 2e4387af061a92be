// The peer tool through real pseudo-terminals, opened the way the program opens them.
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QTest>

#include "support/files.h"
#include "support/peer.h"

#include <memory>

namespace {

// Long enough for a loaded machine; every wait ends as soon as its condition holds.
constexpr int Patience = 10000;

bool isDevice(const QString &path)
{
    return path.startsWith(QLatin1String("/dev/pts/"));
}

std::unique_ptr<QSerialPort> openPort(const QString &device)
{
    auto port = std::make_unique<QSerialPort>(device);
    if (!port->open(QIODevice::ReadWrite))
        return nullptr;
    return port;
}

QByteArray readBytes(QSerialPort &port, qsizetype count, int timeoutMs = Patience)
{
    QByteArray data;
    const QDeadlineTimer deadline(timeoutMs);
    while (data.size() < count && !deadline.hasExpired()) {
        if (port.bytesAvailable() > 0 || port.waitForReadyRead(50))
            data += port.readAll();
    }
    return data;
}

void writeBytes(QSerialPort &port, const QByteArray &bytes)
{
    port.write(bytes);
    const QDeadlineTimer deadline(Patience);
    while (port.bytesToWrite() > 0 && !deadline.hasExpired())
        port.waitForBytesWritten(50);
}

} // namespace

class tst_peer : public QObject
{
    Q_OBJECT

private slots:
    void sendArrivesExactly_data();
    void sendArrivesExactly();
    void echoReturnsWhatIsWritten();
    void recordKeepsExactBytes_data();
    void recordKeepsExactBytes();
    void demoAnswersEachLine();
    void ratePacesSending();
    void execRelaysCommandOutput();
    void holdRefusesSecondOpen();
    void hangupAndReopen();
    void exitsWhenStdinEnds();
    void exitsWhenParentDies();

private:
    TempFiles m_dir;
};

void tst_peer::sendArrivesExactly_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("readAfterMs"); // the peer must wait for a slow reader before it ends

    const QByteArray cycle = all256().repeated(4).left(1000);
    const QString file = m_dir.path(QStringLiteral("send.bin"));
    writeFile(file, all256() + all256());

    QTest::newRow("all 256") << QStringList{"--send-all256"} << all256() << 0;
    QTest::newRow("escapes") << QStringList{"--send", "a\\r\\n\\t\\x41\\xfF\\\\\\0z"}
                             << QByteArray("a\r\n\tA\xff\\\0z", 9) << 0;
    QTest::newRow("in order") << QStringList{"--send", "<", "--send-all256", "--send", ">"}
                              << QByteArray("<") + all256() + ">" << 0;
    QTest::newRow("file") << QStringList{"--send-file", file} << all256() + all256() << 0;
    QTest::newRow("flood all256") << QStringList{"--flood", "1000", "--pattern", "all256"} << cycle
                                  << 0;
    QTest::newRow("late reader") << QStringList{"--flood", "1000", "--pattern", "all256"} << cycle
                                 << 500;
}

void tst_peer::sendArrivesExactly()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, expected);
    QFETCH(int, readAfterMs);
    Peer peer(args + QStringList{"--wait-open", "--exit-after-send"});
    QVERIFY(isDevice(peer.path()));
    auto port = openPort(peer.path());
    QVERIFY(port);
    // A late reader: the peer must still be there, its output unread, when the reader comes.
    if (readAfterMs > 0)
        QVERIFY2(!peer.waitForExit(readAfterMs), "the peer ended before its output was read");
    QCOMPARE(readBytes(*port, expected.size()), expected);
    QVERIFY(peer.waitForExit(Patience));
    QCOMPARE(peer.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(peer.process().exitCode(), 0);
    QVERIFY(!port->waitForReadyRead(50)); // nothing more than asked for
}

void tst_peer::echoReturnsWhatIsWritten()
{
    Peer peer({"--echo"});
    QVERIFY(isDevice(peer.path()));
    auto port = openPort(peer.path());
    QVERIFY(port);
    QByteArray sent;
    for (int i = 0; i < 40; ++i)
        sent += all256(); // more than the pty holds at once, so the echo has to wait its turn
    writeBytes(*port, sent);
    QCOMPARE(readBytes(*port, sent.size()), sent);
}

void tst_peer::recordKeepsExactBytes_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("as they come") << QStringList{};
    // A slow reader still has most of the bytes to read when the program lets go.
    QTest::newRow("read slowly") << QStringList{"--read-rate", "2000"};
}

void tst_peer::recordKeepsExactBytes()
{
    QFETCH(QStringList, args);
    const QString file = m_dir.path(QStringLiteral("record-%1.bin").arg(QTest::currentDataTag()));
    Peer peer(args + QStringList{"--record", file});
    QVERIFY(isDevice(peer.path()));
    auto port = openPort(peer.path());
    QVERIFY(port);
    writeBytes(*port, all256() + all256());
    port.reset(); // the program lets go at once
    QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(file).size(), 512, Patience);
    QFile in(file);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QCOMPARE(in.readAll(), all256() + all256());
}

void tst_peer::demoAnswersEachLine()
{
    Peer peer({"--demo"});
    QVERIFY(isDevice(peer.path()));
    auto port = openPort(peer.path());
    QVERIFY(port);
    writeBytes(*port, "hello\r");
    QByteArray answer;
    QTRY_VERIFY_WITH_TIMEOUT((answer += readBytes(*port, 1, 50)).endsWith("\"hello\"\r\n"),
                             Patience);
    QVERIFY2(answer.startsWith("hello\r\r\n"), answer.constData()); // the echo comes first
}

void tst_peer::ratePacesSending()
{
    // 400 bytes at 2000 bytes per second should take about 200 ms.
    Peer peer({"--rate", "2000", "--flood", "400", "--pattern", "text", "--wait-open",
               "--exit-after-send"});
    QVERIFY(isDevice(peer.path()));
    auto port = openPort(peer.path());
    QVERIFY(port);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(readBytes(*port, 400).size(), 400);
    const qint64 took = timer.elapsed();
    qInfo("400 bytes at 2000 B/s took %lld ms", took);
    QVERIFY2(took >= 100, qPrintable(QString::number(took)));
}

void tst_peer::execRelaysCommandOutput()
{
    Peer peer({"--exec", "echo hi; read line; echo got $line", "--exit-after-send"});
    QVERIFY(isDevice(peer.path()));
    auto port = openPort(peer.path());
    QVERIFY(port);
    QVERIFY(readBytes(*port, 4).contains("hi"));
    writeBytes(*port, "abc\r");
    QByteArray answer;
    QTRY_VERIFY_WITH_TIMEOUT((answer += readBytes(*port, 1, 50)).contains("got abc"), Patience);
    QVERIFY(peer.waitForExit(Patience));
    QCOMPARE(peer.process().exitCode(), 0);
}

void tst_peer::holdRefusesSecondOpen()
{
    const QString link = m_dir.path(QStringLiteral("held"));
    {
        // QSerialPort honours only a lock in QLockFile's form; the link's name has none.
        Peer peer({"--hold-format", "qt", "--link", link});
        QVERIFY(isDevice(peer.path()));
        QSerialPort byPath(peer.path());
        QVERIFY(!byPath.open(QIODevice::ReadWrite));
        QCOMPARE(byPath.error(), QSerialPort::PermissionError);
        QVERIFY(
            !QFile::exists(QStringLiteral("/var/lock/LCK..") + QString(link).replace(u'/', u'_')));
    }
    // The lock goes with the peer: the next peer's device opens normally.
    Peer peer;
    QVERIFY(isDevice(peer.path()));
    QVERIFY(openPort(peer.path()));

    // By default the classic form: the PID in ten columns; removed at the end.
    Peer classic({"--hold"});
    const QString lock =
        QStringLiteral("/var/lock/LCK..") + classic.path().mid(5).replace(u'/', u'_');
    QCOMPARE(readWhole(lock),
             QStringLiteral("%1\n").arg(classic.process().processId(), 10).toLatin1());
    classic.stop();
    QVERIFY(!QFile::exists(lock));
}

void tst_peer::hangupAndReopen()
{
    const QString link = m_dir.path(QStringLiteral("vanishing"));
    // The device must still be there when the test opens it, even on a busy machine.
    Peer peer({"--link", link, "--echo", "--hangup-after", "1500", "--reopen-after", "300"});
    QVERIFY(isDevice(peer.path()));
    QCOMPARE(QFileInfo(link).symLinkTarget(), peer.path());
    auto port = openPort(link);
    QVERIFY2(port, "the device vanished before the test could open it");
    QSerialPort::SerialPortError error = QSerialPort::NoError;
    QObject::connect(port.get(), &QSerialPort::errorOccurred,
                     [&error](QSerialPort::SerialPortError e) {
                         if (e != QSerialPort::NoError)
                             error = e;
                     });
    // The reader sees the device vanish as a failed read.
    QTRY_VERIFY_WITH_TIMEOUT(error != QSerialPort::NoError, Patience);
    QVERIFY2(error == QSerialPort::ReadError || error == QSerialPort::ResourceError,
             qPrintable(QString::number(error)));
    port.reset();

    const QString second = peer.nextLine();
    QVERIFY2(isDevice(second), qPrintable(second));
    QCOMPARE(QFileInfo(link).symLinkTarget(), second);
    auto again = openPort(link);
    QVERIFY(again);
    writeBytes(*again, "back");
    QCOMPARE(readBytes(*again, 4), QByteArray("back"));
}

void tst_peer::exitsWhenStdinEnds()
{
    Peer peer({"--stdin-eof-exits"});
    QVERIFY(isDevice(peer.path()));
    peer.process().closeWriteChannel();
    QVERIFY(peer.waitForExit(Patience));
    QCOMPARE(peer.process().exitCode(), 0);
}

void tst_peer::exitsWhenParentDies()
{
    // A shell starts the peer, reports its pid and ends once the peer has printed its device
    // (it watches its parent by then): the orphaned peer must end too.
    const QString out = m_dir.path(QStringLiteral("orphan.out"));
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"),
                {"-c", "\"$0\" >\"$1\" & echo $!; while [ ! -s \"$1\" ]; do sleep 0.05; done",
                 QStringLiteral(QUORPEER_PATH), out});
    QVERIFY(shell.waitForFinished(Patience));
    const QByteArray pid = shell.readAllStandardOutput().trimmed();
    QVERIFY(!pid.isEmpty());
    const auto alive = [&pid]() {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid)));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray text = stat.readAll();
        const qsizetype close = text.lastIndexOf(')');
        return close > 0 && text.mid(close + 2, 1) != "Z"; // a zombie has ended
    };
    QTRY_VERIFY_WITH_TIMEOUT(!alive(), Patience);
}

QTEST_GUILESS_MAIN(tst_peer)
#include "tst_peer.moc"
