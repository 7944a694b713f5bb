#pragma once

#include "fileguard.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// A profile (INI) file that is edited line by line: reading a key never changes the file, and
// writing one replaces that key's line or adds it, leaving every other line byte for byte as it
// was (comments, other sections, other keys, their order, their line ends).
//
// Section and key names match without regard to case; the first section and the first key of a
// name count, as the Windows profile functions do.
class IniProfile
{
public:
    // Reads the file, if there is one. A missing file is an empty profile, and so is one that
    // cannot be read or is refused (FileGuard): verdict() and errorString() say which, and such
    // a file is never replaced. A UTF-8 byte-order mark is read past and kept.
    explicit IniProfile(const QString &path);

    FileGuard::Verdict verdict() const { return m_verdict; }

    std::optional<QByteArray> value(QByteArrayView section, QByteArrayView key) const;
    // The key's value as an integer, or fallback when the key is missing or not an integer.
    qint64 readInteger(QByteArrayView section, QByteArrayView key, qint64 fallback) const;

    // Replaces the key's line, adds the key at the end of its section, or adds the section with
    // the key at the end of the file. Takes effect in the file at save().
    void writeValue(QByteArrayView section, QByteArrayView key, const QByteArray &value);
    void writeInteger(QByteArrayView section, QByteArrayView key, qint64 value);

    // Writes the file whole or not at all; false with errorString() when it cannot.
    bool save();
    QString errorString() const { return m_error; }

    // Decimal with an optional sign, or hexadecimal after 0x, 0X or $; nothing else.
    static std::optional<qint64> parseInteger(QByteArrayView text);

private:
    struct Place
    {
        qsizetype section = -1; // line of the section's header
        qsizetype key = -1;     // line of the key
        qsizetype end = -1;     // line after the section's last non-blank line
    };
    Place find(QByteArrayView section, QByteArrayView key) const;
    void appendLine(const QByteArray &text);

    QString m_path;
    QList<QByteArray> m_lines; // each with its own line end, if it had one
    QByteArray m_newline = "\n";
    FileGuard::Verdict m_verdict = FileGuard::Verdict::Missing;
    bool m_byteOrderMark = false;
    QString m_error;
};
