#include "serial/telnetcodec.h"

namespace telnet {

QByteArray escape(QByteArrayView data)
{
    QByteArray out;
    out.reserve(data.size() + data.size() / 64 + 1);
    qsizetype start = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (static_cast<unsigned char>(data[i]) == IAC) {
            out.append(data.sliced(start, i + 1 - start));
            out.append(char(IAC));
            start = i + 1;
        }
    }
    out.append(data.sliced(start));
    return out;
}

QByteArray command(unsigned char verb, unsigned char option)
{
    const char bytes[3] = {char(IAC), char(verb), char(option)};
    return QByteArray(bytes, 3);
}

QByteArray comPortRequest(unsigned char command, QByteArrayView value)
{
    const char head[4] = {char(IAC), char(SB), char(ComPort), char(command)};
    QByteArray out(head, 4);
    out.append(escape(value));
    out.append(char(IAC));
    out.append(char(SE));
    return out;
}

QByteArray setBaudRate(quint32 baud)
{
    const char value[4] = {char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)};
    return comPortRequest(SetBaudRate, QByteArrayView(value, 4));
}

QByteArray setByte(unsigned char command, unsigned char value)
{
    const char byte = char(value);
    return comPortRequest(command, QByteArrayView(&byte, 1));
}

void Decoder::feed(QByteArrayView in, QByteArray &data, QList<Event> &events)
{
    for (qsizetype i = 0; i < in.size(); ++i) {
        const auto c = static_cast<unsigned char>(in[i]);
        switch (m_state) {
        case State::Data: {
            // Runs of plain data are copied whole: the usual case is all data.
            qsizetype end = i;
            while (end < in.size() && static_cast<unsigned char>(in[end]) != IAC &&
                   (m_binary || in[end] != '\r'))
                ++end;
            data.append(in.sliced(i, end - i));
            if (end < in.size()) {
                if (in[end] == '\r')
                    data.append('\r');
                m_state = in[end] == '\r' ? State::Cr : State::Iac;
            }
            i = end;
            break;
        }
        case State::Cr:
            m_state = State::Data;
            if (c != 0)
                --i; // not the NUL of a CR NUL: read it again as data
            break;
        case State::Iac:
            if (c == IAC) {
                data.append(char(IAC));
                m_state = State::Data;
            } else if (c == SB) {
                m_sub.clear();
                m_state = State::Sub;
            } else if (c >= WILL) {
                m_verb = c;
                m_state = State::Verb;
            } else {
                m_state = State::Data; // NOP, GA and the like: nothing for us
            }
            break;
        case State::Verb:
            // We always ask for BINARY: the server's WILL switches its side there and then.
            if (c == Binary && (m_verb == WILL || m_verb == WONT))
                m_binary = m_verb == WILL;
            events.append({m_verb, c, {}});
            m_state = State::Data;
            break;
        case State::Sub:
            if (c == IAC)
                m_state = State::SubIac;
            else if (m_sub.size() < MaxSubnegotiation)
                m_sub.append(char(c));
            break;
        case State::SubIac:
            if (c == IAC) {
                if (m_sub.size() < MaxSubnegotiation)
                    m_sub.append(char(IAC));
                m_state = State::Sub;
            } else {
                // SE ends it; anything else is a broken server's, and ends it too.
                if (!m_sub.isEmpty())
                    events.append({SB, static_cast<unsigned char>(m_sub[0]), m_sub.mid(1)});
                m_sub.clear();
                m_state = State::Data;
            }
            break;
        }
    }
}

namespace {
bool wantedLocal(unsigned char option)
{
    return option == Binary || option == SuppressGoAhead || option == ComPort;
}
bool wantedRemote(unsigned char option)
{
    return option == Binary || option == SuppressGoAhead;
}
} // namespace

QByteArray Negotiator::start()
{
    for (const unsigned char option : {Binary, SuppressGoAhead, ComPort})
        m_local[option] = Asked;
    for (const unsigned char option : {Binary, SuppressGoAhead})
        m_remote[option] = Asked;
    return command(WILL, Binary) + command(DO, Binary) + command(WILL, SuppressGoAhead) +
           command(DO, SuppressGoAhead) + command(WILL, ComPort);
}

QByteArray Negotiator::answer(const Event &event)
{
    const unsigned char option = event.option;
    Side &local = m_local[option];
    Side &remote = m_remote[option];
    QByteArray reply;
    switch (event.verb) {
    case DO:
        if (!wantedLocal(option))
            return command(WONT, option);
        if (local != Asked && local != Yes)
            reply = command(WILL, option);
        local = Yes;
        break;
    case DONT:
        if (local == Yes)
            reply = command(WONT, option);
        local = No;
        break;
    case WILL:
        if (!wantedRemote(option))
            return command(DONT, option);
        if (remote != Asked && remote != Yes)
            reply = command(DO, option);
        remote = Yes;
        break;
    case WONT:
        if (remote == Yes)
            reply = command(DONT, option);
        remote = No;
        break;
    default:
        return {};
    }
    if (option == ComPort && (event.verb == DO || event.verb == DONT))
        m_comPort = local;
    return reply;
}

bool comPortReply(const Event &event, ComPortReply &reply)
{
    if (event.verb != SB || event.option != ComPort || event.payload.isEmpty())
        return false;
    const auto command = static_cast<unsigned char>(event.payload[0]);
    if (command <= ServerOffset)
        return false;
    reply.command = command - ServerOffset;
    reply.value = 0;
    for (qsizetype i = 1; i < event.payload.size() && i <= 4; ++i)
        reply.value = (reply.value << 8) | static_cast<unsigned char>(event.payload[i]);
    return true;
}

bool FarLine::apply(const ComPortReply &reply)
{
    const FarLine before = *this;
    if (reply.command == NotifyModemState) {
        modemState = int(reply.value & 0xff);
    } else if (reply.command == SetControl) {
        // Break answers are not read: ser2net answers a break's end as its start.
        if (reply.value == DtrOn || reply.value == DtrOff)
            dtr = reply.value == DtrOn;
        else if (reply.value == RtsOn || reply.value == RtsOff)
            rts = reply.value == RtsOn;
    }
    return dtr != before.dtr || rts != before.rts || modemState != before.modemState;
}

} // namespace telnet
