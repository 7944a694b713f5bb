// The bench report printed to PDF: a document that a viewer opens, with as many A4 pages as the
// table needs, written whole or not at all, and a file that cannot be written said so.
#include "benchreport.h"
#include "reportpdf.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

BenchTest::Report reportOf(int units)
{
    BenchTest::Report report;
    report.when = QDateTime(QDate(2026, 3, 2), QTime(10, 15));
    report.line = QStringLiteral("COM1, 19200 бод, паритет Нет, стоп-бит 1");
    report.unitOfMeasure = QStringLiteral("°C");
    report.limits.expected = 12;
    report.limits.tolerance = 0.05;
    report.limits.sigmaLimit = 0.02;
    for (int address = 1; address <= units; ++address) {
        BenchTest::Judgement judgement;
        judgement.verdict = address % 3 ? BenchTest::Verdict::Passed : BenchTest::Verdict::Failed;
        judgement.figures.samples = 40;
        judgement.figures.mean = 12.001;
        judgement.figures.sigma = 0.004;
        judgement.reason = address % 3 ? QString() : QStringLiteral("среднее вне допуска <&>");
        report.rows.append({quint8(address), QStringLiteral("Индикатор <DI-4> & Co"), QStringLiteral("1.2"), judgement});
    }
    return report;
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A page object, not the page tree: "/Type /Page" not followed by "s".
qsizetype pagesIn(const QByteArray &pdf)
{
    return QString::fromLatin1(pdf).count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?![a-zA-Z])")));
}

} // namespace

class TestReportPdf : public QObject
{
    Q_OBJECT

private slots:
    void theReportIsADocumentOfA4Pages_data()
    {
        QTest::addColumn<int>("units");
        QTest::addColumn<int>("fewestPages");
        QTest::addColumn<int>("mostPages");
        QTest::newRow("a few units: one page") << 5 << 1 << 1;
        QTest::newRow("a line of 150 units: the table runs on") << 150 << 3 << 10;
    }

    void theReportIsADocumentOfA4Pages()
    {
        QFETCH(int, units);
        QFETCH(int, fewestPages);
        QFETCH(int, mostPages);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("проверка.pdf"));
        QCOMPARE(ReportPdf::write(BenchTest::html(reportOf(units)), path), QString());
        const QByteArray pdf = contentsOf(path);
        QVERIFY2(pdf.startsWith("%PDF-1."), pdf.left(16).constData());
        QVERIFY(pdf.trimmed().endsWith("%%EOF")); // whole: the trailer is there
        const qsizetype pages = pagesIn(pdf);
        QVERIFY2(pages >= fewestPages && pages <= mostPages, qPrintable(QString::number(pages)));
        // A4 on its side in points, 842 × 595, is each page's box.
        QVERIFY2(QString::fromLatin1(pdf).contains(QRegularExpression(QStringLiteral("/MediaBox\\s*\\[0 0 84[12]\\.?\\d* 59[45]"))),
                 "no A4 media box");
    }

    // Nowhere to write, or a folder of that name: the reason comes back and nothing is left
    // or replaced.
    void aFileThatCannotBeWrittenIsReportedNotClaimed()
    {
        QTemporaryDir dir;
        const QString nowhere = dir.filePath(QStringLiteral("no/such/folder/report.pdf"));
        QVERIFY(!ReportPdf::write(BenchTest::html(reportOf(2)), nowhere).isEmpty());
        QVERIFY(!QFile::exists(nowhere));
        const QString folder = dir.filePath(QStringLiteral("a folder.pdf"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(!ReportPdf::write(BenchTest::html(reportOf(2)), folder).isEmpty());
        QVERIFY(QFileInfo(folder).isDir());
    }
};

QTEST_MAIN(TestReportPdf)
#include "tst_reportpdf.moc"
