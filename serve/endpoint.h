#pragma once

#include <QHostAddress>
#include <QString>
#include <QtGlobal>

#include <optional>

// Where a server takes its clients: an address of this computer and a port, 0 for any free one.
// The loopback unless an address is given, so that the line is not offered to the network by
// a mere port number.
struct Endpoint
{
    QHostAddress address{QHostAddress::LocalHost};
    quint16 port = 0;

    // "[ADDR:]PORT": 5020, 0.0.0.0:502, [::1]:5020; an address as digits, never a host name,
    // so that what is listened on is what was typed. Nothing, with why set, for anything else.
    static std::optional<Endpoint> parse(const QString &text, QString *why);
    // As parse takes it: 127.0.0.1:5020, [::1]:5020.
    QString text() const;
};
