#pragma once

#include <QString>

class QTextStream;

// Rows of comma-separated values for a spreadsheet or a script, after RFC 4180: a field that
// holds a comma, a semicolon (the separator a Russian spreadsheet splits on), a quote or a line
// break is quoted, its quotes doubled. A text that a spreadsheet would run as a formula (it
// begins with =, +, -, @, a tab or a carriage return) gets a leading apostrophe, so that it is
// shown and never run; a number, and a text that is only a number ("-5.000"), go as they are.
// Rows end in a line feed, as scripts reading a row a line expect; a line break inside a field
// is quoted, so rows stay apart.
class CsvWriter
{
public:
    explicit CsvWriter(QTextStream &out) : m_out(out) {}

    // Free text: a device's name or display text, a caption, a result.
    CsvWriter &text(const QString &field);
    // What the program wrote itself as a number or a time: never taken for a formula.
    CsvWriter &value(const QString &field);
    // Ends the row and hands it on at once: a row a poll is seen as it comes.
    void endRow();

private:
    void put(const QString &field);

    QTextStream &m_out;
    bool m_rowStarted = false;
};
