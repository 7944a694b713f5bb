#include "benchtest.h"

#include "csvwriter.h"

#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace BenchTest {

namespace {

// Four decimals: a tolerance of 0.05 mA is judged on figures finer than itself.
constexpr int kFigureDecimals = 4;
// One reply lost in ten polls may be noise on the line; more is a unit that drops replies.
constexpr double kLargestMissedShare = 0.1;

QString figure(double value)
{
    return QString::number(value, 'f', kFigureDecimals);
}

// A figure on the limit passes: 12.05 against 12.000 ± 0.050 is 0.05000000000000071 off in
// binary, and must not fail for the last bits of a double. False for what is no number.
bool withinLimit(double deviation, double limit)
{
    constexpr double kRelativeSlack = 1e-9;
    return deviation <= limit + kRelativeSlack * std::max(1.0, std::fabs(limit));
}

QString verdictText(const Judgement &judgement)
{
    return judgement.passed ? QStringLiteral("годен") : QStringLiteral("не годен");
}

} // namespace

Judgement judge(const Bus::Samples &samples, const Limits &limits)
{
    Judgement judgement;
    Figures &f = judgement.figures;
    f.samples = int(samples.values.size());
    f.polls = std::max(samples.polls, int(samples.values.size()));
    f.failedPolls = samples.failedPolls;
    f.selfDiag = samples.selfDiag;
    f.eepromErrors = samples.eepromErrors;
    if (!samples.values.isEmpty()) {
        const double n = double(samples.values.size());
        f.mean = std::accumulate(samples.values.begin(), samples.values.end(), 0.0) / n;
        double squares = 0.0;
        for (double value : samples.values)
            squares += (value - f.mean) * (value - f.mean);
        // The sample's own deviation: a few seconds of readings are a sample of the unit.
        f.sigma = samples.values.size() > 1 ? std::sqrt(squares / (n - 1.0)) : 0.0;
        const auto [lowest, highest] = std::minmax_element(samples.values.begin(), samples.values.end());
        f.lowest = *lowest;
        f.highest = *highest;
    }

    QStringList reasons;
    if (f.samples == 0)
        reasons << QStringLiteral("нет показаний");
    if (f.samples > 0 && f.failedPolls > kLargestMissedShare * f.polls)
        reasons << QStringLiteral("опросов без ответа: %1 из %2").arg(f.failedPolls).arg(f.polls);
    if (f.selfDiag != 0)
        reasons << QStringLiteral("флаг самодиагностики 0x%1").arg(f.selfDiag, 4, 16, QLatin1Char('0'));
    if (f.eepromErrors != 0)
        reasons << QStringLiteral("ошибки EEPROM 0x%1").arg(f.eepromErrors, 4, 16, QLatin1Char('0'));
    // Written so that a mean or a limit that is no number fails rather than passes.
    if (f.samples > 0 && !withinLimit(std::fabs(f.mean - limits.expected), limits.tolerance))
        reasons << QStringLiteral("среднее %1 вне %2 ± %3").arg(figure(f.mean), figure(limits.expected), figure(limits.tolerance));
    if (f.samples > 0 && !withinLimit(f.sigma, limits.sigmaLimit))
        reasons << QStringLiteral("σ %1 больше %2").arg(figure(f.sigma), figure(limits.sigmaLimit));
    judgement.passed = reasons.isEmpty();
    judgement.reason = reasons.join(QStringLiteral("; "));
    return judgement;
}

int Report::failures() const
{
    return int(std::count_if(rows.begin(), rows.end(), [](const Row &row) { return !row.judgement.passed; }));
}

void writeCsv(QTextStream &out, const Report &report)
{
    CsvWriter csv(out, CsvWriter::Dialect::Spreadsheet);
    csv.startFile();
    for (const char *header : {"address", "name", "version", "samples", "mean", "sigma", "lowest", "highest",
                               "self_diag", "eeprom_errors", "polls", "failed_polls", "verdict", "reason"})
        csv.text(QString::fromLatin1(header));
    csv.endRow();
    for (const Row &row : report.rows) {
        const Figures &f = row.judgement.figures;
        const bool any = f.samples > 0;
        csv.value(QString::number(row.address)).text(row.name).text(row.version).value(QString::number(f.samples));
        for (double value : {f.mean, f.sigma, f.lowest, f.highest})
            csv.number(any ? value : std::nan(""), 'f', kFigureDecimals);
        csv.value(QString::number(f.selfDiag)).value(QString::number(f.eepromErrors));
        csv.value(QString::number(f.polls)).value(QString::number(f.failedPolls));
        csv.text(row.judgement.passed ? QStringLiteral("pass") : QStringLiteral("fail")).text(row.judgement.reason);
        csv.endRow();
    }
}

QString html(const Report &report)
{
    const auto e = [](const QString &text) { return text.toHtmlEscaped(); };
    QString page;
    QTextStream out(&page);
    out << "<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\">\n"
        << "<title>Протокол проверки приборов</title>\n"
        << "<style>body{font-family:sans-serif;margin:2em}table{border-collapse:collapse}"
           "td,th{border:1px solid #888;padding:3px 8px}td.n{text-align:right}"
           ".fail{color:#c00;font-weight:bold}.pass{color:#080}@media print{body{margin:0}}</style>\n"
        << "</head><body>\n<h1>Протокол проверки приборов</h1>\n<p>Дата: "
        << e(report.when.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))) << "<br>\n"
        << "Линия: " << e(report.line) << "<br>\n"
        << "Профиль: " << (report.profile.isEmpty() ? QStringLiteral("не записывался") : e(report.profile)) << "<br>\n"
        << "Эталон: " << e(figure(report.limits.expected)) << ' ' << e(report.unitOfMeasure)
        << ", допуск ± " << e(figure(report.limits.tolerance)) << ", σ не более " << e(figure(report.limits.sigmaLimit))
        << "<br>\n"
        << "Приборов: " << report.rows.size() << ", годных: " << report.rows.size() - report.failures()
        << ", не годных: " << report.failures() << "</p>\n"
        << "<table>\n<tr><th>Адрес</th><th>Имя</th><th>Версия</th><th>Отсчётов</th><th>Среднее</th><th>σ</th>"
           "<th>Мин.</th><th>Макс.</th><th>Без ответа</th><th>Итог</th><th>Причина</th></tr>\n";
    for (const Row &row : report.rows) {
        const Figures &f = row.judgement.figures;
        const bool any = f.samples > 0;
        out << "<tr><td class=\"n\">" << row.address << "</td><td>" << e(row.name) << "</td><td>" << e(row.version)
            << "</td><td class=\"n\">" << f.samples << "</td>";
        for (double value : {f.mean, f.sigma, f.lowest, f.highest})
            out << "<td class=\"n\">" << (any ? figure(value) : QStringLiteral("—")) << "</td>";
        out << "<td class=\"n\">" << f.failedPolls << " из " << f.polls << "</td>";
        out << "<td class=\"" << (row.judgement.passed ? "pass" : "fail") << "\">" << verdictText(row.judgement)
            << "</td><td>" << e(row.judgement.reason) << "</td></tr>\n";
    }
    out << "</table>\n<p>Подпись: ____________________</p>\n</body></html>\n";
    out.flush();
    return page;
}

} // namespace BenchTest
