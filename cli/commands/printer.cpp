#include "printer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

Printer::Printer(QTextStream &out, Form form) : m_out(out), m_form(form) {}

void Printer::record(const QString &text, const QJsonObject &json)
{
    this->text(text);
    jsonLine(json);
}

void Printer::text(const QString &line)
{
    if (m_form == Form::Text)
        writeLine(line);
}

void Printer::jsonLine(const QJsonObject &json)
{
    if (m_form == Form::Json)
        writeLine(QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)));
}

void Printer::jsonLine(const QByteArray &written)
{
    if (m_form == Form::Json)
        writeLine(QString::fromUtf8(written.endsWith('\n') ? written.chopped(1) : written));
}

void Printer::jsonDocument(const QJsonValue &json)
{
    if (m_form != Form::Json)
        return;
    const QJsonDocument document = json.isArray() ? QJsonDocument(json.toArray()) : QJsonDocument(json.toObject());
    m_out << document.toJson(QJsonDocument::Indented);
    m_out.flush();
}

void Printer::verbatim(const QString &text)
{
    m_out << text;
}

// Each line goes out at once: a script reading a watch or a listener takes it as it comes.
void Printer::writeLine(const QString &line)
{
    m_out << line << Qt::endl;
}
