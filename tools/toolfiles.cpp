#include "toolfiles.h"

#include "csvwriter.h"
#include "modalbox.h"
#include "reportpdf.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QAbstractItemModel>
#include <QTextStream>

namespace ToolFiles {

QString folderForFiles()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? QDir::homePath() : documents;
}

std::optional<Profiles::DeviceProfile> chooseProfile(QWidget *parent, QString *path)
{
    QFileDialog dialog(parent, QStringLiteral("Профиль прибора"), folderForFiles(),
                       QStringLiteral("Профили прибора (*.json);;Все файлы (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (ModalBox::exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    *path = dialog.selectedFiles().constFirst();
    QString error;
    std::optional<Profiles::DeviceProfile> profile = Profiles::load(*path, &error);
    if (!profile)
        ModalBox::warning(parent, QStringLiteral("Файл %1 не прочитан:\n%2").arg(QDir::toNativeSeparators(*path), error));
    return profile;
}

void saveTable(QWidget *parent, const QAbstractItemModel &table, const QString &fileName, const QList<int> &numberColumns)
{
    QFileDialog dialog(parent, QStringLiteral("Сохранить таблицу"), folderForFiles(),
                       QStringLiteral("Таблицы CSV (*.csv);;Все файлы (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.selectFile(fileName);
    if (ModalBox::exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    QSaveFile file(dialog.selectedFiles().constFirst());
    if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        QTextStream out(&file);
        CsvWriter csv(out, CsvWriter::Dialect::Spreadsheet);
        csv.startFile();
        for (int column = 0; column < table.columnCount(); ++column)
            csv.text(table.headerData(column, Qt::Horizontal).toString());
        csv.endRow();
        for (int row = 0; row < table.rowCount(); ++row) {
            for (int column = 0; column < table.columnCount(); ++column) {
                const QString field = table.index(row, column).data().toString();
                if (numberColumns.contains(column))
                    csv.value(field);
                else
                    csv.text(field);
            }
            csv.endRow();
        }
    }
    if (!file.commit())
        ModalBox::warning(parent, QStringLiteral("Таблица не сохранена в файл %1:\n%2")
                                      .arg(QDir::toNativeSeparators(file.fileName()), file.errorString()));
}

namespace {

bool isPdf(const QString &path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
}

// The same page printed to a PDF on A4, then the CSV beside it.
std::optional<BenchTest::SaveFailure> savePdf(const BenchTest::Report &report, const QString &pdfPath)
{
    if (const QString failure = ReportPdf::write(BenchTest::html(report), pdfPath); !failure.isEmpty())
        return BenchTest::SaveFailure{pdfPath, failure};
    return BenchTest::saveCsvBeside(report, pdfPath);
}

} // namespace

std::optional<QString> saveReport(QWidget *parent, const BenchTest::Report &report)
{
    QFileDialog dialog(parent, QStringLiteral("Сохранить отчёт"), folderForFiles(),
                       QStringLiteral("Страницы HTML (*.html);;Документы PDF (*.pdf);;Все файлы (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("html"));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString &filter) {
        dialog.setDefaultSuffix(filter.contains(QLatin1String("*.pdf")) ? QStringLiteral("pdf") : QStringLiteral("html"));
    });
    dialog.selectFile(BenchTest::suggestedFileName(report));
    if (ModalBox::exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString pagePath = dialog.selectedFiles().constFirst();
    const std::optional<BenchTest::SaveFailure> failure =
        isPdf(pagePath) ? savePdf(report, pagePath) : BenchTest::save(report, pagePath);
    if (failure) {
        ModalBox::warning(parent, QStringLiteral("Отчёт не сохранён в файл %1:\n%2")
                                      .arg(QDir::toNativeSeparators(failure->path), failure->reason));
        return std::nullopt;
    }
    return pagePath;
}

} // namespace ToolFiles
