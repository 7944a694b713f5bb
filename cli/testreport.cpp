#include "testreport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

namespace TestReport {

namespace {

// Laying out and writing a page of a hundred units takes well under a second.
constexpr int kHelperTimeoutMs = 60000;

bool isPdf(const QString &path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
}

// The PDF is laid out by indicator-report-pdf, beside this program (the build folder, the
// Windows folder) or where an installation puts it.
QString helperProgram()
{
#ifdef Q_OS_WIN
    const QString name = QStringLiteral("indicator-report-pdf.exe");
#else
    const QString name = QStringLiteral("indicator-report-pdf");
#endif
    const QDir folder(QCoreApplication::applicationDirPath());
    if (QFileInfo::exists(folder.filePath(name)))
        return folder.filePath(name);
    return QDir::cleanPath(folder.filePath(QStringLiteral("../libexec/indicator-config/") + name));
}

QString writePdf(const QString &html, const QString &path)
{
    QProcess helper;
    helper.start(helperProgram(), {path});
    if (!helper.waitForStarted())
        return QStringLiteral("%1 not started: %2").arg(helper.program(), helper.errorString());
    helper.write(html.toUtf8());
    helper.closeWriteChannel();
    if (!helper.waitForFinished(kHelperTimeoutMs)) {
        helper.kill();
        helper.waitForFinished();
        return QStringLiteral("%1 did not finish").arg(helper.program());
    }
    if (helper.exitStatus() == QProcess::NormalExit && helper.exitCode() == 0)
        return {};
    const QString said = QString::fromLocal8Bit(helper.readAllStandardError()).trimmed();
    return said.isEmpty() ? QStringLiteral("%1 failed (status %2)").arg(helper.program()).arg(helper.exitCode()) : said;
}

QString writeHtml(const QString &html, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(html.toUtf8());
    return file.commit() ? QString() : file.errorString();
}

} // namespace

bool knownSuffix(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("html") || suffix == QLatin1String("htm") || suffix == QLatin1String("pdf");
}

QString write(const BenchTest::Report &report, const QString &path)
{
    const QString html = BenchTest::html(report);
    return isPdf(path) ? writePdf(html, path) : writeHtml(html, path);
}

} // namespace TestReport
