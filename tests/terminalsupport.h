#pragma once

// The terminal window on a real pseudo-terminal with the peer tool at the other end.

#include "app/form1.h"
#include "expectednotation.h"
#include "serial/serialportcontrol.h"
#include "widgets/screen.h"
#include "testsupport.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>

// A window whose COM1 is the peer's pty and nothing else.
class Terminal
{
public:
    explicit Terminal(const QStringList &peerArguments)
        : peer(peerArguments), window(PortMap::build(portEnvironment({{1, peer.path()}}), {}))
    {
        window.Form_Load();
        window.show();
    }

    // Opens COM1 as the user does: the first listed port, default settings, Open Port.
    bool open()
    {
        window.btnOpen->click();
        return window.MSComm1->portOpen();
    }

    Peer peer;
    Form1 window;
};

// Answers with OK every message box that comes up while it lives, as a user would, and keeps
// what they said. Unlike a one-shot watcher it cannot outlive its test and take another's box.
class ModalWatch
{
public:
    ModalWatch()
    {
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                titles.append(box->windowTitle());
                texts.append(box->text());
                if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                    ok->click();
                else
                    box->reject();
            }
        });
        m_timer.start(10);
    }

    QStringList titles;
    QStringList texts;

private:
    QTimer m_timer;
};

// One key press that produces the given text, as the keyboard delivers it.
inline void typeKey(QWidget *widget, Qt::Key key, const QString &text,
                    Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(widget, &release);
}

inline QByteArray all256()
{
    QByteArray bytes(256, Qt::Uninitialized);
    for (int c = 0; c < 256; ++c)
        bytes[c] = char(c);
    return bytes;
}
