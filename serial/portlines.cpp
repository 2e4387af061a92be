// Line control of the open port: DTR and RTS, a DTR pulse, a break, and the modem inputs.
#include "serial/serialportcontrol.h"

#include "base/failure.h"

#include <cerrno>

#include <sys/ioctl.h>

namespace {

// Errors that mean the device itself is gone: the loss is reported once, as for a read.
bool deviceGone(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV;
}

} // namespace

QString SerialPortControl::ModemLines::unknownText()
{
    return QStringLiteral("CTS, DSR, DCD, RI unknown");
}

QString SerialPortControl::ModemLines::inputsText() const
{
    if (!inputsKnown)
        return unknownText();
    const auto state = [](const char *line, bool on) {
        return QLatin1StringView(line) + (on ? QStringLiteral(" on") : QStringLiteral(" off"));
    };
    return state("CTS", cts) + QStringLiteral(", ") + state("DSR", dsr) + QStringLiteral(", ") +
           state("DCD", dcd) + QStringLiteral(", ") + state("RI", ri);
}

// Whether the device has modem lines is asked once per open. A pseudo-terminal answers with an
// error, and ignores a break without a word: there line control is off, and says why.
void SerialPortControl::checkLineControl()
{
    int bits = 0;
    if (::ioctl(int(m_port.handle()), TIOCMGET, &bits) == 0)
        m_noLineControl.clear();
    else
        m_noLineControl = QStringLiteral("%1 has no modem lines or break (%2)")
                              .arg(portLabel(), qt_error_string(errno));
}

QString SerialPortControl::lineControlAbsence() const
{
    return portOpen() ? m_noLineControl : QStringLiteral("The port is not open");
}

SerialPortControl::ModemLines SerialPortControl::modemLines()
{
    if (const QString why = lineControlAbsence(); !why.isEmpty())
        throw Failure(why);
    if (m_net.isOpen()) {
        const telnet::FarLine &far = m_net.farLine();
        const int state = far.modemState;
        return {far.dtr,
                far.rts,
                (state & telnet::ModemCts) != 0,
                (state & telnet::ModemDsr) != 0,
                (state & telnet::ModemDcd) != 0,
                (state & telnet::ModemRi) != 0,
                state >= 0};
    }
    int bits = 0;
    if (::ioctl(int(m_port.handle()), TIOCMGET, &bits) != 0) {
        const int error = errno;
        if (deviceGone(error))
            portErrorOccurred(QSerialPort::ResourceError);
        throw Failure(QStringLiteral("%1: the modem lines cannot be read: %2")
                          .arg(portLabel(), qt_error_string(error)));
    }
    ModemLines lines;
    lines.dtr = (bits & TIOCM_DTR) != 0;
    lines.rts = (bits & TIOCM_RTS) != 0;
    lines.cts = (bits & TIOCM_CTS) != 0;
    lines.dsr = (bits & TIOCM_DSR) != 0;
    lines.dcd = (bits & TIOCM_CAR) != 0;
    lines.ri = (bits & TIOCM_RNG) != 0;
    return lines;
}

// A device found gone says nothing here: the loss comes as for a read, in one box.
void SerialPortControl::setModemBits(int bits, bool on, const char *line)
{
    if (const QString why = lineControlAbsence(); !why.isEmpty())
        throw Failure(why);
    if (m_net.isOpen()) {
        if (bits == TIOCM_DTR)
            m_net.setControl(on ? telnet::DtrOn : telnet::DtrOff);
        else
            m_net.setControl(on ? telnet::RtsOn : telnet::RtsOff);
        return;
    }
    if (::ioctl(int(m_port.handle()), on ? TIOCMBIS : TIOCMBIC, &bits) == 0)
        return;
    const int error = errno;
    if (deviceGone(error)) {
        portErrorOccurred(QSerialPort::ResourceError);
        return;
    }
    throw Failure(QStringLiteral("%1: %2 could not be %3: %4")
                      .arg(portLabel(), QLatin1StringView(line),
                           on ? QStringLiteral("raised") : QStringLiteral("dropped"),
                           qt_error_string(error)));
}

void SerialPortControl::setDataTerminalReady(bool on)
{
    m_pulseEnd.stop(); // a pulse under way ends where the user puts the line
    setModemBits(TIOCM_DTR, on, "DTR");
}

void SerialPortControl::setRequestToSend(bool on)
{
    setModemBits(TIOCM_RTS, on, "RTS");
}

void SerialPortControl::pulseDataTerminalReady(int ms)
{
    setModemBits(TIOCM_DTR, false, "DTR");
    if (!portOpen())
        return; // the device went: its loss is on its way
    m_pulseEnd.start(ms);
}

// glibc's tcsendbreak blocks the window for the whole break: the break is set and cleared here.
void SerialPortControl::sendBreak(int ms)
{
    if (const QString why = lineControlAbsence(); !why.isEmpty())
        throw Failure(why);
    if (m_breakEnd.isActive())
        return; // one break at a time; this one is on already
    if (m_net.isOpen()) {
        m_net.setControl(telnet::BreakOn);
    } else if (::ioctl(int(m_port.handle()), TIOCSBRK) != 0) {
        const int error = errno;
        if (deviceGone(error)) {
            portErrorOccurred(QSerialPort::ResourceError);
            return;
        }
        throw Failure(QStringLiteral("%1: the break could not be sent: %2")
                          .arg(portLabel(), qt_error_string(error)));
    }
    m_breakEnd.start(ms);
}

// A pulse or break cut short by a close still leaves the line as it was: break off, DTR on.
void SerialPortControl::endLineControl()
{
    if (m_net.carriesLineControl()) {
        if (m_breakEnd.isActive())
            m_net.setControl(telnet::BreakOff);
        if (m_pulseEnd.isActive())
            m_net.setControl(telnet::DtrOn);
    }
    const int fd = int(m_port.handle());
    if (m_breakEnd.isActive() && m_port.isOpen())
        ::ioctl(fd, TIOCCBRK);
    if (m_pulseEnd.isActive() && m_port.isOpen()) {
        int bits = TIOCM_DTR;
        ::ioctl(fd, TIOCMBIS, &bits);
    }
    m_breakEnd.stop();
    m_pulseEnd.stop();
}

void SerialPortControl::pulseEnded()
{
    if (portOpen() && m_net.isOpen()) {
        m_net.setControl(telnet::DtrOn);
    } else if (portOpen()) {
        int bits = TIOCM_DTR;
        if (::ioctl(int(m_port.handle()), TIOCMBIS, &bits) != 0 && deviceGone(errno))
            portErrorOccurred(QSerialPort::ResourceError);
    }
    emit lineStateChanged();
}

void SerialPortControl::breakEnded()
{
    if (portOpen() && m_net.isOpen()) {
        m_net.setControl(telnet::BreakOff);
    } else if (portOpen() && ::ioctl(int(m_port.handle()), TIOCCBRK) != 0 && deviceGone(errno)) {
        portErrorOccurred(QSerialPort::ResourceError);
    }
    emit lineStateChanged();
}
