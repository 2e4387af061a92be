#include "serial/portmap.h"

#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>

namespace {

int groupOf(const QString &name)
{
    if (name.startsWith(u"ttyS"))
        return 0;
    if (name.startsWith(u"ttyUSB"))
        return 1;
    if (name.startsWith(u"ttyACM"))
        return 2;
    return 3;
}

// Natural order: ttyS2 before ttyS10.
bool naturalLess(const QString &a, const QString &b)
{
    static const QRegularExpression tail(QStringLiteral("^(.*?)(\\d+)$"));
    const auto ma = tail.match(a);
    const auto mb = tail.match(b);
    if (ma.hasMatch() && mb.hasMatch() && ma.captured(1) == mb.captured(1))
        return ma.captured(2).toLongLong() < mb.captured(2).toLongLong();
    return a < b;
}

QString baseName(const QString &path)
{
    return path.section(u'/', -1);
}

} // namespace

PortMap PortMap::fromSystem()
{
    PortMap map = build(QProcessEnvironment::systemEnvironment(), systemDevices());
    map.m_followsSystem = true;
    return map;
}

QList<PortDevice> PortMap::systemDevices()
{
    QList<PortDevice> system;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        system.append({info.systemLocation(), info.description()});
    return system;
}

PortMap PortMap::build(const QProcessEnvironment &environment, const QList<PortDevice> &system)
{
    PortMap map;
    static const QRegularExpression variable(QStringLiteral("^QUORLINE_COM([1-9]\\d{0,4})$"));
    for (const QString &key : environment.keys()) {
        const auto match = variable.match(key);
        const QString path = environment.value(key);
        if (!match.hasMatch() || path.isEmpty())
            continue;
        const int number = match.captured(1).toInt();
        map.m_entries.insert(number, {path, QStringLiteral("set by %1").arg(key)});
        map.m_named.insert(number);
    }
    map.update(system);
    return map;
}

void PortMap::update(const QList<PortDevice> &system)
{
    QMap<QString, int> known;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
        known.insert(it->path, it.key());

    QList<PortDevice> fresh;
    QSet<int> present;
    for (const PortDevice &device : system) {
        const auto it = known.constFind(device.path);
        if (it == known.cend())
            fresh.append(device);
        else if (!m_named.contains(*it))
            present.insert(*it);
    }
    std::stable_sort(fresh.begin(), fresh.end(), [](const PortDevice &a, const PortDevice &b) {
        const QString na = baseName(a.path), nb = baseName(b.path);
        if (groupOf(na) != groupOf(nb))
            return groupOf(na) < groupOf(nb);
        return naturalLess(na, nb);
    });

    m_absent.clear();
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
        if (!m_named.contains(it.key()) && !present.contains(it.key()))
            m_absent.insert(it.key());

    // A number once given out stays taken for the run, also while its device is unplugged.
    int next = 1;
    QSet<QString> taken;
    for (const PortDevice &device : std::as_const(fresh)) {
        if (taken.contains(device.path))
            continue; // the same device listed twice
        taken.insert(device.path);
        while (m_entries.contains(next))
            ++next;
        m_entries.insert(next, device);
    }
}

void PortMap::refresh()
{
    if (m_followsSystem)
        update(systemDevices());
}

std::optional<PortDevice> PortMap::device(int number) const
{
    const auto it = m_entries.constFind(number);
    if (it == m_entries.cend())
        return std::nullopt;
    return *it;
}
