#pragma once

#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QThread>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

#include <memory>

#include <optional>

// A CSV file that a live page writes while it polls, one row a poll, for an engineer who wants
// the record of a long watch. Every row reaches the system as it is written, so a crash of the
// program loses nothing; once a second the system is told to put it on the disk, so that a
// laptop that loses its power loses at most that second. That wait for the disk (a USB stick
// may take a good part of a second) runs on a thread of its own, never the window's.
class PollLog : public QObject
{
    Q_OBJECT

public:
    static constexpr int kSyncMs = 1000;

    // One poll of a live page. A word or a value that was not read is left out.
    struct Poll
    {
        QDateTime time;
        std::optional<double> value; // the display text as a number
        QString display;             // the display text as the device sent it; empty when not read
        std::optional<quint16> selfDiag;
        std::optional<quint16> eepromErrors;
        qint16 result = 0; // the poll's first failure, or 0
        quint16 address = 0; // the unit all of its reads went to
    };

    explicit PollLog(QObject *parent = nullptr);
    ~PollLog() override;

    // Creates path anew for a spreadsheet, writes the lines that say what is logged (each
    // "key;value") and the row of column names. False when the file cannot be written: errorString() says why.
    bool open(const QString &path, const QList<std::pair<QString, QString>> &about);
    void append(const Poll &poll);
    // The polls from here on are of another unit: a row as the first lines name the address.
    void noteAddress(quint16 address);
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    QString fileName() const { return m_file.fileName(); }
    QString errorString() const { return m_error; }

    // ISO 8601 to the millisecond with the zone: 2026-12-09T13:20:01.250+03:00.
    static QString timeText(const QDateTime &time);

signals:
    // A row could not be written (a full disk, a drive pulled out): the log is closed.
    void failed(const QString &reason);

private:
    bool written();
    void sync();

    QFile m_file;
    QTextStream m_out;
    QTimer m_syncTimer;
    std::unique_ptr<QThread> m_syncing; // the last sync, finished or under way
    bool m_unsynced = false;
    QString m_error;
};
