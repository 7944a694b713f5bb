#include "glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <array>
#include <functional>

namespace Glyphs {

namespace {

QIcon drawn(const std::function<void(QPainter &)> &draw)
{
    QPixmap pixmap(kGlyphSide, kGlyphSide);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    painter.end();
    return QIcon(pixmap);
}

void disc(QPainter &p, const QColor &colour)
{
    p.setPen(QPen(colour.darker(140), 1.5));
    p.setBrush(colour);
    p.drawEllipse(QRectF(3, 3, 26, 26));
}

void start(QPainter &p)
{
    disc(p, QColor(40, 160, 60));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF{QPointF(12, 9), QPointF(23, 16), QPointF(12, 23)});
}

void stop(QPainter &p)
{
    disc(p, QColor(200, 40, 40));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(11, 11, 10, 10));
}

// Three sliders with their knobs.
void mode(QPainter &p)
{
    const int knobs[] = {10, 20, 14};
    for (int row = 0; row < 3; ++row) {
        const qreal y = 8 + row * 8;
        p.setPen(QPen(QColor(70, 70, 90), 2));
        p.drawLine(QPointF(4, y), QPointF(28, y));
        p.setPen(QPen(QColor(30, 30, 50), 1));
        p.setBrush(QColor(240, 170, 40));
        p.drawRect(QRectF(knobs[row] - 2.5, y - 4, 5, 8));
    }
}

// A nine-pin serial connector.
void port(QPainter &p)
{
    QPainterPath shell;
    shell.moveTo(3, 9);
    shell.lineTo(29, 9);
    shell.lineTo(25, 24);
    shell.lineTo(7, 24);
    shell.closeSubpath();
    p.setPen(QPen(QColor(40, 40, 60), 1.5));
    p.setBrush(QColor(170, 180, 200));
    p.drawPath(shell);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 40, 60));
    for (int i = 0; i < 5; ++i)
        p.drawEllipse(QPointF(8 + i * 4, 14), 1.4, 1.4);
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(QPointF(10 + i * 4, 19), 1.4, 1.4);
}

// A dial with its scale and needle.
void calibration(QPainter &p)
{
    p.setPen(QPen(QColor(40, 40, 60), 1.5));
    p.setBrush(QColor(250, 250, 235));
    p.drawPie(QRectF(3, 6, 26, 26), 0, 180 * 16);
    p.setPen(QPen(QColor(40, 40, 60), 1));
    for (int tick = 0; tick <= 6; ++tick) {
        p.save();
        p.translate(16, 19);
        p.rotate(-180 + tick * 30);
        p.drawLine(QPointF(9, 0), QPointF(12, 0));
        p.restore();
    }
    p.setPen(QPen(QColor(200, 30, 30), 2));
    p.drawLine(QPointF(16, 19), QPointF(23, 11));
}

void information(QPainter &p)
{
    disc(p, QColor(40, 100, 200));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 10), 2.2, 2.2);
    p.drawRoundedRect(QRectF(14, 14, 4, 10), 1, 1);
}

