// The CSV that tables are saved as: what a spreadsheet or a script reads from the bytes, with
// names and texts a device or a person could have put there to break the table or run a formula.
#include "csvwriter.h"

#include <QTest>
#include <QTextStream>

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

    void aFieldStaysOneCellAndNeverAFormula()
    {
        QFETCH(QString, field);
        QFETCH(bool, isText);
        QFETCH(QString, row);
        QString written;
        QTextStream out(&written);
        CsvWriter csv(out);
        if (isText)
            csv.text(field);
        else
            csv.value(field);
        csv.value(QStringLiteral("1"));
        csv.endRow();
        QCOMPARE(written, row);
    }
};

QTEST_GUILESS_MAIN(TestCsvWriter)
#include "tst_csvwriter.moc"
