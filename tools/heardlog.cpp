#include "heardlog.h"

#include "controls.h"
#include "framewords.h"
#include "handlers.h"
#include "rtuframe.h"

#include <QBrush>
#include <QDateTime>
#include <QFontDatabase>

#include <algorithm>

namespace {

constexpr qint64 kMicrosecondsPerMillisecond = 1000;

bool isExceptionReply(const QByteArray &reply)
{
    return reply.size() > 1 && Rtu::isException(quint8(reply[1]));
}

} // namespace

HeardLog::HeardLog(QObject *parent, int rows, int frames)
    : QAbstractTableModel(parent), m_rowCapacity(rows), m_frameCapacity(frames)
{
}

// The rows beyond the capacity are dropped before they are ever shown.
void HeardLog::add(const QList<LineListener::Event> &events, const QList<LineListener::Record> &records)
{
    for (const LineListener::Record &record : records)
        m_frames.push_back(record);
    if (int(m_frames.size()) > m_frameCapacity) {
        m_frames.erase(m_frames.begin(), m_frames.end() - m_frameCapacity);
        m_captureCut = true;
    }

    const int incoming = std::min(int(events.size()), m_rowCapacity);
    if (incoming == 0)
        return;
    dropOldestRows(int(m_rows.size()) + incoming - m_rowCapacity);
    const int first = int(m_rows.size());
    beginInsertRows({}, first, first + incoming - 1);
    for (auto event = events.end() - incoming; event != events.end(); ++event) {
        m_rows.push_back(*event);
        m_rows.back().text = FrameWords::escapedControls(event->text);
    }
    endInsertRows();
}

void HeardLog::dropOldestRows(int count)
{
    count = std::min(count, int(m_rows.size()));
    if (count <= 0)
        return;
    beginRemoveRows({}, 0, count - 1);
    m_rows.erase(m_rows.begin(), m_rows.begin() + count);
    endRemoveRows();
}

void HeardLog::clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
    m_frames.clear();
    m_captureCut = false;
}

QList<LineListener::Record> HeardLog::capture() const
{
    return QList<LineListener::Record>(m_frames.begin(), m_frames.end());
}

bool HeardLog::isAnomaly(int row) const
{
    const LineListener::Event &event = m_rows[std::size_t(row)];
    return event.kind != LineListener::EventKind::Exchange || isExceptionReply(event.reply);
}

int HeardLog::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int HeardLog::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HeardLog::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const LineListener::Event &event = m_rows[std::size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return text(event, index.column());
    case Qt::ToolTipRole: // the whole text where a narrow column cuts it; a device's text never as markup
        return QStringLiteral("<p style='white-space:pre'>%1</p>").arg(text(event, index.column()).toHtmlEscaped());
    case Qt::ForegroundRole:
        return isAnomaly(index.row()) ? QVariant(QBrush(kFailureColour)) : QVariant();
    case Qt::FontRole: {
        static const QFont hexFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        return index.column() == Request || index.column() == Reply ? QVariant(hexFont) : QVariant();
    }
    case Qt::TextAlignmentRole:
        return index.column() == ReplyTime || index.column() == Address ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                                                        : QVariant();
    default:
        return {};
    }
}

QVariant HeardLog::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const QString titles[ColumnCount] = {
        QStringLiteral("Время"),  QStringLiteral("Адрес"), QStringLiteral("Обмен"),
        QStringLiteral("Запрос"), QStringLiteral("Ответ"), QStringLiteral("мс"),
    };
    return section >= 0 && section < ColumnCount ? titles[section] : QVariant();
}

// Bytes that are no frame name no address, and stand in the reply's column as they came.
QString HeardLog::text(const LineListener::Event &event, int column) const
{
    const bool unframed = event.kind == LineListener::EventKind::Unframed;
    switch (column) {
    case Time:
        return QDateTime::fromMSecsSinceEpoch(event.timeUs / kMicrosecondsPerMillisecond)
            .toString(QStringLiteral("HH:mm:ss.zzz"));
    case Address:
        return unframed ? QString() : QString::number(event.address);
    case Exchange:
        return event.text;
    case Request:
        return FrameWords::hexBytes(event.request);
    case Reply:
        return FrameWords::hexBytes(event.reply);
    case ReplyTime:
        return event.kind == LineListener::EventKind::Exchange && !event.reply.isEmpty()
                   ? RegionalNumber::text(double(event.replyUs) / kMicrosecondsPerMillisecond, 1)
                   : QString();
    default:
        return {};
    }
}
