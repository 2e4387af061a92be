#include "widgets/form2.h"

#include "base/version.h"
#include "widgets/twips.h"

#include <QLabel>
#include <QShowEvent>

Form2::Form2(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("About Quorline"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    resize(twips(7035), twips(3810));
    setFont(windowFont());

    // The colour of an active title bar's text, the way the window system paints a selection.
    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window,
                           windowPalette.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(windowPalette);
    setAutoFillBackground(true);

    // No layout: the labels keep their places whatever the window's size.
    const auto label = [this](const char *name, const QString &text, int left, int top, int width,
                              int height, Qt::Alignment alignment) {
        auto *l = new QLabel(text, this);
        l->setObjectName(QLatin1StringView(name));
        l->setAlignment(alignment | Qt::AlignTop);
        l->setGeometry(twips(left), twips(top), twips(width), twips(height));
        return l;
    };
    Label1 =
        label("Label1", QStringLiteral("About Quorline"), 1320, 240, 4575, 375, Qt::AlignHCenter);
    Label1->setFont(standInFont(13.5));

    Label2 = label(
        "Label2",
        QStringLiteral("This program is provided free of charge by Tolvane, and although it is "
                       "intended for verificaiton of proper operation of Tolvane's DORNEX  (PS2 "
                       "Keyboard to RS232 converter) it can be used as a general purpose serial "
                       "terminal emulator which displays ALL serial characters received "
                       "(printable characters, control characters and even 8-bit characters)."),
        240, 840, 6615, 1455, Qt::AlignLeft);
    Label2->setFont(standInFont(9.75));
    Label2->setWordWrap(true);

    Label3 =
        label("Label3", QStringLiteral("Version  x.x.x"), 240, 2280, 6615, 375, Qt::AlignHCenter);
    Label3->setFont(standInFont(9.75));
    QPalette blue = Label3->palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
    Label3->setPalette(blue);

    Label4 = label("Label4",
                   QStringLiteral("Newer versions come with the quorline package of your system"),
                   240, 2640, 6615, 375, Qt::AlignHCenter);
    Label4->setFont(standInFont(9.75));

    Label5 =
        label("Label5", QStringLiteral("Copyright (c) 2026 The Quorline authors. MIT License."),
              840, 3480, 5415, 255, Qt::AlignHCenter);
    for (QLabel *l : {Label1, Label2, Label3, Label4, Label5})
        l->setTextFormat(Qt::PlainText);
}

int Form2::twips(int value) const
{
    return twipsToPixels(this, value);
}

void Form2::Form_Load()
{
    Label3->setText(QStringLiteral("Version ") + QLatin1StringView(QuorlineVersion));
}

void Form2::showEvent(QShowEvent *event)
{
    // A window restored by the window system is not loaded again.
    if (!event->spontaneous())
        Form_Load();
    QDialog::showEvent(event);
}