// The segments a..g of each digit, bit 0 for a: a on top, then clockwise, g across the middle.
constexpr std::array<quint8, 10> kDigitSegments{0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

// One digit of the indicator's seven-segment display, its upper left corner at origin.
void addDigit(QPainterPath &path, QPointF origin, int digit)
{
    constexpr qreal w = 6, h = 11, t = 1.6; // width, height and thickness of a segment
    constexpr qreal half = (h - t) / 2;
    const QRectF segments[7] = {
        {0, 0, w, t},        {w - t, 0, t, half + t}, {w - t, half, t, half + t}, {0, h - t, w, t},
        {0, half, t, half + t}, {0, 0, t, half + t},   {0, half, w, t},
    };
    for (int i = 0; i < 7; ++i)
        if (kDigitSegments[size_t(digit)] & (1 << i))
            path.addRect(segments[i].translated(origin));
}

// Red digits on a dark face, as the indicator shows its reading: seven segments and a point,
// drawn as outlines so that no font has to be looked up before the window can appear.
QList<Shape> display(const QString &digits)
{
    const QRectF face(1.5, 7.5, 29, 17);
    QPainterPath faceOutline;
    faceOutline.addRoundedRect(face, 3, 3);

    constexpr qreal digitWidth = 6, digitHeight = 11, pitch = 8.5, point = 1.6;
    const qsizetype count = std::count_if(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); });
    const qreal width = (count - 1) * pitch + digitWidth;
    QPointF origin(face.center().x() - width / 2, face.center().y() - digitHeight / 2);
    QPainterPath segments;
    segments.setFillRule(Qt::WindingFill);
    for (const QChar c : digits) {
        if (c.isDigit()) {
            addDigit(segments, origin, c.digitValue());
            origin.rx() += pitch;
        } else if (c == u'.') {
            const qreal gap = pitch - digitWidth;
            segments.addRect(QRectF(origin.x() - gap / 2 - point / 2, origin.y() + digitHeight - point, point, point));
        }
    }

    return {{faceOutline, QColor(45, 45, 50), QColor(20, 20, 20), 1},
            {segments, QColor(255, 40, 30), {}, 0}};
}

// A door with an arrow leaving through it.
void exit(QPainter &p)
{
    p.setPen(QPen(QColor(90, 60, 30), 1.5));
    p.setBrush(QColor(190, 140, 80));
    p.drawRect(QRectF(5, 4, 14, 24));
    p.setPen(QPen(QColor(200, 30, 30), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(13, 16), QPointF(28, 16));
    p.drawPolyline(QPolygonF{QPointF(23, 11), QPointF(28, 16), QPointF(23, 21)});
}

constexpr int kLampSize = 16;

// A round lamp behind a black rim, its glass brightest towards the upper left.
void lamp(QPainter &p, const QColor &glass, const QColor &shine)
{
    QRadialGradient light(QPointF(6.5, 6), 7);
    light.setColorAt(0, shine);
    light.setColorAt(0.45, glass);
    light.setColorAt(1, glass.darker(130));
    p.setPen(QPen(Qt::black, 1.5));
    p.setBrush(light);
    p.drawEllipse(QRectF(1.5, 1.5, kLampSize - 3, kLampSize - 3));
}

} // namespace

QIcon toolGlyph(Glyph glyph)
{
    switch (glyph) {
    case Glyph::Start:
        return drawn(start);
    case Glyph::Stop:
        return drawn(stop);
    case Glyph::Mode:
        return drawn(mode);
    case Glyph::Port:
        return drawn(port);
    case Glyph::Calibration:
        return drawn(calibration);
    case Glyph::Information:
        return drawn(information);
    case Glyph::Data:
        return drawn([](QPainter &p) { paint(p, display(QStringLiteral("12.3"))); });
    case Glyph::Exit:
        return drawn(exit);
    }
    return {};
}

QList<Shape> applicationIconShapes()
{
    return display(QStringLiteral("8.8.8"));
}

void paint(QPainter &painter, const QList<Shape> &shapes)
{
    for (const Shape &shape : shapes) {
        painter.setPen(shape.strokeWidth > 0 ? QPen(shape.stroke, shape.strokeWidth) : QPen(Qt::NoPen));
        painter.setBrush(shape.fill);
        painter.drawPath(shape.outline);
    }
}

QIcon applicationIcon()
{
    return drawn([](QPainter &p) { paint(p, applicationIconShapes()); });
}

QPixmap lampPicture(Lamp kind)
{
    QPixmap pixmap(kLampSize, kLampSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    switch (kind) {
    case Lamp::Error:
        lamp(painter, QColor(230, 0, 0), QColor(255, 170, 160));
        break;
    case Lamp::NoError:
        lamp(painter, QColor(0, 200, 0), QColor(190, 255, 180));
        break;
    case Lamp::NotAvailable:
        lamp(painter, QColor(150, 150, 150), Qt::white);
        break;
    }
    return pixmap;
}

} // namespace Glyphs
