// Takes the pictures of the windows for the documentation: the terminal window, the terminal
// window with the help panel shown, and the About window. Run it on a display (tools/screenshots.sh
// uses Xvfb); it writes form1.png, help.png and about.png into the directory it is given.

#include "app/demodevice.h"
#include "app/form1.h"
#include "serial/serialportcontrol.h"
#include "widgets/form2.h"
#include "widgets/screen.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

bool save(QWidget *window, const QString &path)
{
    const bool saved = window->grab().save(path);
    std::fprintf(stderr, "%s %s\n", saved ? "wrote" : "cannot write", qPrintable(path));
    return saved;
}

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-DIRECTORY\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));

    // The demo device as the only port, so that the pictures do not depend on the machine.
    DemoDevice device;
    if (!device.start())
        return 1;
    Form1 w(PortMap::build(QProcessEnvironment::systemEnvironment(), {}));
    w.Form_Load();
    w.show();
    settle(300);
    w.btnOpen->click();
    for (const char *line : {"hello\r", "AT\r"}) {
        w.MSComm1->setOutput(QByteArrayView(line));
        settle(400);
    }

    bool ok = save(&w, out.filePath(QStringLiteral("form1.png")));
    w.help->trigger();
    settle(200);
    ok = save(&w, out.filePath(QStringLiteral("help.png"))) && ok;
    w.Command1->click();

    QTimer::singleShot(500, &app, [&ok, &out] {
        if (auto *about = qobject_cast<Form2 *>(QApplication::activeModalWidget())) {
            ok = save(about, out.filePath(QStringLiteral("about.png"))) && ok;
            about->close();
        } else {
            ok = false;
        }
    });
    w.Aboutbox->trigger();
    return ok ? 0 : 1;
}
