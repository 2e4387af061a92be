#include "serial/fleetingdevices.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <utility>

void FleetingDevices::observe(qint64 nowMs, const QStringList &present,
                              const std::function<bool(const QString &)> &isUsb)
{
    QStringList now = present;
    now.sort();
    now.removeDuplicates();
    if (!std::exchange(m_looked, true)) {
        m_present = now;
        return;
    }
    for (const QString &name : std::as_const(m_present)) {
        if (std::binary_search(now.cbegin(), now.cend(), name))
            continue;
        const auto came = m_usbCame.constFind(name);
        if (came == m_usbCame.cend())
            continue;
        if (nowMs - *came < StayMs)
            m_fleeting.append(QStringLiteral("/dev/") + name);
        m_usbCame.erase(came);
    }
    for (const QString &name : std::as_const(now)) {
        if (std::binary_search(m_present.cbegin(), m_present.cend(), name))
            continue;
        // Back again: this stay decides.
        m_fleeting.removeAll(QStringLiteral("/dev/") + name);
        if (isUsb(name))
            m_usbCame.insert(name, nowMs);
    }
    m_present = now;
}

QStringList FleetingDevices::ttyNames(const QString &directory)
{
    return QDir(directory).entryList({QStringLiteral("tty*")},
                                     QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
}

bool FleetingDevices::isUsbTty(const QString &name, const QString &sys)
{
    const QString root = QFileInfo(sys).canonicalFilePath();
    const QString usb = root + QStringLiteral("/bus/usb");
    QString dir = QFileInfo(root + QStringLiteral("/class/tty/") + name + QStringLiteral("/device"))
                      .canonicalFilePath();
    while (dir.startsWith(root + QStringLiteral("/devices/"))) {
        if (QFileInfo(dir + QStringLiteral("/subsystem")).canonicalFilePath() == usb)
            return true;
        dir.truncate(dir.lastIndexOf(u'/'));
    }
    return false;
}
