#include "catalogue.h"

#include "linesettings.h"
#include "registercodec.h"

#include <QLocale>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace Catalogue {

namespace {

constexpr double kUnlimited = std::numeric_limits<double>::infinity();
constexpr int kRangeDecimals = 3; // every float the window shows but the dead space
constexpr int kDeadSpaceDecimals = 1;
// Unicast addresses; 0 is broadcast and 248..255 are reserved.
constexpr double kLowestAddress = 1;
constexpr double kHighestAddress = 247;
constexpr double kHighestRegister = 0xFFFF;

QList<Code> codesOf(std::initializer_list<const char *> captions)
{
    QList<Code> codes;
    for (const char *caption : captions)
        codes.append({quint16(codes.size()), QString::fromUtf8(caption)});
    return codes;
}

// The device's speed codes are the rows of the baud-rate table.
QList<Code> speedCodes()
{
    QList<Code> codes;
    for (const quint32 baud : LineSettings::BaudRates)
        codes.append({quint16(codes.size()), QString::number(baud)});
    return codes;
}

QList<Bit> bitsOf(std::initializer_list<const char *> captions)
{
    QList<Bit> bits;
    for (const char *caption : captions)
        bits.append({int(bits.size()), QString::fromUtf8(caption)});
    return bits;
}

Parameter reading(TParamId id, const char *key, const char *caption, Kind kind)
{
    const bool isFloat = kind == Kind::Float;
    return {id, QString::fromLatin1(key), QString::fromUtf8(caption), kind, Role::Reading, false,
            isFloat ? -kUnlimited : 0, isFloat ? kUnlimited : kHighestRegister, kRangeDecimals, {}, {}};
}

Parameter floatValue(TParamId id, const char *key, const char *caption, int decimals = kRangeDecimals,
                     double lowest = -kUnlimited, double highest = kUnlimited)
{
    return {id, QString::fromLatin1(key), QString::fromUtf8(caption), Kind::Float, Role::Setting, true,
            lowest, highest, decimals, {}, {}};
}

Parameter number(TParamId id, const char *key, const char *caption, Role role, double lowest, double highest)
{
    return {id, QString::fromLatin1(key), QString::fromUtf8(caption), Kind::Number, role, true,
            lowest, highest, 0, {}, {}};
}

Parameter code(TParamId id, const char *key, const char *caption, Role role, QList<Code> codes)
{
    return {id, QString::fromLatin1(key), QString::fromUtf8(caption), Kind::Code, role, true,
            0, double(codes.size() - 1), 0, std::move(codes), {}};
}

Parameter text(TParamId id, const char *key, const char *caption, bool writable)
{
    return {id, QString::fromLatin1(key), QString::fromUtf8(caption), Kind::Text, Role::Identity, writable,
            0, 0, 0, {}, {}};
}

QList<Parameter> makeParameters()
{
    Parameter selfDiag = reading(prmSelfDiag, "data.self_diag", "Самодиагностика прибора", Kind::FlagWord);
    selfDiag.bits = bitsOf({"ошибка ПЗУ", "ошибка ОЗУ", "ошибка EEPROM"});
    Parameter eepromErrors = reading(prmEEPROMErr, "data.eeprom_errors", "Ошибки EEPROM", Kind::FlagWord);
    eepromErrors.bits = bitsOf({"ошибка системных параметров", "ошибка параметров калибровки",
                                "ошибка параметров индикации", "ошибка параметров имени прибора"});
    Parameter unit = text(prmModeUnit, "mode.unit", "Единица измерения", true);
    unit.role = Role::Setting;
    Parameter blink = number(prmModeBlink, "mode.blink", "Флаг мигания при достижении уставки", Role::Setting, 0, 1);
    blink.kind = Kind::Flag;
    Parameter bottomRange = floatValue(prmModeBottomRange, "mode.bottom_range", "Нижняя граница");
    bottomRange.rangeTop = prmModeTopRange;
    Parameter signalBottom = floatValue(prmModeRElSignalBottomRange, "mode.signal_bottom", "Нижняя граница сигнала");
    signalBottom.rangeTop = prmModeRElSignalTopRange;

    return {
        reading(prmDataCur, "data.value", "Показания, число", Kind::Float),
        reading(prmDataTxt, "data.text", "Текущие показания", Kind::Text),
        reading(prmData2, "data.value2", "Показания, второе значение", Kind::Float),
        reading(prmClbrData, "calibration.value", "Значение для калибровки", Kind::Number),
        selfDiag,
        eepromErrors,
        text(prmInformationProgVer, "info.version", "Версия программы", false),
        number(prmPortNetAddr, "port.address", "Сетевой адрес", Role::LineSetting, kLowestAddress, kHighestAddress),
        code(prmPortSpeed, "port.speed", "Скорость", Role::LineSetting, speedCodes()),
        code(prmPortStopBit, "port.stop_bits", "Число стоп-бит", Role::LineSetting, codesOf({"1", "2"})),
        code(prmPortParity, "port.parity", "Паритет", Role::LineSetting, codesOf({"Нет", "Чет", "Нечет"})),
        number(prmClbrBottom, "calibration.bottom", "Нижнее значение диапазона", Role::Calibration, 0, kHighestRegister),
        number(prmClbrTop, "calibration.top", "Верхнее значение диапазона", Role::Calibration, 0, kHighestRegister),
        floatValue(prmModeDeadSpace, "mode.dead_space", "Зона нечувствительности, %", kDeadSpaceDecimals, 0, 2),
        floatValue(prmModeRangeSet, "mode.set_point", "Уставка"),
        bottomRange,
        floatValue(prmModeTopRange, "mode.top_range", "Верхняя граница"),
        signalBottom,
        floatValue(prmModeRElSignalTopRange, "mode.signal_top", "Верхняя граница сигнала"),
        // By the digits the point leaves: none, one, two, three decimals.
        code(prmModeDecimalPointPos, "mode.decimal_point", "Позиция децимальной точки", Role::Setting,
             codesOf({"0000", "000.0", "00.00", "0.000"})),
        number(prmModeBrightness, "mode.brightness", "Яркость свечения индикаторов", Role::Setting, 0, 2),
        unit,
        code(prmModeScaleType, "mode.scale_type", "Тип шкалы", Role::Setting,
             codesOf({"заказанный диапазон отображения", "реальный электрический сигнал",
                      "шкала в % с шагом 0.1", "нормирующая (полная) шкала"})),
        blink,
        text(prmInformationDevName, "info.name", "Имя прибора", true),
    };
}

// Doubles that convert to a qint64: -2^63 is one, 2^63 is just beyond the largest.
constexpr double kWholeLowest = -9223372036854775808.0;
constexpr double kWholeBeyond = 9223372036854775808.0;

// A number as a whole value, or none when it has a fraction, is beyond what a qint64 holds
// (1e300: converting it would be undefined) or is no number at all.
std::optional<qint64> wholeValue(const QVariant &value)
{
    bool isNumber = false;
    const double number = value.toDouble(&isNumber);
    if (!isNumber || !std::isfinite(number) || std::trunc(number) != number || number < kWholeLowest
        || number >= kWholeBeyond)
        return std::nullopt;
    return qint64(number);
}

QString outsideLimits(double lowest, double highest)
{
    return QStringLiteral("значение вне пределов %1..%2").arg(lowest).arg(highest);
}

QString numberRefusal(const Parameter &parameter, const QVariant &value)
{
    bool isNumber = false;
    const double number = value.toDouble(&isNumber);
    if (!isNumber || !std::isfinite(number))
        return QStringLiteral("не число");
    if (parameter.kind == Kind::Float) {
        if (std::fabs(number) > std::numeric_limits<float>::max())
            return QStringLiteral("число слишком велико");
    } else if (std::trunc(number) != number) {
        return QStringLiteral("нужно целое число");
    }
    const std::optional<qint64> whole = wholeValue(value);
    if (parameter.kind == Kind::Code && (!whole || parameter.codeCaption(*whole).isEmpty()))
        return QStringLiteral("нет такого кода");
    if (number < parameter.lowest || number > parameter.highest)
        return outsideLimits(parameter.lowest, parameter.highest);
    return {};
}

QString textRefusal(const Parameter &parameter, const QVariant &value)
{
    if (value.typeId() != QMetaType::QString)
        return QStringLiteral("нужен текст");
    const QString text = value.toString();
    const QByteArray bytes = RegisterCodec::toCp1251(text);
    if (RegisterCodec::fromCp1251(bytes) != text || bytes.contains('\0'))
        return QStringLiteral("символ, которого нет в кодировке прибора");
    if (bytes.size() > parameter.bytes())
        return QStringLiteral("длиннее %1 символов").arg(parameter.bytes());
    return {};
}

// The double of the shortest decimal that reads back as this single: a file then shows what the
// device holds, and the double converts back to the same single.
double shortestDecimal(float value)
{
    if (!std::isfinite(value))
        return double(value);
    std::array<char, 32> digits{};
    const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    double shortest = double(value);
    std::from_chars(digits.data(), written.ptr, shortest);
    return shortest;
}

} // namespace

