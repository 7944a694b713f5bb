#include "commands.h"

#include "adapter.h"
#include "benchtest.h"
#include "blocking.h"
#include "buspoller.h"
#include "catalogue.h"
#include "csvwriter.h"
#include "polllog.h"
#include "devicesearch.h"
#include "framewords.h"
#include "iniprofile.h"
#include "linecapture.h"
#include "linelistener.h"
#include "linesettings.h"
#include "listenport.h"
#include "moderules.h"
#include "portdevices.h"
#include "profile.h"
#include "profilereader.h"
#include "profilewriter.h"
#include "resultcodes.h"
#include "servecommand.h"
#include "session.h"
#include "settingsfile.h"
#include "testreport.h"
#include "values.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cmath>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <csignal>
#endif

namespace {

using Catalogue::Parameter;
using Profiles::DeviceProfile;

// How often a watch that waits for its next poll looks whether Ctrl+C came.
constexpr int kStopCheckMs = 50;

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

#ifdef Q_OS_WIN
// Ctrl+C and Ctrl+Break come to a handler on a thread of its own; the watch stops at its next
// look, as after a signal elsewhere.
BOOL WINAPI requestStop(DWORD)
{
    stopRequested = true;
    return TRUE;
}

void stopOnSignals()
{
    SetConsoleCtrlHandler(requestStop, TRUE);
}
#else
void requestStop(int) { stopRequested = true; }

// No SA_RESTART: the exchange under way ends within its time-out, then the watch stops.
void stopOnSignals()
{
    struct sigaction action{};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}
#endif

QString kindName(Catalogue::Kind kind)
{
    switch (kind) {
    case Catalogue::Kind::Float:
        return QStringLiteral("float");
    case Catalogue::Kind::Code:
        return QStringLiteral("code");
    case Catalogue::Kind::Flag:
        return QStringLiteral("flag");
    case Catalogue::Kind::Number:
        return QStringLiteral("number");
    case Catalogue::Kind::Text:
        return QStringLiteral("text");
    case Catalogue::Kind::FlagWord:
        return QStringLiteral("flags");
    }
    return {};
}

// The values a parameter takes, as list prints them.
QString valuesOf(const Parameter &parameter)
{
    QStringList values;
    switch (parameter.kind) {
    case Catalogue::Kind::Float:
    case Catalogue::Kind::Number:
        if (!std::isfinite(parameter.lowest))
            return QStringLiteral("any");
        return QStringLiteral("%1..%2").arg(parameter.lowest).arg(parameter.highest);
    case Catalogue::Kind::Code:
        for (const Catalogue::Code &code : parameter.codes)
            values << QStringLiteral("%1=%2").arg(code.value).arg(code.caption);
        break;
    case Catalogue::Kind::Flag:
        return QStringLiteral("0|1");
    case Catalogue::Kind::Text:
        return QStringLiteral("%1 characters").arg(parameter.bytes());
    case Catalogue::Kind::FlagWord:
        for (const Catalogue::Bit &bit : parameter.bits)
            values << QStringLiteral("bit%1=%2").arg(bit.bit).arg(bit.caption);
        break;
    }
    return values.join(u'|');
}

QString registerText(const Parameter &parameter)
{
    return QStringLiteral("0x") + QStringLiteral("%1").arg(parameter.firstRegister(), 4, 16, QLatin1Char('0')).toUpper();
}

// What list --json gives for a parameter: the line of list, with its values as JSON.
QJsonObject listEntry(const Parameter &parameter)
{
    QJsonObject entry{{QStringLiteral("key"), parameter.key},
                      {QStringLiteral("caption"), parameter.caption},
                      {QStringLiteral("kind"), kindName(parameter.kind)},
                      {QStringLiteral("register"), registerText(parameter)},
                      {QStringLiteral("registers"), parameter.registerCount()},
                      {QStringLiteral("writable"), parameter.writable}};
    QJsonArray values;
    for (const Catalogue::Code &code : parameter.codes)
        values.append(QJsonObject{{QStringLiteral("code"), code.value}, {QStringLiteral("caption"), code.caption}});
    for (const Catalogue::Bit &bit : parameter.bits)
        values.append(QJsonObject{{QStringLiteral("bit"), bit.bit}, {QStringLiteral("caption"), bit.caption}});
    if (!values.isEmpty()) {
        entry.insert(parameter.kind == Catalogue::Kind::Code ? QStringLiteral("codes") : QStringLiteral("bits"), values);
    } else if (parameter.kind == Catalogue::Kind::Text) {
        entry.insert(QStringLiteral("characters"), parameter.bytes());
    } else if (std::isfinite(parameter.lowest)) {
        entry.insert(QStringLiteral("lowest"), parameter.lowest);
        entry.insert(QStringLiteral("highest"), parameter.highest);
    }
    return entry;
}

QString millisecondsOf(qint64 microseconds)
{
    return QString::number(double(microseconds) / 1000, 'f', 1);
}

QString outcomeName(ProfileWriter::Outcome outcome)
{
    switch (outcome) {
    case ProfileWriter::Outcome::Confirmed:
        return QStringLiteral("confirmed");
    case ProfileWriter::Outcome::Refused:
        return QStringLiteral("refused");
    case ProfileWriter::Outcome::NotVerified:
        return QStringLiteral("not_verified");
    case ProfileWriter::Outcome::ReadBackDiffers:
        return QStringLiteral("read_back_differs");
    case ProfileWriter::Outcome::NotSent:
        return QStringLiteral("not_sent");
    }
    return {};
}

class Cli
{
public:
    Cli(const Invocation &invocation, QTextStream &out, QTextStream &err)
        : m_invocation(invocation), m_out(out), m_err(err)
    {
    }

