#pragma once

#include <QAbstractTableModel>

#include <algorithm>
#include <deque>
#include <iterator>

// A table that keeps only its newest `capacity` rows, as the logs of the menu «Сервис» do: new
// rows join at the end in one insertion, after the oldest beyond the capacity have left in one
// removal, so that a view follows the end without resetting.
template <typename Row>
class BoundedTable : public QAbstractTableModel
{
public:
    int capacity() const { return m_capacity; }
    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(m_rows.size()); }

protected:
    BoundedTable(QObject *parent, int capacity) : QAbstractTableModel(parent), m_capacity(capacity) {}

    const Row &rowAt(int row) const { return m_rows[std::size_t(row)]; }

    // Appends the newest `capacity` of the rows in [first, last); rows never shown are never taken.
    template <typename Iterator>
    void append(Iterator first, Iterator last)
    {
        const auto given = std::distance(first, last);
        const int incoming = int(std::min<decltype(given)>(given, m_capacity));
        if (incoming == 0)
            return;
        std::advance(first, given - incoming);
        dropOldest(int(m_rows.size()) + incoming - m_capacity);
        const int at = int(m_rows.size());
        beginInsertRows({}, at, at + incoming - 1);
        std::copy(first, last, std::back_inserter(m_rows));
        endInsertRows();
    }

    void clearRows()
    {
        beginResetModel();
        m_rows.clear();
        endResetModel();
    }

private:
    void dropOldest(int count)
    {
        count = std::min(count, int(m_rows.size()));
        if (count <= 0)
            return;
        beginRemoveRows({}, 0, count - 1);
        m_rows.erase(m_rows.begin(), m_rows.begin() + count);
        endRemoveRows();
    }

    int m_capacity;
    std::deque<Row> m_rows;
};
