#include "serial/linesettings.h"

#include "app/failure.h"

#include <QStringList>

namespace {

[[noreturn]] void refuse(const QString &text, const QString &why)
{
    throw Failure(QStringLiteral("Invalid settings \"%1\": %2").arg(text, why));
}

bool allDigits(const QString &field)
{
    return !field.isEmpty()
           && std::all_of(field.cbegin(), field.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

} // namespace

LineSettings LineSettings::parse(const QString &text)
{
    const QStringList fields = text.split(u',');
    if (fields.size() != 4)
        refuse(text, QStringLiteral("expected four fields: baud rate, parity, data bits, stop bits"));

    LineSettings settings;
    bool ok = false;
    const qint64 baud = fields[0].toLongLong(&ok);
    if (!allDigits(fields[0]) || !ok || baud <= 0 || baud > 0x7fffffff)
        refuse(text, QStringLiteral("the baud rate must be a positive whole number"));
    settings.baudRate = qint32(baud);

    const QString parity = fields[1].toLower();
    if (parity == u"n")
        settings.parity = QSerialPort::NoParity;
    else if (parity == u"o")
        settings.parity = QSerialPort::OddParity;
    else if (parity == u"e")
        settings.parity = QSerialPort::EvenParity;
    else if (parity == u"m")
        settings.parity = QSerialPort::MarkParity;
    else if (parity == u"s")
        settings.parity = QSerialPort::SpaceParity;
    else
        refuse(text, QStringLiteral("the parity must be one of n, o, e, m, s"));

    const QString data = fields[2];
    if (data == u"5")
        settings.dataBits = QSerialPort::Data5;
    else if (data == u"6")
        settings.dataBits = QSerialPort::Data6;
    else if (data == u"7")
        settings.dataBits = QSerialPort::Data7;
    else if (data == u"8")
        settings.dataBits = QSerialPort::Data8;
    else
        refuse(text, QStringLiteral("the data bits must be 5, 6, 7 or 8"));

    const QString stop = fields[3];
    if (stop == u"1")
        settings.stopBits = QSerialPort::OneStop;
    else if (stop == u"1.5")
        settings.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == u"2")
        settings.stopBits = QSerialPort::TwoStop;
    else
        refuse(text, QStringLiteral("the stop bits must be 1, 1.5 or 2"));
    return settings;
}
