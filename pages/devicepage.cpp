#include "devicepage.h"

#include "catalogue.h"
#include "controls.h"
#include "handlers.h"
#include "linesettings.h"
#include "portdevices.h"
#include "resultcodes.h"

#include <QAbstractButton>
#include <QApplication>

#include <algorithm>

DevicePage::DevicePage(Session &session, QWidget *parent) : QGroupBox(parent), m_session(session) {}

void DevicePage::bind(QList<Binding> bindings)
{
    m_bindings = std::move(bindings);
    for (const Binding &bound : std::as_const(m_bindings)) {
        const TParamId id = bound.id;
        if (bound.readButton)
            Handlers::connect(bound.readButton, &QAbstractButton::clicked, this, [this, id] { read(binding(id)); });
        if (bound.writeButton)
            Handlers::connect(bound.writeButton, &QAbstractButton::clicked, this, [this, id] { write(binding(id)); });
    }
}

const DevicePage::Binding &DevicePage::binding(TParamId id) const
{
    return *std::find_if(m_bindings.begin(), m_bindings.end(), [id](const Binding &b) { return b.id == id; });
}

void DevicePage::readAll()
{
    for (const Binding &bound : std::as_const(m_bindings))
        read(bound);
}

std::optional<qint16> DevicePage::read(const Binding &binding)
{
    const std::optional<Session::Reading> reading = m_session.readValue(Catalogue::of(binding.id));
    if (!reading)
        return std::nullopt;
    colourOutcome(reading->code, binding.control);
    if (reading->code >= lrOk)
        binding.show(reading->value);
    if (binding.after)
        binding.after(Exchange::Read, reading->code);
    return reading->code;
}

// The control's rules run only under a connection: a stopped page corrects and asks nothing.
std::optional<qint16> DevicePage::write(const Binding &binding)
{
    if (!m_session.isConnected())
        return std::nullopt;
    const std::optional<QVariant> value = binding.value();
    if (!value)
        return std::nullopt;
    const std::optional<qint16> code = m_session.writeValue(Catalogue::of(binding.id), *value);
    if (!code)
        return std::nullopt;
    if (binding.colourWrites)
        colourOutcome(*code, binding.control);
    if (*code >= lrOk)
        binding.show(*value);
    if (binding.after)
        binding.after(Exchange::Write, *code);
    return code;
}

void DevicePage::colourOutcome(qint16 code, QWidget *control)
{
    if (control)
        setTextColour(control, code < lrOk ? kFailureColour : QApplication::palette().color(QPalette::WindowText));
}

QList<std::pair<QString, QString>> DevicePage::logAbout() const
{
    const LineSetup &line = m_session.line();
    const auto row = [](auto table, quint8 index) {
        return index < table.size() ? QString::number(table[index]) : QString();
    };
    const QString parity =
        line.parity < LineSettings::ParityNames.size() ? QLatin1String(LineSettings::ParityNames[line.parity]) : QString();
    return {
        {QStringLiteral("device"), QStringLiteral("indicator, Modbus RTU")},
        {QStringLiteral("address"), QString::number(m_session.deviceNumber())},
        {QStringLiteral("port"), QStringLiteral("%1 (%2)").arg(PortDevices::caption(line.portNumber), line.portName)},
        {QStringLiteral("baud"), row(LineSettings::BaudRates, line.speedNumber)},
        {QStringLiteral("parity"), parity},
        {QStringLiteral("stop_bits"), row(LineSettings::StopBitCounts, line.stopBits)},
        {QStringLiteral("poll_interval_ms"), QString::number(kPollIntervalMs)},
    };
}
