// The Telnet framing and the COM-PORT-OPTION messages, as pure functions.

#include "serial/telnetcodec.h"

#include <QTest>

using namespace telnet;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (const int v : values)
        out.append(char(v));
    return out;
}

// The whole stream decoded, fed in two pieces cut at `cut`.
void decodeSplit(const QByteArray &wire, qsizetype cut, QByteArray &data, QList<Event> &events)
{
    Decoder decoder;
    decoder.setBinary(true);
    decoder.feed(QByteArrayView(wire).first(cut), data, events);
    decoder.feed(QByteArrayView(wire).sliced(cut), data, events);
}

} // namespace

Q_DECLARE_METATYPE(telnet::Event)
Q_DECLARE_METATYPE(telnet::ComPortReply)

class TestTelnetCodec : public QObject
{
    Q_OBJECT

private slots:
    void escape_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("plain") << QByteArray("abc") << QByteArray("abc");
        QTest::newRow("one IAC") << bytes({'a', 255, 'b'}) << bytes({'a', 255, 255, 'b'});
        QTest::newRow("IAC at both ends")
            << bytes({255, 'x', 255}) << bytes({255, 255, 'x', 255, 255});
        QTest::newRow("only IACs") << bytes({255, 255}) << bytes({255, 255, 255, 255});
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }

    void escape()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, wire);
        QCOMPARE(telnet::escape(data), wire);
    }

    // Every cut of the stream gives the same data and the same events.
    void decode_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QList<Event>>("events");
        QByteArray all256;
        for (int i = 0; i < 256; ++i)
            all256.append(char(i));
        QTest::newRow("all 256 values escaped")
            << telnet::escape(all256) << all256 << QList<Event>();
        QTest::newRow("negotiation between data")
            << bytes({'a', 255, 251, 1, 'b', 255, 253, 44, 'c'}) << QByteArray("abc")
            << QList<Event>{{WILL, 1, {}}, {DO, 44, {}}};
        QTest::newRow("baud answer with a doubled IAC")
            << bytes({255, 250, 44, 101, 0, 0, 255, 255, 255, 240, 'z'}) << QByteArray("z")
            << QList<Event>{{SB, 44, bytes({101, 0, 0, 255})}};
        QTest::newRow("NOP and GA are dropped")
            << bytes({'a', 255, 241, 255, 249, 'b'}) << QByteArray("ab") << QList<Event>();
        QTest::newRow("a subnegotiation cut at its limit")
            << bytes({255, 250, 44}) + QByteArray(200, 'x') + bytes({255, 240, 'd'})
            << QByteArray("d") << QList<Event>{{SB, 44, QByteArray(MaxSubnegotiation - 1, 'x')}};
        QTest::newRow("an unterminated subnegotiation swallows what follows")
            << bytes({'a', 255, 250, 44, 7, 'b', 'c'}) << QByteArray("a") << QList<Event>();
    }

    void decode()
    {
        QFETCH(QByteArray, wire);
        QFETCH(QByteArray, data);
        QFETCH(QList<Event>, events);
        for (qsizetype cut = 0; cut <= wire.size(); ++cut) {
            QByteArray gotData;
            QList<Event> gotEvents;
            decodeSplit(wire, cut, gotData, gotEvents);
            QCOMPARE(gotData, data);
            QCOMPARE(gotEvents, events);
        }
    }

    // Before its WILL BINARY the server's CR comes as CR NUL: that NUL is not data, at any cut.
    void networkVirtualTerminal()
    {
        const QByteArray wire =
            bytes({'a', '\r', 0, 'b', '\r', '\n', '\r', '\r', 0, 0, 255, WILL, Binary, '\r', 0});
        for (qsizetype cut = 0; cut <= wire.size(); ++cut) {
            Decoder decoder;
            QByteArray data;
            QList<Event> events;
            decoder.feed(QByteArrayView(wire).first(cut), data, events);
            decoder.feed(QByteArrayView(wire).sliced(cut), data, events);
            QCOMPARE(data, bytes({'a', '\r', 'b', '\r', '\n', '\r', '\r', 0, '\r', 0}));
        }
    }

    void requests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("115200 baud")
            << setBaudRate(115200) << bytes({255, 250, 44, 1, 0, 1, 194, 0, 255, 240});
        QTest::newRow("a baud with an IAC byte")
            << setBaudRate(0xff00) << bytes({255, 250, 44, 1, 0, 0, 255, 255, 0, 255, 240});
        QTest::newRow("even parity")
            << setByte(SetParity, 3) << bytes({255, 250, 44, 3, 3, 255, 240});
        QTest::newRow("DTR off") << setByte(SetControl, DtrOff)
                                 << bytes({255, 250, 44, 5, 9, 255, 240});
        QTest::newRow("break on") << setByte(SetControl, BreakOn)
                                  << bytes({255, 250, 44, 5, 5, 255, 240});
        QTest::newRow("every modem input reported")
            << setByte(SetModemStateMask, 0xff) << bytes({255, 250, 44, 11, 255, 255, 255, 240});
    }

    void requests()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, wire);
        QCOMPARE(request, wire);
    }

    void replies_data()
    {
        QTest::addColumn<Event>("event");
        QTest::addColumn<bool>("isReply");
        QTest::addColumn<int>("command");
        QTest::addColumn<uint>("value");
        QTest::newRow("baud") << Event{SB, ComPort, bytes({101, 0, 1, 194, 0})} << true << 1
                              << 115200u;
        QTest::newRow("parity") << Event{SB, ComPort, bytes({103, 3})} << true << 3 << 3u;
        QTest::newRow("modem state")
            << Event{SB, ComPort, bytes({107, 0x30})} << true << 7 << 0x30u;
        QTest::newRow("a client's command")
            << Event{SB, ComPort, bytes({1, 0})} << false << 0 << 0u;
        QTest::newRow("another option") << Event{SB, 24, bytes({101, 0})} << false << 0 << 0u;
        QTest::newRow("empty") << Event{SB, ComPort, {}} << false << 0 << 0u;
    }

    void replies()
    {
        QFETCH(Event, event);
        QFETCH(bool, isReply);
        QFETCH(int, command);
        QFETCH(uint, value);
        ComPortReply reply;
        QCOMPARE(comPortReply(event, reply), isReply);
        if (isReply) {
            QCOMPARE(int(reply.command), command);
            QCOMPARE(reply.value, value);
        }
    }

    // The far line after a run of the server's answers and our requests: a wrong line shown in
    // the menu, or a break's answer taken for a line's.
    void farLine_data()
    {
        QTest::addColumn<QList<ComPortReply>>("said");
        QTest::addColumn<bool>("dtr");
        QTest::addColumn<bool>("rts");
        QTest::addColumn<int>("modemState");
        QTest::addColumn<bool>("changed"); // by the last one
        QTest::newRow("ser2net's report after the open")
            << QList<ComPortReply>{{NotifyModemState, 0}} << true << true << 0 << true;
        QTest::newRow("DTR dropped, never confirmed")
            << QList<ComPortReply>{{SetControl, DtrOff}} << false << true << -1 << true;
        QTest::newRow("RTS reported off, then on")
            << QList<ComPortReply>{{SetControl, RtsOff}, {SetControl, RtsOn}} << true << true << -1
            << true;
        QTest::newRow("a break's answers")
            << QList<ComPortReply>{{SetControl, BreakOn}, {SetControl, BreakOff}} << true << true
            << -1 << false;
        QTest::newRow("a DTR request answered with itself (ser2net on a pty)")
            << QList<ComPortReply>{{SetControl, DtrOff}, {SetControl, AskDtr}} << false << true
            << -1 << false;
    }

    void farLine()
    {
        QFETCH(QList<ComPortReply>, said);
        QFETCH(bool, dtr);
        QFETCH(bool, rts);
        QFETCH(int, modemState);
        QFETCH(bool, changed);
        FarLine line;
        bool last = false;
        for (const ComPortReply &reply : std::as_const(said))
            last = line.apply(reply);
        QCOMPARE(line.dtr, dtr);
        QCOMPARE(line.rts, rts);
        QCOMPARE(line.modemState, modemState);
        QCOMPARE(last, changed);
    }

    // The answers after start(): what we asked for is taken silently, the rest refused, and a
    // repeated request is not answered twice.
    void negotiation_data()
    {
        QTest::addColumn<QList<Event>>("said");
        QTest::addColumn<QByteArray>("answers");
        QTest::addColumn<bool>("comPort");
        QTest::newRow("ser2net's answers") << QList<Event>{{WILL, SuppressGoAhead, {}},
                                                           {DO, SuppressGoAhead, {}},
                                                           {WILL, 1, {}},
                                                           {DONT, 1, {}},
                                                           {DO, Binary, {}},
                                                           {WILL, Binary, {}},
                                                           {DO, ComPort, {}}}
                                           << bytes({255, 254, 1}) << true;
        QTest::newRow("a refused COM-PORT-OPTION")
            << QList<Event>{{DONT, ComPort, {}}} << QByteArray() << false;
        QTest::newRow("an option we do not have")
            << QList<Event>{{DO, 24, {}}} << bytes({255, 252, 24}) << false;
        QTest::newRow("BINARY switched off and on again")
            << QList<Event>{{DO, Binary, {}}, {DONT, Binary, {}}, {DO, Binary, {}}}
            << bytes({255, 252, 0, 255, 251, 0}) << false;
    }

    void negotiation()
    {
        QFETCH(QList<Event>, said);
        QFETCH(QByteArray, answers);
        QFETCH(bool, comPort);
        Negotiator negotiator;
        QCOMPARE(negotiator.start(),
                 bytes({255, 251, 0, 255, 253, 0, 255, 251, 3, 255, 253, 3, 255, 251, 44}));
        QByteArray got;
        for (const Event &event : std::as_const(said))
            got += negotiator.answer(event);
        QCOMPARE(got, answers);
        QCOMPARE(negotiator.comPortAccepted(), comPort);
    }
};

QTEST_GUILESS_MAIN(TestTelnetCodec)
#include "tst_telnetcodec.moc"
