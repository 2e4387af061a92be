#include "app/form1.h"

#include "serial/openadvice.h"
#include "serial/portchoice.h"
#include "serial/serialportcontrol.h"

#include <QComboBox>
#include <QDeadlineTimer>
#include <QFileSystemWatcher>

#include <exception>

// The list is brought up to date each time it drops down: ports whose device came are tried,
// those whose device went are dropped, and a listed port still there is not opened again.
void Form1::cboPort_DropDown()
{
    try {
        MSComm1->refreshPortMap();
        QList<int> listed;
        for (int i = 0; i < cboPort->count(); ++i)
            listed.append(PortChoice::portNumberOfEntry(cboPort->itemText(i)));
        const bool inUse = MSComm1->portOpen() || MSComm1->isAwaitingDevice();
        showPortList(PortList::refresh(
            listed, inUse ? MSComm1->commPort() : 0, MSComm1->portMap(),
            [this](int n) { return MSComm1->absence(n); },
            [this](int n) { return MSComm1->probe(n); }));
    } catch (const std::exception &) {
        // As at start-up: a list that cannot be brought up to date stays as it was.
    }
}

// The selection stays on the same port while it is listed; an empty list shows its initial
// text, and its tooltip says which devices were seen and why none is listed.
void Form1::showPortList(const PortList::Look &look)
{
    const int current = cboPort->currentIndex();
    const QString chosen = current >= 0 ? cboPort->itemText(current) : QString();
    cboPort->clear();
    for (const int n : look.listed) {
        cboPort->addItem(PortChoice::portEntry(n));
        if (const auto device = MSComm1->portMap().device(n))
            cboPort->setItemData(cboPort->count() - 1,
                                 PortList::plainToolTip(PortList::deviceLabel(*device)),
                                 Qt::ToolTipRole);
    }
    if (cboPort->count() == 0) {
        cboPort->setEditText(QStringLiteral("Combo1"));
        QString tip = PortList::emptyListTip(look.refusals);
        if (const QString advice = brlttyAdvice(); !advice.isEmpty())
            tip += u'\n' + advice;
        cboPort->setToolTip(PortList::plainToolTip(tip));
        return;
    }
    cboPort->setToolTip(QString());
    const int keep = cboPort->findText(chosen);
    cboPort->setCurrentIndex(keep >= 0 ? keep : 0);
}

// A device node that comes or goes changes /dev: a tty that brltty takes goes within a second,
// long before the user drops the list down again.
void Form1::watchDevices()
{
    const QString dev = QStringLiteral("/dev");
    auto *watch = new QFileSystemWatcher({dev}, this);
    const auto look = [this, dev] {
        fleetingDevices.observe(
            QDeadlineTimer::current().deadline(), FleetingDevices::ttyNames(dev),
            [](const QString &name) { return FleetingDevices::isUsbTty(name); });
    };
    connect(watch, &QFileSystemWatcher::directoryChanged, this, look);
    look();
}

QString Form1::brlttyAdvice() const
{
    return OpenAdvice::brlttyAdvice(OpenAdvice::brlttyRunning(), fleetingDevices.devices());
}
