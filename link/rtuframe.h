#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

// Modbus RTU frames as plain byte arrays: building requests and checking replies, apart from
// any port. Registers travel high-order byte first; the CRC travels low-order byte first.
namespace Rtu {

inline constexpr quint8 fnReadHoldingRegisters = 0x03;
inline constexpr quint8 fnWriteMultipleRegisters = 0x10;
inline constexpr quint8 exceptionFlag = 0x80;

// Requests and replies each fit a 100-byte frame.
inline constexpr int maxFrameSize = 100;
inline constexpr int crcSize = 2;
// A write request is 9 + 2n bytes: 45 registers make 99.
inline constexpr int maxWriteRegisters = 45;
// A read reply: address, function, byte count, data, CRC. 3 + 95 + 2 = 100.
inline constexpr int readHeaderSize = 3;
inline constexpr int maxReadDataBytes = maxFrameSize - readHeaderSize - crcSize;
// A caller's read buffer must hold every register a reply can carry: 95 / 2.
inline constexpr int maxReadRegisters = maxReadDataBytes / 2;
// A write reply echoes address, function, first register and count, then the CRC.
inline constexpr int writeReplySize = 8;
// An exception reply: address, function | 0x80, exception code, CRC.
inline constexpr int exceptionReplySize = 5;
inline constexpr int exceptionCodeOffset = 2;
// A write request: address, function, first register, count and byte count (7 bytes) before
// its data, and the CRC after it.
inline constexpr int writeRequestOverhead = 9;

// CRC-16/MODBUS: start 0xFFFF, reflected polynomial 0xA001, no final XOR.
quint16 crc16(QByteArrayView bytes);

// Appends the CRC, low-order byte first.
void appendCrc(QByteArray &frame);

// A received frame whose two last bytes are its CRC yields a CRC of 0 over the whole frame.
bool crcVerifies(QByteArrayView frame);

QByteArray readRequest(quint8 slave, quint16 firstRegister, quint16 count);
QByteArray writeRequest(quint8 slave, quint16 firstRegister, quint16 count, const quint16 *values);

inline bool isException(quint8 functionCode) { return functionCode & exceptionFlag; }

// The 16-bit word at offset, high-order byte first.
quint16 wordAt(QByteArrayView frame, qsizetype offset);

// A reply's whole length, known from its first three bytes by its function: an exception reply
// is 5 bytes, a write echo 8, any other a read reply of 3 + byte count + 2.
int replyLength(QByteArrayView start);

// A request's whole length, known from its first bytes by its function: a read is 8 bytes, a
// write 9 + its byte count; -1 while the bytes that tell have yet to come, 0 for any other
// function.
int requestLength(QByteArrayView start);

// How a whole reply, its CRC verified, fails to answer its request.
enum class Mismatch {
    None,          // it answers: the request's address and function (or its exception), and
                   // the data asked for or the echo of the write
    Slave,         // another unit's reply
    Function,      // neither the request's function nor its exception
    ByteCount,     // a read reply of other than 2 bytes a register asked for
    FirstRegister, // a write echo of another first register
    Count,         // a write echo of another register count
};
Mismatch mismatch(QByteArrayView request, QByteArrayView reply);

// Stores data bytes 2k and 2k+1 as register k in host order; an odd last byte is ignored.
void copyRegisters(QByteArrayView data, quint16 *registers);

} // namespace Rtu
