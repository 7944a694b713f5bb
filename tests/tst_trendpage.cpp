// The trend on the Readings page against indicator-sim: the polls it holds, the log it writes
// while polling, and the gaps a device that stops answering leaves.
#include "datapage.h"
#include "modalbox.h"
#include "support/simprocess.h"
#include "support/configwindow.h"
#include "trendpanel.h"
#include "trendview.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <cmath>
#include <csignal>

namespace {

constexpr int kWaitMs = 10000;

QStringList linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace

class TestTrendPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void theReadingsPageTrendsAndLogsThePolls()
    {
        auto sim = std::make_unique<SimProcess>();
        QVERIFY2(sim->started(), "indicator-sim did not come up");
        ConfigWindow config("[PORTS]\nCOM2=" + sim->devicePath().toLocal8Bit() + "\n[COMP]\nSpeedNumber=4\n");
        QTemporaryDir dir;
        const QString logPath = dir.filePath(QStringLiteral("log.csv"));
        ModalBox::setInterceptor([&logPath](QDialog &dialog) {
            if (auto *files = qobject_cast<QFileDialog *>(&dialog))
                files->selectFile(logPath);
            return int(QDialog::Accepted);
        });
        QVERIFY(config.start());
        config.click("sbData");
        auto *page = config.window().findChild<DataPage *>();
        QVERIFY(page);
        const TrendSeries &series = page->trend()->series();
        page->findChild<QPushButton *>(QStringLiteral("btnTrendLog"))->click();
        QVERIFY2(page->trend()->log().isOpen(), qPrintable(page->trend()->log().errorString()));
        const qint64 logged = series.polls();
        QTRY_VERIFY2_WITH_TIMEOUT(series.polls() >= logged + 5,
                                  qPrintable(QStringLiteral("%1 polls, %2 at the log's start; status «%3», errors «%4»")
                                                 .arg(series.polls())
                                                 .arg(logged)
                                                 .arg(config.statusText(), config.errorText())),
                                  kWaitMs);
        const TrendSeries::Statistics statistics = series.statistics(series.firstMs(), series.lastMs());
        QVERIFY(statistics.count >= 5);
        QVERIFY(std::isfinite(statistics.mean));
        QVERIFY(series.failureRuns().empty());

        const QStringList lines = linesOf(logPath);
        QVERIFY2(lines.size() >= 8 + 5, qPrintable(lines.join(u'\n')));
        QCOMPARE(lines[1], QStringLiteral("address;1"));
        QVERIFY(lines.contains(QStringLiteral("poll_interval_ms;100")));
        QVERIFY(lines.contains(QStringLiteral("time;value;display;self_diag;eeprom_errors;result;message")));
        QVERIFY2(lines.last().contains(QRegularExpression(QStringLiteral(
                     "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}([+-]\\d\\d:\\d\\d|Z);-?[0-9]+([.,][0-9]+)?;"))),
                 qPrintable(lines.last()));

        // The device goes silent, its line still there: failed polls, gaps in the line and a
        // mark, never a zero.
        const qint64 before = series.polls();
        const auto resume = qScopeGuard([&sim] { ::kill(pid_t(sim->processId()), SIGCONT); });
        ::kill(pid_t(sim->processId()), SIGSTOP);
        QTRY_VERIFY_WITH_TIMEOUT(!series.failureRuns().empty() && series.polls() >= before + 2, kWaitMs);
        const QList<TrendSeries::Point> drawn = series.points(series.lastMs(), series.lastMs());
        QVERIFY(std::isnan(drawn.last().value));
        QCOMPARE(series.statistics(series.firstMs(), series.lastMs()).minimum == 0.0, false);
        page->findChild<QPushButton *>(QStringLiteral("btnTrendLog"))->click();
        QVERIFY(!page->trend()->log().isOpen());
        QVERIFY(linesOf(logPath).last().endsWith(QStringLiteral("Ошибка! Нет овета!")));
        if (page->trend()->view())
            QVERIFY(page->trend()->view()->shownSpan().second >= series.lastMs() - 1);
        ModalBox::setInterceptor({});
    }

