#include "serial/linesettings.h"

#include "base/failure.h"

#include <QStringList>

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace {

[[noreturn]] void refuse(const QString &text, const QString &why)
{
    throw Failure(QStringLiteral("Invalid settings \"%1\": %2").arg(text, why));
}

bool allDigits(const QString &field)
{
    return !field.isEmpty() && std::all_of(field.cbegin(), field.cend(),
                                           [](QChar c) { return c >= u'0' && c <= u'9'; });
}

template <typename T>
T lookup(std::initializer_list<std::pair<QStringView, T>> table, const QString &field,
         const QString &text, const QString &why)
{
    for (const auto &[name, value] : table)
        if (field == name)
            return value;
    refuse(text, why);
}

} // namespace

LineSettings LineSettings::parse(const QString &text)
{
    const QStringList fields = text.split(u',');
    if (fields.size() != 4)
        refuse(text,
               QStringLiteral("expected four fields: baud rate, parity, data bits, stop bits"));

    LineSettings settings;
    bool ok = false;
    const qint64 baud = fields[0].toLongLong(&ok);
    if (!allDigits(fields[0]) || !ok || baud <= 0 || baud > 0x7fffffff)
        refuse(text, QStringLiteral("the baud rate must be a positive whole number"));
    settings.baudRate = qint32(baud);

    settings.parity = lookup<QSerialPort::Parity>(
        {{u"n", QSerialPort::NoParity},
         {u"o", QSerialPort::OddParity},
         {u"e", QSerialPort::EvenParity},
         {u"m", QSerialPort::MarkParity},
         {u"s", QSerialPort::SpaceParity}},
        fields[1].toLower(), text, QStringLiteral("the parity must be one of n, o, e, m, s"));
    settings.dataBits = lookup<QSerialPort::DataBits>(
        {{u"5", QSerialPort::Data5},
         {u"6", QSerialPort::Data6},
         {u"7", QSerialPort::Data7},
         {u"8", QSerialPort::Data8}},
        fields[2], text, QStringLiteral("the data bits must be 5, 6, 7 or 8"));
    settings.stopBits = lookup<QSerialPort::StopBits>(
        {{u"1", QSerialPort::OneStop},
         {u"1.5", QSerialPort::OneAndHalfStop},
         {u"2", QSerialPort::TwoStop}},
        fields[3], text, QStringLiteral("the stop bits must be 1, 1.5 or 2"));
    return settings;
}
