#include "widgets/screenaccessible.h"

#include "widgets/screen.h"

#include <QAccessibleWidget>
#include <QScrollBar>
#include <climits>

namespace {

// Screen readers count in int: positions beyond are clamped.
int clampInt(qsizetype value)
{
    return int(std::clamp<qsizetype>(value, 0, INT_MAX));
}

class ScreenAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit ScreenAccessible(Screen *screen) : QAccessibleWidget(screen, QAccessible::EditableText)
    {
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = true;
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return screen()->text();
        return QAccessibleWidget::text(t);
    }

    void selection(int index, int *start, int *end) const override
    {
        *start = *end = 0;
        if (index == 0 && screen()->selectionStart() != screen()->selectionEnd()) {
            *start = clampInt(screen()->selectionStart());
            *end = clampInt(screen()->selectionEnd());
        }
    }
    int selectionCount() const override
    {
        return screen()->selectionStart() != screen()->selectionEnd() ? 1 : 0;
    }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override { screen()->setCursorPosition(screen()->cursorPosition()); }
    void setSelection(int, int start, int end) override { screen()->setSelection(start, end); }
    int cursorPosition() const override { return clampInt(screen()->cursorPosition()); }
    void setCursorPosition(int position) override { screen()->setCursorPosition(position); }
    QString text(int startOffset, int endOffset) const override
    {
        const qsizetype from = std::clamp<qsizetype>(startOffset, 0, screen()->length());
        const qsizetype to = std::clamp<qsizetype>(endOffset, from, screen()->length());
        return QString::fromLatin1(
            QByteArrayView(screen()->model().bytes()).sliced(from, to - from));
    }
    int characterCount() const override { return clampInt(screen()->length()); }
    QRect characterRect(int) const override { return QRect(); }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int startIndex, int endIndex) override
    {
        screen()->setSelection(startIndex, endIndex);
    }
    QString attributes(int offset, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return QString();
    }

private:
    Screen *screen() const { return static_cast<Screen *>(widget()); }
};

QAccessibleInterface *screenFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("Screen") && object && object->isWidgetType())
        return new ScreenAccessible(static_cast<Screen *>(object));
    return nullptr;
}

} // namespace

void installScreenAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(screenFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void announceInsert(Screen *screen, qsizetype pos, QByteArrayView piece)
{
    if (!QAccessible::isActive() || piece.isEmpty())
        return;
    QAccessibleTextInsertEvent event(screen, clampInt(pos), QString::fromLatin1(piece));
    QAccessible::updateAccessibility(&event);
}

void announceCaret(Screen *screen)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleTextCursorEvent event(screen, clampInt(screen->cursorPosition()));
    QAccessible::updateAccessibility(&event);
}
