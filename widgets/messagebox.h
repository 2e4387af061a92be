#pragma once

#include <QString>

class QWidget;

// The program's message box: OK only, no icon, caption "Quorline", plain text (a device's
// description must never be read as markup).
void showMessage(QWidget *parent, const QString &text);

// OK and Cancel, no icon; true for OK.
bool askOkCancel(QWidget *parent, const QString &caption, const QString &text);
