#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

// Reading a file that a user names or that lies where a settings file should: only a regular
// file (after following links) of a size that no profile or settings file comes near. A device
// node would be read for ever (/dev/zero, /dev/urandom), a FIFO would block the opening, and a
// file of hundreds of megabytes is no file of this program's; each is refused before a byte is
// read, from the file's status alone.
namespace FileGuard {

// 1 MiB: a profile is about 1 KB, a settings file a few hundred bytes.
inline constexpr qint64 kLargestFile = 1024 * 1024;

enum class Verdict {
    Readable,   // a regular file within kLargestFile
    Missing,    // nothing at the path
    Unreadable, // there, but it cannot be read: a folder, a loop of links, no permission
    Refused,    // not a regular file (a device, a FIFO, a socket), or larger than kLargestFile
};

struct Content
{
    Verdict verdict;
    QByteArray bytes; // Readable only
    QString reason;   // why not, in the window's words; empty when Readable
};

Content read(const QString &path);

} // namespace FileGuard
