#include "csvwriter.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <cmath>

namespace {

// Where a spreadsheet starts a formula, as the OWASP advice on CSV injection lists them.
bool beginsAsFormula(const QString &text)
{
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    static const QRegularExpression plainNumber(QStringLiteral("^[+-]?[0-9]+([.,][0-9]+)?$"));
    return !text.isEmpty() && formulaStarts.contains(text.front()) && !plainNumber.match(text).hasMatch();
}

} // namespace

CsvWriter::CsvWriter(QTextStream &out, Dialect dialect) : m_out(out), m_dialect(dialect) {}

void CsvWriter::startFile()
{
    m_out.setEncoding(QStringConverter::Utf8);
    if (m_dialect == Dialect::Spreadsheet)
        m_out << QChar(QChar::ByteOrderMark);
}

CsvWriter &CsvWriter::text(const QString &field)
{
    put(beginsAsFormula(field) ? u'\'' + field : field);
    return *this;
}

CsvWriter &CsvWriter::value(const QString &field)
{
    put(field);
    return *this;
}

CsvWriter &CsvWriter::number(double value, char format, int precision)
{
    if (!std::isfinite(value)) {
        put({});
        return *this;
    }
    // Not QLocale::toString, which groups digits and in some locales signs with U+2212.
    QString text = QString::number(value, format, precision);
    if (m_dialect == Dialect::Spreadsheet)
        text.replace(u'.', decimalPoint());
    put(text);
    return *this;
}

void CsvWriter::endRow()
{
    m_out << '\n';
    m_out.flush();
    m_rowStarted = false;
}

// The desktop's, as the window shows numbers; a spreadsheet on the same desktop reads it.
QString CsvWriter::decimalPoint() const
{
    return m_dialect == Dialect::Spreadsheet ? QLocale().decimalPoint() : QStringLiteral(".");
}

void CsvWriter::put(const QString &field)
{
    const QChar separator = m_dialect == Dialect::Spreadsheet ? u';' : u',';
    if (m_rowStarted)
        m_out << separator;
    m_rowStarted = true;
    const bool quoted = std::any_of(field.begin(), field.end(), [&](QChar c) {
        return c == separator || c == u';' || c == u'"' || c == u'\r' || c == u'\n';
    });
    if (!quoted) {
        m_out << field;
        return;
    }
    QString escaped = field;
    escaped.replace(u'"', QStringLiteral("\"\""));
    m_out << '"' << escaped << '"';
}
