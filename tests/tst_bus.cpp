// Many units on one line without a window: whose turn it is, how a silent unit is backed off and
// kept within the retries' budget, the poll's one read and a unit that refuses it, the bench
// test's verdicts and its end, the report's rows, and the poller against the simulator.
#include "benchreport.h"
#include "benchtest.h"
#include "blocking.h"
#include "buspoller.h"
#include "catalogue.h"
#include "resultcodes.h"
#include "session.h"
#include "support/frames.h"
#include "support/scriptedpipe.h"
#include "support/simprocess.h"

#include <QLocale>
#include <QPointF>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTextStream>

#include <cmath>

namespace {

constexpr int kPollTimeoutMs = 20000;

QList<int> turns(Bus::RoundRobin &robin, qint64 nowMs, int count)
{
    QList<int> order;
    for (int i = 0; i < count; ++i) {
        const std::optional<quint8> next = robin.next(nowMs);
        order << (next ? int(*next) : -1);
    }
    return order;
}

// Polls of unit 1 on the test's clock: a reading, or NaN for a poll it did not answer.
QList<QPointF> readingsOf(qint64 fromMs, qint64 toMs, const QList<double> &values, qint64 everyMs = 500)
{
    QList<QPointF> polls;
    for (qint64 ms = fromMs; ms <= toMs; ms += everyMs)
        polls << QPointF(double(ms), values[polls.size() % values.size()]);
    return polls;
}

QList<QPointF> failuresAt(const QList<qint64> &times)
{
    QList<QPointF> polls;
    for (qint64 ms : times)
        polls << QPointF(double(ms), std::nan(""));
    return polls;
}

Bus::Unit unitPolled(quint8 address, qint64 atMs, double value, quint16 selfDiag = 0, quint16 eeprom = 0)
{
    Bus::Unit unit;
    unit.address = address;
    unit.polledAtMs = atMs;
    if (!std::isnan(value))
        unit.value = value;
    unit.selfDiag = selfDiag;
    unit.eepromErrors = eeprom;
    return unit;
}

// A test of unit 1 alone from 0 to endMs, its polls in time order.
BenchTest::Judgement judged(const QList<QPointF> &polls, qint64 endMs, const BenchTest::Limits &limits,
                            bool silentBefore = false, quint16 selfDiag = 0, quint16 eeprom = 0, bool portLost = false)
{
    const Bus::Unit before = silentBefore ? unitPolled(1, -500, std::nan("")) : unitPolled(1, -500, 12.0);
    BenchTest::Run run({before}, limits, 0);
    for (const QPointF &poll : polls)
        run.record(unitPolled(1, qint64(poll.x()), poll.y(), selfDiag, eeprom));
    if (portLost)
        run.abort(endMs);
    else
        run.finish(endMs);
    return run.judge(1);
}

} // namespace

class TestBus : public QObject
{
    Q_OBJECT

private slots:
    void unitsGoInTurnAndASilentUnitIsBackedOff()
    {
        Bus::RoundRobin robin;
        robin.setAddresses({3, 1, 7});
        QCOMPARE(turns(robin, 0, 4), (QList<int>{3, 1, 7, 3}));

        // One missed reply can be noise: the unit keeps its turn.
        robin.missed(1, 0);
        QVERIFY(!robin.isSilent(1));
        QCOMPARE(turns(robin, 0, 3), (QList<int>{1, 7, 3}));

        // The second makes it silent: skipped until 1 s after that miss, exactly.
        robin.missed(1, 100);
        QVERIFY(robin.isSilent(1));
        QCOMPARE(turns(robin, 1099, 4), (QList<int>{7, 3, 7, 3}));
        QCOMPARE(turns(robin, 1100, 3), (QList<int>{1, 7, 3}));

        // Each miss after that doubles the wait, up to the longest.
        robin.missed(1, 1100);
        QCOMPARE(turns(robin, 3099, 3), (QList<int>{7, 3, 7}));
        QCOMPARE(turns(robin, 3100, 3), (QList<int>{3, 1, 7}));
        robin.missed(1, 3100); // the retry, unanswered at once
        for (int i = 0; i < 10; ++i)
            robin.missed(1, 10000);
        QCOMPARE(turns(robin, 10000 + Bus::kLongestRetryMs - 1, 2), (QList<int>{3, 7}));
        QCOMPARE(turns(robin, 10000 + Bus::kLongestRetryMs, 3), (QList<int>{3, 1, 7}));

        // An answer puts it back into every round.
        robin.answered(1, 26000);
        QVERIFY(!robin.isSilent(1));
        QCOMPARE(turns(robin, 0, 3), (QList<int>{3, 1, 7}));
    }

