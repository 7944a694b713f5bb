#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

class QTextStream;

// What a command prints on standard output: lines of text (for a person, or CSV rows with --csv)
// or, with --json, JSON for a script. The printer is the one place that tells the two apart: a
// command hands each result over in both of its forms and the printer writes the one asked for.
class Printer
{
public:
    enum class Form { Text, Json };

    Printer(QTextStream &out, Form form);

    // A result that stands on its own as it comes (a unit found, a poll, a verdict): a line of
    // text, or a JSON object on a line of its own that a script can take as soon as it comes.
    void record(const QString &text, const QJsonObject &json);
    // A line of text; a script gets the same in a document or a JSON line.
    void text(const QString &line);
    // A JSON line as another part of the program writes it (a capture file's), line feed and all.
    void jsonLine(const QByteArray &written);
    // The whole result of a command for a script, indented, once it is complete.
    void jsonDocument(const QJsonValue &json);
    // What reads the same for both, such as the completion script.
    void verbatim(const QString &text);

private:
    void jsonLine(const QJsonObject &json);
    void writeLine(const QString &line);

    QTextStream &m_out;
    Form m_form;
};
