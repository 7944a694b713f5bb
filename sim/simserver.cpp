#include "simserver.h"

#include "simdevice.h"
#include "simline.h"

#include <QTime>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// How often the loop looks at the stop flag when no signal interrupts it.
constexpr int kStopCheckMs = 100;
constexpr int kWriteWaitMs = 100;

constexpr int kCrcSize = 2;
constexpr int kFunctionOffset = 1;
constexpr int kFirstRegisterOffset = 2;
constexpr int kCountOffset = 4;
constexpr int kByteCountOffset = 6;
constexpr int kValuesOffset = 7;

// What a master at another speed or parity gets with --mismatch-noise: as many bytes as a
// one-register reply, none of them a frame.
constexpr int kNoiseBytes = 7;

quint16 bigEndianAt(const uint8_t *bytes, int offset) { return quint16(bytes[offset] << 8 | bytes[offset + 1]); }

QString hex(const QByteArray &bytes) { return QString::fromLatin1(bytes.toHex(' ')); }

} // namespace

SimServer::SimServer(SimLine &line, Devices &devices, const Behaviour &behaviour)
    : m_line(line), m_devices(devices), m_behaviour(behaviour)
{
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_capture.data()) == 0)
        fcntl(m_capture[1], F_SETFL, O_NONBLOCK);
    else
        log(QStringLiteral("no socket pair for the replies: %1").arg(QString::fromLocal8Bit(strerror(errno))));
}

SimServer::~SimServer()
{
    for (int fd : m_capture) {
        if (fd >= 0)
            ::close(fd);
    }
}