    void everyUnitSilentWaitsForTheEarliestRetry()
    {
        Bus::RoundRobin robin;
        robin.setAddresses({1, 2});
        QCOMPARE(robin.nextDueMs(), std::nullopt);
        for (int miss = 0; miss < Bus::kMissesBeforeSilent; ++miss) {
            robin.missed(1, 500);
            robin.missed(2, 0);
        }
        QCOMPARE(robin.next(999), std::nullopt);
        QCOMPARE(robin.nextDueMs(), std::optional<qint64>(Bus::kFirstRetryMs));
        QCOMPARE(robin.next(1000), std::optional<quint8>(2));
        robin.missed(2, 1000); // once more: 2 s this time
        QCOMPARE(robin.next(1000), std::nullopt);
        QCOMPARE(robin.nextDueMs(), std::optional<qint64>(1500));
        QCOMPARE(robin.next(1500), std::optional<quint8>(1));

        Bus::RoundRobin none;
        QCOMPARE(none.next(0), std::nullopt);
    }

    // A line played on a virtual clock for two minutes: a poll that is answered takes answerMs,
    // one that is not waits out missMs. The retries never take more than their share of the time
    // so far, the units that answer lose at most that share and the two misses that make each
    // empty address silent, and every empty address is still tried again.
    void silentAddressesTakeTheirShareOfTheLineAtMost_data()
    {
        QTest::addColumn<int>("units");
        QTest::addColumn<QList<int>>("empty");
        QTest::addColumn<int>("answerMs");
        QTest::addColumn<int>("missMs");
        const QList<int> everyThird{3, 6, 9, 12, 15, 18, 21, 24, 27, 30};
        QList<int> allButOne;
        for (int address = 2; address <= 30; ++address)
            allButOne << address;
        // One read a poll at 19200 baud, 18.9 ms on the wire; a time-out of 100 ms and the request.
        QTest::newRow("ten empty among twenty") << 30 << everyThird << 19 << 105;
        QTest::newRow("one empty among twenty-nine") << 30 << QList<int>{15} << 19 << 105;
        QTest::newRow("one unit among twenty-nine empty") << 30 << allButOne << 19 << 105;
        QTest::newRow("at 1200 baud") << 30 << everyThird << 303 << 370;
        QTest::newRow("no unit answers") << 3 << QList<int>{1, 2, 3} << 19 << 105;
    }

    void silentAddressesTakeTheirShareOfTheLineAtMost()
    {
        QFETCH(int, units);
        QFETCH(QList<int>, empty);
        QFETCH(int, answerMs);
        QFETCH(int, missMs);
        // Long enough for each of twenty-nine empty addresses to be tried again: one retry of
        // 105 ms every 2.1 s of the line is 61 s for them all.
        constexpr qint64 kPlayedMs = 120000;
        Bus::RoundRobin robin;
        QList<quint8> addresses;
        for (int address = 1; address <= units; ++address)
            addresses << quint8(address);
        robin.setAddresses(addresses);
        QHash<int, int> polls;
        qint64 nowMs = 0;
        while (nowMs < kPlayedMs) {
            const std::optional<quint8> next = robin.next(nowMs);
            if (!next) {
                const std::optional<qint64> due = robin.nextDueMs();
                QVERIFY(due && *due > nowMs);
                nowMs = *due;
                continue;
            }
            ++polls[*next];
            if (empty.contains(*next)) {
                nowMs += missMs;
                robin.missed(*next, nowMs);
            } else {
                nowMs += answerMs;
                robin.answered(*next, nowMs);
            }
            QVERIFY2(robin.retryMs() * 100 <= nowMs * Bus::kRetryBudgetPercent,
                     qPrintable(QStringLiteral("%1 ms of retries at %2 ms").arg(robin.retryMs()).arg(nowMs)));
        }
        const qsizetype answering = units - empty.size();
        const qint64 firstMissesMs = empty.size() * Bus::kMissesBeforeSilent * missMs;
        for (int address = 1; address <= units; ++address) {
            if (empty.contains(address)) {
                QVERIFY2(polls.value(address) > Bus::kMissesBeforeSilent, qPrintable(QString::number(address)));
                continue;
            }
            const double pace = (double(kPlayedMs) * (100 - Bus::kRetryBudgetPercent) / 100.0 - double(firstMissesMs))
                                / double(answering * answerMs);
            QVERIFY2(polls.value(address) >= int(pace) - 1,
                     qPrintable(QStringLiteral("unit %1: %2 polls, %3 at the pace").arg(address).arg(polls.value(address)).arg(pace)));
        }
    }

