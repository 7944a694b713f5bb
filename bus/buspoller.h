#pragma once

#include <QList>
#include <QObject>
#include <QSet>
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
// While some unit answers, the retries of silent units together take at most this share of the
// line's time, so that the units that answer keep their pace. Ten empty addresses, each retry
// waiting out its time-out of about 105 ms at 19200 baud: backed off alone, the ten fall due
// together a second after they fell silent and hold the line for a whole second, again two
// seconds later, and so on. A tenth would be the most they may take; at a tenth, twenty units
// among them would give 90 % of their readings at best, and the budget, spent a whole retry
// at a time, would leave them under it half the time. At a twentieth they give 95 %, and each
// empty address is still tried every 21 s (ten retries of 105 ms in 5 % of the line).
inline constexpr int kRetryBudgetPercent = 5;

// Whose turn it is. The units go in the order given, round and round; a silent unit keeps its
// place but is skipped until its retry comes due and, while some unit answers, the retries'
// budget has room for it. Times are the caller's clock in ms; the line's time is that of the
// polls made while some unit answers, the waits of a line where none does not counted.
class RoundRobin
{
public:
    void setAddresses(const QList<quint8> &addresses);
    QList<quint8> addresses() const;
    // Taken for silent before its first turn (it did not answer just before), due at once.
    void setSilent(quint8 address);

    // The unit to poll now, the turn passing on to the one after it; none while every unit is
    // silent and none of their retries is due or fits the budget.
    std::optional<quint8> next(qint64 nowMs);
    // The poll of address that next() gave has ended, with an answer or without.
    void answered(quint8 address, qint64 nowMs);
    void missed(quint8 address, qint64 nowMs);
    bool isSilent(quint8 address) const;
    // When the earliest silent unit is due again; none while some unit answers.
    std::optional<qint64> nextDueMs() const;
    // The line's time taken by retries of silent units while some unit answered, so far.
    qint64 retryMs() const { return m_retryMs; }

private:
    struct Turn
    {
        quint8 address = 0;
        int misses = 0;
        qint64 retryAtMs = 0;
        std::optional<qint64> startedMs; // its poll under way
        bool retrying = false;           // that poll is a retry of a silent unit
    };
    static bool silent(const Turn &turn) { return turn.misses >= kMissesBeforeSilent; }
    Turn *find(quint8 address);
    void ended(Turn &turn, qint64 nowMs);
    bool someAnswer() const;
    bool retryFits() const;

    QList<Turn> m_turns;
    qsizetype m_next = 0;
    qint64 m_lineMs = 0;
    qint64 m_retryMs = 0;
    qint64 m_lastRetryCostMs = 0;
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

// The registers of a unit's poll in one read: from the first of its values to the end of the
// last, with whatever lies between (0x0000-0x0009: the reading, two more values, the flag
// words, the display text).
struct RegisterSpan
{
    quint16 first = 0;
    quint16 count = 0;
};
RegisterSpan polledRegisters();

struct Poll;

// Polls the units of one line through one session, one unit's poll after another: its number,
// self-diagnostic and EEPROM words and display text, registers 0x0000-0x0009, in one read. The
// units go back to back, at the line's own pace: at 19200 baud that read is 33 characters,
// 18.9 ms on the wire, so thirty units go round in about 0.57 s plus the units' turnaround,
// where four reads a unit took 66 characters, 1.2 s a round. A unit that refuses the one read
// (an exception, or a reply that is not one to it) is read from then on as four, each read
// once the one before is answered; a unit that does not answer is silent, not refusing. Its
// requests are its own: stop() forgets the one under way.
class Poller : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<qint64()>;

    explicit Poller(Session &session, QObject *parent = nullptr);
    ~Poller() override;

    // A unit given as silent starts so: it is retried within the retries' budget.
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
    void readTogether(std::shared_ptr<Poll> poll);
    void readNext(std::shared_ptr<Poll> poll);
    void pollDone(const Poll &poll);
    int rowOf(quint8 address) const;

    Session &m_session;
    RoundRobin m_turns;
    QList<Unit> m_units;
    QSet<quint8> m_readApart; // the units that refused the one read
    Clock m_clock;
    QTimer *m_timer;
    bool m_running = false;
};

} // namespace Bus
