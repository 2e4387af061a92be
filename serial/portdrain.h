#pragma once

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QtGlobal>

class QEventLoop;
class QSerialPort;

// A device that takes no byte for this long takes no more: what is left is dropped.
inline constexpr qint64 DrainStallMs = 1000;
// The longest a close may wait when the window closes or the program quits.
inline constexpr qint64 QuitDrainMs = 2000;

enum class DrainStep {
    Wait,     // the device is taking bytes: give it time
    DropRest, // it stopped, or the time allowed is spent
    Done,     // everything went out
};

// What a drain does next. msLeftOfBudget is -1 when the wait has no limit of its own.
DrainStep nextDrainStep(qint64 pendingBytes, qint64 msSinceLastByteLeft, qint64 msLeftOfBudget);

// Before a port closes, what is queued for it goes out: the port's buffer is written and the
// kernel's queue waited for, as long as the device takes bytes. The program's events, user input
// included, are handled while it waits; once the program quits (its event loops no longer run),
// it waits without them, and at most QuitDrainMs.
class PortDrain
{
public:
    explicit PortDrain(QSerialPort &port);
    PortDrain(const PortDrain &) = delete;
    PortDrain &operator=(const PortDrain &) = delete;

    // Waits, then drops what the device did not take; returns the bytes dropped (0: all went).
    qint64 run();
    // The wait ends within ms from now (0: at once); a limit later than one already set is no
    // limit. Also from the events handled during the wait.
    void limit(qint64 ms);
    // Bytes queued during the wait: not a sign that the device took any.
    void added(qint64 bytes) { m_last += bytes; }
    // False once the wait has ended, the rest dropped or sent.
    bool isWaiting() const { return m_waiting; }

private:
    qint64 pending() const;
    bool failed() const;
    void step();

    QSerialPort &m_port;
    int m_fd;
    QDeadlineTimer m_budget{QDeadlineTimer::Forever};
    QElapsedTimer m_sinceLeft;
    qint64 m_last = 0;
    qint64 m_dropped = 0;
    QEventLoop *m_loop = nullptr;
    bool m_ended = false; // the drain ended the loop, not the program's quit
    bool m_waiting = true;
};
