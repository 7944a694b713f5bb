#pragma once

#include "benchreport.h"

#include <QString>

// The report of `test --report FILE`: the window's page of the test, as HTML or as PDF by the
// file's suffix.
namespace TestReport {

// .html, .htm or .pdf, in any case.
bool knownSuffix(const QString &path);
// The file written whole, or not at all: an empty text when it is there, else why not.
QString write(const BenchTest::Report &report, const QString &path);

} // namespace TestReport
