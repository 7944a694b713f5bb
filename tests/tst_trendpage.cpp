// The trend on the Readings page against indicator-sim: the polls it holds, the log it writes
// while polling, and the gaps a device that stops answering leaves.
#include "datapage.h"
#include "livedisplay.h"
#include "modalbox.h"
#include "support/simprocess.h"
#include "support/configwindow.h"
#include "trendpanel.h"
#include "trendview.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
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

constexpr qint64 kStartMs = 1'800'000'000'000;

PollLog::Poll poll(qint64 atMs, const QString &display, std::optional<quint16> selfDiag, qint16 result = 0)
{
    PollLog::Poll polled;
    polled.time = QDateTime::fromMSecsSinceEpoch(kStartMs + atMs);
    polled.display = display;
    polled.value = LiveDisplay::number(display);
    polled.selfDiag = selfDiag;
    polled.eepromErrors = selfDiag ? std::optional<quint16>(0) : std::nullopt;
    polled.result = result;
    return polled;
}

class TestTrendPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    // What the panel makes of a page's polls: a value, a failed read as a failure, a text that
    // is no number as a plain gap, and a flag word's change (not its first reading) as a mark.
    void pollsBecomeValuesGapsAndMarks()
    {
        TrendPanel panel({}, nullptr);
        panel.add(poll(0, QStringLiteral("12.5"), 1));
        panel.add(poll(100, QString(), std::nullopt, -6));
        panel.add(poll(200, QStringLiteral("----"), 1));
        panel.add(poll(300, QStringLiteral("13.5"), 5));
        panel.add(poll(400, QStringLiteral("14.5"), std::nullopt, -6)); // the flag read failed alone
        const TrendSeries &series = panel.series();
        QCOMPARE(series.polls(), qint64(5));
        // Polling taken up again a minute later: the line breaks over the minute.
        panel.add(poll(60400, QStringLiteral("20"), 5));
        const QList<TrendSeries::Point> resumed = series.points(kStartMs + 400, kStartMs + 60400);
        QCOMPARE(resumed.size(), 4); // with the poll before, that the line comes from
        QVERIFY(!std::isnan(resumed[1].value) && std::isnan(resumed[2].value) && !std::isnan(resumed[3].value));
        QCOMPARE(series.failureRuns().size(), std::size_t(1));
        QCOMPARE(series.failureRuns().front().from, kStartMs + 100);
        QCOMPARE(series.marks().size(), std::size_t(1));
        QCOMPARE(series.marks().front().ms, kStartMs + 300);
        QVERIFY(series.marks().front().text.endsWith(QStringLiteral(": 5")));
        const TrendSeries::Statistics statistics = series.statistics(kStartMs, kStartMs + 400);
        QCOMPARE(statistics.count, qint64(3));
        QCOMPARE(statistics.mean, 13.5);
    }

    void figuresGiveSigmaInPerCentOfTheRange()
    {
        TrendSeries series;
        for (int i = 0; i < 4; ++i)
            series.addValue(kStartMs + i * 100, i % 2 ? 11.0 : 9.0); // mean 10, σ 1
        const TrendSeries::Statistics statistics = series.statistics(kStartMs, kStartMs + 300);
        QCOMPARE(TrendPanel::spanText(statistics, 200.0),
                 QStringLiteral("4 точек\nмин 9  макс 11\nсреднее 10\nσ 1 (0.500 %)"));
        QVERIFY(!TrendPanel::spanText(statistics, std::nullopt).contains(u'%'));
        QVERIFY2(TrendPanel::markersText(series, kStartMs + 300, kStartMs).startsWith(
                     QStringLiteral("Между маркерами: Δt 0.3 с, Δ 2\n4 точек")),
                 qPrintable(TrendPanel::markersText(series, kStartMs + 300, kStartMs)));
    }

    // The saved part holds the polls from..to alone, a gap as an empty value.
    void theSavedCsvIsThePartAsked()
    {
        TrendSeries series;
        series.addValue(kStartMs, 1);
        series.addFailure(kStartMs + 100);
        series.addValue(kStartMs + 200, 3);
        series.addValue(kStartMs + 300, 4);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("part.csv"));
        QString reason;
        QVERIFY(TrendPanel::saveCsv(series, kStartMs + 100, kStartMs + 200, path, &reason));
        const QStringList lines = linesOf(path);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("time;value")); // after the byte-order mark
        QVERIFY(lines[1].contains(QStringLiteral(".100")) && lines[1].endsWith(u';'));
        QVERIFY(lines[2].endsWith(QStringLiteral(";3")));
        QVERIFY(!TrendPanel::saveCsv(series, kStartMs, kStartMs, dir.filePath(QStringLiteral("no/such/part.csv")), &reason));
        QVERIFY(!reason.isEmpty());
    }

    // The right button puts the markers in turn and stops following; a double click follows.
    void markersAndFollowingByMouse()
    {
        TrendPanel panel({}, nullptr);
        if (!panel.view())
            QSKIP("built without the plot");
        panel.resize(560, 300);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        for (int i = 0; i < 600; ++i)
            panel.add(poll(i * 100, QString::number(i % 50), 0));
        TrendView *view = panel.view();
        QWidget *plot = panel.findChild<QWidget *>(QStringLiteral("plotTrend"));
        QVERIFY(view->isFollowing());
        QTest::mouseClick(plot, Qt::RightButton, {}, QPoint(plot->width() / 3, plot->height() / 2));
        QTest::mouseClick(plot, Qt::RightButton, {}, QPoint(2 * plot->width() / 3, plot->height() / 2));
        QVERIFY(!view->isFollowing());
        QVERIFY(panel.findChild<QCheckBox *>(QStringLiteral("checkTrendPause"))->isChecked());
        QVERIFY(view->marker(0) && view->marker(1) && *view->marker(0) < *view->marker(1));
        const auto [from, to] = view->shownSpan();
        QVERIFY(*view->marker(0) > from && *view->marker(1) < to);
        QVERIFY(panel.findChild<QLabel *>(QStringLiteral("lblTrendFigures"))->text().contains(QStringLiteral("Между маркерами")));
        QTest::mouseDClick(plot, Qt::LeftButton, {}, QPoint(plot->width() / 2, plot->height() / 2));
        QVERIFY(view->isFollowing());
        QVERIFY(view->shownSpan().second >= panel.series().lastMs() - 1);
    }

    void displayTextsAreReadingsOrNone_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value"); // NaN: none
        QTest::newRow("negative") << "-12.34" << -12.34;
        QTest::newRow("decimal comma") << "12,5" << 12.5;
        QTest::newRow("padded") << "   7" << 7.0;
        QTest::newRow("dashes") << "----" << qQNaN();
        QTest::newRow("a space inside") << "1 7" << qQNaN();
        QTest::newRow("empty") << "" << qQNaN();
        QTest::newRow("infinity spelt out") << "inf" << qQNaN();
    }

    void displayTextsAreReadingsOrNone()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        const std::optional<double> got = LiveDisplay::number(text);
        QCOMPARE(got.has_value(), !std::isnan(value));
        if (got)
            QCOMPARE(*got, value);
    }

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
