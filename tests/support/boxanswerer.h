#pragma once

// Answers modal windows the way a user would, for as long as it lives.

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QTimer>

#include <deque>
#include <functional>

// Answers every message box that comes up while it lives, in order, with the next of the given
// buttons (OK once they run out), and keeps what each box said. Given a step, it also drives
// any other modal window: the step runs on it until it returns true (it has closed the window);
// past the deadline the window is closed. Its timer is its own, so it stops with its scope and
// cannot answer another test's box.
class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(std::deque<QMessageBox::StandardButton> buttons = {})
        : m_buttons(std::move(buttons))
    {
        start();
    }
    explicit BoxAnswerer(std::function<bool(QWidget *)> step, int timeoutMs = 10000)
        : m_step(std::move(step)), m_deadline(timeoutMs)
    {
        start();
    }

    struct Box
    {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
    };
    QList<Box> seen;

    QStringList texts() const
    {
        QStringList all;
        for (const Box &box : seen)
            all.append(box.text);
        return all;
    }
    QStringList titles() const
    {
        QStringList all;
        for (const Box &box : seen)
            all.append(box.title);
        return all;
    }
    // Whether the step has finished with its window.
    bool done() const { return m_done; }

private:
    void start()
    {
        connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::answer);
        m_timer.start(5);
    }

    void answer()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            seen.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
            QMessageBox::StandardButton button = QMessageBox::Ok;
            if (!m_buttons.empty()) {
                button = m_buttons.front();
                m_buttons.pop_front();
            }
            if (QAbstractButton *b = box->button(button))
                b->click();
            else
                box->reject();
        } else if (m_step && !m_done) {
            m_done = m_step(modal);
            if (!m_done && m_deadline.hasExpired())
                modal->close();
        }
    }

    std::deque<QMessageBox::StandardButton> m_buttons;
    std::function<bool(QWidget *)> m_step;
    QDeadlineTimer m_deadline;
    bool m_done = false;
    QTimer m_timer;
};
