#include "serial/serialportcontrol.h"

#include "base/failure.h"

#include <QFileInfo>
#include <QTimer>

SerialPortControl::SerialPortControl(PortMap map, QObject *parent)
    : QObject(parent), m_map(std::move(map)), m_port(this)
{
    m_settings = LineSettings::parse(m_settingsText);
    connect(&m_port, &QSerialPort::readyRead, this, &SerialPortControl::OnComm);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialPortControl::portErrorOccurred);
}

void SerialPortControl::setCommPort(int number)
{
    if (m_port.isOpen())
        throw Failure(QStringLiteral("The port number cannot be changed while the port is open"));
    m_commPort = number;
}

void SerialPortControl::setPortOpen(bool open)
{
    if (open)
        this->open();
    else
        close();
}

void SerialPortControl::setSettings(const QString &text)
{
    m_settings = LineSettings::parse(text);
    m_settingsText = text;
}

void SerialPortControl::open()
{
    if (m_failed)
        close();
    if (m_port.isOpen())
        throw Failure(QStringLiteral("COM%1 is already open").arg(m_commPort));
    if (m_commPort < 1)
        throw Failure(QStringLiteral("Port number %1 is not valid: ports are numbered from 1").arg(m_commPort));
    const auto device = m_map.device(m_commPort);
    if (!device)
        throw Failure(QStringLiteral("COM%1 has no device").arg(m_commPort));

    const QFileInfo info(device->path);
    if (!info.exists())
        throw Failure(QStringLiteral("%1 does not exist").arg(device->path));
    if (info.isDir())
        throw Failure(QStringLiteral("%1 is a directory, not a serial device").arg(device->path));
    if (info.isFile())
        throw Failure(QStringLiteral("%1 is a regular file, not a serial device").arg(device->path));

    // termios has no 1.5 stop bits; QSerialPort would quietly open with another setting.
    if (m_settings.stopBits == QSerialPort::OneAndHalfStop)
        throw Failure(QStringLiteral("%1: 1.5 stop bits are not supported on this system").arg(device->path));

    m_port.setPortName(info.absoluteFilePath());
    m_port.setBaudRate(m_settings.baudRate);
    m_port.setParity(m_settings.parity);
    m_port.setDataBits(m_settings.dataBits);
    m_port.setStopBits(m_settings.stopBits);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_lastError.clear();
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QString why = m_port.errorString();
        m_port.close();
        m_port.clearError();
        throw Failure(QStringLiteral("%1: %2").arg(device->path, why));
    }
}

void SerialPortControl::close()
{
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
    m_failed = false;
}

void SerialPortControl::setOutput(QByteArrayView bytes)
{
    if (!portOpen())
        throw Failure(QStringLiteral("The port is not open"));
    if (m_port.write(bytes.data(), bytes.size()) != bytes.size())
        throw Failure(m_port.errorString());
}

QByteArray SerialPortControl::input()
{
    return m_port.isOpen() ? m_port.readAll() : QByteArray();
}

qint64 SerialPortControl::bytesToWrite() const
{
    return m_port.isOpen() ? m_port.bytesToWrite() : 0;
}

// A vanished device makes QSerialPort raise read errors as fast as it can while the port stays
// open, so the first such error closes the port, and the program hears of it once. The close
// waits for the event loop: QSerialPort is still inside its own notifier when it reports.
void SerialPortControl::portErrorOccurred(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::WriteError
        && error != QSerialPort::ResourceError)
        return;
    if (!m_port.isOpen() || m_failed)
        return;
    m_failed = true;
    m_lastError = m_port.errorString();
    QMetaObject::invokeMethod(
        this,
        [this] {
            close();
            emit OnComm();
        },
        Qt::QueuedConnection);
}
