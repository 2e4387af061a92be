// The settings-string parser: any text either parses to settings that give themselves back, or
// is refused with a description naming the text.
#include "tests/fuzz/fuzzcheck.h"

#include "base/failure.h"
#include "serial/linesettings.h"

namespace {

QString parityLetter(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::NoParity:
        return QStringLiteral("n");
    case QSerialPort::OddParity:
        return QStringLiteral("o");
    case QSerialPort::EvenParity:
        return QStringLiteral("e");
    case QSerialPort::MarkParity:
        return QStringLiteral("m");
    case QSerialPort::SpaceParity:
        return QStringLiteral("s");
    }
    return {};
}

QString stopField(QSerialPort::StopBits stop)
{
    switch (stop) {
    case QSerialPort::OneStop:
        return QStringLiteral("1");
    case QSerialPort::OneAndHalfStop:
        return QStringLiteral("1.5");
    case QSerialPort::TwoStop:
        return QStringLiteral("2");
    }
    return {};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = fuzzText(data, size);
    LineSettings settings;
    try {
        settings = LineSettings::parse(text);
    } catch (const Failure &failure) {
        FUZZ_CHECK(failure.description().contains(text));
        return 0;
    }
    FUZZ_CHECK(settings.baudRate > 0);
    FUZZ_CHECK(settings.dataBits >= QSerialPort::Data5 && settings.dataBits <= QSerialPort::Data8);
    const QString again =
        QString::number(settings.baudRate) + u',' + parityLetter(settings.parity) + u',' +
        QString::number(int(settings.dataBits)) + u',' + stopField(settings.stopBits);
    const LineSettings reparsed = LineSettings::parse(again);
    FUZZ_CHECK(reparsed.baudRate == settings.baudRate && reparsed.parity == settings.parity &&
               reparsed.dataBits == settings.dataBits && reparsed.stopBits == settings.stopBits);
    // Accepted text has exactly four fields, the first all digits.
    const QStringList fields = text.split(u',');
    FUZZ_CHECK(fields.size() == 4);
    for (const QChar c : fields[0])
        FUZZ_CHECK(c >= u'0' && c <= u'9');
    return 0;
}
