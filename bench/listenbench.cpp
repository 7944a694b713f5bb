// The listener against a recorded line whose every frame is known: 10 000 exchanges of a master
// with five units at 115200 baud, reads and writes of the catalogue's parameters, some answered
// with an exception and some not at all. The line is generated with a fixed seed and delivered
// three ways: whole; in random pieces with random gaps, zero included, as USB adapters hand
// bytes over; and so, with 1 % of its bytes corrupted.
//
// Judged: with no noise, every frame recovered and every exchange paired, in every delivery;
// with noise, at least 99 % of the frames that no corruption touched, and no frame that was not
// on the line. Measured: the listener's CPU time per second of the line at full load (bytes
// back to back would be more than this line carries; its time counts its bytes alone).
//
// Usage: indicator-listen-bench [EXCHANGES]   (10000)
#include "catalogue.h"
#include "linelistener.h"
#include "linesettings.h"
#include "rtuframe.h"

#include <QList>

#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

namespace {

constexpr quint32 kBaud = 115200;
constexpr int kDefaultExchanges = 10000;
constexpr int kUnits = 5;
constexpr unsigned kSeed = 20261209;
constexpr double kNoiseShare = 0.01;
constexpr double kRecoveredTarget = 0.99;
constexpr double kCpuTarget = 0.05;
// 11 bits a character at 115200 baud.
constexpr double kCharacterUs = 1e6 * LineSettings::bitsPerCharacter / kBaud;
// The master's pace, the units' turnaround and how long the master waits for a silent unit.
constexpr int kTurnaroundUs[] = {300, 3000};
constexpr int kPauseUs[] = {200, 2000};
constexpr int kMasterTimeoutUs = 100'000;
// A USB adapter's pieces and the delay before each is handed over.
constexpr int kLargestPiece = 64;
constexpr int kLongestDelayUs = 20'000;

struct TruthFrame
{
    QByteArray bytes;
    bool request;
    bool corrupted = false;
};

struct Line
{
    QByteArray bytes;
    std::vector<qint64> timesUs; // when each byte has arrived on the line
    std::vector<TruthFrame> frames;
    int exchanges = 0; // requests with a reply
    int silent = 0;    // requests without one
};

class Generator
{
public:
    explicit Generator(unsigned seed) : m_random(seed) {}

    Line line(int exchanges)
    {
        Line line;
        for (int k = 0; k < exchanges; ++k)
            exchange(line);
        return line;
    }

private:
    int uniform(int lowest, int highest) { return std::uniform_int_distribution<int>(lowest, highest)(m_random); }

    void put(Line &line, const QByteArray &frame, bool request, qint64 gapUs)
    {
        m_nowUs += gapUs;
        for (char byte : frame) {
            m_nowUs += qint64(kCharacterUs);
            line.bytes.append(byte);
            line.timesUs.push_back(m_nowUs);
        }
        line.frames.push_back({frame, request});
    }

    void exchange(Line &line)
    {
        const QList<Catalogue::Parameter> &parameters = Catalogue::parameters();
        const Catalogue::Parameter &parameter = parameters[uniform(0, int(parameters.size()) - 1)];
        const quint8 unit = quint8(uniform(1, kUnits));
        const quint16 count = quint16(parameter.registerCount());
        const bool write = parameter.writable && uniform(0, 3) == 0;
        std::vector<quint16> values(count);
        for (quint16 &value : values)
            value = quint16(uniform(0, 0xFFFF));
        const QByteArray request = write ? Rtu::writeRequest(unit, parameter.firstRegister(), count, values.data())
                                         : Rtu::readRequest(unit, parameter.firstRegister(), count);
        put(line, request, true, uniform(kPauseUs[0], kPauseUs[1]));
        const int fate = uniform(0, 99);
        if (fate < 2) { // a unit that keeps silent: the master waits its time-out
            ++line.silent;
            m_nowUs += kMasterTimeoutUs;
            return;
        }
        ++line.exchanges;
        put(line, fate < 5 ? exceptionReply(unit, request) : reply(unit, request, write, values), false,
            uniform(kTurnaroundUs[0], kTurnaroundUs[1]));
    }

    QByteArray exceptionReply(quint8 unit, const QByteArray &request)
    {
        QByteArray frame;
        frame.append(char(unit)).append(char(quint8(request[1]) | Rtu::exceptionFlag)).append(char(uniform(1, 4)));
        Rtu::appendCrc(frame);
        return frame;
    }

    static QByteArray reply(quint8 unit, const QByteArray &request, bool write, const std::vector<quint16> &values)
    {
        QByteArray frame = request.first(write ? 6 : 2);
        if (!write) {
            frame[0] = char(unit);
            frame.append(char(2 * values.size()));
            for (quint16 value : values)
                frame.append(char(value >> 8)).append(char(value & 0xFF));
        }
        Rtu::appendCrc(frame);
        return frame;
    }

