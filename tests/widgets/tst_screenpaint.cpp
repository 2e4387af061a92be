// What the screen repaints when text arrives: the rows that received it, not the whole view.
#include "widgets/screen.h"

#include <QFontMetricsF>
#include <QPaintEvent>
#include <QScrollBar>
#include <QTest>

#include <cmath>

namespace {

// Sums the area of every paint of the viewport, leaving out one pixel that the test repaints
// on purpose to know that every update asked for before it has been painted.
class PaintWatch : public QObject
{
public:
    static constexpr QRect Marker{0, 0, 1, 1};
    qint64 area = 0;
    int paints = 0;
    bool markerPainted = false;

    void reset()
    {
        area = 0;
        paints = 0;
    }
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() != QEvent::Paint)
            return false;
        const QRegion region = static_cast<QPaintEvent *>(e)->region();
        markerPainted = markerPainted || region.contains(Marker.topLeft());
        for (const QRect &r : region.subtracted(Marker))
            area += qint64(r.width()) * r.height();
        ++paints;
        return false;
    }
};

} // namespace

class TestScreenPaint : public QObject
{
    Q_OBJECT

private slots:
    void appendRepaintsOnlyTheChangedRows_data();
    void appendRepaintsOnlyTheChangedRows();
};

void TestScreenPaint::appendRepaintsOnlyTheChangedRows_data()
{
    QTest::addColumn<int>("lines");         // whole lines on screen before
    QTest::addColumn<bool>("scrolledBack"); // view at the top, caret at the start
    QTest::addColumn<QByteArray>("piece");  // "<wrap>": a word a row and a half long
    QTest::addColumn<int>("minRows");
    QTest::addColumn<int>("maxRows");

    QTest::newRow("within a row") << 3 << false << QByteArray("def") << 1 << 1;
    QTest::newRow("wraps") << 3 << false << QByteArray("<wrap>") << 2 << 2;
    // The last row takes the text and a new row scrolls in (with the strip below the last
    // whole row).
    QTest::newRow("scrolls") << 60 << false << QByteArray("def\r\n") << 2 << 3;
    QTest::newRow("scrolled back") << 60 << true << QByteArray("def\r\nghi\r\n") << 0 << 0;
}

// Would catch a frame that repaints the whole view for a few bytes, a scroll that repaints
// instead of moving pixels, or text below a scrolled-back view that is painted all the same.
void TestScreenPaint::appendRepaintsOnlyTheChangedRows()
{
    QFETCH(int, lines);
    QFETCH(bool, scrolledBack);
    QFETCH(QByteArray, piece);
    QFETCH(int, minRows);
    QFETCH(int, maxRows);

    Screen screen;
    const QFont font(QStringLiteral("MS Sans Serif"), 10);
    screen.setFont(font);
    screen.resize(585, 289);
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    QWidget *view = screen.viewport();
    const qreal rowHeight = std::ceil(QFontMetricsF(font).lineSpacing());
    const qint64 rowArea = qint64(std::lround(rowHeight)) * view->width();
    if (piece == "<wrap>")
        piece.fill('y',
                   qsizetype(1.5 * view->width() / QFontMetricsF(font).horizontalAdvance('y')));

    for (int i = 0; i < lines; ++i)
        screen.append("line " + QByteArray::number(i) + "\r\n");
    screen.append("abc");
    const int caret = scrolledBack ? 0 : int(screen.length());
    screen.setSelection(caret, caret); // a frame at once, the view following the caret
    if (scrolledBack)
        QCOMPARE(screen.verticalScrollBar()->value(), 0);
    else
        QVERIFY(lines < 10 || screen.verticalScrollBar()->value() > 0);

    PaintWatch watch;
    view->installEventFilter(&watch);
    const auto settle = [&watch, view] {
        watch.markerPainted = false;
        view->update(PaintWatch::Marker);
        return QTest::qWaitFor([&watch] { return watch.markerPainted; }, 10000);
    };
    QVERIFY(settle());
    watch.reset();

    const int maximumBefore = screen.verticalScrollBar()->maximum();
    screen.append(piece);
    if (!scrolledBack)
        screen.setCursorPosition(int(screen.length()));
    // The frame has come when something was painted or the scroll range took the new rows.
    QTRY_VERIFY(watch.paints > 0 || screen.verticalScrollBar()->maximum() != maximumBefore);
    QVERIFY(settle());

    QVERIFY2(watch.area >= minRows * rowArea && watch.area <= maxRows * rowArea,
             qPrintable(QStringLiteral("painted %1 rows' area")
                            .arg(double(watch.area) / double(rowArea), 0, 'f', 2)));
}

QTEST_MAIN(TestScreenPaint)
#include "tst_screenpaint.moc"
