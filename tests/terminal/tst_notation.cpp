#include "support/expectednotation.h"
#include "support/files.h"
#include "terminal/notation.h"

#include <QTest>

namespace {

ControlNameTable mnemonics()
{
    ControlNameTable names;
    for (qsizetype k = 0; k < controlMnemonics().size(); ++k)
        names[k] = controlMnemonics()[k];
    return names;
}

QByteArray bytes(std::initializer_list<int> codes)
{
    QByteArray out;
    for (int c : codes)
        out.append(char(c));
    return out;
}

} // namespace

class TestNotation : public QObject
{
    Q_OBJECT

private slots:
    void controlNameLookup_data();
    void controlNameLookup();
    void everyCodeRendered_data();
    void everyCodeRendered();
    void tableMatchesRule();
    void tableFollowsItsMnemonics();
    void renderingAddsNoLineBreak();
    void lineEnds_data();
    void lineEnds();
    void echo_data();
    void echo();
};

void TestNotation::controlNameLookup_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("name");
    QTest::newRow("0") << 0 << "NUL";
    QTest::newRow("1") << 1 << "SOH";
    QTest::newRow("10") << 10 << "LF";
    QTest::newRow("13") << 13 << "CR";
    QTest::newRow("27") << 27 << "ESC";
    QTest::newRow("31") << 31 << "US";
    QTest::newRow("32") << 32 << "[??]";
    QTest::newRow("127") << 127 << "[??]";
    QTest::newRow("128") << 128 << "[??]";
    QTest::newRow("-1") << -1 << "[??]";
    QTest::newRow("-32768") << -32768 << "[??]";
    QTest::newRow("255") << 255 << "[??]";
    QTest::newRow("256") << 256 << "[??]";
    QTest::newRow("32767") << 32767 << "[??]";
}

void TestNotation::controlNameLookup()
{
    QFETCH(int, code);
    QFETCH(QString, name);
    QCOMPARE(controlName(mnemonics(), qint16(code)), name);
}

void TestNotation::everyCodeRendered_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("expected");
    for (int c = 0; c < 256; ++c)
        QTest::addRow("%d", c) << c << expectedNotation(QByteArray(1, char(c)));
    QTest::newRow("-1") << -1 << QByteArray("[[??]]");
    QTest::newRow("-200") << -200 << QByteArray("[[??]]");
    QTest::newRow("256") << 256 << QByteArray("[100]");
    QTest::newRow("4095") << 4095 << QByteArray("[FFF]");
}

void TestNotation::everyCodeRendered()
{
    QFETCH(int, code);
    QFETCH(QByteArray, expected);
    QCOMPARE(renderedCode(mnemonics(), qint16(code)), expected);
}

void TestNotation::tableMatchesRule()
{
    const ControlNameTable names = mnemonics();
    const NotationTable table(names);
    QByteArray all;
    QByteArray expected;
    for (int c = 0; c < 256; ++c) {
        QCOMPARE(table.rendered(QByteArray(1, char(c))), renderedCode(names, qint16(c)));
        all.append(char(c));
        expected += renderedCode(names, qint16(c));
    }
    QCOMPARE(table.rendered(all), expected);
    QCOMPARE(table.rendered(QByteArray()), QByteArray());

    // Appending keeps what was there.
    QByteArray out("kept");
    table.appendRendered(bytes({'A', 13, 10, 'B', 200, 127, 0}), out);
    QCOMPARE(out, QByteArray("keptA[CR][LF]B[C8]\x7f[NUL]"));
}

// A window may hold other mnemonics than the built-in ones, longer ones included.
void TestNotation::tableFollowsItsMnemonics()
{
    ControlNameTable names = mnemonics();
    names[13] = QStringLiteral("CARRIAGE-RETURN");
    names[0] = QString();
    const NotationTable table(names);
    QVERIFY(table.isFor(names));
    QVERIFY(!table.isFor(mnemonics()));
    QVERIFY(!NotationTable().isFor(ControlNameTable{}));
    QCOMPARE(table.rendered(bytes({'x', 13, 0, 255, 13})),
             QByteArray("x[CARRIAGE-RETURN][][FF][CARRIAGE-RETURN]"));
}

