// The terminal window with the program's own signal handling and COM1 opened as a user opens
// it; prints "open" once it is, then runs until it quits. Driven by tst_portsafety.
#include "app/form1.h"
#include "app/quitsignals.h"
#include "serial/serialportcontrol.h"

#include <QApplication>
#include <QPushButton>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    quitOnSignals();
    Form1 window;
    window.Form_Load();
    window.show();
    window.btnOpen->click();
    std::puts(window.MSComm1->portOpen() ? "open" : "closed");
    std::fflush(stdout);
    return QApplication::exec();
}