    int run()
    {
        const QString &command = m_invocation.command;
        if (command == QLatin1String("list"))
            return list();
        if (command == QLatin1String("read"))
            return read();
        if (command == QLatin1String("write"))
            return write();
        if (command == QLatin1String("save"))
            return save();
        if (command == QLatin1String("compare"))
            return compare();
        if (command == QLatin1String("load"))
            return load();
        if (command == QLatin1String("scan"))
            return scan();
        if (command == QLatin1String("watch"))
            return watch();
        if (command == QLatin1String("listen"))
            return listen();
        if (command == QLatin1String("test"))
            return test();
        if (command == QLatin1String("serve"))
            return serve();
        return completion();
    }

private:
    // The line and the device to use: the options given, the window's saved settings for the rest.
    struct Line
    {
        LineSetup setup;
        QString shownName; // "COM1 (/dev/ttyUSB0)" or the path given
        Profiles::Origin origin;
    };

    int list();
    int read();
    int write();
    int save();
    int compare();
    int load();
    int scan();
    int watch();
    int listen();
    int test();
    int serve();
    int completion();
    QList<quint8> polledAddresses(const Line &line) const;

    // A listener names no device: it may go without an address.
    std::optional<Line> line(bool needsAddress = true);
    void printHeard(LineListener &listener);
    void printSummary(const LineListener &listener);
    struct Polled
    {
        const Parameter *parameter;
        QVariant value; // none when it could not be read
    };
    void printPoll(const QDateTime &time, std::optional<quint8> address, const QList<Polled> &polled, CsvWriter &csv);
    bool connect(const Line &line);
    std::optional<DeviceProfile> readDevice(const Line &line);
    std::optional<DeviceProfile> loadFile(const QString &path);
    std::optional<int> judgeTogether(const QList<std::pair<const Parameter *, QVariant>> &values);

    void note(const QString &message) { m_err << "indicator-cli: " << message << Qt::endl; }
    int usage(const QString &message)
    {
        note(message);
        return ExitStatus::Usage;
    }
    // The window's message for the code, and the code: a line in the window's language.
    int failed(const QString &what, qint16 code)
    {
        note(QStringLiteral("%1: %2 (код %3)").arg(what, ResultText(code)).arg(code));
        return ExitStatus::Failed;
    }
    void print(const QJsonValue &json)
    {
        const QJsonDocument document = json.isArray() ? QJsonDocument(json.toArray()) : QJsonDocument(json.toObject());
        m_out << document.toJson(QJsonDocument::Indented);
        m_out.flush();
    }
    void printLine(const QString &text) { m_out << text << Qt::endl; }

    const Invocation &m_invocation;
    QTextStream &m_out;
    QTextStream &m_err;
    Session m_session;
};

std::optional<Cli::Line> Cli::line(bool needsAddress)
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

