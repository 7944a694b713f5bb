#pragma once

#include "parammap.h"

#include <QList>
#include <QString>
#include <QStringView>
#include <QVariant>
#include <QtGlobal>

#include <optional>

// What the program knows about each device value: how it is held in its registers, which
// values the device takes, what the window calls it and the key that files and scripts name it
// by. The pages, the tools and the command line take all of it from here.
namespace Catalogue {

enum class Kind {
    Float,    // register float
    Code,     // one register holding one of the listed codes
    Flag,     // one register, 0 or 1
    Number,   // one register, a whole number within lowest..highest
    Text,     // register text of the parameter's bytes
    FlagWord, // one register of independent fault bits
};

enum class Role {
    Setting,     // how the indicator measures and shows: the Mode page
    LineSetting, // the device's own side of the line: takes effect after the device restarts
    Identity,    // firmware version and name
    Calibration, // writing one makes the device's present calibration value an end of its range
    Reading,     // live, read only
};

struct Code
{
    quint16 value;
    QString caption;
};

struct Bit
{
    int bit;
    QString caption; // what a set bit means
};

struct Parameter
{
    TParamId id;
    QString key;     // stable: "mode.top_range"
    QString caption; // as the window names it
    Kind kind;
    Role role;
    bool writable;
    // Number and Float: the values the device takes; a Float without limits has both infinite.
    double lowest;
    double highest;
    int decimals;      // Float: the digits the window shows after the separator
    QList<Code> codes; // Code: in the order of their values, from 0
    QList<Bit> bits;   // FlagWord: from bit 0
    // The bottom of a range: its top, which the device keeps at or above it.
    std::optional<TParamId> rangeTop = std::nullopt;

    quint16 firstRegister() const { return ParamMap[id].Register; }
    int bytes() const { return ParamMap[id].Bytes; }
    int registerCount() const { return bytes() / 2; }
    // The caption of a code, or empty for a code the device does not use.
    QString codeCaption(qint64 value) const;
};

// Every parameter, in the order of their ids.
const QList<Parameter> &parameters();
const Parameter &of(TParamId id);
const Parameter *find(QStringView key);
// The parameter that is exactly this run of registers, if any.
const Parameter *at(quint16 firstRegister, int registerCount);

// Values are doubles for Float, whole numbers for Code, Flag, Number and FlagWord, texts for
// Text. Why the device must not be sent this value; empty when it may. The text says what is
// wrong in the window's language.
QString refusal(const Parameter &parameter, const QVariant &value);
// Into registers in host order: a Text fills the parameter's bytes, zeros after a shorter text.
// Only for a value that refusal() lets pass.
void encode(const Parameter &parameter, const QVariant &value, quint16 *registers);
// A Float gives the shortest decimal that stands for the device's single-precision value:
// 0.1, not 0.100000001490116.
QVariant decode(const Parameter &parameter, const quint16 *registers);

// Whether the device would hold the same value for both: floats as single precision, whole
// numbers by value, texts as they are.
bool sameValue(const Parameter &parameter, const QVariant &a, const QVariant &b);
// The value as files and scripts write it: a float as decode gives it ("0.1", "100",
// "-2.5e+06"), whole numbers in decimal, a text as it is.
QString valueText(const Parameter &parameter, const QVariant &value);

// The value for a person: a code with its caption ("2 (Нечет)"), a flag word with its set bits,
// a text in quotes.
QString shown(const Parameter &parameter, const QVariant &value);

} // namespace Catalogue
