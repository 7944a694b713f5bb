#include "fileguard.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileGuard {

namespace {

Content failure(Verdict verdict, const QString &reason)
{
    return {verdict, {}, reason};
}

Content fromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return failure(Verdict::Missing, QStringLiteral("нет такого файла"));
    case ELOOP:
        return failure(Verdict::Unreadable, QStringLiteral("символические ссылки ведут по кругу"));
    case EACCES:
        return failure(Verdict::Unreadable, QStringLiteral("нет прав на чтение"));
    default:
        return failure(Verdict::Unreadable, QString::fromLocal8Bit(std::strerror(error)));
    }
}

// From the status alone, so that nothing is opened that could block or never end.
std::optional<Content> refusal(const struct stat &status)
{
    if (S_ISDIR(status.st_mode))
        return failure(Verdict::Unreadable, QStringLiteral("это папка, а не файл"));
    if (!S_ISREG(status.st_mode))
        return failure(Verdict::Refused, QStringLiteral("не обычный файл (устройство, канал или сокет)"));
    if (status.st_size > kLargestFile)
        return failure(Verdict::Refused, QStringLiteral("файл больше %1 байт (%2 байт)").arg(kLargestFile).arg(qint64(status.st_size)));
    return std::nullopt;
}

} // namespace

Content read(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat status{};
    if (::stat(name.constData(), &status) != 0)
        return fromErrno(errno);
    if (const std::optional<Content> refused = refusal(status))
        return *refused;

    // Non-blocking, and judged again once open: the path may have been swapped for a FIFO or a
    // device in between.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fromErrno(errno);
    Content content{Verdict::Readable, {}, {}};
    if (::fstat(fd, &status) != 0) {
        content = fromErrno(errno);
    } else if (const std::optional<Content> refused = refusal(status)) {
        content = *refused;
    } else {
        // One byte more than allowed tells a file that grew since its status was taken.
        content.bytes.resize(kLargestFile + 1);
        qsizetype filled = 0;
        while (filled < content.bytes.size()) {
            const ssize_t got = ::read(fd, content.bytes.data() + filled, size_t(content.bytes.size() - filled));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                content = fromErrno(errno);
            if (got <= 0)
                break;
            filled += got;
        }
        if (content.verdict == Verdict::Readable && filled > kLargestFile)
            content = failure(Verdict::Refused, QStringLiteral("файл больше %1 байт").arg(kLargestFile));
        else if (content.verdict == Verdict::Readable)
            content.bytes.truncate(filled);
    }
    ::close(fd);
    return content;
}

} // namespace FileGuard