    Line line;
    std::optional<quint8> portNumber;
    if (m_invocation.port) {
        portNumber = PortDevices::portNumber(*m_invocation.port);
        line.setup.portName = *m_invocation.port;
    } else if (!(portNumber = fromSaved(saved.portNumber, 0xFF, "--port"))) {
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
                                                : fromSaved(saved.speedNumber, LineSettings::BaudRates.size(), "--baud");
    const auto parity = m_invocation.parity ? m_invocation.parity
                                            : fromSaved(saved.parity, LineSettings::ParityNames.size(), "--parity");
    const auto stopBits = m_invocation.stopBits
                              ? m_invocation.stopBits
                              : fromSaved(saved.stopBits, LineSettings::StopBitCounts.size(), "--stop-bits");
    std::optional<int> address = m_invocation.address;
    if (!address && saved.deviceNumber >= DeviceSearch::kFirstAddress && saved.deviceNumber <= DeviceSearch::kLastAddress)
        address = int(saved.deviceNumber);
    else if (!address && !needsAddress)
        address = 0;
    else if (!address)
        usage(QStringLiteral("%1 holds no usable choice for --address; give --address").arg(settingsPath));
    if (!speed || !parity || !stopBits || !address)
        return std::nullopt;
    line.setup.speedNumber = *speed;
    line.setup.parity = *parity;
    line.setup.stopBits = *stopBits;
    line.origin.speedNumber = *speed;
    line.origin.parity = *parity;
    line.origin.stopBits = *stopBits;
    line.origin.address = quint16(*address);
    return line;
}

bool Cli::connect(const Line &line)
{
    m_session.setDeviceNumber(line.origin.address);
    if (Blocking::start(m_session, line.setup))
        return true;
    note(m_session.openFailureMessage(line.origin.port, line.setup.portName));
    return false;
}

// The device whole, or nothing with every value that failed named.
std::optional<DeviceProfile> Cli::readDevice(const Line &line)
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

std::optional<DeviceProfile> Cli::loadFile(const QString &path)
{
    QString error;
    std::optional<DeviceProfile> profile = Profiles::load(path, &error);
    if (!profile)
        usage(QStringLiteral("%1: %2").arg(path, FrameWords::escapedControls(error))); // the error may quote the file
    return profile;
}

int Cli::list()
{
    QJsonArray json;
    for (const Parameter &parameter : Catalogue::parameters()) {
        if (m_invocation.json) {
            json.append(listEntry(parameter));
            continue;
        }
        printLine(QStringLiteral("%1\t%2\t%3/%4\t%5\t%6\t%7")
                      .arg(parameter.key, kindName(parameter.kind), registerText(parameter))
                      .arg(parameter.registerCount())
                      .arg(parameter.writable ? QStringLiteral("rw") : QStringLiteral("r"), valuesOf(parameter),
                           parameter.caption));
    }
    if (m_invocation.json)
        print(json);
    return ExitStatus::Success;
}

int Cli::read()
{
    QList<const Parameter *> chosen;
    for (const QString &key : m_invocation.arguments) {
        const Parameter *parameter = Catalogue::find(key);
        if (!parameter)
            return usage(QStringLiteral("no parameter %1; \"indicator-cli list\" names them").arg(key));
        chosen << parameter;
    }
    if (chosen.isEmpty()) {
        for (const Parameter &parameter : Catalogue::parameters())
            chosen << &parameter;
    }
    const std::optional<Line> line = this->line();
    if (!line)
        return ExitStatus::Usage;
    if (!connect(*line))
        return ExitStatus::Failed;

    int status = ExitStatus::Success;
    QJsonObject json;
    for (const Parameter *parameter : std::as_const(chosen)) {
        const std::optional<Session::Reading> reading = Blocking::readValue(m_session, *parameter);
        const qint16 code = reading ? reading->code : qint16(lrNotConnected);
        if (code < lrOk) {
            status = failed(parameter->key, code);
            if (LineFailed(code))
                break;
            continue;
        }
        if (m_invocation.json)
            json.insert(parameter->key, CliValues::json(*parameter, reading->value));
        else
            printLine(QStringLiteral("%1 = %2").arg(parameter->key, CliValues::shown(*parameter, reading->value)));
    }
    if (m_invocation.json)
        print(json);
    return status;
}

int Cli::write()
{
    QList<std::pair<const Parameter *, QVariant>> values;
    bool refused = false;
    for (const QString &argument : m_invocation.arguments) {
        const qsizetype equals = argument.indexOf(u'=');
        const QString key = argument.first(qMax<qsizetype>(equals, 0));
        const Parameter *parameter = equals > 0 ? Catalogue::find(key) : nullptr;
        QString why;
        std::optional<QVariant> value;
        if (equals <= 0)
            why = QStringLiteral("give KEY=VALUE");
        else if (!parameter)
            why = QStringLiteral("no such parameter; \"indicator-cli list\" names them");
        else if (std::any_of(values.begin(), values.end(), [&](const auto &v) { return v.first == parameter; }))
            why = QStringLiteral("given twice");
        else
            value = CliValues::parse(*parameter, argument.sliced(equals + 1), &why);
        if (!value) {
            note(QStringLiteral("%1: %2").arg(argument, why));
            refused = true;
            continue;
        }
        values.append({parameter, *value});
    }
    if (refused)
        return usage(QStringLiteral("nothing written"));

    const std::optional<Line> line = this->line();
    if (!line)
        return ExitStatus::Usage;
    if (!connect(*line))
        return ExitStatus::Failed;
    if (const std::optional<int> judged = judgeTogether(values))
        return *judged;
    for (const auto &[parameter, value] : std::as_const(values)) {
        const qint16 code = Blocking::writeValue(m_session, *parameter, value).value_or(lrNotConnected);
        if (code < lrOk)
            return failed(parameter->key, code);
    }
    return ExitStatus::Success;
}

// The new values against each other and against those of the device they are compared with,
// read first. The exit status when they may not be sent, none when they may.
std::optional<int> Cli::judgeTogether(const QList<std::pair<const Parameter *, QVariant>> &values)
{
    QMap<QString, QVariant> together;
    QStringList written;
    for (const auto &[parameter, value] : values) {
        together.insert(parameter->key, value);
        written << parameter->key;
    }
    for (const Parameter *partner : ModeRules::partners(written)) {
        const std::optional<Session::Reading> reading = Blocking::readValue(m_session, *partner);
        const qint16 code = reading ? reading->code : qint16(lrNotConnected);
        if (code < lrOk)
            return failed(partner->key, code);
        together.insert(partner->key, reading->value);
    }
    const QList<ModeRules::Breach> broken = ModeRules::breaches(together, written);
    if (broken.isEmpty())
        return std::nullopt;
    for (const ModeRules::Breach &breach : broken)
        note(QStringLiteral("%1 %2 %3")
                 .arg(breach.key, Catalogue::valueText(*Catalogue::find(breach.key), together.value(breach.key)),
                      breach.reason));
    return usage(QStringLiteral("nothing written"));
}

int Cli::save()
{
    const QString path = m_invocation.arguments.first();
    const std::optional<Line> line = this->line();
    if (!line)
        return ExitStatus::Usage;
    if (!connect(*line))
        return ExitStatus::Failed;
    const std::optional<DeviceProfile> device = readDevice(*line);
    if (!device) {
        note(QStringLiteral("%1 not written: not every value could be read").arg(path));
        return ExitStatus::Failed;
    }
    QString error;
    if (!Profiles::save(*device, path, &error)) {
        note(QStringLiteral("%1 не записан: %2").arg(path, error));
        return ExitStatus::Failed;
    }
    return ExitStatus::Success;
}

int Cli::compare()
{
    const std::optional<DeviceProfile> file = loadFile(m_invocation.arguments.first());
    if (!file)
        return ExitStatus::Usage;
    const std::optional<Line> line = this->line();
    if (!line)
        return ExitStatus::Usage;
    if (!connect(*line))
        return ExitStatus::Failed;
    const std::optional<DeviceProfile> device = readDevice(*line);
    if (!device)
        return ExitStatus::Failed;

    const Profiles::Comparison comparison = Profiles::compare(*device, *file);
    if (m_invocation.json) {
        QJsonArray rows;
        for (const Profiles::ComparisonRow &row : comparison.rows)
            rows.append(QJsonObject{{QStringLiteral("key"), row.parameter->key},
                                    {QStringLiteral("caption"), row.parameter->caption},
                                    {QStringLiteral("device"), CliValues::json(*row.parameter, row.device)},
                                    {QStringLiteral("file"), CliValues::json(*row.parameter, row.file)},
                                    {QStringLiteral("differs"), row.differs}});
        print(QJsonObject{{QStringLiteral("rows"), rows},
                          {QStringLiteral("differing"), comparison.differing()},
                          {QStringLiteral("identity"), QJsonArray::fromStringList(comparison.identity)}});
    } else {
        for (const Profiles::ComparisonRow &row : comparison.rows) {
            const QString device = CliValues::shown(*row.parameter, row.device);
            printLine(row.differs ? QStringLiteral("* %1: device %2, file %3")
                                        .arg(row.parameter->key, device, CliValues::shown(*row.parameter, row.file))
                                  : QStringLiteral("  %1: %2").arg(row.parameter->key, device));
        }
        for (const QString &difference : comparison.identity)
            printLine(QStringLiteral("identity: %1").arg(FrameWords::escapedControls(difference)));
        printLine(QStringLiteral("%1 of %2 values differ").arg(comparison.differing()).arg(comparison.rows.size()));
    }
    return comparison.differing() > 0 ? ExitStatus::Differs : ExitStatus::Success;
}

int Cli::load()
{
    const QString path = m_invocation.arguments.first();
    const std::optional<DeviceProfile> file = loadFile(path);
    if (!file)
        return ExitStatus::Usage;
    ProfileWriter::Options options;
    options.withLineSettings = m_invocation.withLineSettings;
    // A backup goes back as the device held it; --force lets any other file's display rules pass.
    options.waiveDisplayRules = m_invocation.force || ProfileWriter::isBackup(path, options);
    if (const QList<ProfileWriter::Refusal> refused = ProfileWriter::refusals(*file, options.waiveDisplayRules);
        !refused.isEmpty()) {
        for (const ProfileWriter::Refusal &refusal : refused)
            note(QStringLiteral("%1: %2: %3").arg(path, refusal.key, refusal.reason));
        return usage(QStringLiteral("nothing written"));
    }
    for (const ModeRules::Breach &breach : ModeRules::breaches(file->values))
        note(QStringLiteral("%1: %2: %3; let pass, as %4")
                 .arg(path, breach.key, breach.reason,
                      m_invocation.force ? QStringLiteral("--force asks") : QStringLiteral("a backup of the device")));

    const std::optional<Line> line = this->line();
    if (!line)
        return ExitStatus::Usage;
    if (!connect(*line))
        return ExitStatus::Failed;
    const std::optional<DeviceProfile> device = readDevice(*line);
    if (!device)
        return ExitStatus::Failed;

    ProfileWriter writer(m_session, *file, *device, options);
    for (const QString &difference : writer.identityDifferences())
        note(QStringLiteral("файл другого прибора: %1").arg(FrameWords::escapedControls(difference)));
    if (!writer.identityDifferences().isEmpty()) {
        if (!m_invocation.force)
            return usage(QStringLiteral("nothing written; --force writes it all the same"));
        writer.confirmIdentity();
    }
    for (const Parameter *parameter : writer.leftOut())
        note(QStringLiteral("%1 differs (device %2, file %3): left as it is without --with-line-settings")
                 .arg(parameter->key, CliValues::shown(*parameter, device->values.value(parameter->key)),
                      CliValues::shown(*parameter, file->values.value(parameter->key))));

    const auto change = [&](const Parameter &parameter) {
        return QStringLiteral("%1: %2 -> %3")
            .arg(parameter.key, CliValues::shown(parameter, device->values.value(parameter.key)),
                 CliValues::shown(parameter, file->values.value(parameter.key)));
    };
    if (writer.plan().isEmpty()) {
        note(QStringLiteral("the device holds the file's values: nothing to write"));
        if (m_invocation.json)
            print(QJsonObject{{QStringLiteral("results"), QJsonArray()}});
        return ExitStatus::Success;
    }
    if (m_invocation.dryRun) {
        QJsonArray plan;
        for (const Parameter *parameter : writer.plan()) {
            if (m_invocation.json)
                plan.append(parameter->key);
            else
                printLine(change(*parameter));
        }
        if (m_invocation.json)
            print(QJsonObject{{QStringLiteral("plan"), plan}});
        note(QStringLiteral("dry run: nothing written"));
        return ExitStatus::Success;
    }

    int status = ExitStatus::Success;
    QJsonArray results;
    QObject::connect(&writer, &ProfileWriter::stepDone, [&](const ProfileWriter::Result &result) {
        const Parameter &parameter = *result.parameter;
        if (m_invocation.json)
            results.append(QJsonObject{{QStringLiteral("key"), parameter.key},
                                       {QStringLiteral("outcome"), outcomeName(result.outcome)},
                                       {QStringLiteral("text"), result.text}});
        else
            printLine(QStringLiteral("%1: %2").arg(change(parameter), result.text));
        if (result.code < lrOk)
            status = failed(parameter.key, result.code);
        else if (result.outcome == ProfileWriter::Outcome::NotSent)
            status = ExitStatus::Failed;
        else if (result.outcome == ProfileWriter::Outcome::ReadBackDiffers && status == ExitStatus::Success)
            status = ExitStatus::Differs;
    });
    Blocking::runToEnd(writer);
    if (!writer.backupError().isEmpty()) {
        note(QStringLiteral("нет копии настроек прибора, поэтому ничего не записано: %1").arg(writer.backupError()));
        return ExitStatus::Failed;
    }
    if (m_invocation.json)
        print(QJsonObject{{QStringLiteral("backup"), writer.backupPath()}, {QStringLiteral("results"), results}});
    note(QStringLiteral("the device's settings before the load: %1").arg(writer.backupPath()));
    if (m_invocation.withLineSettings
        && std::any_of(writer.plan().begin(), writer.plan().end(),
                       [](const Parameter *p) { return p->role == Catalogue::Role::LineSetting; }))
        note(QStringLiteral("the line settings take effect when the device restarts"));
    return status;
}

int Cli::scan()
{
    const std::optional<Line> line = this->line();
    if (!line)
        return ExitStatus::Usage;
    DeviceSearch::Plan plan;
    plan.speeds = m_invocation.speeds;
    if (plan.speeds.isEmpty()) {
        for (quint8 row = 0; row < LineSettings::BaudRates.size(); ++row)
            plan.speeds << row;
    }
    plan.parities = m_invocation.parities;
    if (plan.parities.isEmpty()) {
        for (quint8 row = 0; row < LineSettings::ParityNames.size(); ++row)
            plan.parities << row;
    }
    if (m_invocation.addresses) {
        // The sweep goes over a span; the addresses between those listed are asked, not shown.
        const auto [first, last] = std::minmax_element(m_invocation.addresses->begin(), m_invocation.addresses->end());
        plan.firstAddress = *first;
        plan.lastAddress = *last;
    }
    plan.likely = {line->setup.speedNumber, line->setup.parity};
    plan.likelyAddress = line->origin.address;
    if (m_invocation.allAddresses) {
        if (!m_invocation.speeds.isEmpty() || !m_invocation.parities.isEmpty())
            return usage(QStringLiteral("--all scans the one setting of --baud and --parity; --bauds and --parities go without it"));
        plan = DeviceSearch::addressesOnly(plan);
    }

    DeviceSearch::Sweep sweep(plan, m_session.lineOwner(), line->setup);
    const auto settingName = [](const DeviceSearch::LineSetting &setting) {
        return QStringLiteral("%1 baud, parity %2")
            .arg(LineSettings::baudRate(setting.speedNumber).value_or(0))
            .arg(QLatin1String(LineSettings::ParityNames[setting.parity]));
    };
    note(QStringLiteral("scanning %1: %2 probes, at most %3 s")
             .arg(line->shownName)
             .arg(sweep.total())
             .arg((sweep.remainingMs() + 999) / 1000));
    std::optional<DeviceSearch::LineSetting> setting;
    int indicators = 0;
    while (const std::optional<DeviceSearch::Probe> probe = sweep.upcoming()) {
        if (setting != probe->setting) {
            setting = probe->setting;
            note(QStringLiteral("%1 (%2 of %3 probes sent)").arg(settingName(*setting)).arg(sweep.sent()).arg(sweep.total()));
        }
        const std::optional<DeviceSearch::Sweep::Step> step = Blocking::next(sweep);
        if (!step || !step->found || (m_invocation.addresses && !m_invocation.addresses->contains(step->found->address)))
            continue;
        const DeviceSearch::Found &found = *step->found;
        indicators += found.indicator ? 1 : 0;
        const int baud = int(LineSettings::baudRate(found.setting.speedNumber).value_or(0));
        const QLatin1String parity(LineSettings::ParityNames[found.setting.parity]);
        if (m_invocation.json) {
            QJsonObject entry{{QStringLiteral("address"), found.address}, {QStringLiteral("baud"), baud},
                              {QStringLiteral("parity"), parity}, {QStringLiteral("indicator"), found.indicator}};
            if (found.indicator) {
                entry.insert(QStringLiteral("name"), found.name);
                entry.insert(QStringLiteral("version"), found.version);
            }
            printLine(QString::fromUtf8(QJsonDocument(entry).toJson(QJsonDocument::Compact)));
        } else if (found.indicator) {
            printLine(QStringLiteral("address=%1 baud=%2 parity=%3 name=\"%4\" version=\"%5\"")
                          .arg(found.address)
                          .arg(baud)
                          .arg(parity, FrameWords::escapedControls(found.name), FrameWords::escapedControls(found.version)));
        } else {
            printLine(QStringLiteral("address=%1 baud=%2 parity=%3 other device").arg(found.address).arg(baud).arg(parity));
        }
    }
    for (const DeviceSearch::Sweep::NoiseCount &noise : sweep.noise())
        note(QStringLiteral("noise at %1: %2 broken replies").arg(settingName(noise.setting)).arg(noise.replies));
    switch (sweep.failure()) {
    case DeviceSearch::Sweep::Failure::PortNotOpened:
        note(QStringLiteral("port %1 not opened").arg(line->shownName));
        return ExitStatus::Failed;
    case DeviceSearch::Sweep::Failure::PortLost:
        note(QStringLiteral("port %1 lost during the scan").arg(line->shownName));
        return ExitStatus::Failed;
    case DeviceSearch::Sweep::Failure::None:
        break;
    }
    if (indicators == 0) {
        note(QStringLiteral("no indicator answered"));
        return ExitStatus::Failed;
    }
    return ExitStatus::Success;
}

int Cli::watch()
{
    QList<const Parameter *> live;
    for (const Parameter &parameter : Catalogue::parameters()) {
        if (parameter.role == Catalogue::Role::Reading)
            live << &parameter;
    }
    const std::optional<Line> line = this->line();
    if (!line)
        return ExitStatus::Usage;
    if (!connect(*line))
        return ExitStatus::Failed;
    stopOnSignals();

    const QList<quint8> addresses = polledAddresses(*line);
    const bool many = m_invocation.addresses.has_value();
    CsvWriter csv(m_out, CsvWriter::Dialect::Script);
    if (m_invocation.csv) {
        csv.text(QStringLiteral("time"));
        if (many)
            csv.text(QStringLiteral("address"));
        for (const Parameter *parameter : std::as_const(live))
            csv.text(parameter->key);
        csv.endRow();
    }
    int status = ExitStatus::Success;
    QElapsedTimer clock;
    clock.start();
    for (qint64 poll = 0; !stopRequested && (m_invocation.count == 0 || poll < m_invocation.count); ++poll) {
        const qint64 started = clock.elapsed();
        bool portLost = false;
        // One unit after another, never two exchanges at once.
        for (qsizetype unit = 0; unit < addresses.size() && !portLost && !stopRequested; ++unit) {
            const QDateTime time = QDateTime::currentDateTime();
            QList<Polled> polled;
            bool silent = false;
            for (const Parameter *parameter : std::as_const(live)) {
                const std::optional<Session::Reading> reading = silent ? std::nullopt : Blocking::readValueAt(m_session, addresses[unit], *parameter);
                const qint16 code = reading ? reading->code : qint16(silent ? lrNoAnswer : lrNotConnected);
                if (!silent && code < lrOk) {
                    status = failed(many ? QStringLiteral("%1 at %2").arg(parameter->key).arg(addresses[unit]) : parameter->key, code);
                    silent = LineFailed(code); // the rest of this poll would only wait as long again
                    portLost = code == lrWriteFailed || code == lrNotConnected;
                }
                polled.append({parameter, code < lrOk ? QVariant() : reading->value});
            }
            printPoll(time, many ? std::optional(addresses[unit]) : std::nullopt, polled, csv);
        }
        if (portLost)
            return ExitStatus::Failed;
        if (m_invocation.count != 0 && poll + 1 >= m_invocation.count)
            break;
        for (qint64 left = started + m_invocation.intervalMs - clock.elapsed(); left > 0 && !stopRequested;
             left = started + m_invocation.intervalMs - clock.elapsed())
            QThread::msleep(ulong(qMin<qint64>(left, kStopCheckMs)));
    }
    return status;
}

// One line of a watch: JSON, a CSV row, or key=value for a person; a value not read is left
// out of JSON, empty in CSV and "?" for a person. Files and scripts get the time with its zone,
// as the window's log does, so that rows from two places or a change of summer time line up.
void Cli::printPoll(const QDateTime &time, std::optional<quint8> address, const QList<Polled> &polled, CsvWriter &csv)
{
    if (m_invocation.json) {
        QJsonObject json{{QStringLiteral("time"), PollLog::timeText(time)}};
        if (address)
            json.insert(QStringLiteral("address"), *address);
        for (const auto &[parameter, value] : polled) {
            if (value.isValid())
                json.insert(parameter->key, CliValues::json(*parameter, value));
        }
        printLine(QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)));
    } else if (m_invocation.csv) {
        csv.value(PollLog::timeText(time));
        if (address)
            csv.value(QString::number(*address));
        for (const auto &[parameter, value] : polled) {
            const QString text = value.isValid() ? Catalogue::valueText(*parameter, value) : QString();
            if (parameter->kind == Catalogue::Kind::Text)
                csv.text(text);
            else
                csv.value(text);
        }
        csv.endRow();
    } else {
        QStringList fields{time.toString(QStringLiteral("HH:mm:ss.zzz"))};
        if (address)
            fields << QStringLiteral("address=%1").arg(*address);
        for (const auto &[parameter, value] : polled)
            fields << QStringLiteral("%1=%2").arg(parameter->key, value.isValid() ? CliValues::shown(*parameter, value)
                                                                                  : QStringLiteral("?"));
        printLine(fields.join(u' '));
    }
}

