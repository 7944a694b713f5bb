#pragma once

#include "boundedtable.h"
#include "linelistener.h"

#include <QList>

#include <deque>

// What a listener heard, as the window «Слушать линию» keeps it: a row per exchange, time-out,
// reply without request and run of bytes that is no frame; and the frames of the capture that
// «Сохранить…» writes. Both keep only their newest entries, so that a day of listening holds
// as much memory as its last hour.
class HeardLog : public BoundedTable<LineListener::Event> // texts already escaped
{
public:
    enum Column { Time, Address, Exchange, Request, Reply, ReplyTime, ColumnCount };

    // A polled line of five units at 19200 baud carries about 40 exchanges a second: the table
    // shows its last four minutes, the capture (some 150 bytes a frame with its decoding, 15 MB)
    // its last twenty.
    static constexpr int kDefaultRows = 10000;
    static constexpr int kDefaultFrames = 100000;

    explicit HeardLog(QObject *parent = nullptr, int rows = kDefaultRows, int frames = kDefaultFrames);

    void add(const QList<LineListener::Event> &events, const QList<LineListener::Record> &records);
    void clear();

    // The frames held for the capture, the oldest first, and whether older ones were let go.
    QList<LineListener::Record> capture() const;
    int captureSize() const { return int(m_frames.size()); }
    bool captureCut() const { return m_captureCut; }
    int frameCapacity() const { return m_frameCapacity; }

    bool isAnomaly(int row) const;

    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QString text(const LineListener::Event &event, int column) const;

    int m_frameCapacity;
    std::deque<LineListener::Record> m_frames;
    bool m_captureCut = false;
};
