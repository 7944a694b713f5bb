#pragma once

#include "linesettings.h"
#include "transport.h"

// A COM port on Windows, through the system's own serial calls: overlapped reads and writes on
// a handle opened for exclusive use, the line set in the port's DCB.
class WinSerialTransport final : public Transport
{
public:
    struct Line
    {
        qint32 baud = 19200;
        LineSettings::ParityCode parity = 0;
        LineSettings::StopBitsCode stopBits = 0;
    };

    // "COM3" opens as itself; from COM10 up the system knows the port only in the device
    // namespace, as "\\.\COM10".
    static QString deviceName(const QString &port);

    WinSerialTransport(const QString &port, const Line &line);
    ~WinSerialTransport() override;

    OpenFailure open(QString *systemText) override;
    void close() override;
    bool isOpen() const override;
    bool lost() const override;

    bool write(const QByteArray &bytes, qint64 timeoutMs) override;
    bool waitForBytes(int ms) override;
    QByteArray read(qint64 maxBytes) override;
    void discardInput(QByteArray *discarded) override;

private:
    using Handle = void *; // HANDLE, without <windows.h> in every includer

    bool configure(QString *systemText);
    enum class Queue { Input, Output };
    // The bytes waiting in the driver's queue; -1 when the port is closed or has gone.
    qint64 queued(Queue queue);
    // One overlapped transfer, waited for at most ms; -1 when it failed.
    qint64 transfer(bool reading, char *data, qint64 size, int ms);
    void markLost();

    QString m_port;
    Line m_line;
    Handle m_handle = nullptr; // INVALID_HANDLE_VALUE is never kept: null while closed
    Handle m_event = nullptr;  // the overlapped operations' completion event
    QByteArray m_received;     // bytes a wait took in, not yet read
    bool m_lost = false;
};
