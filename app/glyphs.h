#pragma once

#include <QIcon>
#include <QPixmap>

// The pictures of the tool bar's buttons and the program's icon, drawn rather than shipped.
namespace Glyphs {

enum class Glyph { Start, Stop, Mode, Port, Calibration, Information, Data, Exit };

QIcon toolGlyph(Glyph glyph);

// A panel indicator: red digits on a dark face.
QIcon applicationIcon();

// The 16 x 16 lamps of a self-diagnostic check: lit red for a fault, lit green for none, unlit
// grey when the device could not be asked. The background stays transparent.
enum class Lamp { Error, NoError, NotAvailable };
QPixmap lampPicture(Lamp lamp);

} // namespace Glyphs
