#pragma once

// What the serial control and the window's lists answer, in the form the tests compare.

#include "base/failure.h"
#include "serial/serialportcontrol.h"

#include <QStringList>

// Opens the control's port: empty when it opened, else the refusal's description.
inline QString refusal(SerialPortControl &control)
{
    try {
        control.setPortOpen(true);
    } catch (const Failure &failure) {
        return failure.description();
    }
    return {};
}

// The entries of a list box, in order.
template <typename ComboBox> QStringList entries(const ComboBox *box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}
