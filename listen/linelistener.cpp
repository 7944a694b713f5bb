#include "linelistener.h"

#include "catalogue.h"
#include "framewords.h"
#include "linesettings.h"
#include "resultcodes.h"
#include "rtuframe.h"
#include "session.h"

#include <QStringList>

#include <algorithm>
#include <vector>

namespace {

// The time a device may take for a write before its reply: the write's silent time-out.
constexpr qint64 kSilentWriteUs = 500'000;
constexpr qint64 kMicrosecondsPerSecond = 1'000'000;
// Address, function, first register, count; a write's byte count follows.
constexpr int kFirstRegisterOffset = 2;
constexpr int kCountOffset = 4;
constexpr int kWriteDataOffset = 7;
constexpr int kExceptionCodeOffset = 2;

std::vector<quint16> registersOf(QByteArrayView data)
{
    std::vector<quint16> registers(std::size_t(data.size() / 2));
    Rtu::copyRegisters(data, registers.data());
    return registers;
}

// "0000 4316": registers that are no parameter of the catalogue.
QString registerWords(const std::vector<quint16> &registers)
{
    QStringList words;
    for (quint16 value : registers)
        words << QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
    return words.join(u' ');
}

QString addressed(quint8 address, const QString &text)
{
    return QStringLiteral("адрес %1: %2").arg(address).arg(text);
}

QString requestText(const QByteArray &request)
{
    return addressed(quint8(request[0]), FrameWords::requestInWords(request));
}

// The functions whose frames the framer knows, and their exceptions.
bool isKnownFunction(quint8 function)
{
    const quint8 asked = function & ~Rtu::exceptionFlag;
    return asked == Rtu::fnReadHoldingRegisters || asked == Rtu::fnWriteMultipleRegisters;
}

} // namespace

LineListener::LineListener(quint32 baud) : m_replyTimeoutUs(replyTimeoutUs(baud)), m_framer(m_replyTimeoutUs) {}

qint64 LineListener::replyTimeoutUs(quint32 baud)
{
    const qint64 characterUs = LineSettings::bitsPerCharacter * kMicrosecondsPerSecond / std::max<quint32>(baud, 1);
    return kSilentWriteUs + Rtu::Framer::kLongestFrame * characterUs;
}

void LineListener::feed(QByteArrayView bytes, qint64 timeUs)
{
    m_framer.feed(bytes, timeUs);
    hearAll();
}

void LineListener::idle(qint64 nowUs)
{
    m_framer.idle(nowUs);
    hearAll();
    expirePending(nowUs);
}

void LineListener::finish()
{
    m_framer.finish();
    hearAll();
}

QList<LineListener::Record> LineListener::takeRecords()
{
    QList<Record> records;
    records.swap(m_records);
    return records;
}

QList<LineListener::Event> LineListener::takeEvents()
{
    QList<Event> events;
    events.swap(m_events);
    return events;
}

void LineListener::hearAll()
{
    for (const Rtu::HeardFrame &frame : m_framer.take())
        hear(frame);
}

void LineListener::hear(const Rtu::HeardFrame &frame)
{
    expirePending(frame.startUs);
    if (frame.isRequest())
        hearRequest(frame);
    else if (frame.isReply())
        hearReply(frame);
    else
        hearUnframed(frame);
}

// On a line with one master, a new request means the last one will not be answered.
void LineListener::hearRequest(const Rtu::HeardFrame &request)
{
    if (m_pending)
        endPending(EventKind::NoReply, ResultText(lrNoAnswer));
    ++m_counts[request.address()].requests;
    record(request, Direction::Request, requestText(request.bytes));
    if (request.address() == 0) { // broadcast: nobody answers
        m_events.append({EventKind::Exchange, request.startUs, 0, request.bytes, {}, 0,
                         requestText(request.bytes) + QStringLiteral(" → всем")});
        return;
    }
    m_pending = request;
}

