#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

// Modbus TCP frames as plain byte arrays, apart from any socket. A frame is the MBAP header
// (transaction identifier, protocol identifier, length, unit identifier; each word high-order
// byte first) and the PDU; it has no CRC, since TCP checks the bytes itself. A unit identifier
// and PDU are an RTU frame without its CRC, so requests are built from the RTU ones and a reply
// is checked further as the RTU frame that the unit put on its line.
namespace Mbap {

// Transaction (2), protocol (2), length (2), unit (1).
inline constexpr int headerSize = 7;
// The length counts the unit identifier and the PDU: what follows its own two bytes.
inline constexpr int countedFrom = 6;
inline constexpr quint16 modbusProtocol = 0;
// The largest frame: a 253-byte PDU (as on RTU, 256 bytes less address and CRC) after the
// header, 7 + 253 = 260 bytes, whose length field says 1 + 253 = 254.
inline constexpr int maxFrameSize = 260;
inline constexpr int maxLength = maxFrameSize - countedFrom;
// The shortest reply: unit, function and an exception code, length 3.
inline constexpr int exceptionLength = 3;

// The exceptions of a gateway: it has no path to the unit (0x0A), or the unit did not answer
// within the gateway's own time-out (0x0B).
inline constexpr quint8 gatewayPathUnavailable = 0x0A;
inline constexpr quint8 gatewayTargetFailed = 0x0B;

// The Modbus TCP request that carries an RTU request: its address becomes the unit identifier,
// its CRC is left off.
QByteArray request(quint16 transaction, QByteArrayView rtuRequest);
// The frame of a unit identifier and PDU: a request, or a server's reply.
QByteArray frame(quint16 transaction, QByteArrayView unitAndPdu);

// The shortest request: unit and function, length 2.
inline constexpr int shortestRequestLength = 2;
// What a server makes of the first bytes a client sent: the size of the whole request frame;
// 0 when its header rules it out (a protocol other than Modbus, a length below 2 or above 254),
// so that a length field of 65535 never makes the server wait for 65535 bytes; -1 while the
// header's 7 bytes have yet to come.
int requestSize(QByteArrayView received);

// The length field of the reply that answers a request (not an exception): 3 + 2n for a read
// of n registers, 6 for a write's echo.
int replyLength(QByteArrayView request);

// What the bytes received after a request, from the first, make so far.
struct Reading
{
    enum Outcome {
        Wait,    // fewer than `size` bytes: the header, or the whole frame it announces
        Foreign, // the whole frame of another transaction, `size` bytes: a late reply, set aside
        Reply,   // this transaction's reply, whole and well formed, `size` bytes
        Refused, // no reply to this request: a protocol other than Modbus, a length that no
                 // reply to it has (none at all, more than a frame holds, other than its own or
                 // an exception's, or other than its PDU's), another unit
    };
    Outcome outcome = Wait;
    int size = headerSize;
};
// Lengths are judged from the header before the frame's body is waited for, so that a length
// field of 65535 never makes anyone wait for 65535 bytes.
Reading read(QByteArrayView request, QByteArrayView received);

// The RTU frame of a whole Modbus TCP frame: unit identifier, PDU and their CRC.
QByteArray asRtu(QByteArrayView frame);

} // namespace Mbap
