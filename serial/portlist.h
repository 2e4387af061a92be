#pragma once

#include "serial/portmap.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// The port list brought up to date when the user opens it. Opening a port raises DTR, which
// resets many boards, so a listed port whose device is still there is kept without a probe.
namespace PortList {

struct Look
{
    QList<int> listed;    // the numbers the list shows now, ascending
    QStringList refusals; // one line for each device seen that is not listed, saying why
};

// absence(n): empty while the device of n is there, else why not. probe(n): opens and closes n;
// empty when it opened, else why not. The open port (0 for none) stays listed whatever happens.
Look refresh(const QList<int> &listed, int openNumber, const PortMap &map,
             const std::function<QString(int)> &absence, const std::function<QString(int)> &probe);

// The tooltip text of an empty list: which devices were seen and why none is listed.
QString emptyListTip(const QStringList &refusals);

// "/dev/ttyUSB0 (USB serial)" with control characters made visible, for plain-text display.
QString deviceLabel(const PortDevice &device);

// Rich text that shows the given text exactly as it is: no markup is read from it.
QString plainToolTip(const QString &text);

} // namespace PortList
