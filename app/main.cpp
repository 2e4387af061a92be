#include "app/demodevice.h"
#include "app/form1.h"
#include "app/installcheck.h"
#include "app/quitsignals.h"
#include "base/failure.h"
#include "base/version.h"
#include "serial/portchoice.h"
#include "serial/serialportcontrol.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <optional>
#include <utility>

#include <unistd.h>

namespace {

// Every command-line option, in one place: --help is made from these.
void declareOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Serial terminal that shows every character it receives."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("demo"), QStringLiteral("Start a simulated device as COM1.")});
    parser.addOption({QStringLiteral("reconnect"),
                      QStringLiteral("When the open port's device is unplugged, reopen it with the "
                                     "same settings as soon as it is back, instead of reporting "
                                     "the loss.")});
    parser.addOption({QStringLiteral("baud"),
                      QStringLiteral("Add RATE, a whole number of bits per second from 50 to "
                                     "20000000, to the end of the baud list, and select it at "
                                     "start-up. Repeat it for more rates; the first is selected."),
                      QStringLiteral("RATE")});
    parser.addOption({QStringLiteral("log"),
                      QStringLiteral("Append every received byte to FILE, exactly as it came."),
                      QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("log-stamped"),
                      QStringLiteral("Append a text log to FILE: received (<) and sent (>) "
                                     "lines in the notation, each stamped with the local time "
                                     "of its first byte."),
                      QStringLiteral("FILE")});
    QCommandLineOption checkInstall(QStringLiteral("check-install"),
                                    QStringLiteral("Print what start-up found, and exit."));
    checkInstall.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(checkInstall);
}

void nameTheProgram()
{
    QCoreApplication::setApplicationName(QStringLiteral("Quorline"));
    QCoreApplication::setApplicationVersion(QLatin1StringView(QuorlineVersion));
}

// The capture logs asked for; a log given twice, or both on one file, is said on stderr and the
// first is kept.
void startLogs(Form1 &window, const QCommandLineParser &parser)
{
    QString rawPath;
    static constexpr std::pair<const char *, LogForm> Options[] = {
        {"log", LogForm::Raw}, {"log-stamped", LogForm::Stamped}};
    for (const auto &[name, form] : Options) {
        const QStringList paths = parser.values(QLatin1StringView(name));
        if (paths.isEmpty())
            continue;
        if (paths.size() > 1)
            std::fprintf(stderr, "quorline: --%s is given %lld times: logging to %s only\n", name,
                         qlonglong(paths.size()), qPrintable(paths.first()));
        if (form == LogForm::Raw)
            rawPath = paths.first();
        else if (!rawPath.isEmpty() && QFileInfo(rawPath).absoluteFilePath() ==
                                           QFileInfo(paths.first()).absoluteFilePath()) {
            std::fprintf(stderr,
                         "quorline: --log and --log-stamped name one file: only the raw "
                         "log is written to %s\n",
                         qPrintable(rawPath));
            continue;
        }
        window.startLog(paths.first(), form);
    }
}

bool isSetIn(const char *name)
{
    return !qEnvironmentVariableIsEmpty(name);
}

// Qt's own options and those of its window systems, which the application object takes out of
// the arguments: those with a value, then those without.
constexpr const char *QtValueOptions[] = {"platform",        "platformpluginpath",
                                          "platformtheme",   "plugin",
                                          "qwindowgeometry", "geometry",
                                          "qwindowicon",     "icon",
                                          "qwindowtitle",    "title",
                                          "session",         "qmljsdebugger",
                                          "style",           "stylesheet",
                                          "display",         "name",
                                          "visual"};
constexpr const char *QtFlagOptions[] = {"reverse", "widgetcount", "nograb",
                                         "dograb",  "sync",        "testability"};

// One of Qt's options, as a word of the command line ("-style", "--style", "-style=fusion").
struct QtWord
{
    QString name;              // empty: not one of Qt's
    bool valueFollows = false; // the next word is its value
};

QtWord qtWord(const QString &word)
{
    if (!word.startsWith(u'-'))
        return {};
    QString name = word.mid(word.startsWith(QStringLiteral("--")) ? 2 : 1);
    const qsizetype equals = name.indexOf(u'=');
    if (equals >= 0)
        name.truncate(equals);
    const auto named = [&name](const char *option) { return name == QLatin1StringView(option); };
    if (std::any_of(std::begin(QtValueOptions), std::end(QtValueOptions), named))
        return {name, equals < 0};
    if (equals < 0 && std::any_of(std::begin(QtFlagOptions), std::end(QtFlagOptions), named))
        return {name, false};
    return {};
}

