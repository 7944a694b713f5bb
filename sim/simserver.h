#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>

#include "simdevice.h"

class SimLine;

// The request loop: takes each frame off the line with libmodbus, lets the device at its
// address refuse what it does not hold, has libmodbus build the reply, and puts the reply on the line, with the
// faults and the pacing asked for. Over TCP the same loop runs on each master's connection in
// turn: libmodbus's RTU side reads, writes and waits on the descriptor, a socket as well as a
// terminal, so the frames and their CRC are the line's own. As a Modbus TCP gateway the loop is
// the same with libmodbus's Modbus TCP side: each request reaches the unit of its unit
// identifier, and one with no unit that answers gets the gateway's exception instead.
class SimServer
{
public:
    struct Behaviour
    {
        bool silent = false;
        int corruptEvery = 0;
        int exceptionEvery = 0;
        int delayMs = 0;
        bool wireTiming = false;
        bool verbose = false;
        // Garbage instead of silence for a master at another speed or parity.
        bool mismatchNoise = false;
        // A write that reaches this register stores it with its lowest bit flipped; -1: none.
        int misstoreRegister = -1;
        // Units that stop answering this many seconds after the start.
        std::map<quint8, double> fallSilentAt;
        // As a gateway, a unit identifier with no unit behind it gets 0x0A (no path) at once
        // instead of 0x0B (no answer) after the gateway's time-out.
        bool gatewayNoPath = false;
    };

    // How long a gateway waits for a unit before it answers 0x0B: half a second, so that a
    // search of absent addresses moves on, and well inside what masters wait for a gateway.
    static constexpr std::chrono::milliseconds kGatewayTimeout{500};

    // The devices on the line, by address.
    using Devices = std::map<quint8, SimDevice>;

    SimServer(SimLine &line, Devices &devices, const Behaviour &behaviour);
    ~SimServer();
    SimServer(const SimServer &) = delete;
    SimServer &operator=(const SimServer &) = delete;

    // Serves until `stop` is set (from a signal handler); false when the line failed.
    bool run(const std::atomic<bool> &stop);

    // One line of the log on standard error.
    static void log(const QString &text);

private:
    using Clock = std::chrono::steady_clock;

    bool waitForMaster();
    int receiveForAnotherDevice(uint8_t *request);
    void serve(const uint8_t *request, int length, Clock::time_point arrived);
    QByteArray answer(Devices::value_type &unit, const uint8_t *request, int length);
    QByteArray exception(const uint8_t *request, int code);
    // As a gateway: the exception for a unit that does not answer, after the gateway's wait.
    void answerForSilentUnit(const uint8_t *request, Clock::time_point arrived);
    // The request's unit identifier (the address on RTU), followed by its PDU.
    const uint8_t *unitAndPdu(const uint8_t *request) const;
    // Characters on the line of a frame of this many bytes: behind a gateway, with its CRC
    // and without the Modbus TCP header.
    int lineCharacters(int length) const;
    void misstore(SimDevice &device, quint16 first, quint16 count);
    template <typename Produce>
    QByteArray captured(Produce produce);
    void skipFrame(int received);
    void ignoreMisheardFrame();
    void discardUntilQuiet();
    void send(const QByteArray &reply);
    // False when a stop was asked for before `deadline`.
    bool waitUntil(Clock::time_point deadline) const;
    void trace(const char *direction, const QByteArray &bytes, const QString &comment = {}) const;

    SimLine &m_line;
    Devices &m_devices;
    Behaviour m_behaviour;
    const std::atomic<bool> *m_stop = nullptr;
    Clock::time_point m_started = Clock::now();
    long long m_replies = 0;
    QRandomGenerator m_noise{20261208}; // the same garbage on every run
    // libmodbus writes its replies into the first socket; they are taken from the second,
    // so that a fault can be laid on them before they reach the line.
    std::array<int, 2> m_capture{-1, -1};
};