void LineListener::hearReply(const Rtu::HeardFrame &reply)
{
    Counts &counts = m_counts[reply.address()];
    ++counts.replies;
    if (!m_pending || m_pending->address() != reply.address() || m_pending->function() != reply.function()) {
        const QString text = addressed(reply.address(), QStringLiteral("ответ без запроса, функция %1")
                                                            .arg(FrameWords::hexNumber(quint8(reply.bytes[1]), 2)));
        record(reply, Direction::Reply, text);
        m_events.append({EventKind::ReplyWithoutRequest, reply.startUs, reply.address(), {}, reply.bytes, 0, text});
        return;
    }
    const qint64 replyUs = reply.endUs - m_pending->endUs;
    counts.fastestUs = counts.timed ? std::min(counts.fastestUs, replyUs) : replyUs;
    counts.slowestUs = counts.timed ? std::max(counts.slowestUs, replyUs) : replyUs;
    counts.totalUs += replyUs;
    ++counts.timed;
    const QString text = exchangeText(m_pending->bytes, reply.bytes);
    record(reply, Direction::Reply, text);
    m_events.append({EventKind::Exchange, m_pending->startUs, reply.address(), m_pending->bytes, reply.bytes, replyUs,
                     text});
    m_pending.reset();
}

// A run that starts as a frame of a known function is a frame that failed its CRC, most likely
// of the address it names.
void LineListener::hearUnframed(const Rtu::HeardFrame &bytes)
{
    const QString text = QStringLiteral("не кадр, байт: %1").arg(bytes.bytes.size());
    record(bytes, Direction::Unframed, text);
    m_events.append({EventKind::Unframed, bytes.startUs, 0, {}, bytes.bytes, 0, text});
    if (bytes.bytes.size() < Rtu::exceptionReplySize || !isKnownFunction(quint8(bytes.bytes[1])))
        return;
    ++m_counts[bytes.address()].crcErrors;
    if (m_pending && m_pending->address() == bytes.address())
        endPending(EventKind::BrokenReply, ResultText(lrBadCrc));
}

void LineListener::expirePending(qint64 nowUs)
{
    if (m_pending && nowUs - m_pending->endUs > m_replyTimeoutUs)
        endPending(EventKind::NoReply, ResultText(lrNoAnswer));
}

void LineListener::endPending(EventKind kind, const QString &outcome)
{
    if (kind == EventKind::NoReply)
        ++m_counts[m_pending->address()].timeouts;
    m_events.append({kind, m_pending->startUs, m_pending->address(), m_pending->bytes, {}, 0,
                     requestText(m_pending->bytes) + QStringLiteral(" → ") + outcome});
    m_pending.reset();
}

void LineListener::record(const Rtu::HeardFrame &frame, Direction direction, const QString &decoding)
{
    m_records.append({frame.startUs, direction, frame.bytes, decoding});
}

// What was asked and what came back; a write shows the value before it where a read of the
// same parameter of the same address was heard.
QString LineListener::exchangeText(const QByteArray &request, const QByteArray &reply)
{
    const QString asked = requestText(request);
    if (Rtu::isException(quint8(reply[1]))) {
        const quint8 code = quint8(reply[kExceptionCodeOffset]);
        return QStringLiteral("%1 → исключение %2 — %3")
            .arg(asked)
            .arg(code, 2, 16, QLatin1Char('0'))
            .arg(FrameWords::exceptionName(code));
    }
    const quint8 address = quint8(request[0]);
    const bool isWrite = quint8(request[1]) == Rtu::fnWriteMultipleRegisters;
    const QByteArrayView data = isWrite ? QByteArrayView(request).sliced(kWriteDataOffset, request.size() - kWriteDataOffset - Rtu::crcSize)
                                        : QByteArrayView(reply).sliced(Rtu::readHeaderSize, reply.size() - Rtu::readHeaderSize - Rtu::crcSize);
    const std::vector<quint16> registers = registersOf(data);
    const Catalogue::Parameter *parameter =
        Catalogue::at(Rtu::wordAt(request, kFirstRegisterOffset), Rtu::wordAt(request, kCountOffset));
    if (!parameter || int(registers.size()) != parameter->registerCount())
        return QStringLiteral("%1 → %2").arg(asked, registerWords(registers));

    const QVariant value = Catalogue::decode(*parameter, registers.data());
    QVariant &known = m_known[{address, int(parameter->id)}];
    const QString before = isWrite && known.isValid() ? Catalogue::shown(*parameter, known) + u' ' : QString();
    known = value;
    return QStringLiteral("%1 %2→ %3").arg(asked, before, Catalogue::shown(*parameter, value));
}
