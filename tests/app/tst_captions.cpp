// Every caption fits its control: the text measured with the control's own font, plus the room
// the style takes around it, against the control's size in twips at 96 DPI.
#include "app/form1.h"
#include "widgets/form2.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTest>

class tst_captions : public QObject
{
    Q_OBJECT

private slots:
    void captionFits_data();
    void captionFits();

private:
    Form1 m_form1{PortMap::build({}, {})};
    Form2 m_form2;
};

void tst_captions::captionFits_data()
{
    QTest::addColumn<QWidget *>("control");
    m_form2.Form_Load();
    m_form1.pcntlabel->setText(QStringLiteral("100%")); // its widest text during a send
    QCOMPARE(m_form1.logicalDpiX(), 96);
    for (QWidget *w :
         {static_cast<QWidget *>(m_form1.btnOpen), static_cast<QWidget *>(m_form1.btnClose),
          static_cast<QWidget *>(m_form1.Command1), static_cast<QWidget *>(m_form1.chkShowControl),
          static_cast<QWidget *>(m_form1.chkDuplex), static_cast<QWidget *>(m_form1.ProgressLabel),
          static_cast<QWidget *>(m_form1.pcntlabel)})
        QTest::newRow(qPrintable(w->objectName())) << w;
    for (QLabel *l : m_form2.findChildren<QLabel *>())
        QTest::newRow(qPrintable(l->objectName())) << static_cast<QWidget *>(l);
}

// A caption wider or taller than its control is clipped on the screen.
void tst_captions::captionFits()
{
    QFETCH(QWidget *, control);
    const QFontMetrics fm = control->fontMetrics();
    QSize need = control->sizeHint();
    QSize room = control->size();
    if (auto *button = qobject_cast<QPushButton *>(control)) {
        // The style paints a button's caption inside its frame.
        QStyleOptionButton option;
        option.initFrom(button);
        need = fm.size(Qt::TextShowMnemonic, button->text());
        room =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).size();
    } else if (qobject_cast<QCheckBox *>(control)) {
        need.setHeight(fm.height()); // the indicator may overhang; the caption must not
    } else if (auto *label = qobject_cast<QLabel *>(control); label->wordWrap()) {
        need = QSize(label->width(), label->heightForWidth(label->width()));
    }
    const QString text = QStringLiteral("needs %1x%2, has %3x%4 in %5")
                             .arg(need.width())
                             .arg(need.height())
                             .arg(room.width())
                             .arg(room.height())
                             .arg(QFontInfo(control->font()).family());
    qInfo("%s", qPrintable(text));
    QVERIFY2(need.width() <= room.width() && need.height() <= room.height(), qPrintable(text));
}

QTEST_MAIN(tst_captions)
#include "tst_captions.moc"
