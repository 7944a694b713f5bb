#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QtGlobal>

#include <functional>

// One finished exchange as it went over the line, for whoever watches the bus.
struct ExchangeRecord
{
    // Input that was waiting before the request and was thrown away: the tail of a late reply
    // to an earlier exchange, an echo, noise, another master's traffic.
    QByteArray discarded;
    QByteArray request; // as handed to the port
    // Whole frames of other units, their CRC verified, that came after the request and were set
    // aside while the exchange waited for its own reply: a late reply of another unit.
    QList<QByteArray> foreign;
    // Every byte that arrived for this exchange after those frames, in order: a whole reply, a
    // part of one, or garbage; empty for silence.
    QByteArray reply;
    QDateTime sent;  // when the request began to leave
    QDateTime ended; // when the last byte arrived or the exchange stopped waiting for more
    qint16 result = 0;
};

// Called once after each exchange that put a request on the line, when the exchange is over.
using ExchangeObserver = std::function<void(const ExchangeRecord &)>;