// The units of --addresses, or the one device of the line.
QList<quint8> Cli::polledAddresses(const Line &line) const
{
    return m_invocation.addresses.value_or(QList<quint8>{quint8(line.origin.address)});
}

int Cli::test()
{
    constexpr double kSigmaShareOfTolerance = 1.0 / 3.0;
    if (!m_invocation.expected || !m_invocation.tolerance)
        return usage(QStringLiteral("test needs --expect and --tolerance"));
    const BenchTest::Limits limits{*m_invocation.expected, *m_invocation.tolerance,
                                   m_invocation.sigmaLimit.value_or(*m_invocation.tolerance * kSigmaShareOfTolerance),
                                   m_invocation.minReadings.value_or(BenchTest::kDefaultMinReadings),
                                   (m_invocation.durationS > 0 ? m_invocation.durationS : BenchTest::kDefaultDurationS) * 1000,
                                   m_invocation.longestS.value_or(BenchTest::kDefaultLongestS) * 1000};
    if (limits.longestMs < limits.durationMs)
        return usage(QStringLiteral("--max-duration must be at least --duration"));
    const std::optional<Line> line = this->line();
    if (!line)
        return ExitStatus::Usage;
    if (!connect(*line))
        return ExitStatus::Failed;
    stopOnSignals();

    QList<Bus::Unit> units;
    for (quint8 address : polledAddresses(*line))
        units << Blocking::identified(m_session, address);
    note(QStringLiteral("testing %1 unit(s) on %2 for %3 s (on until each has its readings, %4 s at most) against %5 ± %6, "
                        "sigma at most %7, at least %8 readings")
             .arg(units.size()).arg(line->shownName).arg(limits.durationMs / 1000).arg(limits.longestMs / 1000)
             .arg(limits.expected).arg(limits.tolerance).arg(limits.sigmaLimit).arg(limits.minReadings));
    Bus::Poller poller(m_session);
    poller.setUnits(units);
    BenchTest::Run run(units, limits, poller.now());
    QEventLoop loop;
    const auto endWhenOver = [&] {
        if (run.isOver(poller.now(), poller.units()))
            loop.quit();
    };
    QObject::connect(&poller, &Bus::Poller::unitPolled, &loop, [&](int row) {
        run.record(poller.units()[row]);
        endWhenOver();
    });
    QObject::connect(&m_session, &Session::portLost, &loop, [&] {
        run.abort(poller.now());
        loop.quit();
    });
    // Also while every unit is silent and no poll comes to end it.
    QTimer stopCheck;
    QObject::connect(&stopCheck, &QTimer::timeout, &loop, [&] {
        if (stopRequested)
            loop.quit();
        endWhenOver();
    });
    stopCheck.start(kStopCheckMs);
    poller.start();
    loop.exec();
    poller.stop();
    if (stopRequested)
        return ExitStatus::Failed;
    run.finish(poller.now());

    BenchTest::Report report;
    report.when = QDateTime::currentDateTime();
    report.line = QStringLiteral("%1, %2 бод, паритет %3, стоп-бит %4")
                      .arg(line->shownName)
                      .arg(LineSettings::BaudRates[line->setup.speedNumber])
                      .arg(QLatin1String(LineSettings::ParityNames[line->setup.parity]))
                      .arg(LineSettings::StopBitCounts[line->setup.stopBits]);
    report.limits = limits;
    int failures = 0;
    for (const Bus::Unit &unit : poller.units()) {
        const BenchTest::Judgement judgement = run.judge(unit.address);
        report.rows.append({unit.address, unit.name, unit.version, judgement});
        if (report.unitOfMeasure.isEmpty())
            report.unitOfMeasure = unit.unit;
        const BenchTest::Figures &f = judgement.figures;
        failures += judgement.passed() ? 0 : 1;
        if (m_invocation.json) {
            QJsonObject entry{{QStringLiteral("address"), unit.address}, {QStringLiteral("name"), unit.name},
                              {QStringLiteral("version"), unit.version}, {QStringLiteral("samples"), f.samples},
                              {QStringLiteral("failed_polls"), f.failedPolls}, {QStringLiteral("self_diag"), f.selfDiag},
                              {QStringLiteral("eeprom_errors"), f.eepromErrors},
                              {QStringLiteral("silent_s"), double(f.silentMs) / 1000.0},
                              {QStringLiteral("verdict"), QLatin1String(BenchTest::verdictKey(judgement.verdict))},
                              {QStringLiteral("reason"), judgement.reason}};
            for (const auto &[key, figure] : {std::pair{"mean", f.mean}, std::pair{"sigma", f.sigma}}) {
                if (std::isfinite(figure))
                    entry.insert(QLatin1String(key), figure);
            }
            printLine(QString::fromUtf8(QJsonDocument(entry).toJson(QJsonDocument::Compact)));
        } else {
            printLine(QStringLiteral("address=%1 %2 samples=%3 mean=%4 sigma=%5 name=\"%6\"%7")
                          .arg(unit.address)
                          .arg(judgement.passed() ? QStringLiteral("pass")
                                                  : QString::fromLatin1(BenchTest::verdictKey(judgement.verdict)).toUpper())
                          .arg(f.samples)
                          .arg(std::isfinite(f.mean) ? QString::number(f.mean, 'f', 4) : QStringLiteral("?"),
                               std::isfinite(f.sigma) ? QString::number(f.sigma, 'f', 4) : QStringLiteral("?"),
                               FrameWords::escapedControls(unit.name),
                               judgement.passed() ? QString()
                                                  : QStringLiteral(" reason=\"%1\"").arg(judgement.reason)));
        }
    }
    if (!m_invocation.reportPath.isEmpty()) {
        if (const QString failure = TestReport::write(report, m_invocation.reportPath); !failure.isEmpty()) {
            note(QStringLiteral("report not written to %1: %2").arg(m_invocation.reportPath, failure));
            return ExitStatus::Failed;
        }
    }
    if (run.isAborted()) {
        note(QStringLiteral("port %1 lost during the test: no unit was judged").arg(line->shownName));
        return ExitStatus::Failed;
    }
    note(QStringLiteral("%1 of %2 unit(s) passed").arg(poller.units().size() - failures).arg(poller.units().size()));
    return failures > 0 ? ExitStatus::Differs : ExitStatus::Success;
}

