#pragma once

// Helpers for the file-send tests: answering a run of message boxes, and a window on a peer.

#include "app/form1.h"
#include "widgets/commondialog.h"
#include "serial/serialportcontrol.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QTemporaryDir>

#include <deque>
#include <functional>

// Answers every message box that comes up, in order, with the next of the given buttons (OK
// once they run out), as a user would, and keeps what each box said.
class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(std::deque<QMessageBox::StandardButton> buttons = {})
        : m_buttons(std::move(buttons))
    {
        connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::answer);
        m_timer.start(5);
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

private:
    void answer()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
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
    }

    std::deque<QMessageBox::StandardButton> m_buttons;
    QTimer m_timer;
};

// Counts the times a widget is shown.
class ShowCounter : public QObject
{
public:
    explicit ShowCounter(QWidget *widget) { widget->installEventFilter(this); }
    int shows = 0;
    int hides = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            ++shows;
        else if (event->type() == QEvent::Hide)
            ++hides;
        return false;
    }
};

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

// The terminal window with COM1 on a peer that records all it receives.
class SendRig
{
public:
    explicit SendRig(const QStringList &peerArguments = {})
        : peer(QStringList{QStringLiteral("--record"), recordFile} + peerArguments),
          window(PortMap::build(portEnvironment({{1, peer.path()}}), {}))
    {
        window.CommonDialog1->setChooser([this](QWidget *, const QString &) {
            ++chooserCalls;
            return choices.empty() ? QString() : choices.takeFirst();
        });
        window.show();
    }

    // Opens COM1 directly at the given rate; a pty runs at its own pace whatever the rate, but
    // the send paces its progress by it.
    bool openPort(int baud = 4000000)
    {
        window.MSComm1->setCommPort(1);
        window.MSComm1->setSettings(QStringLiteral("%1,n,8,2").arg(baud));
        window.MSComm1->setPortOpen(true);
        return window.MSComm1->portOpen();
    }

    QString file(const QByteArray &content)
    {
        QString path = dir.filePath(QStringLiteral("file%1.txt").arg(++m_files));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    QByteArray received() const { return readWhole(recordFile); }

    // What the peer has received once it holds at least `size` bytes (or after the timeout).
    QByteArray receivedAtLeast(qsizetype size, int timeoutMs = 10000) const
    {
        QDeadlineTimer deadline(timeoutMs);
        QByteArray got = received();
        while (got.size() < size && !deadline.hasExpired()) {
            QTest::qWait(20);
            got = received();
        }
        return got;
    }

    QTemporaryDir dir;
    const QString recordFile = dir.filePath(QStringLiteral("received"));
    Peer peer;
    Form1 window;
    QStringList choices;
    int chooserCalls = 0;

private:
    int m_files = 0;
};

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