QString Parameter::codeCaption(qint64 value) const
{
    const auto found = std::find_if(codes.begin(), codes.end(), [value](const Code &c) { return c.value == value; });
    return found == codes.end() ? QString() : found->caption;
}

const QList<Parameter> &parameters()
{
    static const QList<Parameter> all = makeParameters();
    return all;
}

const Parameter &of(TParamId id)
{
    return parameters()[id];
}

const Parameter *find(QStringView key)
{
    const QList<Parameter> &all = parameters();
    const auto found = std::find_if(all.begin(), all.end(), [key](const Parameter &p) { return p.key == key; });
    return found == all.end() ? nullptr : &*found;
}

const Parameter *at(quint16 firstRegister, int registerCount)
{
    const QList<Parameter> &all = parameters();
    const auto found = std::find_if(all.begin(), all.end(), [&](const Parameter &p) {
        return p.firstRegister() == firstRegister && p.registerCount() == registerCount;
    });
    return found == all.end() ? nullptr : &*found;
}

QString refusal(const Parameter &parameter, const QVariant &value)
{
    if (!parameter.writable)
        return QStringLiteral("только для чтения");
    return parameter.kind == Kind::Text ? textRefusal(parameter, value) : numberRefusal(parameter, value);
}

void encode(const Parameter &parameter, const QVariant &value, quint16 *registers)
{
    switch (parameter.kind) {
    case Kind::Float:
        RegisterCodec::putFloat(float(value.toDouble()), registers);
        return;
    case Kind::Text:
        std::fill_n(registers, parameter.registerCount(), quint16(0));
        RegisterCodec::putText(value.toString(), registers, parameter.bytes());
        return;
    case Kind::Code:
    case Kind::Flag:
    case Kind::Number:
    case Kind::FlagWord:
        registers[0] = quint16(wholeValue(value).value_or(0));
        return;
    }
}