void SimServer::log(const QString &text)
{
    const QByteArray line = QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz ")).toLocal8Bit()
                            + text.toLocal8Bit() + '\n';
    fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

void SimServer::trace(const char *direction, const QByteArray &bytes, const QString &comment) const
{
    if (m_behaviour.verbose)
        log(QStringLiteral("%1 %2%3").arg(QLatin1StringView(direction), hex(bytes),
                                          comment.isEmpty() ? QString() : QStringLiteral("  (%1)").arg(comment)));
}

bool SimServer::run(const std::atomic<bool> &stop)
{
    m_stop = &stop;
    if (m_capture[0] < 0)
        return false;
    const bool overTcp = m_line.listener() >= 0;
    // A master that closes its end of the connection: POLLRDHUP, where a terminal hangs up.
    const short events = overTcp ? short(POLLIN | POLLRDHUP) : short(POLLIN);
    // As large as a Modbus TCP request, which libmodbus's gateway side reads as well.
    std::array<uint8_t, MODBUS_MAX_ADU_LENGTH> request{};
    while (!stop) {
        if (overTcp && m_line.descriptor() < 0) {
            if (!waitForMaster())
                return false;
            continue;
        }
        pollfd line{m_line.descriptor(), events, 0};
        const int ready = poll(&line, 1, kStopCheckMs);
        if (ready < 0 && errno != EINTR) {
            log(QStringLiteral("the line failed: %1").arg(QString::fromLocal8Bit(strerror(errno))));
            return false;
        }
        if (ready <= 0)
            continue;
        if (line.revents & (POLLERR | POLLHUP | POLLNVAL | POLLRDHUP)) {
            if (overTcp) {
                m_line.dropMaster();
                log(QStringLiteral("the master has disconnected"));
                continue;
            }
            log(QStringLiteral("the line has gone away"));
            return false;
        }
        if (!m_line.hearsMaster()) {
            ignoreMisheardFrame();
            continue;
        }
        const Clock::time_point arrived = Clock::now();
        int length = modbus_receive(m_line.modbus(), request.data());
        if (length == 0 && !m_line.isGateway() && m_devices.count(request[0]))
            length = receiveForAnotherDevice(request.data());
        if (length > 0)
            serve(request.data(), length, arrived);
        else
            skipFrame(length);
    }
    return true;
}

// One master at a time, as one line has one: the next waits in the listener's queue until the
// one before has gone. False when the listener failed.
bool SimServer::waitForMaster()
{
    pollfd listener{m_line.listener(), POLLIN, 0};
    const int ready = poll(&listener, 1, kStopCheckMs);
    if (ready < 0 && errno != EINTR) {
        log(QStringLiteral("the listener failed: %1").arg(QString::fromLocal8Bit(strerror(errno))));
        return false;
    }
    if (ready > 0 && m_line.takeMaster())
        log(QStringLiteral("a master has connected"));
    return true;
}

// libmodbus's RTU server hears one slave address: it reads a whole request to any other and
// returns 0, the request still in `request` (MODBUS_RTU_MAX_ADU_LENGTH bytes). A request to
// another device on this line is handed to libmodbus again through the capture pair, now as
// that slave's, so that libmodbus checks it and its CRC as any other: its length, or -1.
int SimServer::receiveForAnotherDevice(uint8_t *request)
{
    modbus_t *modbus = m_line.modbus();
    modbus_set_socket(modbus, m_capture[0]);
    // libmodbus takes the next frame for the reply of the slave it did not hear; on the empty
    // pair that wait lapses at once.
    std::array<uint8_t, MODBUS_RTU_MAX_ADU_LENGTH> lapsed{};
    modbus_receive(modbus, lapsed.data());
    modbus_set_slave(modbus, request[0]);
    // The whole buffer: libmodbus reads as many bytes as the frame's header says, as it did
    // from the line, and what is left over is thrown away.
    int length = -1;
    if (::write(m_capture[1], request, MODBUS_RTU_MAX_ADU_LENGTH) == MODBUS_RTU_MAX_ADU_LENGTH)
        length = modbus_receive(modbus, request);
    char leftover[MODBUS_RTU_MAX_ADU_LENGTH];
    while (recv(m_capture[0], leftover, sizeof leftover, MSG_DONTWAIT) > 0) {
    }
    modbus_set_socket(modbus, m_line.descriptor());
    return length;
}

// A frame that is not a request to a device on this line: garbage, a cut-off frame, a wrong
// CRC, or a request to another slave. What follows it up to the next silence belongs to it.
void SimServer::skipFrame(int received)
{
    const int reason = errno;
    trace("<-", {}, received == 0 ? QStringLiteral("a request to another slave: ignored")
                                  : QStringLiteral("not a request: %1").arg(modbus_strerror(reason)));
    discardUntilQuiet();
    // After a request to another slave libmodbus takes the next frame for that slave's
    // reply and drops it; on a line with no such slave that would be the master's next
    // request. Let libmodbus's wait for that reply lapse now, on a quiet line.
    if (received == 0) {
        std::array<uint8_t, MODBUS_RTU_MAX_ADU_LENGTH> lapsed{};
        modbus_receive(m_line.modbus(), lapsed.data());
    }
}

// A device at another speed or parity than the master's takes the request for noise and
// keeps quiet, or its line driver echoes garbage back.
void SimServer::ignoreMisheardFrame()
{
    discardUntilQuiet();
    if (!m_behaviour.mismatchNoise) {
        trace("<-", {}, QStringLiteral("master at another speed or parity: no reply"));
        return;
    }
    QByteArray noise(kNoiseBytes, Qt::Uninitialized);
    for (char &byte : noise)
        byte = char(m_noise.bounded(256));
    send(noise);
    trace("->", noise, QStringLiteral("master at another speed or parity: noise"));
}

void SimServer::discardUntilQuiet()
{
    const int gapMs = int(std::chrono::ceil<std::chrono::milliseconds>(m_line.frameGap()).count());
    char discarded[256];
    pollfd line{m_line.descriptor(), POLLIN, 0};
    while (!*m_stop && poll(&line, 1, gapMs) > 0 && (line.revents & POLLIN)) {
        if (::read(m_line.descriptor(), discarded, sizeof discarded) <= 0)
            return;
    }
}

const uint8_t *SimServer::unitAndPdu(const uint8_t *request) const
{
    return request + modbus_get_header_length(m_line.modbus()) - 1;
}

int SimServer::lineCharacters(int length) const
{
    if (!m_line.isGateway())
        return length;
    return length - (modbus_get_header_length(m_line.modbus()) - 1) + kCrcSize;
}

void SimServer::serve(const uint8_t *request, int length, Clock::time_point arrived)
{
    trace("<-", QByteArray(reinterpret_cast<const char *>(request), length));
    // On a real line the request has only now finished arriving.
    if (m_behaviour.wireTiming && !waitUntil(arrived + lineCharacters(length) * m_line.characterTime()))
        return;
    const quint8 address = unitAndPdu(request)[0];
    if (m_behaviour.silent) {
        trace("  ", {}, QStringLiteral("silent: no reply"));
        answerForSilentUnit(request, arrived);
        return;
    }
    if (address == MODBUS_BROADCAST_ADDRESS) {
        // Every device carries it out, and none answers.
        for (Devices::value_type &unit : m_devices)
            answer(unit, request, length);
        return;
    }

    // libmodbus listens to one address of this line at a time, so there is always a device on
    // the line; a gateway hears every unit identifier.
    const auto unit = m_devices.find(address);
    if (unit == m_devices.end()) {
        if (!m_line.isGateway())
            return;
        if (m_behaviour.gatewayNoPath) {
            const QByteArray reply = exception(request, MODBUS_EXCEPTION_GATEWAY_PATH);
            send(reply);
            trace("->", reply, QStringLiteral("no unit %1: no path").arg(address));
            return;
        }
        trace("  ", {}, QStringLiteral("no unit %1").arg(address));
        answerForSilentUnit(request, arrived);
        return;
    }
    if (const auto falls = m_behaviour.fallSilentAt.find(unit->first); falls != m_behaviour.fallSilentAt.end()
        && std::chrono::duration<double>(Clock::now() - m_started).count() >= falls->second) {
        trace("  ", {}, QStringLiteral("slave %1 fell silent: no reply").arg(unit->first));
        answerForSilentUnit(request, arrived);
        return;
    }
    ++m_replies;
    QString fault;
    QByteArray reply;
    if (m_behaviour.exceptionEvery > 0 && m_replies % m_behaviour.exceptionEvery == 0) {
        reply = exception(request, MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE);
        fault = QStringLiteral("exception on purpose");
    } else {
        reply = answer(*unit, request, length);
    }
    if (m_behaviour.corruptEvery > 0 && m_replies % m_behaviour.corruptEvery == 0 && !reply.isEmpty()) {
        reply.back() = char(reply.back() ^ 0xFF);
        fault = QStringLiteral("CRC spoilt on purpose");
    }
    if (m_behaviour.delayMs > 0 && !waitUntil(Clock::now() + std::chrono::milliseconds(m_behaviour.delayMs)))
        return;
    send(reply);
    trace("->", reply, fault);
}

// A line has no answer for a silent unit; a gateway has one, once it has waited for the unit.
void SimServer::answerForSilentUnit(const uint8_t *request, Clock::time_point arrived)
{
    if (!m_line.isGateway() || !waitUntil(arrived + kGatewayTimeout))
        return;
    const QByteArray reply = exception(request, MODBUS_EXCEPTION_GATEWAY_TARGET);
    send(reply);
    trace("->", reply, QStringLiteral("the unit did not answer the gateway"));
}

QByteArray SimServer::answer(Devices::value_type &unit, const uint8_t *whole, int length)
{
    auto &[address, device] = unit;
    const uint8_t *request = unitAndPdu(whole);
    const int function = request[kFunctionOffset];
    const quint16 first = bigEndianAt(request, kFirstRegisterOffset);
    const quint16 count = bigEndianAt(request, kCountOffset);
    // Counts that Modbus itself forbids are libmodbus's to refuse (illegal data value); the
    // device refuses registers it does not hold, and values it does not accept.
    const bool readCountValid = count >= 1 && count <= MODBUS_MAX_READ_REGISTERS;
    const bool writeCountValid = count >= 1 && count <= MODBUS_MAX_WRITE_REGISTERS
                                 && request[kByteCountOffset] == 2 * count;

    if (function == MODBUS_FC_READ_HOLDING_REGISTERS) {
        if (const quint8 refusal = readCountValid ? device.refuseRead(first, count) : 0)
            return exception(whole, refusal);
        device.updateLive(std::chrono::duration<double>(Clock::now() - m_started).count());
    } else if (function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
        std::vector<quint16> values;
        for (int k = 0; writeCountValid && k < count; ++k)
            values.push_back(bigEndianAt(request, kValuesOffset + 2 * k));
        if (const quint8 refusal = writeCountValid ? device.refuseWrite(first, values) : 0)
            return exception(whole, refusal);
    } else {
        return exception(whole, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
    }

    // libmodbus reads from and stores into the device's own registers.
    modbus_mapping_t registers{};
    registers.nb_registers = device.registerCount();
    registers.tab_registers = device.registers();
    const QByteArray reply = captured([&] { modbus_reply(m_line.modbus(), whole, length, &registers); });
    if (function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS && writeCountValid) {
        // With several devices on the line, the log says whose settings these are.
        const QString whose = m_devices.size() > 1 ? QStringLiteral("slave %1: ").arg(address) : QString();
        for (const QString &line : device.describeWrite(first, count))
            log(whose + line);
        misstore(device, first, count);
    }
    return reply;
}

// The reply still echoes the write as accepted: only a read-back shows the fault.
void SimServer::misstore(SimDevice &device, quint16 first, quint16 count)
{
    const int target = m_behaviour.misstoreRegister;
    if (target < first || target >= first + count)
        return;
    device.registers()[target] ^= 1;
    log(QStringLiteral("register 0x%1 stored with its lowest bit flipped on purpose")
            .arg(target, 4, 16, QLatin1Char('0')));
}

QByteArray SimServer::exception(const uint8_t *request, int code)
{
    return captured([&] { modbus_reply_exception(m_line.modbus(), request, unsigned(code)); });
}

template <typename Produce>
QByteArray SimServer::captured(Produce produce)
{
    modbus_set_socket(m_line.modbus(), m_capture[0]);
    produce();
    modbus_set_socket(m_line.modbus(), m_line.descriptor());

    QByteArray reply;
    char buffer[MODBUS_RTU_MAX_ADU_LENGTH];
    ssize_t n;
    while ((n = ::read(m_capture[1], buffer, sizeof buffer)) > 0)
        reply.append(buffer, n);
    return reply;
}

// A gateway passes a reply on once the whole of it has come off its line.
void SimServer::send(const QByteArray &reply)
{
    const int fd = m_line.descriptor();
    const Clock::time_point start = Clock::now();
    if (m_behaviour.wireTiming && m_line.isGateway()
        && !waitUntil(start + lineCharacters(int(reply.size())) * m_line.characterTime()))
        return;
    qsizetype sent = 0;
    while (sent < reply.size()) {
        // Paced, each character is handed over once it would have crossed the line.
        qsizetype chunk = reply.size() - sent;
        if (m_behaviour.wireTiming && !m_line.isGateway()) {
            if (!waitUntil(start + (sent + 1) * m_line.characterTime()))
                return;
            chunk = 1;
        }
        const ssize_t n = ::write(fd, reply.constData() + sent, size_t(chunk));
        if (n > 0) {
            sent += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd line{fd, POLLOUT, 0};
            poll(&line, 1, kWriteWaitMs);
        } else {
            log(QStringLiteral("reply not sent: %1").arg(QString::fromLocal8Bit(strerror(errno))));
            return;
        }
    }
}

bool SimServer::waitUntil(Clock::time_point deadline) const
{
    const auto sinceEpoch = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch());
    timespec due{};
    due.tv_sec = time_t(sinceEpoch.count() / 1000000000);
    due.tv_nsec = long(sinceEpoch.count() % 1000000000);
    // steady_clock is CLOCK_MONOTONIC; a signal wakes the sleep early.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
        if (*m_stop)
            return false;
    }
    return !*m_stop;
}
