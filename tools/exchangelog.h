#pragma once

#include "boundedtable.h"
#include "exchangerecord.h"

#include <QElapsedTimer>
#include <QTimer>

#include <deque>

// One row of the exchange monitor.
struct ExchangeLogRow
{
    enum class Kind {
        Exchange,
        Discarded, // input thrown away before the request; bytes are in `reply`
        Foreign,   // another unit's frame, set aside; the frame is in `reply`
    };
    Kind kind;
    QDateTime time;
    QByteArray request;
    QByteArray reply;
    qint64 durationMs;
    qint16 result;
};

// The exchange monitor's history as a table: one row per exchange, decoded, and a row of its own
// for input that was thrown away before a request and for each frame of another unit that the
// exchange set aside. Exchanges arrive in a queue and join the
// table in batches: an exchange after a quiet spell shows almost at once, while a page that
// polls 30 times a second costs one view update a second rather than one per exchange. Only
// the newest `capacity` rows are kept.
class ExchangeLog : public BoundedTable<ExchangeLogRow>
{
    Q_OBJECT

public:
    enum Column { Time, Slave, Function, What, Request, Reply, Duration, Outcome, ColumnCount };

    // True for a failed exchange, discarded input and another unit's frame: what "errors only"
    // keeps.
    static constexpr int AnomalyRole = Qt::UserRole;

    // 30 exchanges a second for an hour and a half before the oldest rows go.
    static constexpr int kDefaultCapacity = 10000;
    // At most one batch a second; the first exchange after a quiet spell waits only long enough
    // to gather the rest of a page's read-all (four reads at 19200 baud take about 40 ms).
    static constexpr int kBatchIntervalMs = 1000;
    static constexpr int kFirstBatchDelayMs = 50;

    explicit ExchangeLog(QObject *parent = nullptr, int capacity = kDefaultCapacity);

    // Queues the exchange's rows; they appear at the next batch.
    void add(const ExchangeRecord &record);
    // Moves the queued rows into the table at once, dropping the oldest beyond the capacity.
    void flush();
    void clear();

    bool isAnomaly(int row) const;
    // A row's texts as shown, tab-separated: a line of the saved file or of the clipboard.
    QString line(int row) const;

    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    using Row = ExchangeLogRow;

    QString text(const Row &row, int column) const;

    std::deque<Row> m_queued;
    QTimer m_batch;
    QElapsedTimer m_sinceBatch;
};
