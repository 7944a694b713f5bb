#pragma once

#include <QString>

class QTextStream;

// Rows of values in one of two dialects. For a person's spreadsheet: UTF-8 with a byte-order
// mark (without it a Russian Excel reads the Cyrillic as another code page), ";" between fields
// and the desktop's own decimal separator in numbers, never a group separator, so that a
// Russian Excel opens the file into columns of numbers. For scripts: RFC 4180, "," between
// fields and "." in numbers. Every «Сохранить CSV…», the live pages' log and the bench report
// are for spreadsheets; indicator-cli writes for scripts.
//
// A field that holds the separator, a quote or a line break is quoted, its quotes doubled; a
// script's file quotes a semicolon too, so that a spreadsheet that opens it keeps the field
// whole. A text that a spreadsheet would run as a formula (it begins with =, +, -, @, a tab or
// a carriage return) gets a leading apostrophe, so that it is shown and never run; a number,
// and a text that is only a number ("-5.000"), go as they are. Rows end in a line feed, as
// scripts reading a row a line expect.
class CsvWriter
{
public:
    enum class Dialect { Spreadsheet, Script };

    CsvWriter(QTextStream &out, Dialect dialect);

    // At the start of a file: UTF-8, and a spreadsheet's byte-order mark.
    void startFile();
    // Free text: a device's name or display text, a caption, a result.
    CsvWriter &text(const QString &field);
    // What the program wrote itself as a time, a whole number or a figure in the dialect's
    // decimal separator: never taken for a formula.
    CsvWriter &value(const QString &field);
    // As QString::number gives it, with the dialect's decimal separator; empty when it is no
    // number (a failed poll).
    CsvWriter &number(double value, char format = 'g', int precision = 12);
    // Ends the row and hands it on at once: a row a poll is seen as it comes.
    void endRow();

private:
    QString decimalPoint() const;
    void put(const QString &field);

    QTextStream &m_out;
    Dialect m_dialect;
    bool m_rowStarted = false;
};
