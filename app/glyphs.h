#pragma once

#include <QIcon>

// The pictures of the tool bar's buttons and the program's icon, drawn rather than shipped.
namespace Glyphs {

enum class Glyph { Start, Stop, Mode, Port, Calibration, Information, Data, Exit };

QIcon toolGlyph(Glyph glyph);

// A panel indicator: red digits on a dark face.
QIcon applicationIcon();

} // namespace Glyphs
