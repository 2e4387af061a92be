// Port entries and the settings string the lists make: an entry's number is 0 or a number whose
// own entry gives it back; every pair of list positions gives a string the parser accepts, or,
// for a position with no entry, refuses.
#include "tests/fuzz/fuzzcheck.h"

#include "base/failure.h"
#include "serial/linesettings.h"
#include "serial/portchoice.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const QString entry = fuzzText(data + 2, size - 2);
    const qint16 number = PortChoice::portNumberOfEntry(entry);
    FUZZ_CHECK(number >= 0);
    if (number > 0) {
        FUZZ_CHECK(entry.startsWith(u"COM"));
        FUZZ_CHECK(PortChoice::portNumberOfEntry(PortChoice::portEntry(number)) == number);
    }

    // Positions from -16 up, so that the lists' ends and "nothing selected" are all reached.
    const int baudPosition = int(data[0]) - 16;
    const int parityPosition = int(data[1]) - 16;
    const bool listed = baudPosition >= 0 && baudPosition < PortChoice::baudEntries().size() &&
                        parityPosition >= 0 && parityPosition < PortChoice::parityEntries().size();
    const QString settingsText = PortChoice::settingsString(baudPosition, parityPosition);
    try {
        const LineSettings settings = LineSettings::parse(settingsText);
        FUZZ_CHECK(listed);
        FUZZ_CHECK(QString::number(settings.baudRate) == PortChoice::baudField(baudPosition));
        FUZZ_CHECK(settings.dataBits == QSerialPort::Data8);
        FUZZ_CHECK(settings.stopBits == QSerialPort::TwoStop);
    } catch (const Failure &) {
        FUZZ_CHECK(!listed);
    }
    return 0;
}
