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

QSize DevicePage::sizeHint() const
{
    return layout() ? QGroupBox::sizeHint() : formExtent(this);
}

QSize DevicePage::minimumSizeHint() const
{
    return layout() ? QGroupBox::minimumSizeHint() : formExtent(this);
}

QSize DevicePage::formExtent(const QWidget *form)
{
    const QRect controls = form->childrenRect();
    if (controls.isEmpty())
        return {};
    return {controls.right() + 1 + controls.left(), controls.bottom() + 1 + controls.left()};
}

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

bool DevicePage::read(const Binding &binding, Then then)
{
    const TParamId id = binding.id;
    return m_session.readValue(Catalogue::of(id), this, [this, id, then](const Session::Reading &reading) {
        const Binding &bound = this->binding(id);
        colourOutcome(reading.code, bound.control);
        if (reading.code >= lrOk)
            bound.show(reading.value);
        if (bound.after)
            bound.after(Exchange::Read, reading.code);
        if (then)
            then(reading.code);
    });
}

// The control's rules run only under a connection: a stopped page corrects and asks nothing.
// A field that holds no number raises NumberConversionError here, before anything is queued.
bool DevicePage::write(const Binding &binding)
{
    if (!m_session.isConnected())
        return false;
    const std::optional<QVariant> value = binding.value();
    if (!value)
        return false;
    const TParamId id = binding.id;
    return m_session.writeValue(Catalogue::of(id), *value, this, [this, id, sent = *value](qint16 code) {
        const Binding &bound = this->binding(id);
        if (bound.colourWrites)
            colourOutcome(code, bound.control);
        if (code >= lrOk)
            bound.show(sent);
        if (bound.after)
            bound.after(Exchange::Write, code);
    });
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
