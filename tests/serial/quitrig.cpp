// The terminal window with the program's own signal handling and COM1 opened as a user opens
// it; prints "open" once it is, then runs until it quits. Given a number of bytes, it then
// queues that many for the port and clicks Close Port, printing "closing" first. Each message
// box that shows is printed as "box: TEXT". Only the QUORLINE_COM<n> ports are listed: the
// machine's own serial devices are never looked at. Driven by tst_portsafety.
#include "app/form1.h"
#include "app/quitsignals.h"
#include "serial/serialportcontrol.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

class BoxPrinter : public QObject
{
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (const auto *box = qobject_cast<QMessageBox *>(watched)) {
                std::printf("box: %s\n", qPrintable(box->text()));
                std::fflush(stdout);
            }
        }
        return false;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    quitOnSignals();
    BoxPrinter boxes;
    app.installEventFilter(&boxes);
    Form1 window(PortMap::build(QProcessEnvironment::systemEnvironment(), {}));
    window.Form_Load();
    window.show();
    window.btnOpen->click();
    std::puts(window.MSComm1->portOpen() ? "open" : "closed");
    if (argc > 1 && window.MSComm1->portOpen()) {
        window.MSComm1->setOutput(QByteArray(QByteArray(argv[1]).toLongLong(), 'x'));
        std::puts("closing");
        QTimer::singleShot(0, window.btnClose, &QPushButton::click);
    }
    std::fflush(stdout);
    return QApplication::exec();
}
