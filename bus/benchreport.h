#pragma once

#include "benchtest.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

class QTextStream;

// The report of a batch's bench test, for its paperwork: a page to print and the same rows for
// a spreadsheet beside it.
namespace BenchTest {

struct Row
{
    quint8 address = 0;
    QString name;
    QString version;
    Judgement judgement;
};

struct Report
{
    QDateTime when;
    QString profile; // the profile written before the test; empty when none was
    QString line;    // the port and its setting, as the window shows them
    QString unitOfMeasure;
    Limits limits;
    QList<Row> rows;

    int passes() const;
    int failures() const;
    int untested() const;
};

// One row per unit after a header, for a spreadsheet; the figures as numbers, the device's
// texts as text.
void writeCsv(QTextStream &out, const Report &report);
// A page to print: the date, the profile, the limits, and each unit with its figures and
// verdict. Every text that came from a unit or a file is escaped. A printed or PDF copy is
// rendered from this same text, so that every copy of a report says the same.
QString html(const Report &report);

// «проверка-20240305-1407.html»: the name a report is offered to be saved under.
QString suggestedFileName(const Report &report);
// batch.csv for batch.html: the spreadsheet's rows go beside the page, under its name.
QString csvPathBeside(const QString &htmlPath);

struct SaveFailure
{
    QString path;   // the file not written
    QString reason; // the system's words
};
// The page at htmlPath and the CSV at csvPathBeside(htmlPath), each replacing a file of its name
// only once it is whole. The page goes first: when it fails, the CSV is not written either.
std::optional<SaveFailure> save(const Report &report, const QString &htmlPath);
// The CSV alone, beside a page saved in another form (a PDF).
std::optional<SaveFailure> saveCsvBeside(const Report &report, const QString &pagePath);

} // namespace BenchTest
