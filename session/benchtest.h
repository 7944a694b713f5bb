#pragma once

#include "buspoller.h"

#include <QDateTime>
#include <QList>
#include <QString>

class QTextStream;

// The bench test of a batch: the same reference signal on every unit, and each unit's reading
// over a few seconds judged against it. Then the report for the batch's paperwork.
namespace BenchTest {

struct Limits
{
    double expected = 0.0;  // what every unit should read
    double tolerance = 0.0; // how far its mean may lie from it, either way
    double sigmaLimit = 0.0; // the largest standard deviation of its readings
};

struct Figures
{
    int samples = 0;
    int polls = 0;
    int failedPolls = 0;
    double mean = 0.0;
    double sigma = 0.0;
    double lowest = 0.0;
    double highest = 0.0;
    quint16 selfDiag = 0;
    quint16 eepromErrors = 0;
};

struct Judgement
{
    Figures figures;
    bool passed = false;
    QString reason; // why it failed, in the window's words; empty when it passed
};

// A unit passes when it gave readings, nearly every poll answered (a reply lost in ten polls
// and more is the line's, not the unit's), no diagnostic flag was set, the mean lies within
// the tolerance of the expected value and the readings' standard deviation stays at or below
// the limit. A unit that gave nothing fails: no figure is a good figure.
Judgement judge(const Bus::Samples &samples, const Limits &limits);

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

    int failures() const;
};

// One row per unit after a header; the figures as numbers, the device's texts as text.
void writeCsv(QTextStream &out, const Report &report);
// A page to print: the date, the profile, the limits, and each unit with its figures and
// verdict. Every text that came from a unit or a file is escaped.
QString html(const Report &report);

} // namespace BenchTest
