#pragma once

#include "benchreport.h"
#include "profile.h"

#include <QList>
#include <QString>

#include <optional>

class QAbstractItemModel;
class QWidget;

// The files that the windows of «Сервис» open and save, chosen by the user in the same way.
namespace ToolFiles {

// Where a file dialog starts: the user's documents, or home.
QString folderForFiles();

// A profile file chosen by the user, loaded; none when cancelled or unreadable (said so).
std::optional<Profiles::DeviceProfile> chooseProfile(QWidget *parent, QString *path);

// A table of a window saved as CSV for a spreadsheet where the user chooses (fileName suggested),
// the headers first. The columns named in numberColumns go as numbers, as the window shows them
// (the desktop's decimal separator, no group separator), the rest as text, a device's name
// among it.
// A file that cannot be written is said so.
void saveTable(QWidget *parent, const QAbstractItemModel &table, const QString &fileName, const QList<int> &numberColumns);

// A bench test's report saved where the user chooses: the page to print (HTML, or a PDF on A4
// by the name's suffix), and the same rows as CSV beside it under the same name. The page's path once both are saved; a file that cannot be
// written is said so.
std::optional<QString> saveReport(QWidget *parent, const BenchTest::Report &report);

} // namespace ToolFiles
