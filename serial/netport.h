#pragma once

#include "serial/linesettings.h"
#include "serial/telnetcodec.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

// A serial port on another machine: rfc2217://HOST:PORT (Telnet with the COM-PORT-OPTION, as
// ser2net serves it) or tcp://HOST:PORT (raw bytes). It only ever connects out.
class NetPort : public QObject
{
    Q_OBJECT

public:
    // The longest an open may keep the window waiting.
    static constexpr int OpenLimitMs = 3000;

    explicit NetPort(QObject *parent = nullptr);

    // Whether the device name is a network port's URL.
    static bool isNetwork(const QString &name);
    // Connects and disconnects at once, sending nothing: empty when a connection was made
    // within limitMs, else why not.
    static QString reach(const QString &url, int limitMs);

    // Starts a connection without waiting for it (a server away may keep it waiting for
    // seconds): reached() says when it is made, and the next open of the URL takes it over. A
    // try already under way is kept for the open's limit.
    void connectLater(const QString &url);
    bool isReached(const QString &url) const;

    // Connects and, for RFC 2217, sets the line; throws Failure naming the URL.
    void open(const QString &url, const LineSettings &settings);
    bool isOpen() const { return m_open; }
    // Sends what is queued, waiting at most boundMs, and closes; returns the bytes dropped.
    qint64 close(qint64 boundMs);
    // Closes at once, dropping what is queued.
    void abort();

    void write(QByteArrayView bytes);
    QByteArray readAll();
    qint64 bytesAvailable() const { return m_received.size(); }
    qint64 bytesToWrite() const { return m_socket.bytesToWrite(); }

    // RFC 2217 carries DTR, RTS and break (SET-CONTROL); a raw port cannot.
    bool carriesLineControl() const { return m_open && m_telnet; }
    // Sends a SET-CONTROL value at once, behind what is queued; the answer is not awaited.
    void setControl(unsigned char value);
    const telnet::FarLine &farLine() const { return m_farLine; }

signals:
    void readyRead();
    // The connection ended or failed under us; once per open.
    void lost();
    // The server reported other modem inputs, or another DTR or RTS.
    void lineChanged();
    // A connection asked for by connectLater was made.
    void reached();

private:
    void socketReadyRead();
    void socketGone();
    void gathered();
    void take(QByteArrayView bytes);
    void fail(const QString &why);

    QTcpSocket m_socket;
    QTimer m_gather;
    QString m_url;
    QString m_pending; // the URL that connectLater connects to
    QElapsedTimer m_pendingSince;
    bool m_telnet = false;
    bool m_open = false;
    bool m_gone = false;
    telnet::Decoder m_decoder;
    telnet::Negotiator m_negotiator;
    telnet::FarLine m_farLine;
    QByteArray m_received;
    QList<telnet::ComPortReply> m_replies; // gathered during the open
};
