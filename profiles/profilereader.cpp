#include "profilereader.h"

#include "resultcodes.h"

#include <cmath>

ProfileReader::ProfileReader(Session &session, const Profiles::Origin &origin, QObject *parent)
    : QObject(parent), m_session(session), m_origin(origin)
{
}

void ProfileReader::start()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_cancelled)
                readNext();
        },
        Qt::QueuedConnection);
}

void ProfileReader::cancel()
{
    m_cancelled = true;
    m_session.cancel(this);
}

void ProfileReader::readNext()
{
    if (finished()) {
        emit ended();
        return;
    }
    const Catalogue::Parameter &parameter = *Profiles::readParameters()[m_next];
    const bool asked = m_session.readValueAt(quint8(m_origin.address & 0xFF), parameter, this,
                                             [this, &parameter](const Session::Reading &reading) { take(parameter, reading); });
    if (!asked)
        take(parameter, {lrNotConnected, {}});
}

void ProfileReader::take(const Catalogue::Parameter &parameter, const Session::Reading &reading)
{
    ++m_next;
    const Step step = kept(parameter, reading);
    emit stepDone(step);
    if (!m_cancelled)
        readNext();
}

ProfileReader::Step ProfileReader::kept(const Catalogue::Parameter &parameter, const Session::Reading &reading)
{
    if (reading.code < lrOk) {
        m_failures.append({&parameter, reading.code, ResultText(reading.code)});
        if (LineFailed(reading.code))
            failTheRest(reading.code);
        return {&parameter, reading.code, {}};
    }
    // A float the device holds as no number has no place in a file, nor could it be written back.
    if (parameter.kind == Catalogue::Kind::Float && !std::isfinite(reading.value.toDouble())) {
        m_failures.append({&parameter, lrOk, QStringLiteral("в приборе не число")});
        return {&parameter, reading.code, {}};
    }
    if (parameter.id == prmInformationDevName)
        m_identity.name = reading.value.toString();
    if (parameter.id == prmInformationProgVer)
        m_identity.version = reading.value.toString();
    else
        m_values.insert(parameter.key, reading.value);
    return {&parameter, reading.code, reading.value};
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
