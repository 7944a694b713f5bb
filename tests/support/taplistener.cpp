#include "taplistener.h"

#include <QDeadlineTimer>
#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

TapListener::TapListener(const QString &path)
{
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios raw{};
    if (m_fd >= 0 && tcgetattr(m_fd, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(m_fd, TCSANOW, &raw);
    }
}

TapListener::~TapListener()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QByteArray TapListener::waitFor(qsizetype size, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (isOpen() && m_size < size && !deadline.hasExpired()) {
        pollfd tap{m_fd, POLLIN, 0};
        if (poll(&tap, 1, int(qMax<qint64>(1, deadline.remainingTime()))) <= 0)
            continue;
        char bytes[4096];
        const ssize_t n = ::read(m_fd, bytes, sizeof bytes);
        if (n <= 0)
            break; // the simulator has gone
        m_pieces.append(QByteArray(bytes, n));
        m_size += n;
    }
    return heard();
}
