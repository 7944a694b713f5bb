#pragma once

#include "benchtest.h"
#include "buspoller.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QList>
#include <QPixmap>

// The table of «Приборы на линии»: a row per unit found, with its last poll (the reading, its
// unit, the display, a lamp and the faults of each flag word, the poll's result, the seconds
// since) and its verdict (the profile written into it, the test's progress, its judgement). A
// silent unit's row is grey; a failure is red.
class BusTable : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        AddressColumn,
        NameColumn,
        VersionColumn,
        ValueColumn,
        UnitColumn,
        DisplayColumn,
        SelfDiagColumn,
        EepromColumn,
        ResultColumn,
        AgeColumn,
        VerdictColumn,
        ColumnCount
    };

    // textColour: the window's, for a unit that answers and a verdict that is no failure.
    explicit BusTable(const QColor &textColour, QObject *parent = nullptr);

    void clear();
    // A unit as the sweep found it, before its first poll.
    void addUnit(const Bus::Unit &unit);
    quint8 address(int row) const;

    void showPoll(int row, const Bus::Unit &unit);
    // Seconds since each unit's last poll, whatever its result.
    void showAges(qint64 nowMs);
    // Empty failure: the unit holds the profile now.
    void showProfileWritten(int row, const QString &failure);
    // «12/20»: the readings a unit has given the test so far, of those it needs.
    void showProgress(int row, int readings, int needed);
    void showJudgement(int row, const BenchTest::Judgement &judgement);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Row
    {
        Bus::Unit unit;
        bool polled = false;
        QString age;
        QString verdict;
        bool verdictFailed = false;
    };

    QString text(const Row &row, int column) const;
    QVariant lamp(const Row &row, int column) const;
    QColor colour(const Row &row, int column) const;
    void showVerdict(int row, const QString &text, bool failed);
    void changed(int row, int firstColumn, int lastColumn);

    QColor m_textColour;
    QPixmap m_lamps[3]; // by Glyphs::Lamp
    QList<Row> m_rows;
};
