#include "iniprofile.h"

#include "fileguard.h"

#include <QSaveFile>

#include <algorithm>

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF"; // UTF-8

bool sameName(QByteArrayView a, QByteArrayView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QByteArrayView withoutLineEnd(QByteArrayView line)
{
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line;
}

// The name of a "[section]" line, or nothing for any other line.
std::optional<QByteArrayView> sectionName(QByteArrayView line)
{
    line = line.trimmed();
    if (!line.startsWith('['))
        return std::nullopt;
    const qsizetype close = line.indexOf(']');
    return (close < 0 ? line.sliced(1) : line.sliced(1, close - 1)).trimmed();
}

bool isComment(QByteArrayView line)
{
    line = line.trimmed();
    return line.startsWith(';') || line.startsWith('#');
}

// The key of a "key=value" line, or nothing.
std::optional<QByteArrayView> keyName(QByteArrayView line)
{
    const qsizetype equals = line.indexOf('=');
    if (equals < 0 || isComment(line))
        return std::nullopt;
    return line.first(equals).trimmed();
}

std::optional<qint64> parseDigits(QByteArrayView digits, int base)
{
    if (digits.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 value = digits.toLongLong(&ok, base);
    return ok ? std::optional(value) : std::nullopt;
}

} // namespace

IniProfile::IniProfile(const QString &path) : m_path(path)
{
    FileGuard::Content file = FileGuard::read(path);
    m_verdict = file.verdict;
    if (m_verdict == FileGuard::Verdict::Missing)
        return;
    if (m_verdict != FileGuard::Verdict::Readable) {
        m_error = file.reason;
        return;
    }
    QByteArray content = std::move(file.bytes);
    // A mark an editor put first would hide the first section; it is put back on saving.
    m_byteOrderMark = content.startsWith(kByteOrderMark);
    if (m_byteOrderMark)
        content.remove(0, qsizetype(std::size(kByteOrderMark)) - 1);
    qsizetype start = 0;
    while (start < content.size()) {
        const qsizetype end = content.indexOf('\n', start);
        const qsizetype next = end < 0 ? content.size() : end + 1;
        m_lines.append(content.sliced(start, next - start));
        start = next;
    }
    if (!m_lines.isEmpty() && m_lines.first().endsWith("\r\n"))
        m_newline = "\r\n";
}

IniProfile::Place IniProfile::find(QByteArrayView section, QByteArrayView key) const
{
    Place place;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const QByteArrayView line = withoutLineEnd(m_lines[i]);
        if (const auto name = sectionName(line)) {
            if (place.section >= 0)
                break; // the section has ended
            if (sameName(*name, section)) {
                place.section = i;
                place.end = i + 1;
            }
            continue;
        }
        if (place.section < 0)
            continue;
        if (!line.trimmed().isEmpty())
            place.end = i + 1;
        const auto name = keyName(line);
        if (place.key < 0 && name && sameName(*name, key))
            place.key = i;
    }
    return place;
}

std::optional<QByteArray> IniProfile::value(QByteArrayView section, QByteArrayView key) const
{
    const Place place = find(section, key);
    if (place.key < 0)
        return std::nullopt;
    const QByteArrayView line = withoutLineEnd(m_lines[place.key]);
    QByteArrayView text = line.sliced(line.indexOf('=') + 1).trimmed();
    if (text.size() >= 2 && text.startsWith('"') && text.endsWith('"'))
        text = text.sliced(1, text.size() - 2);
    return text.toByteArray();
}

qint64 IniProfile::readInteger(QByteArrayView section, QByteArrayView key, qint64 fallback) const
{
    const auto text = value(section, key);
    return text ? parseInteger(*text).value_or(fallback) : fallback;
}

std::optional<qint64> IniProfile::parseInteger(QByteArrayView text)
{
    text = text.trimmed();
    if (text.startsWith("0x") || text.startsWith("0X"))
        return parseDigits(text.sliced(2), 16);
    if (text.startsWith('$'))
        return parseDigits(text.sliced(1), 16);
    // toLongLong alone would take "0x" prefixes and spaces after a sign; only digits may follow.
    const QByteArrayView digits = (text.startsWith('-') || text.startsWith('+')) ? text.sliced(1) : text;
    if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return parseDigits(text, 10);
}

void IniProfile::appendLine(const QByteArray &text)
{
    if (!m_lines.isEmpty() && !m_lines.last().endsWith('\n'))
        m_lines.last().append(m_newline);
    m_lines.append(text + m_newline);
}

void IniProfile::writeValue(QByteArrayView section, QByteArrayView key, const QByteArray &value)
{
    const QByteArray line = key.toByteArray() + '=' + value;
    const Place place = find(section, key);
    if (place.key >= 0) {
        const QByteArray &old = m_lines[place.key];
        m_lines[place.key] = line + old.sliced(withoutLineEnd(old).size());
    } else if (place.section >= 0) {
        // After the section's last entry, so that blank lines before the next section stay there.
        if (!m_lines[place.end - 1].endsWith('\n'))
            m_lines[place.end - 1].append(m_newline);
        m_lines.insert(place.end, line + m_newline);
    } else {
        appendLine('[' + section.toByteArray() + ']');
        appendLine(line);
    }
}

void IniProfile::writeInteger(QByteArrayView section, QByteArrayView key, qint64 value)
{
    writeValue(section, key, QByteArray::number(value));
}

bool IniProfile::save()
{
    // Writing now would lose the lines that could not be read, or replace what is no file of ours.
    if (m_verdict != FileGuard::Verdict::Readable && m_verdict != FileGuard::Verdict::Missing)
        return false;
    QSaveFile file(m_path);
    // Where the folder takes no new file but the file itself may be written, it is written in
    // place: the folder of an installed program is often locked while its settings file is not.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = file.errorString();
        return false;
    }
    if (m_byteOrderMark)
        file.write(kByteOrderMark);
    for (const QByteArray &line : std::as_const(m_lines))
        file.write(line);
    if (!file.commit()) {
        m_error = file.errorString();
        return false;
    }
    return true;
}
