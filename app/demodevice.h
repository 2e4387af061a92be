#pragma once

#include <QProcess>

// A simulated device for trying the program without hardware: the peer tool on a
// pseudo-terminal, mapped to COM1.
class DemoDevice
{
public:
    ~DemoDevice();
    bool start();

private:
    QProcess m_peer;
};
