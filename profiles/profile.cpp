#include "profile.h"

#include "fileguard.h"
#include "linesettings.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

namespace Profiles {

namespace {

using Catalogue::Kind;
using Catalogue::Parameter;

constexpr char kProgram[] = "indicator-config";
constexpr char kBackupFolder[] = "backups";

// The keys of the file, in one place for the writer and the reader.
namespace Key {
constexpr char format[] = "format";
constexpr char program[] = "program";
constexpr char saved[] = "saved";
constexpr char device[] = "device";
constexpr char name[] = "name";
constexpr char version[] = "version";
constexpr char line[] = "line";
constexpr char port[] = "port";
constexpr char baud[] = "baud";
constexpr char parity[] = "parity";
constexpr char stopBits[] = "stop_bits";
constexpr char address[] = "address";
constexpr char values[] = "values";
constexpr char code[] = "code";
constexpr char caption[] = "caption";
} // namespace Key

QList<const Parameter *> parametersWhere(bool (*wanted)(const Parameter &))
{
    QList<const Parameter *> chosen;
    for (const Parameter &parameter : Catalogue::parameters()) {
        if (wanted(parameter))
            chosen.append(&parameter);
    }
    return chosen;
}

bool isKept(const Parameter &parameter)
{
    return parameter.role == Catalogue::Role::Setting || parameter.role == Catalogue::Role::LineSetting
           || parameter.id == prmInformationDevName;
}

QJsonValue jsonValue(const Parameter &parameter, const QVariant &value)
{
    switch (parameter.kind) {
    case Kind::Float:
        return value.toDouble();
    case Kind::Text:
        return value.toString();
    case Kind::Code:
        return QJsonObject{{QLatin1String(Key::code), value.toInt()},
                           {QLatin1String(Key::caption), parameter.codeCaption(value.toInt())}};
    case Kind::Flag:
    case Kind::Number:
    case Kind::FlagWord:
        break;
    }
    return value.toInt();
}

// The value of a file's entry by the parameter's kind, or nothing with error saying why.
std::optional<QVariant> valueOf(const Parameter &parameter, const QJsonValue &json, QString *error)
{
    const auto fail = [&](const QString &why) {
        *error = QStringLiteral("%1: %2").arg(parameter.key, why);
        return std::nullopt;
    };
    if (parameter.kind == Kind::Text) {
        if (!json.isString())
            return fail(QStringLiteral("нужен текст"));
        return json.toString();
    }
    QJsonValue number = json;
    if (parameter.kind == Kind::Code && json.isObject()) {
        const QJsonObject code = json.toObject();
        number = code.value(QLatin1String(Key::code));
        const QJsonValue caption = code.value(QLatin1String(Key::caption));
        // No code is beyond an int; converting 1e300 to a whole number would be undefined.
        const double given = number.toDouble();
        const QString expected = std::fabs(given) <= INT_MAX ? parameter.codeCaption(qint64(given)) : QString();
        if (!caption.isUndefined() && (!number.isDouble() || caption.toString() != expected))
            return fail(QStringLiteral("подпись «%1» не подпись кода %2")
                            .arg(caption.toString(), QString::number(number.toDouble())));
    }
    if (!number.isDouble())
        return fail(QStringLiteral("нужно число"));
    const double value = number.toDouble();
    // No register holds more; the value's text and caption would convert it to a whole number.
    if (parameter.kind != Kind::Float && std::fabs(value) > INT_MAX)
        return fail(QStringLiteral("число вне пределов регистра"));
    // Whole numbers stay whole, so that a comparison shows them as the device does.
    if (parameter.kind != Kind::Float && std::trunc(value) == value && std::fabs(value) <= INT_MAX)
        return QVariant(int(value));
    return QVariant(value);
}

QJsonObject lineObject(const Origin &origin)
{
    return {
        {QLatin1String(Key::port), origin.port},
        {QLatin1String(Key::baud), qint64(LineSettings::baudRate(origin.line.speedNumber).value_or(0))},
        {QLatin1String(Key::parity), origin.line.parity < LineSettings::ParityNames.size()
                                         ? QLatin1String(LineSettings::ParityNames[origin.line.parity])
                                         : QLatin1String("")},
        {QLatin1String(Key::stopBits), origin.line.stopBits < LineSettings::StopBitCounts.size()
                                           ? LineSettings::StopBitCounts[origin.line.stopBits]
                                           : 0.0},
        {QLatin1String(Key::address), int(origin.address)},
    };
}

// One of the speeds of the baud-rate table; 4294986496 is none, though it wraps to 19200.
std::optional<quint8> speedOf(const QJsonValue &baud)
{
    const qint64 rate = baud.toInteger(-1);
    if (rate < 0 || rate > qint64(std::numeric_limits<quint32>::max()))
        return std::nullopt;
    return LineSettings::speedNumber(quint32(rate));
}

std::optional<Origin> originOf(const QJsonObject &line, QString *error)
{
    Origin origin;
    origin.port = line.value(QLatin1String(Key::port)).toString();
    const auto speed = speedOf(line.value(QLatin1String(Key::baud)));
    const auto parity = LineSettings::parityRow(line.value(QLatin1String(Key::parity)).toString());
    const auto stopBits = LineSettings::stopBitsRow(line.value(QLatin1String(Key::stopBits)).toDouble());
    if (!speed || !parity || !stopBits) {
        *error = QStringLiteral("line: параметры линии не распознаны");
        return std::nullopt;
    }
    // The unit the profile's tools address, «Следующий» among them: 0 would be a broadcast.
    const Parameter &unit = Catalogue::of(prmPortNetAddr);
    const qint64 address = line.value(QLatin1String(Key::address)).toInteger(-1);
    if (address < qint64(unit.lowest) || address > qint64(unit.highest)) {
        *error = QStringLiteral("line.address: адрес вне пределов %1..%2").arg(unit.lowest).arg(unit.highest);
        return std::nullopt;
    }
    origin.line.speedNumber = *speed;
    origin.line.parity = *parity;
    origin.line.stopBits = *stopBits;
    origin.address = quint16(address);
    return origin;
}

// Characters that Windows file systems refuse, and the folder separators.
QString fileNamePart(QString text)
{
    for (QChar &c : text) {
        if (QStringLiteral("<>:\"/\\|?*").contains(c) || c.unicode() < 0x20)
            c = u'_';
    }
    return text.trimmed();
}

} // namespace

const QList<const Parameter *> &keptParameters()
{
    static const QList<const Parameter *> kept = parametersWhere(isKept);
    return kept;
}

const QList<const Parameter *> &readParameters()
{
    static const QList<const Parameter *> read = parametersWhere(
        [](const Parameter &parameter) { return isKept(parameter) || parameter.role == Catalogue::Role::Identity; });
    return read;
}

DeviceProfile stamped(const Identity &identity, const Origin &origin, const QMap<QString, QVariant> &values)
{
    const QDateTime now = QDateTime::currentDateTime();
    return {QStringLiteral("%1 %2").arg(QLatin1String(kProgram), QLatin1String(INDICATOR_PROGRAM_VERSION)),
            now.toOffsetFromUtc(now.offsetFromUtc()), identity, origin, values};
}

QStringList missingKeys(const DeviceProfile &profile)
{
    QStringList missing;
    for (const Parameter *parameter : keptParameters()) {
        if (!profile.values.value(parameter->key).isValid())
            missing << parameter->key;
    }
    return missing;
}

std::optional<QByteArray> toJson(const DeviceProfile &profile, QString *error)
{
    if (const QStringList missing = missingKeys(profile); !missing.isEmpty()) {
        *error = QStringLiteral("нет значений: %1").arg(missing.join(QStringLiteral(", ")));
        return std::nullopt;
    }
    QJsonObject values;
    for (const Parameter *parameter : keptParameters())
        values.insert(parameter->key, jsonValue(*parameter, profile.values.value(parameter->key)));
    const QJsonObject file{
        {QLatin1String(Key::format), kFormat},
        {QLatin1String(Key::program), profile.program},
        {QLatin1String(Key::saved), profile.saved.toString(Qt::ISODate)},
        {QLatin1String(Key::device),
         QJsonObject{{QLatin1String(Key::name), profile.identity.name},
                     {QLatin1String(Key::version), profile.identity.version}}},
        {QLatin1String(Key::line), lineObject(profile.origin)},
        {QLatin1String(Key::values), values},
    };
    return QJsonDocument(file).toJson(QJsonDocument::Indented);
}

std::optional<DeviceProfile> fromJson(const QByteArray &json, QString *error)
{
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QStringLiteral("не JSON: %1 (символ %2)").arg(parseError.errorString()).arg(parseError.offset);
        return std::nullopt;
    }
    const QJsonObject file = document.object();
    const QJsonValue format = file.value(QLatin1String(Key::format));
    if (!format.isDouble()) {
        *error = QStringLiteral("не файл настроек прибора: нет номера формата");
        return std::nullopt;
    }
    if (format.toInt() > kFormat || format.toInt() < 1) {
        *error = QStringLiteral("формат %1; эта программа читает формат %2").arg(format.toInt()).arg(kFormat);
        return std::nullopt;
    }

