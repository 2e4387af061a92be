#include "app/form1.h"
#include "base/version.h"

#include "serial/portchoice.h"
#include "serial/serialportcontrol.h"
#include "terminal/notation.h"

#include <QComboBox>

#include <exception>

namespace {

// Start-up shows nothing: a step that fails is passed over and the next one runs.
template <typename Step>
void skipOnFailure(Step &&step)
{
    try {
        step();
    } catch (const std::exception &) {
    }
}

} // namespace

void Form1::Form_Load()
{
    // Port discovery: list each of ports 1 to 10 that opens, and close it again.
    for (int n = PortChoice::FirstPort; n <= PortChoice::LastPort; ++n) {
        skipOnFailure([this, n] { MSComm1->setCommPort(n); });
        skipOnFailure([this] { MSComm1->setPortOpen(true); });
        if (!MSComm1->portOpen())
            continue;
        cboPort->addItem(PortChoice::portEntry(n));
        if (const auto device = MSComm1->portMap().device(n)) {
            const QString tip = device->description.isEmpty()
                                    ? device->path
                                    : device->path + QStringLiteral(" (") + device->description + u')';
            cboPort->setItemData(cboPort->count() - 1, tip, Qt::ToolTipRole);
        }
        skipOnFailure([this] { MSComm1->setPortOpen(false); });
    }
    // With no port found there is nothing to select, and the box keeps its initial text.
    if (cboPort->count() > 0)
        cboPort->setCurrentIndex(0);

    cboParity->addItems(PortChoice::parityEntries());
    cboParity->setCurrentIndex(PortChoice::DefaultParityPosition);
    cboBaud->addItems(PortChoice::baudEntries());
    cboBaud->setCurrentIndex(PortChoice::DefaultBaudPosition);

    setWindowTitle(windowTitle() + QStringLiteral(" v") + QLatin1StringView(QuorlineVersion));

    const QStringList &names = controlMnemonics();
    for (qsizetype k = 0; k < names.size(); ++k)
        ControlNames[k] = names[k];

    loadHelpText();
}
