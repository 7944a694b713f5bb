#pragma once

#include <QString>

// The bench report as a printed document: the same HTML page that is saved for a browser, laid
// out by Qt's own rich text on A4 pages and written as PDF, so that it looks the same on every
// system and needs no browser to print.
namespace ReportPdf {

// Writes the page to path, whole or not at all: an empty text when it is there, else why not.
// Needs a QGuiApplication (fonts).
QString write(const QString &html, const QString &path);

} // namespace ReportPdf
