#include "rtuframer.h"

#include <array>

namespace Rtu {

namespace {

// Unicast addresses are 1..247; 0 is broadcast, which only a write may use, and no device
// answers it.
constexpr quint8 kHighestAddress = 247;
// Address, function, first register, count.
constexpr int kRequestHeaderSize = 6;
constexpr int kCountOffset = 4;
// A write request's byte count follows its register count.
constexpr int kWriteByteCountOffset = 6;
constexpr int kReadReplyOverhead = readHeaderSize + crcSize;
// A 256-byte frame carries at most 125 registers read (250 bytes) or 123 written (246 bytes).
constexpr int kMostReadRegisters = 125;
constexpr int kMostWrittenRegisters = 123;
// The exception codes of Modbus, 01 (illegal function) to 0B (gateway target failed to respond).
constexpr quint8 kHighestExceptionCode = 0x0B;

bool countFits(QByteArrayView bytes, int most)
{
    const quint16 count = wordAt(bytes, kCountOffset);
    return count >= 1 && count <= most;
}

bool addressFits(FrameKind kind, quint8 address)
{
    const quint8 lowest = kind == FrameKind::WriteRequest ? 0 : 1;
    return address >= lowest && address <= kHighestAddress;
}

// The length of a frame of this kind that starts the bytes: 0 when its header rules it out,
// -1 while the bytes that tell have yet to come.
int frameLength(FrameKind kind, QByteArrayView bytes)
{
    switch (kind) {
    case FrameKind::ReadRequest:
        if (bytes.size() < kRequestHeaderSize)
            return -1;
        return countFits(bytes, kMostReadRegisters) ? requestLength(bytes) : 0;
    case FrameKind::WriteRequest: {
        if (bytes.size() <= kWriteByteCountOffset)
            return -1;
        const int dataBytes = quint8(bytes[kWriteByteCountOffset]);
        const bool fits = countFits(bytes, kMostWrittenRegisters) && dataBytes == 2 * wordAt(bytes, kCountOffset);
        return fits ? requestLength(bytes) : 0;
    }
    case FrameKind::ReadReply: {
        if (bytes.size() < readHeaderSize)
            return -1;
        const int dataBytes = quint8(bytes[readHeaderSize - 1]);
        const bool fits = dataBytes > 0 && dataBytes % 2 == 0 && dataBytes <= 2 * kMostReadRegisters;
        return fits ? kReadReplyOverhead + dataBytes : 0;
    }
    case FrameKind::WriteReply:
        if (bytes.size() < kRequestHeaderSize)
            return -1;
        return countFits(bytes, kMostWrittenRegisters) ? writeReplySize : 0;
    case FrameKind::Exception: {
        if (bytes.size() <= exceptionCodeOffset)
            return -1;
        const quint8 code = quint8(bytes[exceptionCodeOffset]);
        return code >= 1 && code <= kHighestExceptionCode ? exceptionReplySize : 0;
    }
    case FrameKind::Unframed:
        break;
    }
    return 0;
}

int replyLength(const HeardFrame &request)
{
    if (request.kind == FrameKind::WriteRequest)
        return writeReplySize;
    return kReadReplyOverhead + 2 * wordAt(request.bytes, kCountOffset);
}

} // namespace

Framer::Framer(qint64 replyTimeoutUs) : m_replyTimeoutUs(replyTimeoutUs) {}

void Framer::feed(QByteArrayView bytes, qint64 timestampUs)
{
    if (bytes.isEmpty())
        return;
    m_bytes.append(bytes);
    m_times.insert(m_times.end(), std::size_t(bytes.size()), timestampUs);
    scan(false);
}

void Framer::idle(qint64 nowUs)
{
    const qint64 lastUs = !m_times.empty() ? m_times.back() : m_unframed.endUs;
    if (nowUs - lastUs < kStaleUs)
        return;
    scan(true);
}

void Framer::finish()
{
    scan(true);
}

QList<HeardFrame> Framer::take()
{
    QList<HeardFrame> frames;
    frames.swap(m_out);
    return frames;
}

void Framer::scan(bool final)
{
    while (m_position < m_bytes.size()) {
        const Reading reading = readAt(m_position, final);
        if (reading.outcome == Reading::Wait)
            break;
        if (reading.outcome == Reading::None)
            dropByte();
        else
            accept(reading.kind, reading.length);
    }
    m_bytes.remove(0, m_position);
    m_times.erase(m_times.begin(), m_times.begin() + m_position);
    m_position = 0;
    if (final)
        handOnUnframed();
}

// A request comes first where no reply is awaited, the awaited reply first where one is: a
// read request and a read reply of the same device look alike up to their CRC.
Framer::Reading Framer::readAt(qsizetype position, bool final) const
{
    const QByteArrayView bytes = QByteArrayView(m_bytes).sliced(position);
    if (bytes.size() < 2)
        return {final ? Reading::None : Reading::Wait};
    const quint8 address = quint8(bytes[0]);
    const quint8 function = quint8(bytes[1]);
    const bool awaited = m_expected && m_expected->address == address
                         && m_expected->function == (function & ~exceptionFlag)
                         && m_times[std::size_t(position)] <= m_expected->deadlineUs
                         && (function != fnReadHoldingRegisters || bytes.size() < readHeaderSize
                             || frameLength(FrameKind::ReadReply, bytes) == m_expected->length);

    std::array<FrameKind, 2> order{FrameKind::Exception, FrameKind::Exception};
    int kinds = 0;
    if (function == fnReadHoldingRegisters) {
        order = awaited ? std::array{FrameKind::ReadReply, FrameKind::ReadRequest}
                        : std::array{FrameKind::ReadRequest, FrameKind::ReadReply};
        kinds = 2;
    } else if (function == fnWriteMultipleRegisters) {
        order = awaited ? std::array{FrameKind::WriteReply, FrameKind::WriteRequest}
                        : std::array{FrameKind::WriteRequest, FrameKind::WriteReply};
        kinds = 2;
    } else if (function == (fnReadHoldingRegisters | exceptionFlag)
               || function == (fnWriteMultipleRegisters | exceptionFlag)) {
        kinds = 1;
    }
    for (int k = 0; k < kinds; ++k) {
        const FrameKind kind = order[std::size_t(k)];
        if (!addressFits(kind, address))
            continue;
        const int length = frameLength(kind, bytes);
        if (length == 0)
            continue;
        if (length < 0 || length > bytes.size()) {
            if (final)
                continue;
            return {Reading::Wait};
        }
        if (crcVerifies(bytes.first(length)))
            return {Reading::Frame, kind, length};
    }
    return {Reading::None};
}

void Framer::accept(FrameKind kind, int length)
{
    handOnUnframed();
    const std::size_t first = std::size_t(m_position);
    HeardFrame frame{kind, m_bytes.sliced(m_position, length), m_times[first], m_times[first + std::size_t(length) - 1]};
    if (frame.isRequest())
        m_expected = Expected{frame.address(), frame.function(), replyLength(frame), frame.endUs + m_replyTimeoutUs};
    else
        m_expected.reset();
    m_out.append(std::move(frame));
    m_position += length;
}

void Framer::dropByte()
{
    const qint64 timeUs = m_times[std::size_t(m_position)];
    if (m_unframed.bytes.isEmpty())
        m_unframed.startUs = timeUs;
    m_unframed.bytes.append(m_bytes[m_position]);
    m_unframed.endUs = timeUs;
    ++m_unframedTotal;
    ++m_position;
    if (m_unframed.bytes.size() >= kLongestFrame)
        handOnUnframed();
}

void Framer::handOnUnframed()
{
    if (m_unframed.bytes.isEmpty())
        return;
    m_out.append(m_unframed);
    m_unframed.bytes.clear();
}

} // namespace Rtu
