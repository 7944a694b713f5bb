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
    : BoundedTable(parent, rows), m_frameCapacity(frames)
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

    QList<LineListener::Event> shown = events.mid(std::max<qsizetype>(0, events.size() - capacity()));
    for (LineListener::Event &event : shown)
        event.text = FrameWords::escapedControls(event.text);
    append(shown.cbegin(), shown.cend());
}

void HeardLog::clear()
{
    clearRows();
    m_frames.clear();
    m_captureCut = false;
}

QList<LineListener::Record> HeardLog::capture() const
{
    return QList<LineListener::Record>(m_frames.begin(), m_frames.end());
}

bool HeardLog::isAnomaly(int row) const
{
    const LineListener::Event &event = rowAt(row);
    return event.kind != LineListener::EventKind::Exchange || isExceptionReply(event.reply);
}

int HeardLog::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HeardLog::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const LineListener::Event &event = rowAt(index.row());
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
