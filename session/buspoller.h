#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

class QTimer;
class Session;

// Many units on one line, polled one after another: never two exchanges at once, and never a
// storm of requests that a unit which stopped answering would turn into a queue of time-outs.
namespace Bus {

// Two polls without an answer in a row, and the unit is taken for silent: one missed reply
// can be noise. A silent unit is tried again after 1 s, then after 2, 4, 8 and at most 16 s,
// so that thirty units with one unplugged still go round at the pace of the twenty-nine.
inline constexpr int kMissesBeforeSilent = 2;
inline constexpr qint64 kFirstRetryMs = 1000;
inline constexpr qint64 kLongestRetryMs = 16000;

// Whose turn it is. The units go in the order given, round and round; a silent unit keeps its
// place but is skipped until its retry comes due. Times are the caller's clock in ms.
class RoundRobin
{
public:
    void setAddresses(const QList<quint8> &addresses);
    QList<quint8> addresses() const;

    // The unit to poll now, the turn passing on to the one after it; none while every unit is
    // silent and none of their retries has come due.
    std::optional<quint8> next(qint64 nowMs);
    void answered(quint8 address);
    void missed(quint8 address, qint64 nowMs);
    bool isSilent(quint8 address) const;
    // When the earliest silent unit is due again; none while some unit answers.
    std::optional<qint64> nextDueMs() const;

private:
    struct Turn
    {
        quint8 address = 0;
        int misses = 0;
        qint64 retryAtMs = 0;
    };
    static bool silent(const Turn &turn) { return turn.misses >= kMissesBeforeSilent; }
    Turn *find(quint8 address);

    QList<Turn> m_turns;
    qsizetype m_next = 0;
};

// One unit on the line: who it is (from the sweep that found it) and its last poll.
struct Unit
{
    quint8 address = 0;
    QString name;
    QString version;
    QString unit; // the display's unit of measure
    std::optional<double> value;
    QString text; // the display as the unit shows it
    std::optional<quint16> selfDiag;
    std::optional<quint16> eepromErrors;
    qint16 lastCode = 0;           // the last poll's result: its first failure, or success
    std::optional<qint64> polledAtMs;
    bool silent = false;
};

struct Poll;

// Polls the units of one line through one session, one unit's poll after another: its number,
// display text and two flag words, each read once the one before is answered. The units go back
// to back, at the line's own pace: at 19200 baud a poll is 4 exchanges of 66 characters, 38 ms
// on the wire, so thirty units go round in about 1.2 s plus the units' turnaround. Its requests
// are its own: stop() forgets the one under way.
class Poller : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<qint64()>;

    explicit Poller(Session &session, QObject *parent = nullptr);
    ~Poller() override;

    void setUnits(const QList<Unit> &units);
    const QList<Unit> &units() const { return m_units; }
    // The clock the back-off counts by; a steady one unless a test gives its own.
    void setClock(Clock clock);
    qint64 now() const { return m_clock(); }

    void start();
    void stop();
    bool isRunning() const { return m_running; }


signals:
    void unitPolled(int row);

private:
    // One unit's poll, the one whose turn it is; false when no unit was due.
    bool pollNext();
    void step();
    void readNext(std::shared_ptr<Poll> poll);
    void pollDone(const Poll &poll);
    int rowOf(quint8 address) const;

    Session &m_session;
    RoundRobin m_turns;
    QList<Unit> m_units;
    Clock m_clock;
    QTimer *m_timer;
    bool m_running = false;
};

} // namespace Bus
