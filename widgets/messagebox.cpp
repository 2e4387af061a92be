#include "widgets/messagebox.h"

#include <QMessageBox>

namespace {

int run(QWidget *parent, const QString &caption, const QString &text,
        QMessageBox::StandardButtons buttons)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    return box.exec();
}

} // namespace

void showMessage(QWidget *parent, const QString &text)
{
    run(parent, QStringLiteral("Quorline"), text, QMessageBox::Ok);
}

bool askOkCancel(QWidget *parent, const QString &caption, const QString &text)
{
    return run(parent, caption, text, QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}
