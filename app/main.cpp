#include "app/demodevice.h"
#include "app/form1.h"
#include "app/installcheck.h"
#include "app/quitsignals.h"
#include "base/version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    quitOnSignals();
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
    QCommandLineOption checkInstall(QStringLiteral("check-install"),
                                    QStringLiteral("Print what start-up found, and exit."));
    checkInstall.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(checkInstall);
    parser.process(app);

    DemoDevice device;
    if (parser.isSet(demo) && !device.start())
        return 1;

    Form1 window;
    window.Form_Load();
    if (parser.isSet(checkInstall))
        return printInstallState(window);
    window.show();
    return QApplication::exec();
}
