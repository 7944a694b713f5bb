#include "benchreport.h"

#include "csvwriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>

namespace BenchTest {

int Report::passes() const
{
    return int(std::count_if(rows.begin(), rows.end(), [](const Row &row) { return row.judgement.passed(); }));
}

int Report::failures() const
{
    return int(std::count_if(rows.begin(), rows.end(), [](const Row &row) { return row.judgement.verdict == Verdict::Failed; }));
}

int Report::untested() const
{
    return int(std::count_if(rows.begin(), rows.end(), [](const Row &row) { return row.judgement.verdict == Verdict::NotTested; }));
}

void writeCsv(QTextStream &out, const Report &report)
{
    CsvWriter csv(out, CsvWriter::Dialect::Spreadsheet);
    csv.startFile();
    for (const char *header : {"address", "name", "version", "samples", "mean", "sigma", "lowest", "highest",
                               "self_diag", "eeprom_errors", "polls", "failed_polls", "silent_s", "duration_s", "verdict",
                               "reason"})
        csv.text(QString::fromLatin1(header));
    csv.endRow();
    for (const Row &row : report.rows) {
        const Figures &f = row.judgement.figures;
        csv.value(QString::number(row.address)).text(row.name).text(row.version).value(QString::number(f.samples));
        for (double value : {f.mean, f.sigma, f.lowest, f.highest})
            csv.number(value, 'f', kFigureDecimals);
        csv.value(QString::number(f.selfDiag)).value(QString::number(f.eepromErrors));
        csv.value(QString::number(f.polls)).value(QString::number(f.failedPolls));
        csv.number(double(f.silentMs) / 1000.0, 'f', 1).number(double(f.durationMs) / 1000.0, 'f', 1);
        csv.text(verdictKey(row.judgement.verdict)).text(row.judgement.reason);
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
           ".fail{color:#c00;font-weight:bold}.pass{color:#080}.untested{color:#666;font-weight:bold}"
           "@media print{body{margin:0}}</style>\n"
        << "</head><body>\n<h1>Протокол проверки приборов</h1>\n<p>Дата: "
        << e(report.when.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))) << "<br>\n"
        << "Линия: " << e(report.line) << "<br>\n"
        << "Профиль: " << (report.profile.isEmpty() ? QStringLiteral("не записывался") : e(report.profile)) << "<br>\n"
        << "Эталон: " << e(figureText(report.limits.expected)) << ' ' << e(report.unitOfMeasure)
        << ", допуск ± " << e(figureText(report.limits.tolerance))
        << ", σ не более " << e(figureText(report.limits.sigmaLimit))
        << "<br>\n"
        << "Приборов: " << report.rows.size() << ", годных: " << report.passes()
        << ", не годных: " << report.failures()
        << (report.untested() > 0 ? QStringLiteral(", не проверено: %1").arg(report.untested()) : QString()) << "</p>\n"
        << "<table>\n<tr><th>Адрес</th><th>Имя</th><th>Версия</th><th>Отсчётов</th><th>Среднее</th><th>σ</th>"
           "<th>Мин.</th><th>Макс.</th><th>Без ответа</th><th>Итог</th><th>Причина</th></tr>\n";
    for (const Row &row : report.rows) {
        const Figures &f = row.judgement.figures;
        out << "<tr><td class=\"n\">" << row.address << "</td><td>" << e(row.name) << "</td><td>" << e(row.version)
            << "</td><td class=\"n\">" << f.samples << "</td>";
        for (double value : {f.mean, f.sigma, f.lowest, f.highest})
            out << "<td class=\"n\">" << (std::isfinite(value) ? figureText(value) : QStringLiteral("—")) << "</td>";
        out << "<td class=\"n\">" << secondsText(f.silentMs) << " с из " << secondsText(f.durationMs) << " с</td>";
        out << "<td class=\"" << verdictKey(row.judgement.verdict) << "\">" << verdictText(row.judgement.verdict)
            << "</td><td>" << e(row.judgement.reason) << "</td></tr>\n";
    }
    out << "</table>\n<p>Подпись: ____________________</p>\n</body></html>\n";
    out.flush();
    return page;
}

QString suggestedFileName(const Report &report)
{
    return QStringLiteral("проверка-%1.html").arg(report.when.toString(QStringLiteral("yyyyMMdd-HHmm")));
}

QString csvPathBeside(const QString &htmlPath)
{
    const QFileInfo info(htmlPath);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".csv"));
}

std::optional<SaveFailure> save(const Report &report, const QString &htmlPath)
{
    QSaveFile page(htmlPath);
    if (page.open(QIODevice::WriteOnly))
        page.write(html(report).toUtf8());
    QSaveFile table(csvPathBeside(htmlPath));
    if (table.open(QIODevice::WriteOnly | QIODevice::Text)) {
        QTextStream out(&table);
        writeCsv(out, report);
    }
    for (QSaveFile *file : {&page, &table}) {
        if (!file->commit())
            return SaveFailure{file->fileName(), file->errorString()};
    }
    return std::nullopt;
}

std::optional<SaveFailure> saveCsvBeside(const Report &report, const QString &pagePath)
{
    QSaveFile table(csvPathBeside(pagePath));
    if (table.open(QIODevice::WriteOnly | QIODevice::Text)) {
        QTextStream out(&table);
        writeCsv(out, report);
    }
    if (!table.commit())
        return SaveFailure{table.fileName(), table.errorString()};
    return std::nullopt;
}

} // namespace BenchTest
