#pragma once

#include "linerequest.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <optional>

// What a server of the line makes of a client's request and of the line's reply, in the unit
// identifier and PDU that Modbus TCP and RTU frames share (an RTU frame without its CRC), so
// that both kinds of client are served by one reading. Nothing a client sends is trusted: every
// field is checked against what the line's exchange can carry before it reaches the line.
namespace ServedPdu {

// The exceptions the server gives of its own, without touching the line.
inline constexpr quint8 illegalFunction = 0x01;  // the line carries reads (0x03) and writes (0x10) only
inline constexpr quint8 illegalDataValue = 0x03; // a count, byte count or length the request cannot have
inline constexpr quint8 serverBusy = 0x06;       // the client's last request is still under way

// What a request asks of the line: an exchange, or the exception to answer at once.
struct Asked
{
    std::optional<LineRequest> request;
    quint8 exception = 0; // without a request
};
// unitAndPdu holds at least a unit identifier and a function.
Asked ask(QByteArrayView unitAndPdu);

// The unit identifier and PDU that answer request with the line's reply: the registers read, a
// write's echo, or the unit's exception as it gave it. Empty when the unit gave no answer
// (silence, a reply cut short or broken), or the line failed.
QByteArray answer(const LineRequest &request, const LineReply &reply);

// The exception reply to the request that begins with unit and function.
QByteArray exception(QByteArrayView unitAndPdu, quint8 code);

} // namespace ServedPdu
