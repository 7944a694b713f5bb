#pragma once

#include "catalogue.h"
#include "linesetup.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

// A device's settings kept in a file, to compare a device with later, to restore, or to put into
// another unit: the eleven Mode values, the four line settings and the device's name, with who
// read them from which device at which line settings.
//
// The file is UTF-8 JSON meant to be read and diffed by a person:
//
//     {
//         "device": {"name": "Индикатор DI-4", "version": "v1.07"},
//         "format": 1,
//         "line": {"address": 1, "baud": 19200, "parity": "none", "port": "/dev/ttyUSB0", "stop_bits": 1},
//         "program": "indicator-config 1.0",
//         "saved": "2026-03-02T10:15:00+03:00",
//         "values": {
//             "mode.decimal_point": {"caption": "000.0", "code": 1},
//             "mode.top_range": 100,
//             "mode.unit": "°C",
//             ...
//         }
//     }
//
// Keys are sorted, so that two files of one device differ only where their values do. Values
// are in the device's units under their catalogue keys: numbers as numbers (a float as the
// shortest decimal that gives the device's single-precision value), codes as their number with
// the caption beside it, texts as text. "device" and "line" say where the values came from;
// only "values" is ever written to a device.
namespace Profiles {

// The version of the file's layout; a reader refuses a file of a later one.
inline constexpr int kFormat = 1;

// What a profile keeps, in catalogue order: the settings, the line settings and the name.
const QList<const Catalogue::Parameter *> &keptParameters();
// What a reading of a device takes: the kept parameters and the firmware version, which the
// profile keeps as part of the device's identity.
const QList<const Catalogue::Parameter *> &readParameters();

struct Identity
{
    QString name;
    QString version;
    bool operator==(const Identity &) const = default;
};

// The computer's side of the line that the values were read at.
struct Origin
{
    QString port; // as the user named it: a device path or COM1..
    LineSetup line; // the file keeps its speed, parity and stop bits
    quint16 address = 0;
};

struct DeviceProfile
{
    QString program; // name and version of the program that read the device
    QDateTime saved;
    Identity identity;
    Origin origin;
    // By catalogue key, as Catalogue::decode gives them: doubles, whole numbers, texts.
    QMap<QString, QVariant> values;
};

// A profile of the device, stamped with this program and the present time.
DeviceProfile stamped(const Identity &identity, const Origin &origin, const QMap<QString, QVariant> &values);

// The kept parameters that the profile holds no value for.
QStringList missingKeys(const DeviceProfile &profile);

// A whole profile only: one with a value missing is refused (error names the keys), so that no
// file ever looks whole without being so.
std::optional<QByteArray> toJson(const DeviceProfile &profile, QString *error);
// Every kept key must be there, with a value of its kind; unknown keys are refused, as is a
// code whose caption is not the catalogue's for that code (an edit of one without the other).
// Values are not judged against the device's limits here: writing a profile does that, so that
// a file may still be compared with a device.
std::optional<DeviceProfile> fromJson(const QByteArray &json, QString *error);

// Written whole or not at all.
bool save(const DeviceProfile &profile, const QString &path, QString *error);
// Only a regular file of a profile's size (FileGuard).
std::optional<DeviceProfile> load(const QString &path, QString *error);

// "Индикатор DI-4_1_2026-03-02_10-15-00.json": name, address and time, with the characters that
// file systems refuse replaced.
QString suggestedFileName(const DeviceProfile &profile);
// Where a device's settings are kept before a profile is written into it: the data folder of
// indicator-config (its QStandardPaths::AppDataLocation, whatever title the window gives
// itself), subfolder "backups".
QString backupFolder();

// How the device's identity differs from the file's, in the window's words; empty when it does
// not.
QStringList identityDifferences(const Identity &device, const Identity &file);

struct ComparisonRow
{
    const Catalogue::Parameter *parameter;
    QVariant device; // invalid where the device's value could not be read
    QVariant file;
    bool differs;    // both known and not the same to the device
};

struct Comparison
{
    QList<ComparisonRow> rows; // one per kept parameter, in catalogue order
    QStringList identity;      // identityDifferences
    int differing() const;
};

Comparison compare(const DeviceProfile &device, const DeviceProfile &file);

} // namespace Profiles
