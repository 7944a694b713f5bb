#include "profilereader.h"

#include "blocking.h"
#include "resultcodes.h"
#include "session.h"

#include <cmath>

ProfileReader::ProfileReader(Session &session, const Profiles::Origin &origin)
    : m_session(session), m_origin(origin)
{
}

std::optional<ProfileReader::Step> ProfileReader::next()
{
    if (finished())
        return std::nullopt;
    const Catalogue::Parameter *parameter = Profiles::readParameters()[m_next];
    const std::optional<Session::Reading> reading = Blocking::readValue(m_session, *parameter);
    ++m_next;
    const qint16 code = reading ? reading->code : qint16(lrNotConnected);
    if (code < lrOk) {
        m_failures.append({parameter, code, ResultText(code)});
        if (LineFailed(code))
            failTheRest(code);
        return Step{parameter, code, {}};
    }
    // A float the device holds as no number has no place in a file, nor could it be written back.
    if (parameter->kind == Catalogue::Kind::Float && !std::isfinite(reading->value.toDouble())) {
        m_failures.append({parameter, lrOk, QStringLiteral("в приборе не число")});
        return Step{parameter, code, {}};
    }
    if (parameter->id == prmInformationDevName)
        m_identity.name = reading->value.toString();
    if (parameter->id == prmInformationProgVer)
        m_identity.version = reading->value.toString();
    else
        m_values.insert(parameter->key, reading->value);
    return Step{parameter, code, reading->value};
}

void ProfileReader::readAll()
{
    while (next()) {
    }
}

void ProfileReader::failTheRest(qint16 code)
{
    for (; m_next < total(); ++m_next)
        m_failures.append({Profiles::readParameters()[m_next], code, ResultText(code)});
}

Profiles::DeviceProfile ProfileReader::profile() const
{
    return Profiles::stamped(m_identity, m_origin, m_values);
}
