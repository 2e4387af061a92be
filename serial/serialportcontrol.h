#pragma once

#include "serial/linesettings.h"
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

    bool portOpen() const { return m_port.isOpen() && !m_failed; }
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

    // Why the port was last closed under us; empty while nothing failed.
    QString lastError() const { return m_lastError; }

    // After a close: bytes queued for sending that the device did not take in time, and the
    // message that tells the user so (empty when nothing was dropped).
    qint64 droppedOnClose() const { return m_dropped; }
    QString closeNote() const;

signals:
    void OnComm();

private:
    void open();
    void close();
    void portReadyRead();
    void readBatch();
    void pace(qint64 bytes);
    bool setReading(bool on);
    void portErrorOccurred(QSerialPort::SerialPortError error);
    void deviceLost();
    void tryReconnect();
    QString portLabel() const;
    int bitsPerByte() const;

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
    qint64 m_dropped = 0;
    PortDrain *m_drain = nullptr; // while a close waits for the device
    qint64 m_openBaud = 0;
    int m_openBitsPerByte = 10;
};
