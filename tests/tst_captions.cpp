// Every caption fits its control at the window's layout: the text measured with the control's
// own font, plus the room the style takes around it, against the control's size in twips.
#include "app/form1.h"
#include "serial/portmap.h"
#include "widgets/form2.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTest>

namespace {

struct Need
{
    QSize need;
    QSize room;
};

// What a caption needs, and the room the control gives it.
Need measure(QWidget *control)
{
    const QFontMetrics fm = control->fontMetrics();
    if (auto *button = qobject_cast<QPushButton *>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        if (button->autoDefault())
            option.features |= QStyleOptionButton::AutoDefaultButton;
        // The style paints the caption inside the frame, in this rectangle.
        const QRect inside =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        return {fm.size(Qt::TextShowMnemonic, button->text()), inside.size()};
    }
    if (auto *box = qobject_cast<QCheckBox *>(control)) {
        // The indicator, the spacing and the caption side by side, as the style lays them out.
        return {QSize(box->sizeHint().width(), fm.height()), box->size()};
    }
    auto *label = qobject_cast<QLabel *>(control);
    if (label->wordWrap())
        return {QSize(label->width(), label->heightForWidth(label->width())), label->size()};
    return {label->sizeHint(), label->size()};
}

} // namespace

class tst_captions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void captionFits_data();
    void captionFits();

private:
    std::unique_ptr<Form1> m_form1;
    std::unique_ptr<Form2> m_form2;
};

void tst_captions::initTestCase()
{
    m_form1 = std::make_unique<Form1>(PortMap::build({}, {}));
    m_form2 = std::make_unique<Form2>();
    m_form2->Form_Load();
    QCOMPARE(m_form1->logicalDpiX(), 96);
}

void tst_captions::captionFits_data()
{
    QTest::addColumn<QWidget *>("window");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("caption"); // empty: the caption it has

    const auto row = [](QWidget *window, const char *name, const QString &caption = {}) {
        QTest::newRow(name) << window << QString::fromLatin1(name) << caption;
    };
    for (const char *name : {"btnOpen", "btnClose", "Command1", "chkShowControl", "chkDuplex",
                             "ProgressLabel"})
        row(m_form1.get(), name);
    row(m_form1.get(), "pcntlabel", QStringLiteral("100%")); // its widest text during a send
    for (const char *name : {"Label1", "Label2", "Label3", "Label4", "Label5"})
        row(m_form2.get(), name);
}

// A caption wider than its control is clipped on the screen.
void tst_captions::captionFits()
{
    QFETCH(QWidget *, window);
    QFETCH(QString, control);
    QFETCH(QString, caption);
    auto *widget = window->findChild<QWidget *>(control);
    QVERIFY(widget);
    if (!caption.isEmpty())
        qobject_cast<QLabel *>(widget)->setText(caption);
    const Need n = measure(widget);
    const QString text = QStringLiteral("%1: needs %2x%3, has %4x%5 (%6)")
                             .arg(control)
                             .arg(n.need.width())
                             .arg(n.need.height())
                             .arg(n.room.width())
                             .arg(n.room.height())
                             .arg(QFontInfo(widget->font()).family());
    qInfo("%s", qPrintable(text));
    QVERIFY2(n.need.width() <= n.room.width() && n.need.height() <= n.room.height(),
             qPrintable(text));
}

QTEST_MAIN(tst_captions)
#include "tst_captions.moc"
