#pragma once

#include <QSerialPort>
#include <QString>

// The line settings of a settings string "baud,parity,data,stop", e.g. "9600,n,8,2".
struct LineSettings
{
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    // Throws Failure naming the field that is wrong.
    static LineSettings parse(const QString &text);
};