    DeviceProfile profile;
    profile.program = file.value(QLatin1String(Key::program)).toString();
    profile.saved = QDateTime::fromString(file.value(QLatin1String(Key::saved)).toString(), Qt::ISODate);
    const QJsonObject device = file.value(QLatin1String(Key::device)).toObject();
    profile.identity = {device.value(QLatin1String(Key::name)).toString(),
                        device.value(QLatin1String(Key::version)).toString()};
    const std::optional<Origin> origin = originOf(file.value(QLatin1String(Key::line)).toObject(), error);
    if (!origin)
        return std::nullopt;
    profile.origin = *origin;

    const QJsonObject values = file.value(QLatin1String(Key::values)).toObject();
    for (auto entry = values.begin(); entry != values.end(); ++entry) {
        const Parameter *parameter = Catalogue::find(entry.key());
        if (!parameter || !isKept(*parameter)) {
            *error = QStringLiteral("%1: такого параметра профиль не хранит").arg(entry.key());
            return std::nullopt;
        }
        const std::optional<QVariant> value = valueOf(*parameter, entry.value(), error);
        if (!value)
            return std::nullopt;
        profile.values.insert(parameter->key, *value);
    }
    if (const QStringList missing = missingKeys(profile); !missing.isEmpty()) {
        *error = QStringLiteral("нет значений: %1").arg(missing.join(QStringLiteral(", ")));
        return std::nullopt;
    }
    return profile;
}

