#include "app/form1.h"

#include "help/helptext.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QPlainTextEdit>

void Form1::loadHelpText()
{
    const QString directory =
        helpDirectory.isEmpty() ? QCoreApplication::applicationDirPath() : helpDirectory;
    // Events go on being handled while a long file is read.
    const auto text =
        readHelpText(helpFilePath(directory), [] { QCoreApplication::processEvents(); });
    // Any failure is silent: the panel keeps its initial text.
    if (text)
        Helpbox->setPlainText(*text);
}

void Form1::help_triggered()
{
    HelpFrame->setHidden(!HelpFrame->isHidden());
}

void Form1::Command1_clicked()
{
    HelpFrame->hide();
}
