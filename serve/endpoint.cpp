#include "endpoint.h"

#include <algorithm>

std::optional<Endpoint> Endpoint::parse(const QString &text, QString *why)
{
    const auto refuse = [&] {
        *why = QStringLiteral("takes [ADDR:]PORT, an address of this computer (127.0.0.1, 0.0.0.0, [::1]) and a "
                              "port from 0 (any free one) to 65535, not \"%1\"")
                   .arg(text);
        return std::nullopt;
    };
    Endpoint endpoint;
    QString port = text;
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon >= 0) {
        QString address = text.first(colon);
        port = text.sliced(colon + 1);
        const bool bracketed = address.startsWith(u'[') && address.endsWith(u']');
        if (bracketed)
            address = address.sliced(1, address.size() - 2);
        // An IPv6 address goes in brackets, else its last group would be read as the port.
        if (address.contains(u':') != bracketed || !endpoint.address.setAddress(address))
            return refuse();
    }
    const bool digits = !port.isEmpty() && port.size() <= 5
                        && std::all_of(port.begin(), port.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (!digits || port.toInt() > 65535)
        return refuse();
    endpoint.port = quint16(port.toInt());
    return endpoint;
}

QString Endpoint::text() const
{
    const QString shown = address.protocol() == QAbstractSocket::IPv6Protocol
                              ? QStringLiteral("[%1]").arg(address.toString())
                              : address.toString();
    return QStringLiteral("%1:%2").arg(shown).arg(port);
}