    // The poll's one read of registers 0x0000-0x0009, played on a scripted pipe for two polls of
    // one unit. A unit that refuses it (exception 02, or a reply that is not one to it) is read
    // with four requests in that poll already, and from then on; silence or noise is no refusal.
    void aUnitThatRefusesTheOneReadIsReadApart_data()
    {
        using namespace Frames;
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<QList<QByteArray>>("requests");
        QList<quint16> block(10, 0);
        Catalogue::encode(Catalogue::of(prmDataCur), 12.5, block.data());
        Catalogue::encode(Catalogue::of(prmDataTxt), QStringLiteral("12.50"), block.data() + 7);
        const QByteArray together = readReply(1, block);
        const QList<QByteArray> apart{readReply(1, block.mid(0, 2)), readReply(1, block.mid(7, 3)), readReply(1, {0}),
                                      readReply(1, {0})};
        const QByteArray askTogether = readRequest(1, 0x0000, 10);
        const QList<QByteArray> askApart{readRequest(1, 0x0000, 2), readRequest(1, 0x0007, 3), readRequest(1, 0x0005, 1),
                                         readRequest(1, 0x0006, 1)};
        QTest::newRow("it answers") << QList<QByteArray>{together, together} << QList<QByteArray>{askTogether, askTogether};
        QTest::newRow("exception 02") << QList<QByteArray>{withCrc(hex("018302"))} + apart + apart
                                      << QList<QByteArray>{askTogether} + askApart + askApart;
        QTest::newRow("a reply of two registers") << QList<QByteArray>{readReply(1, {0, 0})} + apart + apart
                                                  << QList<QByteArray>{askTogether} + askApart + askApart;
        QTest::newRow("silent once") << QList<QByteArray>{{}, together} << QList<QByteArray>{askTogether, askTogether};
        QTest::newRow("a corrupt reply") << QList<QByteArray>{withBadCrc(together.chopped(2)), together}
                                         << QList<QByteArray>{askTogether, askTogether};
    }

    void aUnitThatRefusesTheOneReadIsReadApart()
    {
        QFETCH(QList<QByteArray>, replies);
        QFETCH(QList<QByteArray>, requests);
        ScriptedPipe device;
        for (const QByteArray &reply : replies)
            device.queueReply(reply.isEmpty() ? ScriptedPipe::Reply{} : ScriptedPipe::Reply{{0, reply}});
        Session session;
        LineSetup line;
        line.speedNumber = 4;
        line.portName = device.devicePath();
        QVERIFY(Blocking::start(session, line));
        Bus::Poller poller(session);
        Bus::Unit unit;
        unit.address = 1;
        poller.setUnits({unit});
        int polls = 0;
        connect(&poller, &Bus::Poller::unitPolled, this, [&] {
            if (++polls == 2)
                poller.stop();
        });
        poller.start();
        QTRY_COMPARE(polls, 2);
        QCOMPARE(device.requests(), requests);
        const Bus::Unit &polled = poller.units().constFirst();
        QCOMPARE(polled.value, std::optional<double>(12.5));
        QCOMPARE(polled.text, QStringLiteral("12.50"));
        QCOMPARE(polled.selfDiag, std::optional<quint16>(0));
    }

    // The test lasts its time, and on past it while a unit that answers lacks its readings,
    // until it has them or the longest time has passed; a silent unit holds no one up.
    void theTestGoesOnUntilEachUnitHasItsReadings_data()
    {
        QTest::addColumn<QList<qint64>>("secondUnitReadsAt");
        QTest::addColumn<bool>("secondSilent");
        QTest::addColumn<qint64>("endsAtMs");
        QTest::addColumn<QString>("secondsReason"); // a part of it; empty when it passes
        // Three readings needed; 10 s at least, 30 s at most; unit 1 has its three by 1 s.
        QTest::newRow("both have them in time") << QList<qint64>{0, 500, 1000} << false << qint64(10000) << "";
        QTest::newRow("the third reading past the time") << QList<qint64>{0, 500, 12500} << false << qint64(12500) << "";
        QTest::newRow("short at the longest time") << QList<qint64>{0, 500} << false << qint64(30000)
                                                   << "мало показаний: 2 из 3";
        QTest::newRow("silent, holding no one up") << QList<qint64>{} << true << qint64(10000) << "нет показаний";
    }

