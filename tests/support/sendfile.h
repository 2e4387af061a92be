#pragma once

// The file send's helpers: the rig's options, files to send, and hooks that act at a chosen
// moment of the send.

#include "support/terminal.h"

#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

// Runs an action once, as soon as the send's closing wait is seen running.
class WaitWatcher
{
public:
    WaitWatcher(Form1 &window, const std::function<void()> &action)
    {
        QObject::connect(&m_poll, &QTimer::timeout, &window, [this, &window, action] {
            if (!window.Timer1->isActive())
                return;
            m_poll.stop();
            action();
        });
        m_poll.start(20);
    }

private:
    QTimer m_poll;
};

// The rig for a send: the peer records, the window is not loaded, the file dialog answers.
inline constexpr Terminal::Options Sending{.record = true, .load = false, .chooser = true};

inline const QString Confirmation =
    QStringLiteral("This function sends a file simply .. with no protocol");
inline const QString SendError = QStringLiteral("Error during file send ... port not open?");

// Lines "<tag>1" .. "<tag>n", each ended by LF.
inline QByteArray numberedLines(const char *tag, int count)
{
    QByteArray all;
    for (int i = 1; i <= count; ++i)
        all += tag + QByteArray::number(i) + '\n';
    return all;
}

inline QByteArray withoutLineEnds(QByteArray bytes)
{
    bytes.removeIf([](char c) { return c == '\r' || c == '\n'; });
    return bytes;
}

// Runs `action` once, during the yield that follows the line that brings the bar to `value`.
inline void onceAtValue(Form1 &window, int value, const std::function<void()> &action)
{
    auto done = std::make_shared<bool>(false);
    QObject::connect(window.ProgressBar1, &QProgressBar::valueChanged, window.ProgressBar1,
                     [value, done, action](int now) {
                         if (now != value || *done)
                             return;
                         *done = true;
                         QTimer::singleShot(0, action);
                     });
}