int Cli::listen()
{
    const std::optional<Line> line = this->line(false);
    if (!line)
        return ExitStatus::Usage;
    if (!CAdapter::abilitiesOf(line->setup.portName).passesLine) {
        note(QStringLiteral("port %1 leads to a Modbus TCP gateway, which passes on only the replies to its own "
                            "requests, never the line's other traffic: there is nothing to listen to")
                 .arg(line->shownName));
        return ExitStatus::Usage;
    }
    const std::unique_ptr<ListenPort> port = ListenPort::forLine(line->setup);
    const QString failure = port ? port->open() : OpenFailureText(OpenFailure::LineSettings, {}, {});
    if (!failure.isEmpty()) {
        note(QStringLiteral("port %1 not opened: %2").arg(line->shownName, failure));
        return ExitStatus::Failed;
    }
    stopOnSignals();
    note(QStringLiteral("listening to %1, sending nothing; Ctrl+C ends").arg(line->shownName));
    LineListener listener(LineSettings::baudRate(line->setup.speedNumber).value_or(0));
    QElapsedTimer clock;
    clock.start();
    const qint64 durationMs = m_invocation.durationS * 1000;
    while (!stopRequested && (durationMs == 0 || clock.elapsed() < durationMs) && !port->lost()) {
        port->poll(kStopCheckMs, listener);
        printHeard(listener);
    }
    const bool lost = port->lost();
    port->close();
    listener.finish();
    printHeard(listener);
    printSummary(listener);
    if (lost) {
        note(QStringLiteral("port %1 lost").arg(line->shownName));
        return ExitStatus::Failed;
    }
    return ExitStatus::Success;
}