    std::mt19937 m_random;
    qint64 m_nowUs = 0;
};

// Changes 1 % of the bytes, each to another value, and marks the frames they fall in.
void corrupt(Line &line, unsigned seed)
{
    std::mt19937 random(seed);
    std::bernoulli_distribution hit(kNoiseShare);
    std::uniform_int_distribution<int> change(1, 255);
    qsizetype at = 0;
    for (TruthFrame &frame : line.frames) {
        for (qsizetype k = 0; k < frame.bytes.size(); ++k, ++at) {
            if (!hit(random))
                continue;
            line.bytes[at] = char(quint8(line.bytes[at]) ^ quint8(change(random)));
            frame.corrupted = true;
        }
    }
}

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

struct Heard
{
    QList<LineListener::Record> records;
    QList<LineListener::Event> events;
    double cpuS = 0;
};

// Whole: one piece when the last byte has arrived. Otherwise pieces of 1..64 bytes, each
// handed over 0..20 ms after its last byte, never before the piece before it.
Heard listen(const Line &line, bool whole, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pieceSize(1, kLargestPiece);
    std::uniform_int_distribution<int> delay(0, kLongestDelayUs);
    LineListener listener(kBaud);
    Heard heard;
    const double started = cpuSeconds();
    qint64 handedUs = 0;
    for (qsizetype at = 0; at < line.bytes.size();) {
        const qsizetype size = whole ? line.bytes.size() : std::min<qsizetype>(pieceSize(random), line.bytes.size() - at);
        handedUs = std::max(handedUs, line.timesUs[std::size_t(at + size - 1)] + (whole ? 0 : delay(random)));
        listener.feed(QByteArrayView(line.bytes).sliced(at, size), handedUs);
        at += size;
        heard.records += listener.takeRecords();
        heard.events += listener.takeEvents();
    }
    listener.finish();
    heard.cpuS = cpuSeconds() - started;
    heard.records += listener.takeRecords();
    heard.events += listener.takeEvents();
    return heard;
}

struct Score
{
    int cleanFrames = 0;
    int recovered = 0;
    int invented = 0;
    int cleanPairs = 0;
    int paired = 0;
};

// Frames in the order heard against the frames in the order sent: each frame heard is the next
// one sent with its bytes, or it was invented.
Score score(const Line &line, const Heard &heard)
{
    Score score;
    for (const TruthFrame &frame : line.frames)
        score.cleanFrames += frame.corrupted ? 0 : 1;
    std::size_t next = 0;
    for (const LineListener::Record &record : heard.records) {
        if (record.direction == LineListener::Direction::Unframed)
            continue;
        std::size_t found = next;
        while (found < line.frames.size() && (line.frames[found].corrupted || line.frames[found].bytes != record.bytes))
            ++found;
        const bool request = record.direction == LineListener::Direction::Request;
        if (found == line.frames.size() || line.frames[found].request != request) {
            ++score.invented;
            continue;
        }
        ++score.recovered;
        next = found + 1;
    }
    // Exchanges whose request and reply both came through clean, and the pairs heard of them.
    std::size_t pair = 0;
    for (std::size_t k = 0; k + 1 < line.frames.size(); ++k) {
        const TruthFrame &request = line.frames[k];
        const TruthFrame &reply = line.frames[k + 1];
        if (!request.request || reply.request || request.corrupted || reply.corrupted)
            continue;
        ++score.cleanPairs;
        while (pair < std::size_t(heard.events.size())
               && !(heard.events[qsizetype(pair)].kind == LineListener::EventKind::Exchange
                    && heard.events[qsizetype(pair)].request == request.bytes
                    && heard.events[qsizetype(pair)].reply == reply.bytes))
            ++pair;
        if (pair < std::size_t(heard.events.size())) {
            ++score.paired;
            ++pair;
        }
    }
    return score;
}

bool report(const char *delivery, const Line &line, const Heard &heard, bool noisy)
{
    const Score s = score(line, heard);
    const double recovered = double(s.recovered) / s.cleanFrames;
    const double paired = double(s.paired) / s.cleanPairs;
    const bool pass = s.invented == 0 && (noisy ? recovered >= kRecoveredTarget && paired >= kRecoveredTarget
                                                : s.recovered == s.cleanFrames && s.paired == s.cleanPairs);
    std::printf("%-24s clean frames %6d, recovered %6d (%.3f %%), pairs %6d of %6d (%.3f %%), invented %d: %s\n",
                delivery, s.cleanFrames, s.recovered, 100 * recovered, s.paired, s.cleanPairs, 100 * paired,
                s.invented, pass ? "PASS" : "FAIL");
    return pass;
}

} // namespace

int main(int argc, char *argv[])
{
    const int exchanges = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultExchanges;
    Line line = Generator(kSeed).line(exchanges);
    std::printf("%d exchanges among %d units at %u baud: %lld bytes, %d answered, %d silent\n", exchanges, kUnits,
                kBaud, qint64(line.bytes.size()), line.exchanges, line.silent);

    bool pass = report("whole", line, listen(line, true, kSeed), false);
    const Heard pieces = listen(line, false, kSeed);
    pass = report("random pieces and gaps", line, pieces, false) && pass;
    corrupt(line, kSeed);
    pass = report("1 % of bytes corrupted", line, listen(line, false, kSeed), true) && pass;

    const double lineS = double(line.bytes.size()) * kCharacterUs / 1e6;
    const double share = pieces.cpuS / lineS;
    std::printf("CPU: %.1f ms for %.2f s of line at full load: %.3f %% of a core (target under %.0f %%)\n",
                1000 * pieces.cpuS, lineS, 100 * share, 100 * kCpuTarget);
    return pass ? 0 : 1;
}
