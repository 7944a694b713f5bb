#pragma once

#include "linetap.h"

#include <QString>

#include <array>
#include <memory>
#include <thread>

// Carries the line through a thread of its own, so that the tap hears every byte that crosses
// it, both ways and in line order, whatever becomes of the bytes afterwards: a request to a
// slave that is not here, garbage, a reply. The request loop reads and writes its end of a
// socket pair as it would the line itself, with libmodbus on it.
class TapRelay
{
public:
    // Starts carrying between `line`, which it then reads and writes alone, and the simulator's
    // end, feeding `tap`. Null with `error` set.
    static std::unique_ptr<TapRelay> start(int line, std::unique_ptr<LineTap> tap, QString *error);

    ~TapRelay();
    TapRelay(const TapRelay &) = delete;
    TapRelay &operator=(const TapRelay &) = delete;

    // Where the simulator reads requests and writes replies. It hangs up when the line does.
    int simulatorEnd() const { return m_pair[0]; }

private:
    TapRelay() = default;
    void run();
    bool carry(int from, int to);
    bool writeAll(int fd, const char *bytes, qsizetype size);

    int m_line = -1;
    std::array<int, 2> m_pair{-1, -1}; // the simulator's end, the relay's end
    int m_wake = -1;                   // written to end the relay
    std::unique_ptr<LineTap> m_tap;
    std::thread m_thread;
};
