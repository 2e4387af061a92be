#pragma once

#include <QHash>
#include <QStringList>

#include <functional>

// USB serial devices whose tty went within 2 s of coming. brltty does this to many CH340 and
// CP210x adapters, taking them for braille displays, and nothing else tells the user.
class FleetingDevices
{
public:
    static constexpr qint64 StayMs = 2000;

    // present: the tty names there now (ttyUSB0), at nowMs of a steady clock. isUsb(name) is
    // asked once, when a name comes. The names of the first look came at an unknown time and
    // are never counted.
    void observe(qint64 nowMs, const QStringList &present,
                 const std::function<bool(const QString &)> &isUsb);
    // The devices ("/dev/ttyUSB0") whose last stay was that short and that have not come back.
    const QStringList &devices() const { return m_fleeting; }

    // The tty* names in directory (the device nodes in /dev).
    static QStringList ttyNames(const QString &directory);
    // Whether the device of tty name sits on USB: /sys/class/tty/NAME/device leads through a
    // device of the usb subsystem.
    static bool isUsbTty(const QString &name, const QString &sys = QStringLiteral("/sys"));

private:
    bool m_looked = false;
    QStringList m_present;            // sorted
    QHash<QString, qint64> m_usbCame; // USB devices that came while we looked, and when
    QStringList m_fleeting;
};
