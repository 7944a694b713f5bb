#include "reportpdf.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>

namespace ReportPdf {

namespace {
// A printer's margins: 15 mm all round leaves the table 267 mm of the page's 297.
constexpr double kMarginMm = 15;
// Fine enough for the table's hairlines, small enough to keep a page of text a few kilobytes.
constexpr int kDotsPerInch = 300;
// The table's eleven columns side by side on a landscape page, each word of a cell unbroken.
constexpr double kTextPoints = 8;
} // namespace

QString write(const QString &html, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    {
        QPdfWriter writer(&file);
        writer.setResolution(kDotsPerInch);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape,
                                         QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm), QPageLayout::Millimeter));
        // Laid out for the page itself, at its resolution: a table laid out for the screen and
        // scaled would break its columns where the screen's fonts did.
        QTextDocument document;
        document.documentLayout()->setPaintDevice(&writer);
        document.setPageSize(writer.pageLayout().paintRectPixels(writer.resolution()).size());
        QFont font = document.defaultFont();
        font.setPointSizeF(kTextPoints);
        document.setDefaultFont(font);
        document.setHtml(html);
        writer.setTitle(document.metaInformation(QTextDocument::DocumentTitle));
        writer.setCreator(QCoreApplication::applicationName());
        document.print(&writer);
    } // the writer ends the document here
    if (!file.commit())
        return file.errorString();
    return {};
}

} // namespace ReportPdf
