#pragma once

#include "transport.h"

#include <QElapsedTimer>
#include <QString>

#include <memory>

class LineListener;
struct LineSetup;

// A port opened only to hear the line: what arrives goes to a listener with the time it
// arrived. Nothing here writes to the pipe, so a listener never becomes a second master.
class ListenPort
{
public:
    explicit ListenPort(std::unique_ptr<Transport> transport);
    // The pipe of the line's settings, or none for a setting the tables lack.
    static std::unique_ptr<ListenPort> forLine(const LineSetup &line);

    // Empty when the port is open; otherwise why not, in the user's words.
    QString open();
    void close();
    bool lost() const;

    // Waits up to waitMs for bytes and hands what has arrived to the listener, or tells it
    // that the line was quiet; then lets lost() see a device that went away.
    void poll(int waitMs, LineListener &listener);

    // Microseconds since 1970 in UTC, steady from the opening on.
    qint64 nowUs() const;

private:
    std::unique_ptr<Transport> m_transport;
    QString m_portName;
    qint64 m_openedUs = 0;
    QElapsedTimer m_sinceOpened;
};
