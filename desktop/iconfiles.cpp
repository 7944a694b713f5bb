// Writes the program's icon for the desktop's icon theme: a scalable SVG and a PNG of a given
// side, both from the outlines that the window's icon is painted from.
//
// Usage: indicator-icon-files SVG-FILE PNG-FILE PNG-SIDE
#include "glyphs.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTextStream>

#include <cstdio>

namespace {

// Hundredths of a pixel at 32 px are far below anything a 512 px rendering shows.
constexpr int kDecimals = 2;

QString svgColour(const QColor &colour)
{
    return colour.name(QColor::HexRgb);
}

// Path data in absolute commands; Qt keeps a cubic's two control points and its end point as
// three consecutive elements.
QString svgPathData(const QPainterPath &path)
{
    QString data;
    QTextStream out(&data);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(kDecimals);
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element element = path.elementAt(i);
        if (element.isMoveTo())
            out << 'M';
        else if (element.isLineTo())
            out << 'L';
        else if (element.isCurveTo())
            out << 'C';
        out << element.x << ' ' << element.y << ' ';
    }
    return data.trimmed();
}

QByteArray svgDocument(const QList<Glyphs::Shape> &shapes)
{
    QString text;
    QTextStream out(&text);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << Glyphs::kGlyphSide << "\" height=\""
        << Glyphs::kGlyphSide << "\" viewBox=\"0 0 " << Glyphs::kGlyphSide << ' ' << Glyphs::kGlyphSide
        << "\">\n";
    for (const Glyphs::Shape &shape : shapes) {
        out << "  <path d=\"" << svgPathData(shape.outline) << "\" fill=\"" << svgColour(shape.fill)
            << "\" fill-rule=\"" << (shape.outline.fillRule() == Qt::WindingFill ? "nonzero" : "evenodd")
            << '"';
        // "none" said outright: some renderers carry a stroke over from the path before.
        if (shape.strokeWidth > 0)
            out << " stroke=\"" << svgColour(shape.stroke) << "\" stroke-width=\"" << shape.strokeWidth << '"';
        else
            out << " stroke=\"none\"";
        out << "/>\n";
    }
    out << "</svg>\n";
    return text.toUtf8();
}

QImage pngImage(const QList<Glyphs::Shape> &shapes, int side)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(qreal(side) / Glyphs::kGlyphSide, qreal(side) / Glyphs::kGlyphSide);
    Glyphs::paint(painter, shapes);
    return image;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

int main(int argc, char *argv[])
{
    // The digits are outlines of a font's glyphs, and fonts need the application object.
    QGuiApplication application(argc, argv);
    const QStringList arguments = QGuiApplication::arguments();
    bool sideIsNumber = false;
    const int side = arguments.value(3).toInt(&sideIsNumber);
    if (arguments.size() != 4 || !sideIsNumber || side <= 0) {
        std::fputs("Usage: indicator-icon-files SVG-FILE PNG-FILE PNG-SIDE\n", stderr);
        return 2;
    }

    const QList<Glyphs::Shape> shapes = Glyphs::applicationIconShapes();
    if (!writeFile(arguments[1], svgDocument(shapes))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(arguments[1]));
        return 1;
    }
    if (!pngImage(shapes, side).save(arguments[2], "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(arguments[2]));
        return 1;
    }
    return 0;
}
