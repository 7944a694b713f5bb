#include "exchangelog.h"

#include "controls.h"
#include "framewords.h"
#include "resultcodes.h"
#include "rtuframe.h"
#include "session.h"

#include <QBrush>
#include <QColor>
#include <QFontDatabase>

#include <algorithm>

namespace {

// An exception reply carries its code after address and function.
constexpr int kExceptionCodeOffset = 2;
// Address, function, first register and count.
constexpr int kRequestHeaderSize = 6;

// Why a whole reply was refused: "Ошибка! Ответ не на запрос (адрес 7, функция 04)".
QString refusalText(const QByteArray &request, const QByteArray &reply)
{
    QString why;
    switch (Rtu::mismatch(request, reply)) {
    case Rtu::Mismatch::None:
        return ResultText(lrWrongReply);
    case Rtu::Mismatch::Slave:
    case Rtu::Mismatch::Function:
        why = QStringLiteral("адрес %1, функция %2")
                  .arg(int(quint8(reply[0])))
                  .arg(int(quint8(reply[1])), 2, 16, QLatin1Char('0'));
        break;
    case Rtu::Mismatch::ByteCount:
        why = QStringLiteral("байт данных %1 вместо %2").arg(int(quint8(reply[2]))).arg(2 * Rtu::wordAt(request, 4));
        break;
    case Rtu::Mismatch::FirstRegister:
        why = QStringLiteral("регистр %1 вместо %2")
                  .arg(FrameWords::hexNumber(Rtu::wordAt(reply, 2), 4), FrameWords::hexNumber(Rtu::wordAt(request, 2), 4));
        break;
    case Rtu::Mismatch::Count:
        why = QStringLiteral("регистров %1 вместо %2").arg(Rtu::wordAt(reply, 4)).arg(Rtu::wordAt(request, 4));
        break;
    }
    return QStringLiteral("%1 (%2)").arg(ResultText(lrWrongReply), why);
}

QString outcomeText(qint16 result, const QByteArray &request, const QByteArray &reply)
{
    if (result == lrOk)
        return QStringLiteral("OK");
    if (result == lrDeviceError && reply.size() > kExceptionCodeOffset) {
        const quint8 code = quint8(reply[kExceptionCodeOffset]);
        return QStringLiteral("%1 — %2").arg(code, 2, 16, QLatin1Char('0')).arg(FrameWords::exceptionName(code));
    }
    if (result == lrWrongReply)
        return refusalText(request, reply);
    const QString message = ResultText(result);
    return message.isEmpty() ? QString::number(result) : message;
}

} // namespace

ExchangeLog::ExchangeLog(QObject *parent, int capacity) : BoundedTable(parent, capacity)
{
    m_batch.setSingleShot(true);
    connect(&m_batch, &QTimer::timeout, this, &ExchangeLog::flush);
}

void ExchangeLog::add(const ExchangeRecord &record)
{
    if (!record.discarded.isEmpty())
        m_queued.push_back({Row::Kind::Discarded, record.sent, {}, record.discarded, 0, lrOk});
    for (const QByteArray &frame : record.foreign)
        m_queued.push_back({Row::Kind::Foreign, record.sent, record.request, frame, 0, lrWrongReply});
    m_queued.push_back({Row::Kind::Exchange, record.sent, record.request, record.reply,
                        record.sent.msecsTo(record.ended), record.result});
    // Rows beyond the capacity would only be dropped again at the flush.
    while (int(m_queued.size()) > capacity())
        m_queued.pop_front();
    if (m_batch.isActive())
        return;
    const qint64 sinceBatch = m_sinceBatch.isValid() ? m_sinceBatch.elapsed() : kBatchIntervalMs;
    m_batch.start(int(std::max<qint64>(kFirstBatchDelayMs, kBatchIntervalMs - sinceBatch)));
}

void ExchangeLog::flush()
{
    m_batch.stop();
    if (m_queued.empty())
        return;
    m_sinceBatch.start();
    append(std::make_move_iterator(m_queued.begin()), std::make_move_iterator(m_queued.end()));
    m_queued.clear();
}

void ExchangeLog::clear()
{
    m_batch.stop();
    m_queued.clear();
    clearRows();
}

bool ExchangeLog::isAnomaly(int row) const
{
    const Row &entry = rowAt(row);
    return entry.kind != Row::Kind::Exchange || entry.result < lrOk;
}

QString ExchangeLog::line(int row) const
{
    QStringList texts;
    for (int column = 0; column < ColumnCount; ++column)
        texts << text(rowAt(row), column);
    return texts.join(QLatin1Char('\t'));
}

int ExchangeLog::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ExchangeLog::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: // the whole text where a narrow column cuts it short
        return text(rowAt(index.row()), index.column());
    case Qt::ForegroundRole:
        return isAnomaly(index.row()) ? QVariant(QBrush(kFailureColour)) : QVariant();
    case Qt::FontRole: {
        static const QFont hexFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        return index.column() == Request || index.column() == Reply ? QVariant(hexFont) : QVariant();
    }
    case Qt::TextAlignmentRole:
        return index.column() == Duration ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    case AnomalyRole:
        return isAnomaly(index.row());
    default:
        return {};
    }
}

QVariant ExchangeLog::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const QString titles[ColumnCount] = {
        QStringLiteral("Время"),   QStringLiteral("Адрес"), QStringLiteral("Функция"), QStringLiteral("Что"),
        QStringLiteral("Запрос"),  QStringLiteral("Ответ"), QStringLiteral("мс"),      QStringLiteral("Итог"),
    };
    return section >= 0 && section < ColumnCount ? titles[section] : QVariant();
}

QString ExchangeLog::text(const Row &row, int column) const
{
    // Another unit's frame, always whole, names its own sender; discarded input names none.
    const bool foreign = row.kind == Row::Kind::Foreign;
    const QByteArray &header = foreign ? row.reply : row.request;
    const bool named = foreign || (row.kind == Row::Kind::Exchange && header.size() >= kRequestHeaderSize);
    switch (column) {
    case Time:
        return row.time.toString(QStringLiteral("HH:mm:ss.zzz"));
    case Slave:
        return named ? QString::number(quint8(header[0])) : QString();
    case Function:
        return named ? FrameWords::hexNumber(quint8(header[1]), 2) : QString();
    case What:
        switch (row.kind) {
        case Row::Kind::Discarded:
            return QStringLiteral("отброшено до запроса, байт: %1").arg(row.reply.size());
        case Row::Kind::Foreign:
            return QStringLiteral("ответ другого прибора, отброшен");
        case Row::Kind::Exchange:
            break;
        }
        return FrameWords::requestInWords(row.request);
    case Request:
        return row.kind == Row::Kind::Exchange ? FrameWords::hexBytes(row.request) : QString();
    case Reply:
        return FrameWords::hexBytes(row.reply);
    case Duration:
        return row.kind == Row::Kind::Exchange ? QString::number(row.durationMs) : QString();
    case Outcome:
        return row.kind == Row::Kind::Discarded ? QStringLiteral("поздние байты")
                                                : outcomeText(row.result, row.request, row.reply);
    default:
        return {};
    }
}
