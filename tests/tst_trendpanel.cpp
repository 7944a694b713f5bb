// The trend panel of the live pages without a device: what it makes of the polls, the figures
// beside the plot, the CSV it saves, and the plot's markers and following by mouse, where the
// build has the plot (on Windows too).
#include "livedisplay.h"
#include "trendpanel.h"
#include "trendview.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {

// The lines of a text file, whatever the system ends its lines with (CRLF on Windows).
QStringList linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

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

} // namespace

class TestTrendPanel : public QObject
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
};

QTEST_MAIN(TestTrendPanel)
#include "tst_trendpanel.moc"
