#pragma once

#include "terminal/screenmodel.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QFont>
#include <QList>
#include <QPointer>
#include <QRawFont>
#include <array>
#include <functional>

class QAction;
class QMenu;
class QPainter;

// The terminal screen: an editable text box over the exact received bytes that stays fast
// whatever it holds. It paints at most once per frame however many pieces are appended in
// between, and then only the rows that received text and the caret; it scrolls by moving pixels.
class Screen : public QAbstractScrollArea
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)
    // Positions are qsizetype everywhere; only this property clamps to int.
    Q_PROPERTY(int cursorPosition READ cursorPositionProperty WRITE setCursorPosition)

public:
    explicit Screen(QWidget *parent = nullptr);

    QString text() const;              // the exact characters, Latin-1 decoded
    void setText(const QString &text); // characters outside Latin-1 become '?'
    QByteArray bytes() const;          // the exact bytes
    qsizetype length() const;          // in characters (= bytes)
    // Add at the very end what came at arrivedMs (ms since the epoch), or now. The caret stays
    // on its character; beyond the screen's limit the oldest rows go and the caret, selection
    // and view follow what stays.
    void append(QByteArrayView piece, qint64 arrivedMs);
    void append(QByteArrayView piece);
    const ScreenModel &model() const { return m_model; }
    // How many bytes the limit has dropped from the front since the screen was made.
    qint64 droppedTotal() const { return m_droppedTotal; }
    // Counts the changes that move text already shown (Clear Screen, edits, a new text), so that
    // a place remembered in it can be known to be stale.
    qint64 rewrites() const { return m_rewrites; }
    qsizetype cursorPosition() const { return m_cursor; }
    int cursorPositionProperty() const;
    // Insertion point at pos (clamped), selection gone, caret scrolled into view.
    void setCursorPosition(qsizetype pos);
    void clear();

    qsizetype selectionStart() const { return std::min(m_cursor, m_anchor); }
    qsizetype selectionEnd() const { return std::max(m_cursor, m_anchor); }
    QByteArray selectedBytes() const;
    void setSelection(qsizetype anchor, qsizetype position);

    // Where Save As writes: the real file dialog unless a test scripts the choice.
    using SaveChooser = std::function<QString(QWidget *parent)>;
    void setSaveChooser(SaveChooser chooser) { m_saveChooser = std::move(chooser); }
    // Asks for a file and writes the exact bytes to it; a refusal is one message box.
    void saveAs();
    // Opens (or raises) the find window.
    void showFind();

    // The context menu, owned by the caller: the editing entries made for this menu, then the
    // screen's lasting commands (FindText, SaveScreen), then those added with addMenuActions.
    QMenu *createContextMenu();
    // Entries of the window's that the menu shows after the screen's own (nullptr: a separator).
    // Their shortcuts work while the screen has focus; the caller keeps them.
    void addMenuActions(const QList<QAction *> &actions);

    void copy();
    void cut();
    void paste();
    void deleteSelection();
    void selectAll();

signals:
    // The character event of a typed key, before the box acts on it. A handler may set KeyAscii
    // to 0 to consume the key.
    void KeyPress(int &KeyAscii);
    // The context menu is being made: a moment to bring its added entries up to date.
    void contextMenuAboutToShow();

protected:
    bool event(QEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void paintEvent(QPaintEvent *e) override;
    void inputMethodEvent(QInputMethodEvent *e) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
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
    bool viewportEvent(QEvent *e) override;

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

    void createActions();
    bool isOwnShortcut(const QKeyEvent *k) const;
    void typeCharacter(int code);
    void typeCommitted(const QString &text);
    void followTrim(qsizetype dropped, qsizetype topChar);
    QRect caretRect() const;
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
    qint64 m_droppedTotal = 0;
    qint64 m_rewrites = 0;
    QString m_preedit;
    SaveChooser m_saveChooser;
    QPointer<QWidget> m_find;
    QList<QAction *> m_commands;
    QList<QAction *> m_menuExtras;
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
