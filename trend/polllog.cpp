#include "polllog.h"

#include "csvwriter.h"
#include "session.h"

#include <QLocale>

#include <cmath>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

QString wordText(const std::optional<quint16> &word)
{
    return word ? QString::number(*word) : QString();
}

void syncToDisk(int handle)
{
#ifdef Q_OS_WIN
    _commit(handle);
#else
    ::fsync(handle);
#endif
}

} // namespace

PollLog::PollLog(QObject *parent) : QObject(parent)
{
    m_syncTimer.setInterval(kSyncMs);
    connect(&m_syncTimer, &QTimer::timeout, this, &PollLog::sync);
}

PollLog::~PollLog()
{
    close();
}

QString PollLog::timeText(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

bool PollLog::open(const QString &path, const QList<std::pair<QString, QString>> &about)
{
    close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        m_error = m_file.errorString();
        return false;
    }
    m_out.setDevice(&m_file);
    CsvWriter csv(m_out, CsvWriter::Dialect::Spreadsheet);
    csv.startFile();
    for (const auto &[key, value] : about) {
        csv.text(key).text(value);
        csv.endRow();
    }
    for (const char *column : {"time", "value", "display", "self_diag", "eeprom_errors", "result", "message"})
        csv.text(QLatin1String(column));
    csv.endRow();
    if (!written()) {
        close();
        return false;
    }
    m_unsynced = true;
    sync();
    m_syncTimer.start();
    return true;
}

// A write that failed leaves its mark on the stream or the file: a full disk, a pulled drive.
bool PollLog::written()
{
    if (m_out.status() == QTextStream::Ok && m_file.error() == QFileDevice::NoError)
        return true;
    m_error = m_file.error() != QFileDevice::NoError ? m_file.errorString() : QStringLiteral("write failed");
    return false;
}

void PollLog::append(const Poll &poll)
{
    if (!isOpen())
        return;
    CsvWriter csv(m_out, CsvWriter::Dialect::Spreadsheet);
    csv.value(timeText(poll.time))
        .number(poll.value.value_or(std::nan("")))
        .text(poll.display)
        .value(wordText(poll.selfDiag))
        .value(wordText(poll.eepromErrors))
        .value(QString::number(poll.result))
        .text(ResultText(poll.result));
    csv.endRow();
    m_unsynced = true;
    if (!written()) {
        close();
        emit failed(m_error);
    }
}

void PollLog::noteAddress(quint16 address)
{
    if (!isOpen())
        return;
    CsvWriter csv(m_out, CsvWriter::Dialect::Spreadsheet);
    csv.text(QStringLiteral("address")).value(QString::number(address));
    csv.endRow();
    m_unsynced = true;
    if (!written()) {
        close();
        emit failed(m_error);
    }
}

// What the system holds of the file goes to the disk; written rows survive a crash already. A
// disk still busy with the last sync is asked again at the next tick.
void PollLog::sync()
{
    if (!isOpen() || !m_unsynced || (m_syncing && m_syncing->isRunning()))
        return;
    m_out.flush();
    const int handle = m_file.handle();
    m_syncing.reset(QThread::create([handle] { syncToDisk(handle); }));
    m_syncing->start();
    m_unsynced = false;
}

// The last rows go to the disk before the file closes: the user asked for it to end.
void PollLog::close()
{
    m_syncTimer.stop();
    if (!isOpen())
        return;
    m_out.flush();
    if (m_syncing)
        m_syncing->wait();
    m_syncing.reset();
    syncToDisk(m_file.handle());
    m_out.setDevice(nullptr);
    m_file.close();
}
