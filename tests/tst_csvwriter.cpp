// The CSV that tables are saved as: what a spreadsheet or a script reads from the bytes, with
// names and texts a device or a person could have put there to break the table or run a formula.
#include "csvwriter.h"

#include <QLocale>
#include <QScopeGuard>
#include <QTest>
#include <QTextStream>

#include <cmath>

Q_DECLARE_METATYPE(CsvWriter::Dialect)

class TestCsvWriter : public QObject
{
    Q_OBJECT

private slots:
    void aFieldStaysOneCellAndNeverAFormula_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("isText");
        QTest::addColumn<QString>("row"); // the field, then a second one, "1"
        QTest::newRow("a plain name") << "Индикатор DI-4" << true << "Индикатор DI-4,1\n";
        QTest::newRow("a hyperlink formula") << "=HYPERLINK(\"http://x\",\"y\")" << true
                                             << "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\",1\n";
        QTest::newRow("plus") << "+cmd|' /C calc'!A0" << true << "'+cmd|' /C calc'!A0,1\n";
        QTest::newRow("at") << "@SUM(A1:A9)" << true << "'@SUM(A1:A9),1\n";
        QTest::newRow("minus and a sum") << "-2+3" << true << "'-2+3,1\n";
        QTest::newRow("a leading tab") << "\t=1" << true << "'\t=1,1\n";
        QTest::newRow("a leading carriage return") << "\r=1" << true << "\"'\r=1\",1\n";
        QTest::newRow("a line feed inside") << "a\nb" << true << "\"a\nb\",1\n";
        QTest::newRow("a semicolon") << "a;b" << true << "\"a;b\",1\n";
        QTest::newRow("quotes") << "say \"hi\"" << true << "\"say \"\"hi\"\"\",1\n";
        QTest::newRow("a display text that is a number") << "-5.000" << true << "-5.000,1\n";
        QTest::newRow("a negative reading") << "-5.000" << false << "-5.000,1\n";
        QTest::newRow("a value with a comma") << "1,5" << false << "\"1,5\",1\n";
        QTest::newRow("nothing read") << "" << true << ",1\n";
    }

    // For scripts: RFC 4180.
    void aFieldStaysOneCellAndNeverAFormula()
    {
        QFETCH(QString, field);
        QFETCH(bool, isText);
        QFETCH(QString, row);
        QString written;
        QTextStream out(&written);
        CsvWriter csv(out, CsvWriter::Dialect::Script);
        if (isText)
            csv.text(field);
        else
            csv.value(field);
        csv.value(QStringLiteral("1"));
        csv.endRow();
        QCOMPARE(written, row);
    }

    // A file as a Russian desktop's spreadsheet, and a script, read it: the same rows.
    void theTwoDialectsBytes_data()
    {
        QTest::addColumn<CsvWriter::Dialect>("dialect");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("for a spreadsheet") << CsvWriter::Dialect::Spreadsheet
                                           << QByteArray("\xEF\xBB\xBF"
                                                         "имя;value\n"
                                                         "'=1+2;-1234,500\n"
                                                         "\"a;b\";a,b\n"
                                                         ";12,25\n");
        QTest::newRow("for a script") << CsvWriter::Dialect::Script
                                      << QByteArray("имя,value\n"
                                                    "'=1+2,-1234.500\n"
                                                    "\"a;b\",\"a,b\"\n"
                                                    ",12.25\n");
    }

    void theTwoDialectsBytes()
    {
        QFETCH(CsvWriter::Dialect, dialect);
        QFETCH(QByteArray, bytes);
        const QLocale desktop;
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        const auto restore = qScopeGuard([&desktop] { QLocale::setDefault(desktop); });
        QByteArray written;
        QTextStream out(&written);
        CsvWriter csv(out, dialect);
        csv.startFile();
        csv.text(QStringLiteral("имя")).text(QStringLiteral("value"));
        csv.endRow();
        // Beyond a thousand, where a Russian desktop would group digits with a no-break space.
        csv.text(QStringLiteral("=1+2")).number(-1234.5, 'f', 3);
        csv.endRow();
        csv.text(QStringLiteral("a;b")).text(QStringLiteral("a,b"));
        csv.endRow();
        csv.number(std::nan("")).number(12.25);
        csv.endRow();
        QCOMPARE(written, bytes);
    }
};

QTEST_GUILESS_MAIN(TestCsvWriter)
#include "tst_csvwriter.moc"