void TestNotation::renderingAddsNoLineBreak()
{
    const NotationTable table(mnemonics());
    const QByteArray all = all256().repeated(3);
    const QByteArray out = table.rendered(all);
    QVERIFY(!out.contains('\r'));
    QVERIFY(!out.contains('\n'));
    QCOMPARE(table.rendered(bytes({'A', 13, 10, 'B'})), QByteArray("A[CR][LF]B"));
    // Every rendered byte lies in 32..127, so rendering it again changes nothing.
    for (const char c : out)
        QVERIFY2(uchar(c) >= 32 && uchar(c) <= 127, QByteArray::number(uchar(c)).constData());
    QCOMPARE(table.rendered(out), out);
}

void TestNotation::lineEnds_data()
{
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("A LF CR B") << bytes({'A', 10, 13, 'B'}) << bytes({'A', 13, 10, 'B'});
    QTest::newRow("CR LF CR LF") << bytes({13, 10, 13, 10}) << bytes({13, 13, 10, 10});
    QTest::newRow("lone CR") << bytes({'A', 13, 'B'}) << bytes({'A', 13, 'B'});
    QTest::newRow("lone LF") << bytes({'A', 10, 'B'}) << bytes({'A', 10, 'B'});
    QTest::newRow("CR LF") << bytes({'A', 13, 10, 'B'}) << bytes({'A', 13, 10, 'B'});
    QTest::newRow("LF at the end") << bytes({'A', 10}) << bytes({'A', 10});
    QTest::newRow("CR at the start") << bytes({13, 'B'}) << bytes({13, 'B'});
    QTest::newRow("LF CR LF CR") << bytes({10, 13, 10, 13}) << bytes({13, 10, 13, 10});
    // The search goes on behind a replaced pair, so the new LF is not paired again.
    QTest::newRow("LF CR CR") << bytes({10, 13, 13}) << bytes({13, 10, 13});
    QTest::newRow("LF LF CR") << bytes({10, 10, 13}) << bytes({10, 13, 10});
    QTest::newRow("LF CR at the end") << bytes({'x', 10, 13}) << bytes({'x', 13, 10});
    QTest::newRow("others raw") << bytes({0, 7, 27, 128, 255, 10, 0x8d})
                                << bytes({0, 7, 27, 128, 255, 10, 0x8d});
    // Exact codes: 8-bit characters whose low bits are LF and CR are not a pair.
    QTest::newRow("8-bit look-alikes")
        << bytes({0x8a, 0x8d, 10, 0x8d}) << bytes({0x8a, 0x8d, 10, 0x8d});
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestNotation::lineEnds()
{
    QFETCH(QByteArray, in);
    QFETCH(QByteArray, out);
    QByteArray text = in;
    convertLineEnds(text);
    QCOMPARE(text, out);
}

void TestNotation::echo_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("notation");
    QTest::addColumn<QByteArray>("echo");
    QTest::newRow("Enter on") << 13 << true << QByteArray("[CR]\r\n");
    QTest::newRow("Enter off") << 13 << false << QByteArray("\r\n");
    QTest::newRow("Backspace on") << 8 << true << QByteArray("[BS]");
    QTest::newRow("Backspace off") << 8 << false << QByteArray();
    QTest::newRow("Escape on") << 27 << true << QByteArray("[ESC]");
    QTest::newRow("Escape off") << 27 << false << QByteArray();
    QTest::newRow("1 on") << 1 << true << QByteArray("[SOH]");
    QTest::newRow("1 off") << 1 << false << QByteArray();
    QTest::newRow("LF on") << 10 << true << QByteArray("[LF]");
    QTest::newRow("LF off") << 10 << false << QByteArray();
    QTest::newRow("NUL on") << 0 << true << QByteArray("[NUL]");
    QTest::newRow("a on") << int('a') << true << QByteArray("a");
    QTest::newRow("a off") << int('a') << false << QByteArray("a");
    QTest::newRow("blank off") << 32 << false << QByteArray(" ");
    QTest::newRow("tilde off") << 126 << false << QByteArray("~");
    QTest::newRow("127 on") << 127 << true << QByteArray("\x7f");
    QTest::newRow("127 off") << 127 << false << QByteArray();
    QTest::newRow("233 on") << 233 << true << QByteArray("[E9]");
    QTest::newRow("233 off") << 233 << false << QByteArray();
    QTest::newRow("128 on") << 128 << true << QByteArray("[80]");
    QTest::newRow("255 off") << 255 << false << QByteArray();
}

void TestNotation::echo()
{
    QFETCH(int, code);
    QFETCH(bool, notation);
    QFETCH(QByteArray, echo);
    QCOMPARE(echoText(mnemonics(), qint16(code), notation), echo);
}

QTEST_GUILESS_MAIN(TestNotation)
#include "tst_notation.moc"
