#include "profilecloning.h"

#include "heldsteps.h"
#include "profilereader.h"

ProfileCloning::ProfileCloning(Session &session, const Profiles::DeviceProfile &profile, Question askOtherVersion,
                               QObject *parent)
    : QObject(parent), m_session(session), m_profile(profile), m_askOtherVersion(std::move(askOtherVersion))
{
}

void ProfileCloning::writeInto(const Profiles::Origin &unit, const ProfileWriter::Options &options)
{
    m_options = options;
    m_address = unit.address;
    Profiles::replaceHeld<ProfileWriter>(m_writer, nullptr);
    Profiles::replaceHeld(m_reader, new ProfileReader(m_session, unit, this));
    connect(m_reader, &ProfileReader::ended, this, &ProfileCloning::read);
    emit reading(m_reader);
    m_reader->start();
}

void ProfileCloning::cancel()
{
    if (m_reader)
        m_reader->cancel();
    if (m_writer)
        m_writer->cancel();
}

void ProfileCloning::read()
{
    if (!m_reader->complete()) {
        end(Outcome::NotRead);
        return;
    }
    const Profiles::DeviceProfile current = m_reader->profile();
    if (!mayWrite(current.identity)) {
        end(Outcome::OtherVersion);
        return;
    }
    m_writer = new ProfileWriter(m_session, m_profile, current, m_options, this);
    m_writer->confirmIdentity(); // the name is written with the rest
    connect(m_writer, &ProfileWriter::ended, this, [this] { end(Outcome::Written); });
    emit writing(m_writer);
    m_writer->start();
}

// Another firmware may keep its settings otherwise: asked before the first such unit is written.
bool ProfileCloning::mayWrite(const Profiles::Identity &unit)
{
    if (unit.version == m_profile.identity.version || m_otherVersionsAllowed)
        return true;
    m_otherVersionsAllowed = m_askOtherVersion(
        QStringLiteral("Прибор по адресу %1 с версией программы «%2», профиль снят с версии «%3».\n\n"
                       "Записывать профиль в приборы другой версии?")
            .arg(m_address)
            .arg(unit.version, m_profile.identity.version));
    return m_otherVersionsAllowed;
}

void ProfileCloning::end(Outcome outcome)
{
    m_outcome = outcome;
    emit ended();
}
