#pragma once

#include "transport.h"

#include <QSerialPort>

#include <memory>

// A serial port: a USB-RS485 adapter, a built-in port, a pseudo-terminal.
class SerialTransport final : public Transport
{
public:
    struct Line
    {
        qint32 baud = 19200;
        QSerialPort::Parity parity = QSerialPort::NoParity;
        QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    };

    SerialTransport(const QString &path, const Line &line);
    ~SerialTransport() override;

    OpenFailure open(QString *systemText) override;
    void close() override;
    bool isOpen() const override;
    bool lost() const override;

    bool write(const QByteArray &bytes, qint64 timeoutMs) override;
    bool waitForBytes(int ms) override;
    QByteArray read(qint64 maxBytes) override;
    void discardInput(QByteArray *discarded) override;

private:
    OpenFailure failureOf(const QSerialPort &port) const;

    QString m_path;
    Line m_line;
    std::unique_ptr<QSerialPort> m_port; // null until open succeeds
    bool m_closedByOwner = false;
};