bool save(const DeviceProfile &profile, const QString &path, QString *error)
{
    const std::optional<QByteArray> json = toJson(profile, error);
    if (!json)
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(*json) != json->size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

std::optional<DeviceProfile> load(const QString &path, QString *error)
{
    const FileGuard::Content file = FileGuard::read(path);
    if (file.verdict != FileGuard::Verdict::Readable) {
        *error = file.reason;
        return std::nullopt;
    }
    return fromJson(file.bytes, error);
}

QString suggestedFileName(const DeviceProfile &profile)
{
    const QString name = fileNamePart(profile.identity.name);
    return QStringLiteral("%1_%2_%3.json")
        .arg(name.isEmpty() ? QStringLiteral("прибор") : name)
        .arg(profile.origin.address)
        .arg(profile.saved.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")));
}

QString backupFolder()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(data).filePath(QStringLiteral("%1/%2").arg(QLatin1String(kProgram), QLatin1String(kBackupFolder)));
}

QStringList identityDifferences(const Identity &device, const Identity &file)
{
    QStringList differences;
    if (device.name != file.name)
        differences << QStringLiteral("имя прибора: в приборе «%1», в файле «%2»").arg(device.name, file.name);
    if (device.version != file.version)
        differences << QStringLiteral("версия программы: в приборе «%1», в файле «%2»").arg(device.version, file.version);
    return differences;
}

int Comparison::differing() const
{
    return int(std::count_if(rows.begin(), rows.end(), [](const ComparisonRow &row) { return row.differs; }));
}

Comparison compare(const DeviceProfile &device, const DeviceProfile &file)
{
    Comparison comparison;
    for (const Parameter *parameter : keptParameters()) {
        const QVariant inDevice = device.values.value(parameter->key);
        const QVariant inFile = file.values.value(parameter->key);
        const bool differs = inDevice.isValid() && inFile.isValid()
                             && !Catalogue::sameValue(*parameter, inDevice, inFile);
        comparison.rows.append({parameter, inDevice, inFile, differs});
    }
    comparison.identity = identityDifferences(device.identity, file.identity);
    return comparison;
}

} // namespace Profiles
