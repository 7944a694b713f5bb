#include "context.h"

#include "blocking.h"
#include "devicesearch.h"
#include "exitstatus.h"
#include "framewords.h"
#include "iniprofile.h"
#include "linesettings.h"
#include "portdevices.h"
#include "profilereader.h"
#include "resultcodes.h"
#include "settingsfile.h"

#include <QCoreApplication>
#include <QTextStream>

CommandContext::CommandContext(const Command &command, const Invocation &invocation, QTextStream &out,
                               QTextStream &err)
    : m_command(command), m_invocation(invocation), m_err(err),
      m_printer(out, invocation.json ? Printer::Form::Json : Printer::Form::Text)
{
}

std::optional<ChosenLine> CommandContext::line()
{
    const QString settingsPath =
        SettingsFile::path(SettingsFile::windowExecutable(QCoreApplication::applicationFilePath()), false);
    const IniProfile settings(settingsPath);
    if (settings.verdict() == FileGuard::Verdict::Refused) {
        usage(QStringLiteral("%1: %2; the window's settings file must be a file of its own")
                  .arg(settingsPath, settings.errorString()));
        return std::nullopt;
    }
    if (settings.verdict() == FileGuard::Verdict::Unreadable)
        note(QStringLiteral("%1 not read: %2; going on without the window's settings")
                 .arg(settingsPath, settings.errorString()));
    const SettingsFile::Connection saved = SettingsFile::readConnection(settings);
    const auto fromSaved = [&](qint64 row, qsizetype rows, const char *option) -> std::optional<quint8> {
        if (row >= 0 && row < rows)
            return quint8(row);
        usage(QStringLiteral("%1 holds no usable choice for %2; give %2").arg(settingsPath, QLatin1String(option)));
        return std::nullopt;
    };

    ChosenLine line;
    std::optional<quint8> portNumber;
    if (m_invocation.port) {
        portNumber = PortDevices::portNumber(*m_invocation.port);
        line.setup.portName = *m_invocation.port;
    } else if (!(portNumber = fromSaved(saved.line.portNumber, 0xFF, "--port"))) {
        return std::nullopt;
    }
    if (portNumber) {
        const auto mapped = SettingsFile::mappedPorts(settings);
        line.setup.portNumber = *portNumber;
        line.setup.portName = PortDevices::resolve(
            *portNumber, *portNumber < mapped.size() ? mapped[*portNumber] : QString(), PortDevices::systemPorts());
        line.origin.port = PortDevices::caption(*portNumber);
        line.shownName = QStringLiteral("%1 (%2)").arg(line.origin.port, line.setup.portName);
    } else {
        line.origin.port = line.shownName = line.setup.portName;
    }

    const auto speed = m_invocation.speedNumber ? m_invocation.speedNumber
                                                : fromSaved(saved.line.speedNumber, LineSettings::BaudRates.size(), "--baud");
    const auto parity = m_invocation.parity ? m_invocation.parity
                                            : fromSaved(saved.line.parity, LineSettings::ParityNames.size(), "--parity");
    const auto stopBits = m_invocation.stopBits
                              ? m_invocation.stopBits
                              : fromSaved(saved.line.stopBits, LineSettings::StopBitCounts.size(), "--stop-bits");
    std::optional<int> address = m_invocation.address;
    if (!address && saved.deviceNumber >= DeviceSearch::kFirstAddress && saved.deviceNumber <= DeviceSearch::kLastAddress)
        address = int(saved.deviceNumber);
    else if (!address && m_command.address == AddressUse::NotUsed)
        address = 0;
    else if (!address)
        usage(QStringLiteral("%1 holds no usable choice for --address; give --address").arg(settingsPath));
    if (!speed || !parity || !stopBits || !address)
        return std::nullopt;
    line.setup.speedNumber = *speed;
    line.setup.parity = *parity;
    line.setup.stopBits = *stopBits;
    line.origin.line = line.setup;
    line.origin.address = quint16(*address);
    return line;
}

bool CommandContext::connect(const ChosenLine &line)
{
    m_session.setDeviceNumber(line.origin.address);
    if (Blocking::start(m_session, line.setup))
        return true;
    note(m_session.openFailureMessage(line.origin.port, line.setup.portName));
    return false;
}

std::optional<Profiles::DeviceProfile> CommandContext::readDevice(const ChosenLine &line)
{
    ProfileReader reader(m_session, line.origin);
    Blocking::runToEnd(reader);
    for (const ProfileReader::Failure &failure : reader.failures()) {
        if (failure.code < lrOk)
            failed(failure.parameter->key, failure.code);
        else
            note(QStringLiteral("%1: %2").arg(failure.parameter->key, failure.text));
    }
    if (!reader.complete())
        return std::nullopt;
    return reader.profile();
}

std::optional<Profiles::DeviceProfile> CommandContext::loadFile(const QString &path)
{
    QString error;
    std::optional<Profiles::DeviceProfile> profile = Profiles::load(path, &error);
    if (!profile)
        usage(QStringLiteral("%1: %2").arg(path, FrameWords::escapedControls(error))); // the error may quote the file
    return profile;
}

QList<quint8> CommandContext::polledAddresses(const ChosenLine &line) const
{
    return m_invocation.addresses.value_or(QList<quint8>{quint8(line.origin.address)});
}

void CommandContext::note(const QString &message)
{
    m_err << "indicator-cli: " << message << Qt::endl;
}

int CommandContext::usage(const QString &message)
{
    note(message);
    return ExitStatus::Usage;
}

int CommandContext::failed(const QString &what, qint16 code)
{
    note(QStringLiteral("%1: %2 (код %3)").arg(what, ResultText(code)).arg(code));
    return ExitStatus::Failed;
}
