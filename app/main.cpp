#include "app/demodevice.h"
#include "app/form1.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorline"));
    QApplication::setApplicationVersion(QLatin1StringView(Form1::Version));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Serial terminal that shows every character it receives."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Start a simulated device as COM1."));
    parser.addOption(demo);
    parser.process(app);

    DemoDevice device;
    if (parser.isSet(demo) && !device.start())
        return 1;

    Form1 window;
    window.Form_Load();
    window.show();
    return app.exec();
}
