#pragma once

#include <QList>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>

#include <optional>

// A device that a port number stands for.
struct PortDevice
{
    QString path;
    QString description;
};

// Port numbers to devices, fixed when the serial control is created. QUORLINE_COM<n> names the
// device of port n; the system's serial devices then take the free numbers from 1 up, ttyS*
// first, then ttyUSB*, ttyACM* and any others, each group in natural number order.
class PortMap
{
public:
    static PortMap fromSystem();
    static PortMap build(const QProcessEnvironment &environment, const QList<PortDevice> &system);

    std::optional<PortDevice> device(int number) const;
    const QMap<int, PortDevice> &entries() const { return m_entries; }

private:
    QMap<int, PortDevice> m_entries;
};
