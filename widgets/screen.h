#pragma once

#include "terminal/screenmodel.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QFont>
#include <QList>
#include <QRawFont>
#include <array>
#include <functional>

class QMenu;
class QPainter;

// The terminal screen: an editable text box over the exact received bytes that stays fast
// whatever it holds. It paints at most once per frame however many pieces are appended in
// between, and then only the rows that received text and the caret; it scrolls by moving pixels.
class Screen : public QAbstractScrollArea
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)
    Q_PROPERTY(int cursorPosition READ cursorPosition WRITE setCursorPosition)

public:
    explicit Screen(QWidget *parent = nullptr);

    QString text() const;              // the exact characters, Latin-1 decoded
    void setText(const QString &text); // characters outside Latin-1 become '?'
    QByteArray bytes() const;          // the exact bytes
    qsizetype length() const;          // in characters (= bytes)
    void append(QByteArrayView piece); // add at the very end; caret untouched
    int cursorPosition() const;
    // Insertion point at pos (clamped), selection gone, caret scrolled into view.
    void setCursorPosition(int pos);
    void clear();

    int selectionStart() const;
    int selectionEnd() const;
    QByteArray selectedBytes() const;
    void setSelection(int anchor, int position);

    // The context menu's actions, owned by the caller.
    QMenu *createContextMenu();

    void copy();
    void cut();
    void paste();
    void deleteSelection();
    void selectAll();

signals:
    // The character event of a typed key, before the box acts on it. A handler may set KeyAscii
    // to 0 to consume the key.
    void KeyPress(int &KeyAscii);

protected:
    bool event(QEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void paintEvent(QPaintEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void changeEvent(QEvent *e) override;
    void timerEvent(QTimerEvent *e) override;
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // How each byte is drawn: up to two glyphs of one of m_rawFonts, placed by our own advances
    // so that text and caret always agree; dim when it stands for a control code.
    struct Glyph
    {
        int font = -1;
        int count = 0;
        quint32 index[2] = {};
        qreal dx[2] = {};
        bool dim = false;
        bool framed = false;
    };
    struct GlyphBatch;

    void typeCharacter(int code);
    void deleteBack();
    void deleteForward();
    void selectWordAt(qsizetype pos);
    bool navigate(QKeyEvent *e);
    void replaceSelection(QByteArrayView bytes);
    void moveCaret(qsizetype pos, bool keepAnchor);
    qsizetype stepLeft(qsizetype pos) const;
    qsizetype stepRight(qsizetype pos) const;
    qsizetype hitTest(QPoint p) const;
    void updateMetrics();
    bool shapeGlyph(const QString &text, Glyph &g, qreal &width);
    qint64 wrapWidth() const;
    void relayoutKeepingTop(const std::function<void()> &relayout);
    void updateWrapWidth();
    void scheduleFrame();
    void frame();
    QRect rowsRect(qsizetype from, qsizetype to) const;
    QRect caretRect(qsizetype row, qreal x) const;
    QRegion caretChange();
    void syncScrollBar();
    void ensureCaretVisible();
    int pageRows() const;
    int topRow() const;
    void restartBlink();
    void paintRow(QPainter &p, GlyphBatch &batch, qsizetype row, qreal y, qsizetype selStart,
                  qsizetype selEnd);

    ScreenModel m_model;
    qsizetype m_cursor = 0;
    qsizetype m_anchor = 0;
    qint64 m_preferredX = -1;
    bool m_caretScrollPending = false;
    bool m_framePending = false;
    bool m_floodFrame = false; // the pending frame keeps a flood's rhythm
    qsizetype m_pendingBytes = 0;
    // What the next frame repaints: everything, or the rows from m_changedFrom on.
    bool m_repaintAll = true;
    qsizetype m_changedFrom = -1;
    qsizetype m_rowsAtFrame = 1;
    // Where the caret was last drawn, in rows and pixels of the text.
    qsizetype m_caretRow = 0;
    qreal m_caretX = 0;
    bool m_caretShown = true;
    bool m_dragging = false;
    std::array<Glyph, 256> m_glyphs;
    QList<QRawFont> m_rawFonts;
    QFont m_drawFont;
    qreal m_lineHeight = 16;
    qreal m_ascent = 12;
    int m_margin = 3;
    QBasicTimer m_frameTimer;
    QBasicTimer m_blinkTimer;
    QElapsedTimer m_sinceFrame;
};