void Cli::printHeard(LineListener &listener)
{
    const QList<LineListener::Record> records = listener.takeRecords();
    const QList<LineListener::Event> events = listener.takeEvents();
    if (m_invocation.json) {
        for (const LineListener::Record &record : records)
            m_out << QString::fromUtf8(LineCapture::jsonLine(record));
        m_out.flush();
        return;
    }
    for (const LineListener::Event &event : events) {
        QString text = QDateTime::fromMSecsSinceEpoch(event.timeUs / 1000).toString(QStringLiteral("HH:mm:ss.zzz "))
                       + FrameWords::escapedControls(event.text);
        if (event.kind == LineListener::EventKind::Exchange && !event.reply.isEmpty())
            text += QStringLiteral(" (%1 ms)").arg(millisecondsOf(event.replyUs));
        else if (event.kind == LineListener::EventKind::Unframed)
            text += QStringLiteral(": ") + FrameWords::hexBytes(event.reply);
        printLine(text);
    }
}

void Cli::printSummary(const LineListener &listener)
{
    QJsonArray addresses;
    for (const auto &[address, counts] : listener.counts()) {
        if (m_invocation.json) {
            addresses.append(QJsonObject{{QStringLiteral("address"), address},
                                         {QStringLiteral("requests"), counts.requests},
                                         {QStringLiteral("replies"), counts.replies},
                                         {QStringLiteral("timeouts"), counts.timeouts},
                                         {QStringLiteral("crc_errors"), counts.crcErrors},
                                         {QStringLiteral("reply_us_min"), counts.fastestUs},
                                         {QStringLiteral("reply_us_mean"), counts.meanUs()},
                                         {QStringLiteral("reply_us_max"), counts.slowestUs}});
            continue;
        }
        const QString times = counts.timed == 0 ? QStringLiteral("-")
                                                : QStringLiteral("%1/%2/%3")
                                                      .arg(millisecondsOf(counts.fastestUs),
                                                           millisecondsOf(counts.meanUs()),
                                                           millisecondsOf(counts.slowestUs));
        printLine(QStringLiteral("address %1: %2 requests, %3 replies, %4 time-outs, %5 CRC errors, "
                                 "reply ms min/mean/max %6")
                      .arg(address)
                      .arg(counts.requests)
                      .arg(counts.replies)
                      .arg(counts.timeouts)
                      .arg(counts.crcErrors)
                      .arg(times));
    }
    if (m_invocation.json)
        printLine(QString::fromUtf8(
            QJsonDocument(QJsonObject{{QStringLiteral("summary"), addresses},
                                      {QStringLiteral("unframed_bytes"), listener.unframedBytes()}})
                .toJson(QJsonDocument::Compact)));
    else
        printLine(QStringLiteral("unframed bytes: %1").arg(listener.unframedBytes()));
}

int Cli::serve()
{
    const std::optional<Line> line = this->line(false);
    if (!line)
        return ExitStatus::Usage;
    stopOnSignals();
    return serveLine(line->setup, line->shownName, m_invocation, m_err, [] { return stopRequested.load(); });
}

int Cli::completion()
{
    if (m_invocation.arguments.first() != QLatin1String("bash"))
        return usage(QStringLiteral("completion takes bash"));
    m_out << bashCompletion();
    return ExitStatus::Success;
}

} // namespace

int runCommand(const Invocation &invocation, QTextStream &out, QTextStream &err)
{
    Cli cli(invocation, out, err);
    return cli.run();
}
