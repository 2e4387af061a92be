#pragma once

// Events as a user makes them, and counts of the events a widget gets.

#include <QEvent>
#include <QHash>
#include <QTest>
#include <QWidget>

#include <functional>

// One key press and release that types the given text, as the keyboard delivers it.
inline void typeKey(QWidget *widget, Qt::Key key, const QString &text,
                    Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::sendKeyEvent(QTest::Press, widget, key, text, modifiers);
    QTest::sendKeyEvent(QTest::Release, widget, key, text, modifiers);
}

// Counts the events of each type that the watched objects get; onEvent, when set, sees each.
class EventCounter : public QObject
{
public:
    explicit EventCounter(QObject *watched = nullptr)
    {
        if (watched)
            watch(watched);
    }
    void watch(QObject *watched) { watched->installEventFilter(this); }

    int count(QEvent::Type type) const { return m_counts.value(type); }
    int shows() const { return count(QEvent::Show); }
    int hides() const { return count(QEvent::Hide); }
    int paints() const { return count(QEvent::Paint); }
    void reset() { m_counts.clear(); }

    std::function<void(QObject *, QEvent *)> onEvent;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        ++m_counts[event->type()];
        if (onEvent)
            onEvent(watched, event);
        return false;
    }

private:
    QHash<QEvent::Type, int> m_counts;
};
