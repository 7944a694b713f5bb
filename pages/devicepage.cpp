#include "devicepage.h"

#include "controls.h"
#include "resultcodes.h"

#include <QApplication>

namespace PageExchange {

namespace {

qint16 finish(qint16 code, QWidget *valueControl, const Decode &show)
{
    colourOutcome(code, valueControl);
    if (code >= lrOk)
        show();
    return code;
}

} // namespace

std::optional<qint16> read(Session &session, TParamId id, QWidget *valueControl, const Decode &show)
{
    const std::optional<qint16> code = session.read(id);
    if (!code)
        return std::nullopt;
    return finish(*code, valueControl, show);
}

std::optional<qint16> write(Session &session, TParamId id, QWidget *valueControl, const Session::Encode &put,
                            const Decode &show)
{
    const std::optional<qint16> code = session.write(id, put);
    if (!code)
        return std::nullopt;
    return finish(*code, valueControl, show);
}

void colourOutcome(qint16 code, QWidget *valueControl)
{
    if (valueControl)
        setTextColour(valueControl, code < lrOk ? kFailureColour : QApplication::palette().color(QPalette::WindowText));
}

} // namespace PageExchange

DevicePage::DevicePage(Session &session, QWidget *parent) : QGroupBox(parent), m_session(session) {}
