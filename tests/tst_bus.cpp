// Many units on one line without a window: whose turn it is and how a silent unit is backed
// off, the bench test's verdicts, the report's rows, and the poller against the simulator.
#include "benchtest.h"
#include "buspoller.h"
#include "resultcodes.h"
#include "session.h"
#include "support/simprocess.h"

#include <QLocale>
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

Bus::Samples samplesOf(const QList<double> &values, int failedPolls = 0, quint16 selfDiag = 0, quint16 eeprom = 0)
{
    return {values, selfDiag, eeprom, int(values.size()) + failedPolls, failedPolls};
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
        for (int i = 0; i < 10; ++i)
            robin.missed(1, 10000);
        QCOMPARE(turns(robin, 10000 + Bus::kLongestRetryMs - 1, 2), (QList<int>{3, 7}));
        QCOMPARE(turns(robin, 10000 + Bus::kLongestRetryMs, 3), (QList<int>{3, 1, 7}));

        // An answer puts it back into every round.
        robin.answered(1);
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

    void verdicts_data()
    {
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<int>("failedPolls");
        QTest::addColumn<int>("selfDiag");
        QTest::addColumn<int>("eeprom");
        QTest::addColumn<bool>("passed");
        QTest::addColumn<QString>("reason"); // a part of it

        // Against 12.000 ± 0.050, σ at most 0.020.
        QTest::newRow("steady on the mark") << QList<double>{12.0, 12.01, 11.99, 12.0} << 0 << 0 << 0 << true << "";
        QTest::newRow("mean on the edge of the tolerance") << QList<double>{12.05, 12.05} << 0 << 0 << 0 << true << "";
        QTest::newRow("mean just outside") << QList<double>{12.051, 12.051} << 0 << 0 << 0 << false << "среднее 12.0510 вне 12.0000 ± 0.0500";
        QTest::newRow("below the mark") << QList<double>{11.9, 11.9, 11.9} << 0 << 0 << 0 << false << "вне";
        QTest::newRow("mean fine, readings scattered") << QList<double>{11.96, 12.04, 11.96, 12.04} << 0 << 0 << 0 << false << "σ 0.0462 больше 0.0200";
        QTest::newRow("one reading: no scatter to judge") << QList<double>{12.0} << 0 << 0 << 0 << true << "";
        QTest::newRow("no readings at all") << QList<double>{} << 3 << 0 << 0 << false << "нет показаний";
        QTest::newRow("a poll in three without an answer") << QList<double>{12.0, 12.0} << 1 << 0 << 0 << false
                                                           << "опросов без ответа: 1 из 3";
        QTest::newRow("one poll in ten without an answer") << QList<double>(9, 12.0) << 1 << 0 << 0 << true << "";
        QTest::newRow("self-diagnostic flag") << QList<double>{12.0, 12.0} << 0 << 4 << 0 << false << "флаг самодиагностики 0x0004";
        QTest::newRow("EEPROM error") << QList<double>{12.0, 12.0} << 0 << 0 << 2 << false << "ошибки EEPROM 0x0002";
    }

    void verdicts()
    {
        QFETCH(QList<double>, values);
        QFETCH(int, failedPolls);
        QFETCH(int, selfDiag);
        QFETCH(int, eeprom);
        QFETCH(bool, passed);
        QFETCH(QString, reason);
        const BenchTest::Judgement judgement =
            BenchTest::judge(samplesOf(values, failedPolls, quint16(selfDiag), quint16(eeprom)), {12.0, 0.05, 0.02});
        QCOMPARE(judgement.passed, passed);
        QVERIFY2(judgement.reason.contains(reason), qPrintable(judgement.reason));
        QCOMPARE(judgement.reason.isEmpty(), passed);
        QCOMPARE(judgement.figures.samples, int(values.size()));
    }

    // A limit that is no number must not let every unit through.
    void limitsThatAreNoNumberFail()
    {
        const BenchTest::Judgement judgement = BenchTest::judge(samplesOf({12.0, 12.0}), {12.0, std::nan(""), std::nan("")});
        QVERIFY(!judgement.passed);
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
        report.limits = {12.0, 0.05, 0.02};
        report.rows = {{1, QStringLiteral("=HYPERLINK(\"x\")"), QStringLiteral("v1"),
                        BenchTest::judge(samplesOf({12.0, 12.02}), report.limits)},
                       {2, QStringLiteral("<b>ИНД</b> & co"), QStringLiteral("v1"),
                        BenchTest::judge(samplesOf({}, 4), report.limits)}};
        QCOMPARE(report.failures(), 1);

        QString csvText;
        QTextStream out(&csvText);
        BenchTest::writeCsv(out, report);
        out.flush();
        const QStringList lines = csvText.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].startsWith(QStringLiteral("\uFEFFaddress;name;version;samples;mean;sigma"))); // a byte-order mark first
        QCOMPARE(lines[1], QStringLiteral("1;\"'=HYPERLINK(\"\"x\"\")\";v1;2;12,0100;0,0141;12,0000;12,0200;0;0;2;0;pass;"));
        QCOMPARE(lines[2], QStringLiteral("2;<b>ИНД</b> & co;v1;0;;;;;0;0;4;4;fail;нет показаний"));

        const QString page = BenchTest::html(report);
        QVERIFY(page.contains(QStringLiteral("09.12.2026 14:30:00")));
        QVERIFY(page.contains(QStringLiteral("партия &lt;7&gt;.json")));
        QVERIFY(page.contains(QStringLiteral("&lt;b&gt;ИНД&lt;/b&gt; &amp; co")));
        QVERIFY(!page.contains(QStringLiteral("<b>ИНД")));
        QCOMPARE(page.count(QStringLiteral("<tr><td")), 2);
        QVERIFY(page.contains(QStringLiteral("годных: 1, не годных: 1")));
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
        QVERIFY(session.start(line));

        QList<Bus::Unit> units;
        for (quint8 address : {1, 2, 3}) {
            Bus::Unit unit;
            unit.address = address;
            units << unit;
        }
        Bus::Poller poller(session);
        poller.setUnits(units);
        QHash<int, int> polls;
        connect(&poller, &Bus::Poller::unitPolled, this, [&](int row) { ++polls[poller.units()[row].address]; });
        poller.startSampling();
        poller.start();
        QTRY_VERIFY_WITH_TIMEOUT(polls.value(1) >= 12, kPollTimeoutMs);
        poller.stop();

        QVERIFY(poller.units()[2].silent);
        QCOMPARE(poller.units()[2].lastCode, qint16(lrNoAnswer));
        QVERIFY(!poller.units()[0].silent);
        QCOMPARE(poller.units()[0].text.trimmed(), QStringLiteral("12.0"));
        // Its two misses, then a retry a second at most, while the others went round.
        QVERIFY2(polls.value(3) < polls.value(1) / 2, qPrintable(QStringLiteral("%1 of %2").arg(polls.value(3)).arg(polls.value(1))));

        const BenchTest::Limits limits{12.0, 0.05, 0.02};
        const BenchTest::Judgement onMark = BenchTest::judge(poller.units()[0].samples, limits);
        QVERIFY2(onMark.passed, qPrintable(onMark.reason));
        QVERIFY(std::fabs(onMark.figures.mean - 12.0) < 0.01);
        QVERIFY(onMark.figures.sigma > 0.0);
        QVERIFY(!BenchTest::judge(poller.units()[1].samples, limits).passed);
        QCOMPARE(BenchTest::judge(poller.units()[2].samples, limits).reason, QStringLiteral("нет показаний"));
    }
};

QTEST_GUILESS_MAIN(TestBus)
#include "tst_bus.moc"
