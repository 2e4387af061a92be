#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// Telnet framing with the COM-PORT-OPTION of RFC 2217, as pure functions and a decoder that
// keeps its state across any split of the stream. Nothing here touches a socket.
namespace telnet {

enum : unsigned char {
    SE = 240,
    SB = 250,
    WILL = 251,
    WONT = 252,
    DO = 253,
    DONT = 254,
    IAC = 255,
};
enum : unsigned char { Binary = 0, SuppressGoAhead = 3, ComPort = 44 };

// COM-PORT-OPTION commands as the client sends them; the server answers with the same + 100.
enum : unsigned char {
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    NotifyModemState = 7,
    SetModemStateMask = 11,
    ServerOffset = 100,
};
// SET-CONTROL values.
enum : unsigned char {
    NoFlowControl = 1,
    BreakOn = 5,
    BreakOff = 6,
    AskDtr = 7,
    DtrOn = 8,
    DtrOff = 9,
    AskRts = 10,
    RtsOn = 11,
    RtsOff = 12,
};
// NOTIFY-MODEMSTATE bits.
enum : unsigned char { ModemCts = 0x10, ModemDsr = 0x20, ModemRi = 0x40, ModemDcd = 0x80 };

// Data for the wire: every IAC doubled.
QByteArray escape(QByteArrayView data);

// IAC verb option.
QByteArray command(unsigned char verb, unsigned char option);
// IAC SB COM-PORT-OPTION command value IAC SE, with IAC doubled in the value.
QByteArray comPortRequest(unsigned char command, QByteArrayView value);
QByteArray setBaudRate(quint32 baud);
QByteArray setByte(unsigned char command, unsigned char value);

// What the server said besides data.
struct Event
{
    unsigned char verb = 0;   // WILL, WONT, DO, DONT or SB
    unsigned char option = 0; // for SB: the first byte of the subnegotiation
    QByteArray payload;       // for SB: the rest, IAC undoubled
    bool operator==(const Event &) const = default;
};

// A subnegotiation longer than this is cut there: a server cannot make us hold more.
constexpr qsizetype MaxSubnegotiation = 64;

class Decoder
{
public:
    // Appends the data bytes of `in` to `data` and what else it says to `events`, in order.
    void feed(QByteArrayView in, QByteArray &data, QList<Event> &events);
    // Until the server says WILL BINARY, its CR comes as CR NUL (the network virtual
    // terminal's); its WILL and WONT BINARY switch this in the stream, where they stand.
    void setBinary(bool on) { m_binary = on; }

private:
    enum class State { Data, Cr, Iac, Verb, Sub, SubIac };
    bool m_binary = false;
    State m_state = State::Data;
    unsigned char m_verb = 0;
    QByteArray m_sub;
};

// The client's side of option negotiation: we want BINARY and SUPPRESS-GO-AHEAD both ways and
// COM-PORT-OPTION on our side, and refuse everything else. Each option is asked for once, and a
// request is answered only when it changes the option's state, so no answer loops.
class Negotiator
{
public:
    // What we send first.
    QByteArray start();
    // The answer to a WILL, WONT, DO or DONT from the server (may be empty).
    QByteArray answer(const Event &event);
    bool comPortAccepted() const { return m_comPort == Yes; }
    bool comPortRefused() const { return m_comPort == No; }
    bool remoteBinary() const { return m_remote[Binary] == Yes; }

private:
    enum Side { Unknown, Asked, Yes, No };
    Side m_local[256] = {};
    Side m_remote[256] = {};
    Side m_comPort = Unknown;
};

// A server's answer to a COM-PORT-OPTION command: the command (less 100) and its value, the
// value read as a big-endian number of 1 or 4 bytes. False when the event is no such answer.
struct ComPortReply
{
    unsigned char command = 0;
    quint32 value = 0;
};
bool comPortReply(const Event &event, ComPortReply &reply);

// The far side's line as the server tells it: DTR and RTS as last asked for or reported, and the
// modem inputs of its last NOTIFY-MODEMSTATE. A server may confirm a change or say nothing
// (ser2net on a pseudo-terminal): nothing here waits for it.
struct FarLine
{
    bool dtr = true, rts = true; // the device's open raises both
    int modemState = -1;         // NOTIFY-MODEMSTATE bits; -1 until the server says
    // Folds in a server's answer or a request of ours (a SET-CONTROL value); true when what the
    // line shows changed.
    bool apply(const ComPortReply &reply);
    bool control(unsigned char value) { return apply({SetControl, value}); }
};

} // namespace telnet