    void theTestGoesOnUntilEachUnitHasItsReadings()
    {
        QFETCH(QList<qint64>, secondUnitReadsAt);
        QFETCH(bool, secondSilent);
        QFETCH(qint64, endsAtMs);
        QFETCH(QString, secondsReason);
        QList<Bus::Unit> units{unitPolled(1, -1, 12.0), unitPolled(2, -1, 12.0)};
        units[1].silent = secondSilent;
        BenchTest::Run run(units, {12.0, 0.5, 0.5, 3, 10000, 30000}, 0);
        for (qint64 ms : {0, 500, 1000})
            run.record(unitPolled(1, ms, 12.0));
        // The poller's clock in steps of 500 ms: the end is the first step the test may end at.
        std::optional<qint64> endedMs;
        for (qint64 ms = 0; ms <= 40000 && !endedMs; ms += 500) {
            if (secondUnitReadsAt.contains(ms))
                run.record(unitPolled(2, ms, 12.0));
            if (run.isOver(ms, units))
                endedMs = ms;
        }
        QCOMPARE(endedMs, std::optional<qint64>(endsAtMs));
        run.finish(*endedMs);
        QVERIFY(run.judge(1).passed());
        const BenchTest::Judgement second = run.judge(2);
        QVERIFY2(secondsReason.isEmpty() ? second.reason.isEmpty() : second.reason.contains(secondsReason), qPrintable(second.reason));
    }

    void verdicts_data()
    {
        QTest::addColumn<QList<QPointF>>("polls");
        QTest::addColumn<qint64>("endMs");
        QTest::addColumn<int>("minReadings");
        QTest::addColumn<bool>("silentBefore"); // its last poll before the test went unanswered
        QTest::addColumn<int>("selfDiag");
        QTest::addColumn<bool>("portLost");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("reason"); // a part of it
        const int passed = int(BenchTest::Verdict::Passed);
        const int failed = int(BenchTest::Verdict::Failed);
        const int untested = int(BenchTest::Verdict::NotTested);
        const QList<double> onMark{12.0, 12.01, 11.99};

        // Against 12.000 ± 0.050, σ at most 0.020, a reading every half second.
        QTest::newRow("steady on the mark") << readingsOf(0, 29500, onMark) << qint64(30000) << 20 << false << 0 << false
                                            << passed << "";
        QTest::newRow("exactly N readings") << readingsOf(0, 9500, onMark) << qint64(10000) << 20 << false << 0 << false
                                            << passed << "";
        QTest::newRow("one reading fewer") << readingsOf(0, 9000, onMark) << qint64(10000) << 20 << false << 0 << false
                                           << failed << "мало показаний: 19 из 20";
        QTest::newRow("one reading: few, and no σ") << readingsOf(0, 0, {12.0}) << qint64(1000) << 20 << false << 0
                                                    << false << failed << "мало показаний: 1 из 20; σ не определена";
        QTest::newRow("no readings at all") << failuresAt({0, 500, 1500}) << qint64(2000) << 20 << false << 0 << false
                                            << failed << "нет показаний";
        // Silent from 20 s: retried seldom, but its silence counts from its last reading.
        QTest::newRow("silent for a third of the time")
            << readingsOf(0, 20000, onMark) + failuresAt({20500, 21000, 22000, 24000, 28000}) << qint64(30000) << 20
            << false << 0 << false << failed << "без ответа 10.0 с из 30.0 с";
        QTest::newRow("silent for a tenth of the time")
            << readingsOf(0, 27000, onMark) + failuresAt({27500}) << qint64(30000) << 20 << false << 0 << false
            << passed << "";
        QTest::newRow("silent for a millisecond more")
            << readingsOf(0, 26500, onMark) + readingsOf(26999, 26999, onMark) + failuresAt({27500}) << qint64(30000)
            << 20 << false << 0 << false << failed << "без ответа 3.0 с из 30.0 с";
        QTest::newRow("a reply lost now and then")
            << readingsOf(0, 10000, onMark) + failuresAt({10250}) + readingsOf(10500, 29500, onMark) << qint64(30000) << 20
            << false << 0 << false << passed << "";
        QTest::newRow("silent when the test began, answering from 5 s") << readingsOf(5000, 30000, onMark) << qint64(30000)
                                                                       << 20 << true << 0 << false << failed
                                                                       << "без ответа 5.0 с из 30.0 с";
        QTest::newRow("a lost port") << readingsOf(0, 7500, onMark) << qint64(8000) << 2 << false << 0 << true << untested
                                     << "проверка прервана: связь с адаптером потеряна";
        QTest::newRow("mean on the edge of the tolerance") << readingsOf(0, 9500, {12.05}) << qint64(10000) << 20 << false
                                                           << 0 << false << passed << "";
        QTest::newRow("mean just outside") << readingsOf(0, 9500, {12.051}) << qint64(10000) << 20 << false << 0 << false
                                           << failed << "среднее 12.0510 вне 12.0000 ± 0.0500";
        QTest::newRow("mean fine, readings scattered") << readingsOf(0, 9500, {11.96, 12.04}) << qint64(10000) << 20
                                                       << false << 0 << false << failed << "σ 0.0410 больше 0.0200";
        // 0.015 as the population's deviation, 0.0212 as the sample's.
        QTest::newRow("two readings: the sample's σ") << readingsOf(0, 500, {12.0, 12.03}) << qint64(1000) << 2 << false
                                                      << 0 << false << failed << "σ 0.0212 больше 0.0200";
        QTest::newRow("self-diagnostic flag") << readingsOf(0, 9500, onMark) << qint64(10000) << 20 << false << 4
                                              << false << failed << "флаг самодиагностики 0x0004";
    }

