#pragma once

#include <QColor>
#include <QIcon>
#include <QList>
#include <QPainterPath>
#include <QPixmap>

class QPainter;

// The pictures of the tool bar's buttons and the program's icon, drawn rather than shipped.
namespace Glyphs {

enum class Glyph { Start, Stop, Mode, Port, Calibration, Information, Data, Exit };

QIcon toolGlyph(Glyph glyph);

// One filled outline of a drawing; no stroke when strokeWidth is 0.
struct Shape
{
    QPainterPath outline;
    QColor fill;
    QColor stroke;
    qreal strokeWidth = 0;
};

// The side of the square, in units, that the glyphs are drawn on.
constexpr int kGlyphSide = 32;

// The program's icon as outlines alone (the digits too), so that the window and the icon files
// of the desktop entry show one design at any size: red digits on a dark face.
QList<Shape> applicationIconShapes();
void paint(QPainter &painter, const QList<Shape> &shapes);

QIcon applicationIcon();

// The 16 x 16 lamps of a self-diagnostic check: lit red for a fault, lit green for none, unlit
// grey when the device could not be asked. The background stays transparent.
enum class Lamp { Error, NoError, NotAvailable };
QPixmap lampPicture(Lamp lamp);

} // namespace Glyphs