    // The address changed while the page polls: the pages' reads go to each address on the way
    // at once, the trend keeps its unit until the edit is done or the spinner let go of, and then
    // starts a new trace, the log saying from which row on it is the new unit's.
    void theTrendFollowsTheAddressSettledOn()
    {
        SimProcess sim({"--slave", "1,11-12", "--reading", "12", "--reading-at", "12=7.5", "--reading-at", "11=3.5"});
        QVERIFY2(sim.started(), "indicator-sim did not come up");
        ConfigWindow config("[PORTS]\nCOM2=" + sim.devicePath().toLocal8Bit() + "\n[COMP]\nSpeedNumber=4\n");
        QTemporaryDir dir;
        const QString logPath = dir.filePath(QStringLiteral("log.csv"));
        ModalBox::setInterceptor([&logPath](QDialog &dialog) {
            if (auto *files = qobject_cast<QFileDialog *>(&dialog))
                files->selectFile(logPath);
            return int(QDialog::Accepted);
        });
        const auto restore = qScopeGuard([] { ModalBox::setInterceptor({}); });
        QVERIFY(config.start());
        config.click("sbData");
        auto *page = config.window().findChild<DataPage *>();
        const TrendSeries &series = page->trend()->series();
        const auto meanOfAll = [&series] { return series.statistics(series.firstMs(), series.lastMs()).mean; };
        page->findChild<QPushButton *>(QStringLiteral("btnTrendLog"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(series.statistics(series.firstMs(), series.lastMs()).count >= 3, kWaitMs);

        auto *address = config.find<QLineEdit>("edtDevNumber");
        auto *display = config.find<QLineEdit>("edtDataCur");
        address->selectAll();
        QTest::keyClicks(address, QStringLiteral("12"));
        QTRY_COMPARE_WITH_TIMEOUT(display->text().trimmed(), QStringLiteral("7.5"), kWaitMs); // polled at once
        const qint64 typed = series.polls();
        QTest::qWait(300);
        QCOMPARE(series.polls(), typed); // but not into unit 1's trace
        QCOMPARE(meanOfAll(), 12.0);

        QTest::keyClick(address, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(series.statistics(series.firstMs(), series.lastMs()).count >= 3, kWaitMs);
        QCOMPARE(meanOfAll(), 7.5);

        auto *down = config.find<QWidget>("UpDownDevNumber")->findChild<QToolButton *>(QStringLiteral("downArrow"));
        QTest::mouseClick(down, Qt::LeftButton);
        QCOMPARE(address->text(), QStringLiteral("11"));
        QTRY_COMPARE_WITH_TIMEOUT(meanOfAll(), 3.5, kWaitMs); // once the arrow is up
        QTRY_VERIFY_WITH_TIMEOUT(series.statistics(series.firstMs(), series.lastMs()).count >= 3, kWaitMs);

        page->findChild<QPushButton *>(QStringLiteral("btnTrendLog"))->click();
        const QStringList lines = linesOf(logPath);
        const qsizetype to12 = lines.indexOf(QStringLiteral("address;12"));
        const qsizetype to11 = lines.indexOf(QStringLiteral("address;11"));
        QVERIFY2(to12 > 1 && to11 > to12, qPrintable(lines.join(u'\n')));
        const auto valueOf = [](const QString &row) { return row.section(u';', 1, 1); };
        QCOMPARE(valueOf(lines[to12 - 1]), QStringLiteral("12"));
        QCOMPARE(valueOf(lines[to12 + 1]), QStringLiteral("7.5"));
        QCOMPARE(valueOf(lines[to11 - 1]), QStringLiteral("7.5"));
        QCOMPARE(valueOf(lines[to11 + 1]), QStringLiteral("3.5"));
    }
};

QTEST_MAIN(TestTrendPage)
#include "tst_trendpage.moc"