    void verdicts()
    {
        QFETCH(QList<QPointF>, polls);
        QFETCH(qint64, endMs);
        QFETCH(int, minReadings);
        QFETCH(bool, silentBefore);
        QFETCH(int, selfDiag);
        QFETCH(bool, portLost);
        QFETCH(int, verdict);
        QFETCH(QString, reason);
        const BenchTest::Limits limits{12.0, 0.05, 0.02, minReadings};
        const BenchTest::Judgement judgement = judged(polls, endMs, limits, silentBefore, quint16(selfDiag), 0, portLost);
        QCOMPARE(int(judgement.verdict), verdict);
        QVERIFY2(judgement.reason.contains(reason), qPrintable(judgement.reason));
        QCOMPARE(judgement.reason.isEmpty(), judgement.passed());
        const int readings = int(std::count_if(polls.begin(), polls.end(), [](const QPointF &p) { return !std::isnan(p.y()); }));
        QCOMPARE(judgement.figures.samples, readings);
    }

    // What a scheduler asks while the test runs: which units have their readings yet.
    void eachUnitSaysWhenItHasItsReadings()
    {
        BenchTest::Run run({unitPolled(1, -1, 12.0), unitPolled(2, -1, 12.0)}, {12.0, 0.05, 0.02, 3}, 0);
        for (qint64 ms : {0, 500, 1000}) {
            QVERIFY(!run.hasMinReadings(1));
            run.record(unitPolled(1, ms, 12.0));
            run.record(unitPolled(2, ms + 250, std::nan("")));
        }
        QVERIFY(run.hasMinReadings(1));
        QVERIFY(!run.hasMinReadings(2));
        QCOMPARE(run.readings(2), 0);
    }

    // A limit that is no number must not let every unit through.
    void limitsThatAreNoNumberFail()
    {
        const BenchTest::Judgement judgement = judged(readingsOf(0, 500, {12.0}), 1000, {12.0, std::nan(""), std::nan(""), 2});
        QVERIFY(!judgement.passed());
    }

