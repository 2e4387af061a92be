// The settings string the three lists make, the settings parser, and the port-number map.

#include "base/failure.h"
#include "serial/linesettings.h"
#include "serial/portchoice.h"
#include "serial/portmap.h"

#include <QTest>

class TestPortSettings : public QObject
{
    Q_OBJECT

private slots:
    void settingsString_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<QList<qint32>>("extra"); // rates given with --baud
        QTest::addColumn<QString>("expected");
        const QStringList rates{"110",  "300",   "600",   "1200",  "2400",   "4800",
                                "9600", "19200", "38400", "57600", "115200", "128000"};
        const QStringList letters{"n", "o", "e"};
        const QList<qint32> none = {};
        for (int b = 0; b < rates.size(); ++b)
            for (int p = 0; p < letters.size(); ++p)
                QTest::addRow("%d/%d", b, p)
                    << b << p << none << rates[b] + ',' + letters[p] + ",8,2";
        QTest::newRow("no baud") << -1 << 0 << none << ",n,8,2";
        QTest::newRow("no parity") << 6 << -1 << none << "9600,,8,2";
        QTest::newRow("past the lists") << 12 << 3 << none << ",,8,2";
        const QList<qint32> extra{921600, 250000};
        QTest::newRow("first --baud rate") << 12 << 0 << extra << "921600,n,8,2";
        QTest::newRow("second --baud rate") << 13 << 2 << extra << "250000,e,8,2";
        QTest::newRow("past the --baud rates") << 14 << 0 << extra << ",n,8,2";
        QTest::newRow("fixed entry beside them") << 11 << 0 << extra << "128000,n,8,2";
    }
    void settingsString()
    {
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(QList<qint32>, extra);
        QFETCH(QString, expected);
        QCOMPARE(PortChoice::settingsString(baud, parity, extra), expected);
    }

    // --baud: a rate that is not a whole number from 50 to 20000000 stops the program.
    void extraBaudRates_data()
    {
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QList<qint32>>("rates");
        QTest::addColumn<QString>("refused"); // the value named in the refusal
        QTest::newRow("none") << QStringList() << QList<qint32>() << QString();
        QTest::newRow("in the order given") << QStringList{"921600", "50", "20000000"}
                                            << QList<qint32>{921600, 50, 20000000} << QString();
        QTest::newRow("leading zero") << QStringList{"09600"} << QList<qint32>{9600} << QString();
        QTest::newRow("letters") << QStringList{"fast"} << QList<qint32>() << "fast";
        QTest::newRow("short form") << QStringList{"115.2k"} << QList<qint32>() << "115.2k";
        QTest::newRow("zero") << QStringList{"0"} << QList<qint32>() << "0";
        QTest::newRow("below 50") << QStringList{"49"} << QList<qint32>() << "49";
        QTest::newRow("above 20000000") << QStringList{"20000001"} << QList<qint32>() << "20000001";
        QTest::newRow("past 64 bits")
            << QStringList{"99999999999999999999"} << QList<qint32>() << "99999999999999999999";
        QTest::newRow("sign") << QStringList{"+9600"} << QList<qint32>() << "+9600";
        QTest::newRow("negative") << QStringList{"-9600"} << QList<qint32>() << "-9600";
        QTest::newRow("blank") << QStringList{" 9600"} << QList<qint32>() << " 9600";
        QTest::newRow("hexadecimal") << QStringList{"0x2580"} << QList<qint32>() << "0x2580";
        QTest::newRow("empty") << QStringList{""} << QList<qint32>() << "";
        QTest::newRow("the bad one after a good one")
            << QStringList{"230400", "1e6"} << QList<qint32>() << "1e6";
    }
    void extraBaudRates()
    {
        QFETCH(QStringList, values);
        QFETCH(QList<qint32>, rates);
        QFETCH(QString, refused);
        try {
            QCOMPARE(PortChoice::extraBaudRates(values), rates);
            QVERIFY2(refused.isNull(), "not refused");
        } catch (const Failure &failure) {
            QCOMPARE(failure.description(),
                     "--baud " + refused + ": the rate must be a whole number from 50 to 20000000");
        }
    }

    void listsAsShown()
    {
        QCOMPARE(PortChoice::baudEntries().size(), 12);
        QCOMPARE(PortChoice::baudEntries().at(PortChoice::DefaultBaudPosition), "9600");
        QCOMPARE(PortChoice::baudEntries().last(), "128k");
        QCOMPARE(PortChoice::parityEntries(),
                 QStringList({"NO PARITY", "ODD PARITY", "EVEN PARITY"}));
    }

    void portEntries_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("number");
        QTest::newRow("COM1") << "COM1" << 1;
        QTest::newRow("COM3") << "COM3" << 3;
        QTest::newRow("COM10") << "COM10" << 10;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("initial text") << "Combo1" << 0;
        QTest::newRow("lower case") << "com3" << 0;
        QTest::newRow("no number") << "COM" << 0;
        QTest::newRow("negative") << "COM-2" << 0;
        QTest::newRow("too large") << "COM99999" << 0;
    }
    void portEntries()
    {
        QFETCH(QString, entry);
        QFETCH(int, number);
        QCOMPARE(int(PortChoice::portNumberOfEntry(entry)), number);
        if (number > 0)
            QCOMPARE(PortChoice::portEntry(number), entry);
    }

    void parseAccepted_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("data");
        QTest::addColumn<int>("stop");
        QTest::newRow("default") << "9600,n,8,2" << 9600 << int(QSerialPort::NoParity) << 8 << 2;
        QTest::newRow("custom rate")
            << "128000,e,8,2" << 128000 << int(QSerialPort::EvenParity) << 8 << 2;
        QTest::newRow("odd 7 1") << "300,o,7,1" << 300 << int(QSerialPort::OddParity) << 7 << 1;
        QTest::newRow("mark 5") << "110,m,5,1.5" << 110 << int(QSerialPort::MarkParity) << 5
                                << int(QSerialPort::OneAndHalfStop);
        QTest::newRow("space 6") << "2400,S,6,2" << 2400 << int(QSerialPort::SpaceParity) << 6 << 2;
    }
    void parseAccepted()
    {
        QFETCH(QString, text);
        const LineSettings s = LineSettings::parse(text);
        QTEST(int(s.baudRate), "baud");
        QTEST(int(s.parity), "parity");
        QTEST(int(s.dataBits), "data");
        QTEST(int(s.stopBits), "stop");
    }

    void parseRefused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("empty baud") << ",n,8,2"
                                    << "baud";
        QTest::newRow("empty parity") << "9600,,8,2"
                                      << "parity";
        QTest::newRow("letters for baud") << "fast,n,8,2"
                                          << "baud";
        QTest::newRow("zero baud") << "0,n,8,2"
                                   << "baud";
        QTest::newRow("signed baud") << "+9600,n,8,2"
                                     << "baud";
        QTest::newRow("huge baud") << "99999999999,n,8,2"
                                   << "baud";
        QTest::newRow("bad parity") << "9600,x,8,2"
                                    << "parity";
        QTest::newRow("4 data bits") << "9600,n,4,2"
                                     << "data bits";
        QTest::newRow("letters for data") << "9600,n,eight,2"
                                          << "data bits";
        QTest::newRow("3 stop bits") << "9600,n,8,3"
                                     << "stop bits";
        QTest::newRow("three fields") << "9600,n,8"
                                      << "four fields";
        QTest::newRow("five fields") << "9600,n,8,2,1"
                                     << "four fields";
        QTest::newRow("nothing") << ""
                                 << "four fields";
    }
    void parseRefused()
    {
        QFETCH(QString, text);
        QFETCH(QString, mentions);
        try {
            LineSettings::parse(text);
            QFAIL("accepted");
        } catch (const Failure &failure) {
            QVERIFY2(failure.description().contains(mentions), qPrintable(failure.description()));
            QVERIFY(failure.description().contains(text));
        }
    }

    void portMapOrder()
    {
        const QList<PortDevice> system{{"/dev/ttyACM0", "modem"},     {"/dev/ttyS10", ""},
                                       {"/dev/ttyUSB1", "adapter"},   {"/dev/ttyS2", ""},
                                       {"/dev/rfcomm0", "bluetooth"}, {"/dev/ttyUSB0", ""}};
        QProcessEnvironment env;
        env.insert("QUORLINE_COM2", "/dev/pts/9");
        env.insert("QUORLINE_COM4", "/dev/ttyUSB0"); // named explicitly: keeps only this number
        env.insert("QUORLINE_COM0", "/dev/null");    // no such port number
        env.insert("QUORLINE_COMX", "/dev/null");
        env.insert("QUORLINE_COM5", "");
        const PortMap map = PortMap::build(env, system);
        QStringList paths;
        for (const PortDevice &d : map.entries())
            paths << d.path;
        QCOMPARE(map.entries().keys(), QList<int>({1, 2, 3, 4, 5, 6, 7}));
        QCOMPARE(paths, QStringList({"/dev/ttyS2", "/dev/pts/9", "/dev/ttyS10", "/dev/ttyUSB0",
                                     "/dev/ttyUSB1", "/dev/ttyACM0", "/dev/rfcomm0"}));
        QCOMPARE(map.device(5).value_or(PortDevice()).description, "adapter");
        QVERIFY(!map.device(0));
        QVERIFY(!map.device(8));
    }
};

QTEST_GUILESS_MAIN(TestPortSettings)
#include "tst_portsettings.moc"
