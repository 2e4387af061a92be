#include "app/demodevice.h"
#include "app/form1.h"
#include "app/installcheck.h"
#include "base/version.h"
#include "serial/serialportcontrol.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorline"));
    QApplication::setApplicationVersion(QLatin1StringView(QuorlineVersion));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/quorline.png")));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Serial terminal that shows every character it receives."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Start a simulated device as COM1."));
    parser.addOption(demo);
    const QCommandLineOption reconnect(
        QStringLiteral("reconnect"),
        QStringLiteral("When the open port's device is unplugged, reopen it with the same settings "
                       "as soon as it is back, instead of reporting the loss."));
    parser.addOption(reconnect);
    QCommandLineOption checkInstall(QStringLiteral("check-install"),
                                    QStringLiteral("Print what start-up found, and exit."));
    checkInstall.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(checkInstall);
    parser.process(app);

    DemoDevice device;
    if (parser.isSet(demo) && !device.start())
        return 1;

    Form1 window;
    window.MSComm1->setReconnect(parser.isSet(reconnect));
    window.Form_Load();
    if (parser.isSet(checkInstall))
        return printInstallState(window);
    window.show();
    return QApplication::exec();
}
