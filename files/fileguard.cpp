#include "fileguard.h"

#include <QFile>

#ifdef Q_OS_WIN
#include "winsystemtext.h"

#include <QDir>

#include <windows.h>
#else
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace FileGuard {

namespace {

Content failure(Verdict verdict, const QString &reason)
{
    return {verdict, {}, reason};
}

// From the status alone, so that nothing is read that could block or never end.
std::optional<Content> refusal(bool folder, bool regular, qint64 size)
{
    if (folder)
        return failure(Verdict::Unreadable, QStringLiteral("это папка, а не файл"));
    if (!regular)
        return failure(Verdict::Refused, QStringLiteral("не обычный файл (устройство, канал или сокет)"));
    if (size > kLargestFile)
        return failure(Verdict::Refused, QStringLiteral("файл больше %1 байт (%2 байт)").arg(kLargestFile).arg(size));
    return std::nullopt;
}

// One byte more than allowed tells a file that grew since its status was taken. readSome
// returns the bytes it got, 0 at the end, or sets the failure.
template <typename ReadSome>
Content readAll(ReadSome readSome)
{
    Content content{Verdict::Readable, {}, {}};
    content.bytes.resize(kLargestFile + 1);
    qsizetype filled = 0;
    while (filled < content.bytes.size()) {
        std::optional<Content> failed;
        const qint64 got = readSome(content.bytes.data() + filled, content.bytes.size() - filled, &failed);
        if (failed)
            return *failed;
        if (got <= 0)
            break;
        filled += got;
    }
    if (filled > kLargestFile)
        return failure(Verdict::Refused, QStringLiteral("файл больше %1 байт").arg(kLargestFile));
    content.bytes.truncate(filled);
    return content;
}

#ifdef Q_OS_WIN
Content fromError(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return failure(Verdict::Missing, QStringLiteral("нет такого файла"));
    case ERROR_CANT_RESOLVE_FILENAME:
        return failure(Verdict::Unreadable, QStringLiteral("символические ссылки ведут по кругу"));
    case ERROR_ACCESS_DENIED:
        return failure(Verdict::Unreadable, QStringLiteral("нет прав на чтение"));
    default:
        return failure(Verdict::Unreadable, WinSystemText::message(error));
    }
}

// A device (CON, COM1, a pipe) opens without blocking; its type refuses it before any read.
Content judgedAndRead(HANDLE file)
{
    const bool regular = GetFileType(file) == FILE_TYPE_DISK;
    BY_HANDLE_FILE_INFORMATION information{};
    if (!regular || !GetFileInformationByHandle(file, &information))
        return regular ? fromError(GetLastError()) : *refusal(false, false, 0);
    const bool folder = information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    const qint64 size = (qint64(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    if (const std::optional<Content> refused = refusal(folder, regular, size))
        return *refused;
    return readAll([file](char *data, qint64 room, std::optional<Content> *failed) -> qint64 {
        DWORD got = 0;
        if (!ReadFile(file, data, DWORD(room), &got, nullptr)) {
            *failed = fromError(GetLastError());
            return -1;
        }
        return got;
    });
}

} // namespace

Content read(const QString &path)
{
    // Backup semantics open a folder too, so that it is named as one.
    const QString name = QDir::toNativeSeparators(path);
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t *>(name.utf16()), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return fromError(GetLastError());
    const Content content = judgedAndRead(file);
    CloseHandle(file);
    return content;
}
#else
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

std::optional<Content> refusal(const struct stat &status)
{
    return refusal(S_ISDIR(status.st_mode), S_ISREG(status.st_mode), qint64(status.st_size));
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
    Content content;
    if (::fstat(fd, &status) != 0) {
        content = fromErrno(errno);
    } else if (const std::optional<Content> refused = refusal(status)) {
        content = *refused;
    } else {
        content = readAll([fd](char *data, qint64 room, std::optional<Content> *failed) -> qint64 {
            for (;;) {
                const ssize_t got = ::read(fd, data, size_t(room));
                if (got < 0 && errno == EINTR)
                    continue;
                if (got < 0)
                    *failed = fromErrno(errno);
                return got;
            }
        });
    }
    ::close(fd);
    return content;
}
#endif

} // namespace FileGuard