// The arguments without Qt's own options, which are read before Qt is started.
QStringList withoutQtOptions(const QStringList &arguments)
{
    QStringList ours = arguments.mid(0, 1);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QtWord qt = qtWord(arguments[i]);
        if (qt.name.isEmpty())
            ours << arguments[i];
        else if (qt.valueFollows)
            ++i;
    }
    return ours;
}

// Qt needs a window system unless a platform or a display is named; without one it aborts.
bool displayReachable(const QStringList &arguments)
{
    for (const QString &word : arguments.mid(1)) {
        const QString name = qtWord(word).name;
        if (name == u"platform" || name == u"display")
            return true;
    }
    return isSetIn("QT_QPA_PLATFORM") || isSetIn("DISPLAY") || isSetIn("WAYLAND_DISPLAY");
}

const char NoDisplay[] = "quorline: no display: start it in a desktop session, or set DISPLAY or "
                         "WAYLAND_DISPLAY, or QT_QPA_PLATFORM=offscreen for a check without one\n";

// While Qt starts its window system, what it says is held back: when the platform cannot start
// (no display reachable, a -platform that does not load), Qt ends with qFatal, which becomes the
// one line about the display and status 1 instead of an abort.
QStringList g_heldMessages;

void startupMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtFatalMsg) {
        std::fputs(NoDisplay, stderr);
        std::fflush(nullptr);
        ::_exit(1); // inside Qt's constructor: nothing may be torn down
    }
    g_heldMessages << qFormatLogMessage(type, context, text);
}

// Qt is started: what it said meanwhile goes out as it would have.
void startupDone()
{
    qInstallMessageHandler(nullptr);
    for (const QString &line : std::exchange(g_heldMessages, {}))
        std::fprintf(stderr, "%s\n", qPrintable(line));
}

// Reads the options; an exit status when the run ends here (help, version, a wrong option).
// Before the last reading, a wrong option and --help-all (which lists Qt's own options, known
// only to the application object) are let pass.
std::optional<int> readOptions(QCommandLineParser &parser, const QStringList &arguments,
                               bool last = true)
{
    if (!parser.parse(arguments)) {
        if (!last)
            return std::nullopt;
        std::fprintf(stderr, "quorline: %s\n\n%s", qPrintable(parser.errorText()),
                     qPrintable(parser.helpText()));
        return 1;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0); // exits
    if (last && parser.isSet(QStringLiteral("help-all")))
        parser.process(arguments); // shows Qt's own options too, and exits
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion(); // exits
    try {
        PortChoice::extraBaudRates(parser.values(QStringLiteral("baud")));
    } catch (const Failure &failure) {
        std::fprintf(stderr, "quorline: %s\n", qPrintable(failure.description()));
        return 1;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char *argv[])
{
    // The options first, with no window system: --help and --version answer anywhere.
    bool display = false;
    {
        QCoreApplication core(argc, argv);
        nameTheProgram();
        display = displayReachable(QCoreApplication::arguments());
        QCommandLineParser parser;
        declareOptions(parser);
        // With a display, a word this parser does not know may be an option of the window
        // system's own: the application object takes those out before the options are read again.
        if (const auto status =
                readOptions(parser, withoutQtOptions(QCoreApplication::arguments()), !display))
            return *status;
    }
    if (!display) {
        std::fputs(NoDisplay, stderr);
        return 1;
    }

    qInstallMessageHandler(startupMessage);
    QApplication app(argc, argv);
    startupDone();
    quitOnSignals();
    nameTheProgram();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/quorline.png")));
    QCommandLineParser parser;
    declareOptions(parser);
    if (const auto status = readOptions(parser, QApplication::arguments()))
        return *status;

    DemoDevice device;
    if (parser.isSet(QStringLiteral("demo")) && !device.start())
        return 1;

    Form1 window;
    window.MSComm1->setReconnect(parser.isSet(QStringLiteral("reconnect")));
    window.extraBaudRates = PortChoice::extraBaudRates(parser.values(QStringLiteral("baud")));
    window.Form_Load();
    if (parser.isSet(QStringLiteral("check-install")))
        return printInstallState(window);
    startLogs(window, parser);
    window.show();
    return QApplication::exec();
}
