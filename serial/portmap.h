#pragma once

#include <QList>
#include <QMap>
#include <QProcessEnvironment>
#include <QSet>
#include <QString>

#include <optional>

// A device that a port number stands for.
struct PortDevice
{
    QString path;
    QString description;
};

// Port numbers to devices, stable for the run. QUORLINE_COM<n> names the device of port n and
// reserves n; the system's serial devices then take the free numbers from 1 up, ttyS* first,
// then ttyUSB*, ttyACM* and any others, each group in natural number order. A device keeps its
// number while it is unplugged, so a re-plugged adapter comes back as the same COMn; a device
// seen for the first time later takes the lowest number never given out in this run.
class PortMap
{
public:
    // The environment and the system's devices, followed as they come and go.
    static PortMap fromSystem();
    // A fixed set: the system's devices are those given, and update() alone changes them.
    static PortMap build(const QProcessEnvironment &environment, const QList<PortDevice> &system);
    // The serial devices present now.
    static QList<PortDevice> systemDevices();

    // Brings the map up to date with the system's devices present now.
    void update(const QList<PortDevice> &system);
    // update() with systemDevices(), for a map made by fromSystem(); nothing for a fixed one.
    void refresh();

    std::optional<PortDevice> device(int number) const;
    // A system device that was absent at the last look; named devices are never marked.
    bool isAbsent(int number) const { return m_absent.contains(number); }
    const QMap<int, PortDevice> &entries() const { return m_entries; }

private:
    QMap<int, PortDevice> m_entries;
    QSet<int> m_named;
    QSet<int> m_absent;
    bool m_followsSystem = false;
};
