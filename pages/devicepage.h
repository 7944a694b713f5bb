#pragma once

#include "parammap.h"
#include "session.h"

#include <QGroupBox>

#include <functional>
#include <optional>

// The common read and write procedures as a page shows them: the session's exchange, whose
// outcome the session reports, and the text colour of the control that shows the value (none:
// no colour). show runs after a success and decodes the session's ExchangeBuffer.
namespace PageExchange {

using Decode = std::function<void()>;

std::optional<qint16> read(Session &session, TParamId id, QWidget *valueControl, const Decode &show);
std::optional<qint16> write(Session &session, TParamId id, QWidget *valueControl, const Session::Encode &put,
                            const Decode &show);
// Pure red after a failure, the system's window-text colour after a success.
void colourOutcome(qint16 code, QWidget *valueControl);

} // namespace PageExchange

// One page of the device's values: a group box that the main window shows in its page area,
// whose operations exchange through the connection's session.
class DevicePage : public QGroupBox
{
    Q_OBJECT

public:
    DevicePage(Session &session, QWidget *parent);

protected:
    using Decode = PageExchange::Decode;

    std::optional<qint16> readParameter(TParamId id, QWidget *valueControl, const Decode &show)
    {
        return PageExchange::read(m_session, id, valueControl, show);
    }
    std::optional<qint16> writeParameter(TParamId id, QWidget *valueControl, const Session::Encode &put,
                                         const Decode &show)
    {
        return PageExchange::write(m_session, id, valueControl, put, show);
    }
    std::array<quint16, Session::kExchangeRegisters> &buffer() { return m_session.ExchangeBuffer; }

    Session &m_session;
};
