#pragma once

#include "serial/linesettings.h"
#include "serial/netport.h"
#include "serial/portdrain.h"
#include "serial/portlock.h"
#include "serial/portmap.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

// The terminal's serial port control: one port at a time, addressed by port number. Every
// refused operation throws Failure with a description; OnComm is raised whenever received
// bytes are waiting, and once more when the device fails and the port is closed under us: the
// next Input then reports the loss, once. With reconnect on, a lost device is reopened instead.
class SerialPortControl : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int CommPort READ commPort WRITE setCommPort)
    Q_PROPERTY(bool PortOpen READ portOpen WRITE setPortOpen)
    Q_PROPERTY(QString Settings READ settings WRITE setSettings)

public:
    explicit SerialPortControl(PortMap map, QObject *parent = nullptr);
    ~SerialPortControl() override;

    const PortMap &portMap() const { return m_map; }
    // Looks again at the system's devices: new ones get numbers, known ones keep theirs.
    void refreshPortMap() { m_map.refresh(); }
    // Empty while the device of the number is there, else why it is not.
    QString absence(int number) const;
    // Opens the port of the number on a port of its own and closes it again; empty when it
    // opened, else why not. The control's own port is left as it is.
    QString probe(int number) const;

    // Reopen a lost device with the same settings when its path is back, and say nothing.
    void setReconnect(bool on) { m_reconnect = on; }
    bool reconnect() const { return m_reconnect; }
    // A lost device is awaited: the port reads closed, and Close Port ends the wait.
    bool isAwaitingDevice() const { return m_reconnectTimer.isActive(); }

    int commPort() const { return m_commPort; }
    void setCommPort(int number);

    bool portOpen() const { return isLinked() && !m_failed; }
    // A close waits while the device takes what is queued, handling events meanwhile; asked to
    // close again during that wait, it drops what is left at once.
    void setPortOpen(bool open);
    // Closes as setPortOpen(false) does, but waits at most ms for the device (no limit when ms
    // is negative); a close under way is cut to that, and ends when its own wait does.
    void closeWithin(qint64 ms);
    // The port drains before it closes: it still reads open, and takes more output.
    bool isClosing() const { return m_drain != nullptr; }

    QString settings() const { return m_settingsText; }
    void setSettings(const QString &text);
    qint32 baudRate() const { return m_settings.baudRate; }

    // Output: queues the bytes for sending, in order.
    void setOutput(QByteArrayView bytes);
    // Input: every byte received and not yet read.
    QByteArray input();
    // Bytes handed to Output that the device has not taken yet.
    qint64 bytesToWrite() const;

    // Line control of the open port. A refusal throws Failure naming the line and the system's
    // reason; a device found gone is reported as lost instead, through OnComm, once.
    struct ModemLines
    {
        bool dtr = false, rts = false; // outputs
        bool cts = false, dsr = false, dcd = false, ri = false;
        bool inputsKnown = true; // a network port's server may not have said yet
        // The inputs as the menu shows them: "CTS on, DSR off, DCD off, RI off".
        QString inputsText() const;
        static QString unknownText();
    };
    // Empty while the open port has modem lines and a break, else why not.
    QString lineControlAbsence() const;
    ModemLines modemLines();
    void setDataTerminalReady(bool on);
    void setRequestToSend(bool on);
    // DTR off for ms milliseconds, then on again, by itself.
    void pulseDataTerminalReady(int ms);
    // A break of ms milliseconds; it ends by itself, and with the port.
    void sendBreak(int ms);
    bool isSendingBreak() const { return m_breakEnd.isActive(); }

    // Why the port was last closed under us; empty while nothing failed.
    QString lastError() const { return m_lastError; }

    // After a close: bytes queued for sending that the device did not take in time, and the
    // message that tells the user so (empty when nothing was dropped).
    qint64 droppedOnClose() const { return m_dropped; }
    QString closeNote() const;

signals:
    void OnComm();
    // The port opened or closed, or a pulse or break ended: line control may look different.
    void lineStateChanged();

private:
    void open();
    void openNetwork(const QString &url);
    bool isLinked() const { return m_port.isOpen() || m_net.isOpen(); }
    void close();
    void portReadyRead();
    void readBatch();
    void pace(qint64 bytes);
    bool setReading(bool on);
    void portErrorOccurred(QSerialPort::SerialPortError error);
    void deviceLost();
    void tryReconnect();
    QString portLabel() const;
    void checkLineControl();
    void setModemBits(int bits, bool on, const char *line);
    void endLineControl();
    void pulseEnded();
    void breakEnded();

    // QSerialPort wakes its read notifier whenever its buffer is read empty; between the batches
    // of a trickle the notifier must rest, or each batch costs the event loop two more wake-ups.
    class BatchedPort : public QSerialPort
    {
    public:
        using QSerialPort::QSerialPort;
        bool resting = false;

    protected:
        qint64 readData(char *data, qint64 maxSize) override
        {
            return resting ? 0 : QSerialPort::readData(data, maxSize);
        }
    };

    PortMap m_map;
    BatchedPort m_port;
    NetPort m_net; // instead of m_port for a port on another machine
    int m_commPort = 1;
    QString m_settingsText = QStringLiteral("9600,n,8,1");
    LineSettings m_settings;
    QString m_lastError;
    bool m_failed = false;
    bool m_reconnect = false;
    QTimer m_reconnectTimer;
    QTimer m_readPause; // reading rests between the batches of a trickle
    bool m_inBatch = false;
    qint64 m_batchBytes = 0; // what the last batch brought
    QElapsedTimer m_sinceRead;
    QByteArray m_salvaged; // received before the device was lost, not read yet
    QString m_lossReport;  // for the next Input, once
    PortLock m_lock;
    QString m_noLineControl = QStringLiteral("The port is not open");
    QTimer m_pulseEnd;
    QTimer m_breakEnd;
    qint64 m_dropped = 0;
    PortDrain *m_drain = nullptr; // while a close waits for the device
};
