#include "app/installcheck.h"

#include "app/form1.h"
#include "help/helptext.h"

#include <QApplication>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QTextStream>

int printInstallState(const Form1 &window)
{
    QTextStream out(stdout);
    out << "executable: " << QCoreApplication::applicationFilePath() << '\n';
    out << "directory: " << QCoreApplication::applicationDirPath() << '\n';
    const QString help = window.Helpbox->toPlainText();
    if (help == helpMissingText())
        out << "help: not found\n";
    else
        out << "help: loaded, " << help.size() << " characters\n";
    out << "ports:";
    for (int k = 0; k < window.cboPort->count(); ++k)
        out << ' ' << window.cboPort->itemText(k);
    out << '\n';
    out << "icon: " << (QApplication::windowIcon().isNull() ? "none" : "set") << '\n';
    out << "title: " << window.windowTitle() << '\n';
    return 0;
}
