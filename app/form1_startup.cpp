#include "app/form1.h"
#include "base/failure.h"
#include "base/version.h"

#include "serial/portchoice.h"
#include "serial/serialportcontrol.h"
#include "terminal/notation.h"

#include <QComboBox>

#include <exception>
#include <utility>

void Form1::Form_Load()
{
    // Port discovery: try each port that has a device, list those that open, close each again,
    // and keep why the others did not open for the tooltip of an empty list.
    const auto probe = [this](int n) {
        QString why;
        const auto step = [&why](auto &&operation) {
            try {
                operation();
            } catch (const std::exception &failure) {
                if (why.isEmpty())
                    why = describe(failure);
            }
        };
        step([this, n] { MSComm1->setCommPort(n); });
        step([this] { MSComm1->setPortOpen(true); });
        if (!MSComm1->portOpen())
            return why.isEmpty() ? QStringLiteral("did not open") : why;
        step([this] { MSComm1->setPortOpen(false); });
        return QString();
    };
    // Each is tried as it stands: a missing device's own open says why it failed.
    showPortList(PortList::refresh(
        {}, 0, MSComm1->portMap(), [](int) { return QString(); }, probe));

    cboParity->addItems(PortChoice::parityEntries());
    cboParity->setCurrentIndex(PortChoice::DefaultParityPosition);
    cboBaud->addItems(PortChoice::baudEntries());
    for (const qint32 rate : std::as_const(extraBaudRates))
        cboBaud->addItem(QString::number(rate));
    cboBaud->setCurrentIndex(extraBaudRates.isEmpty() ? PortChoice::DefaultBaudPosition
                                                      : int(PortChoice::baudEntries().size()));

    setWindowTitle(windowTitle() + QStringLiteral(" v") + QLatin1StringView(QuorlineVersion));

    const QStringList &names = controlMnemonics();
    for (qsizetype k = 0; k < names.size(); ++k)
        ControlNames[k] = names[k];

    loadHelpText();
}
