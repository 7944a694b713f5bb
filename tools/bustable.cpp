#include "bustable.h"

#include "catalogue.h"
#include "controls.h"
#include "glyphs.h"
#include "handlers.h"
#include "resultcodes.h"
#include "session.h"

#include <QBrush>

#include <cmath>

namespace {

// A silent unit's row, and its lamps' "not available".
const QColor kSilentColour(128, 128, 128);

// Red when any fault of the word is set, grey when it was not read.
Glyphs::Lamp lampOf(const std::optional<quint16> &word, const Catalogue::Parameter &parameter)
{
    if (!word)
        return Glyphs::Lamp::NotAvailable;
    quint16 known = 0;
    for (const Catalogue::Bit &bit : parameter.bits)
        known |= quint16(1u << bit.bit);
    return (*word & known) ? Glyphs::Lamp::Error : Glyphs::Lamp::NoError;
}

// «норма», or the faults of the word that are set, by their captions.
QString flagsText(const std::optional<quint16> &word, const Catalogue::Parameter &parameter)
{
    if (!word)
        return QStringLiteral("—");
    QStringList faults;
    for (const Catalogue::Bit &bit : parameter.bits) {
        if (*word & (1u << bit.bit))
            faults << bit.caption;
    }
    return faults.isEmpty() ? QStringLiteral("норма") : faults.join(QStringLiteral(", "));
}

const Catalogue::Parameter &flagWordOf(int column)
{
    return Catalogue::of(column == BusTable::SelfDiagColumn ? prmSelfDiag : prmEEPROMErr);
}

} // namespace

BusTable::BusTable(const QColor &textColour, QObject *parent)
    : QAbstractTableModel(parent),
      m_textColour(textColour),
      m_lamps{Glyphs::lampPicture(Glyphs::Lamp::Error), Glyphs::lampPicture(Glyphs::Lamp::NoError),
              Glyphs::lampPicture(Glyphs::Lamp::NotAvailable)}
{
}

void BusTable::clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void BusTable::addUnit(const Bus::Unit &unit)
{
    const int row = int(m_rows.size());
    beginInsertRows({}, row, row);
    m_rows.append(Row{unit, false, {}, {}, false});
    endInsertRows();
}

quint8 BusTable::address(int row) const
{
    return m_rows.at(row).unit.address;
}

void BusTable::showPoll(int row, const Bus::Unit &unit)
{
    if (row < 0 || row >= m_rows.size())
        return;
    m_rows[row].unit = unit;
    m_rows[row].polled = true;
    changed(row, AddressColumn, VerdictColumn - 1);
}

void BusTable::showAges(qint64 nowMs)
{
    for (Row &row : m_rows) {
        const std::optional<qint64> at = row.unit.polledAtMs;
        row.age = at ? RegionalNumber::text((nowMs - *at) / 1000.0, 1) : QString();
    }
    if (!m_rows.isEmpty())
        emit dataChanged(index(0, AgeColumn), index(int(m_rows.size()) - 1, AgeColumn));
}

void BusTable::showProfileWritten(int row, const QString &failure)
{
    showVerdict(row, failure.isEmpty() ? QStringLiteral("профиль записан") : QStringLiteral("профиль: %1").arg(failure),
                !failure.isEmpty());
}

void BusTable::showProgress(int row, int readings, int needed)
{
    showVerdict(row, QStringLiteral("%1/%2").arg(readings).arg(needed), false);
}

void BusTable::showJudgement(int row, const BenchTest::Judgement &judgement)
{
    const BenchTest::Figures &f = judgement.figures;
    const QString verdict = BenchTest::verdictText(judgement.verdict);
    showVerdict(row,
                judgement.passed() ? QStringLiteral("%1: %2, σ %3").arg(verdict).arg(f.mean, 0, 'f', 4).arg(f.sigma, 0, 'f', 4)
                                   : QStringLiteral("%1: %2").arg(verdict, judgement.reason),
                !judgement.passed());
}

void BusTable::showVerdict(int row, const QString &text, bool failed)
{
    if (row < 0 || row >= m_rows.size())
        return;
    m_rows[row].verdict = text;
    m_rows[row].verdictFailed = failed;
    changed(row, VerdictColumn, VerdictColumn);
}

void BusTable::changed(int row, int firstColumn, int lastColumn)
{
    emit dataChanged(index(row, firstColumn), index(row, lastColumn));
}

int BusTable::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int BusTable::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant BusTable::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row &row = m_rows[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: // the whole text of a cell cut short
        return text(row, index.column());
    case Qt::DecorationRole:
        return lamp(row, index.column());
    case Qt::ForegroundRole:
        return QBrush(colour(row, index.column()));
    default:
        return {};
    }
}

// Before its first poll a unit shows who it is alone.
QString BusTable::text(const Row &row, int column) const
{
    const Bus::Unit &unit = row.unit;
    switch (column) {
    case AddressColumn:
        return QString::number(unit.address);
    case NameColumn:
        return unit.name;
    case VersionColumn:
        return unit.version;
    case AgeColumn:
        return row.age;
    case VerdictColumn:
        return row.verdict;
    default:
        break;
    }
    if (!row.polled)
        return {};
    switch (column) {
    case ValueColumn:
        return unit.value && std::isfinite(*unit.value) ? RegionalNumber::text(*unit.value, 3) : QStringLiteral("—");
    case UnitColumn:
        return unit.unit;
    case DisplayColumn:
        return unit.text;
    case SelfDiagColumn:
        return flagsText(unit.selfDiag, flagWordOf(column));
    case EepromColumn:
        return flagsText(unit.eepromErrors, flagWordOf(column));
    case ResultColumn:
        return unit.lastCode == lrOk ? QStringLiteral("ответ") : ResultText(unit.lastCode);
    default:
        return {};
    }
}

QVariant BusTable::lamp(const Row &row, int column) const
{
    if (!row.polled || (column != SelfDiagColumn && column != EepromColumn))
        return {};
    const std::optional<quint16> &word = column == SelfDiagColumn ? row.unit.selfDiag : row.unit.eepromErrors;
    return m_lamps[int(lampOf(word, flagWordOf(column)))];
}

QColor BusTable::colour(const Row &row, int column) const
{
    if (column == VerdictColumn)
        return row.verdictFailed ? kFailureColour : m_textColour;
    if (column == ResultColumn && row.polled && row.unit.lastCode != lrOk)
        return kFailureColour;
    return row.unit.silent ? kSilentColour : m_textColour;
}

QVariant BusTable::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const QStringList captions{QStringLiteral("Адрес"), QStringLiteral("Имя"), QStringLiteral("Версия"),
                                      QStringLiteral("Показания"), QStringLiteral("Ед."), QStringLiteral("Индикатор"),
                                      QStringLiteral("Самодиагностика"), QStringLiteral("EEPROM"), QStringLiteral("Опрос"),
                                      QStringLiteral("Возраст, с"), QStringLiteral("Итог")};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return captions.value(section);
}
