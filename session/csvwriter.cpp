#include "csvwriter.h"

#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>

namespace {

// Where a spreadsheet starts a formula, as the OWASP advice on CSV injection lists them.
bool beginsAsFormula(const QString &text)
{
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    static const QRegularExpression plainNumber(QStringLiteral("^[+-]?[0-9]+([.,][0-9]+)?$"));
    return !text.isEmpty() && formulaStarts.contains(text.front()) && !plainNumber.match(text).hasMatch();
}

bool needsQuotes(const QString &field)
{
    return std::any_of(field.begin(), field.end(), [](QChar c) {
        return c == u',' || c == u';' || c == u'"' || c == u'\r' || c == u'\n';
    });
}

} // namespace

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

void CsvWriter::endRow()
{
    m_out << '\n';
    m_out.flush();
    m_rowStarted = false;
}

void CsvWriter::put(const QString &field)
{
    if (m_rowStarted)
        m_out << ',';
    m_rowStarted = true;
    if (!needsQuotes(field)) {
        m_out << field;
        return;
    }
    QString quoted = field;
    quoted.replace(u'"', QStringLiteral("\"\""));
    m_out << '"' << quoted << '"';
}