QVariant decode(const Parameter &parameter, const quint16 *registers)
{
    switch (parameter.kind) {
    case Kind::Float:
        return shortestDecimal(RegisterCodec::floatFrom(registers));
    case Kind::Text:
        return RegisterCodec::textFrom(registers, parameter.bytes());
    case Kind::Code:
    case Kind::Flag:
    case Kind::Number:
    case Kind::FlagWord:
        break;
    }
    return int(registers[0]);
}

bool sameValue(const Parameter &parameter, const QVariant &a, const QVariant &b)
{
    if (parameter.kind == Kind::Text)
        return a.typeId() == QMetaType::QString && b.typeId() == QMetaType::QString && a.toString() == b.toString();
    bool aIsNumber = false;
    bool bIsNumber = false;
    const double x = a.toDouble(&aIsNumber);
    const double y = b.toDouble(&bIsNumber);
    if (!aIsNumber || !bIsNumber)
        return false;
    return parameter.kind == Kind::Float ? float(x) == float(y) : x == y;
}

QString valueText(const Parameter &parameter, const QVariant &value)
{
    switch (parameter.kind) {
    case Kind::Float:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case Kind::Text:
        return value.toString();
    case Kind::Code:
    case Kind::Flag:
    case Kind::Number:
    case Kind::FlagWord:
        break;
    }
    const std::optional<qint64> whole = wholeValue(value);
    return whole ? QString::number(*whole) : QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
}

QString shown(const Parameter &parameter, const QVariant &value)
{
    const QString text = valueText(parameter, value);
    switch (parameter.kind) {
    case Kind::Text:
        return u'"' + text + u'"';
    case Kind::Code: {
        const QString caption = parameter.codeCaption(value.toInt());
        return caption.isEmpty() ? text : QStringLiteral("%1 (%2)").arg(text, caption);
    }
    case Kind::FlagWord: {
        QStringList set;
        for (const Bit &bit : parameter.bits) {
            if (value.toUInt() & (1u << bit.bit))
                set << bit.caption;
        }
        return set.isEmpty() ? text : QStringLiteral("%1 (%2)").arg(text, set.join(QStringLiteral(", ")));
    }
    case Kind::Float:
    case Kind::Flag:
    case Kind::Number:
        break;
    }
    return text;
}

} // namespace Catalogue
