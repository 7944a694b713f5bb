#pragma once

#include "iniprofile.h"
#include "linesetup.h"

#include <QRect>
#include <QSize>
#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>

// The configurator's settings file: where it lives and what its connection keys hold. The window
// reads it at start and writes it at close; the command line only reads the window's file, for
// the same connection defaults and the same [PORTS] mapping.
namespace SettingsFile {

// The settings file of an executable: its path with the extension replaced by ".ini".
QString fileName(const QString &executablePath);
// Where the settings file of an executable is kept: beside it (fileName) where that file exists
// and is writable or the folder is writable; otherwise, as for an installed program, under the
// user's configuration folder, in a folder of the executable's base name. With prepareFolder
// that folder is made ready for the first save; without it nothing on disk changes.
QString path(const QString &executablePath, bool prepareFolder = true);

// The window's executable, indicator-config, beside the program at programPath.
QString windowExecutable(const QString &programPath);

inline constexpr int kPortCount = 8; // COM1..COM8

// The left panel's settings as the file stores them: the four rows of its lists, the time-out
// handed to the adapter, and the device number. No table has a row 255: it stands for none.
struct Connection
{
    LineSetup line; // its port name is the platform's business, not the file's
    quint16 deviceNumber = 1; // 0..255, as the edit takes it
};

// Missing or malformed keys give the defaults of Connection; a number beyond 0..255 reads as
// 255, none of the rows. The time-out is written, never read.
Connection readConnection(const IniProfile &settings);
void writeConnection(IniProfile &settings, const Connection &connection);

// [MONITOR]: where the exchange monitor was when the window last closed; nothing unless all four
// keys are numbers and the size is not empty.
std::optional<QRect> readMonitorFrame(const IniProfile &settings);
void writeMonitorFrame(IniProfile &settings, const QRect &frame);

// [WINDOW]: the main window's size, and where each live page's splitter was left: the height
// above its handle, in the window's own pixels, which no scale factor changes. Kept only once
// the user changed them, so that a first run leaves the file as it always was.
struct WindowLayout
{
    QSize size;               // empty: none kept
    int calibrationSplit = 0; // 0: none kept
    int dataSplit = 0;
    bool operator==(const WindowLayout &) const = default;
};

// A value whose key is missing, no number or not above 0 is none.
WindowLayout readWindowLayout(const IniProfile &settings);
// Writes the values that are some.
void writeWindowLayout(IniProfile &settings, const WindowLayout &layout);

// [PORTS] COM1..COM8: the device each port name is mapped to, empty where none is.
std::array<QString, kPortCount> mappedPorts(const IniProfile &settings);

} // namespace SettingsFile