    void reportRowsCarryFiguresAndEscapeDeviceTexts()
    {
        const QLocale desktop;
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        const auto restore = qScopeGuard([&desktop] { QLocale::setDefault(desktop); });
        BenchTest::Report report;
        report.when = QDateTime(QDate(2026, 12, 9), QTime(14, 30));
        report.profile = QStringLiteral("партия <7>.json");
        report.line = QStringLiteral("COM2, 19200 бод");
        report.limits = {12.0, 0.05, 0.02, 2};
        report.rows = {{1, QStringLiteral("=HYPERLINK(\"x\")"), QStringLiteral("v1"),
                        judged(readingsOf(0, 500, {12.0, 12.02}), 1000, report.limits)},
                       {2, QStringLiteral("<b>ИНД</b> & co"), QStringLiteral("v1"),
                        judged(failuresAt({0, 250, 500, 750}), 1000, report.limits)},
                       {3, QStringLiteral("ИНД"), QStringLiteral("v1"),
                        judged(readingsOf(0, 500, {12.0}), 1000, report.limits, false, 0, 0, true)}};
        QCOMPARE(report.passes(), 1);
        QCOMPARE(report.failures(), 1);
        QCOMPARE(report.untested(), 1);

        QString csvText;
        QTextStream out(&csvText);
        BenchTest::writeCsv(out, report);
        out.flush();
        const QStringList lines = csvText.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[0].startsWith(QStringLiteral("\uFEFFaddress;name;version;samples;mean;sigma"))); // a byte-order mark first
        QVERIFY(lines[0].endsWith(QStringLiteral(";polls;failed_polls;silent_s;duration_s;verdict;reason")));
        QCOMPARE(lines[1], QStringLiteral("1;\"'=HYPERLINK(\"\"x\"\")\";v1;2;12,0100;0,0141;12,0000;12,0200;0;0;2;0;0,0;1,0;pass;"));
        QCOMPARE(lines[2], QStringLiteral("2;<b>ИНД</b> & co;v1;0;;;;;0;0;4;4;1,0;1,0;fail;нет показаний"));
        QCOMPARE(lines[3], QStringLiteral("3;ИНД;v1;2;12,0000;0,0000;12,0000;12,0000;0;0;2;0;0,0;1,0;untested;"
                                          "проверка прервана: связь с адаптером потеряна"));

        const QString page = BenchTest::html(report);
        QVERIFY(page.contains(QStringLiteral("09.12.2026 14:30:00")));
        QVERIFY(page.contains(QStringLiteral("партия &lt;7&gt;.json")));
        QVERIFY(page.contains(QStringLiteral("&lt;b&gt;ИНД&lt;/b&gt; &amp; co")));
        QVERIFY(!page.contains(QStringLiteral("<b>ИНД")));
        QCOMPARE(page.count(QStringLiteral("<tr><td")), 3);
        QVERIFY(page.contains(QStringLiteral("годных: 1, не годных: 1, не проверено: 1")));
        QVERIFY(page.contains(QStringLiteral("<td class=\"untested\">не проверен</td>")));
    }

    // Three units of the simulator: one on the mark, one off it, one that never answers. The
    // silent one is polled less often than the others, and each gets its verdict.
    void pollerJudgesUnitsOfTheSimulator()
    {
        SimProcess sim({"--slave", "1-3", "--reading", "12", "--noise", "0.005", "--reading-at", "2=12.5",
                        "--fall-silent", "3=0"});
        QVERIFY2(sim.started(), "no indicator-sim");
        Session session;
        LineSetup line;
        line.speedNumber = 4; // 19200 baud, as the simulator
        line.portName = sim.devicePath();
        QVERIFY(Blocking::start(session, line));

        QList<Bus::Unit> units;
        for (quint8 address : {1, 2, 3}) {
            Bus::Unit unit;
            unit.address = address;
            units << unit;
        }
        Bus::Poller poller(session);
        poller.setUnits(units);
        const BenchTest::Limits limits{12.0, 0.05, 0.02, 10};
        BenchTest::Run run(units, limits, poller.now());
        QHash<int, int> polls;
        connect(&poller, &Bus::Poller::unitPolled, this, [&](int row) {
            ++polls[poller.units()[row].address];
            run.record(poller.units()[row]);
        });
        poller.start();
        QTRY_VERIFY_WITH_TIMEOUT(polls.value(1) >= 12, kPollTimeoutMs);
        poller.stop();
        run.finish(poller.now());

        QVERIFY(poller.units()[2].silent);
        QCOMPARE(poller.units()[2].lastCode, qint16(lrNoAnswer));
        QVERIFY(!poller.units()[0].silent);
        QCOMPARE(poller.units()[0].text.trimmed(), QStringLiteral("12.0"));
        // Its two misses, then a retry a second at most, while the others went round.
        QVERIFY2(polls.value(3) < polls.value(1) / 2, qPrintable(QStringLiteral("%1 of %2").arg(polls.value(3)).arg(polls.value(1))));

        const BenchTest::Judgement onMark = run.judge(1);
        QVERIFY2(onMark.passed(), qPrintable(onMark.reason));
        QVERIFY(std::fabs(onMark.figures.mean - 12.0) < 0.01);
        QVERIFY(onMark.figures.sigma > 0.0);
        QVERIFY(!run.judge(2).passed());
        QCOMPARE(run.judge(3).reason, QStringLiteral("нет показаний"));
    }
};

QTEST_GUILESS_MAIN(TestBus)
#include "tst_bus.moc"
