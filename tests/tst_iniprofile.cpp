// The settings file's reader and writer on real files: what a key reads as, and which bytes
// the file holds after keys are written.
#include "iniprofile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestIniProfile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    QString fileWith(const QByteArray &content, const QString &name = QStringLiteral("settings.ini"))
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    static QByteArray contentOf(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

private slots:
    void integersReadAsTheWindowsProfileDoes_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("expected"); // the fallback is 42

        const auto value = [](const char *text) { return QByteArray("[COMP]\nKey=") + text + "\n"; };
        QTest::newRow("decimal") << value("7") << qint64(7);
        QTest::newRow("negative") << value("-1") << qint64(-1);
        QTest::newRow("plus sign") << value("+5") << qint64(5);
        QTest::newRow("0x") << value("0x7") << qint64(7);
        QTest::newRow("0X") << value("0X1f") << qint64(31);
        QTest::newRow("dollar") << value("$FF") << qint64(255);
        QTest::newRow("leading zeros") << value("007") << qint64(7);
        QTest::newRow("spaces around key and value") << QByteArray("[COMP]\n  Key =  12  \n") << qint64(12);
        QTest::newRow("quoted") << value("\"3\"") << qint64(3);
        QTest::newRow("names in other case") << QByteArray("[comp]\nKEY=3\n") << qint64(3);
        QTest::newRow("crlf lines") << QByteArray("[COMP]\r\nKey=4\r\n") << qint64(4);
        QTest::newRow("no final line end") << QByteArray("[COMP]\nKey=6") << qint64(6);
        QTest::newRow("first of two keys") << QByteArray("[COMP]\nKey=1\nKey=2\n") << qint64(1);
        QTest::newRow("first of two sections") << QByteArray("[COMP]\nKey=1\n[COMP]\nKey=2\n") << qint64(1);
        QTest::newRow("first section after a byte-order mark") << QByteArray("\xEF\xBB\xBF[COMP]\nKey=8\n") << qint64(8);

        QTest::newRow("letters") << value("abc") << qint64(42);
        QTest::newRow("number then letters") << value("12abc") << qint64(42);
        QTest::newRow("fraction") << value("1.5") << qint64(42);
        QTest::newRow("empty") << value("") << qint64(42);
        QTest::newRow("sign alone") << value("-") << qint64(42);
        QTest::newRow("0x alone") << value("0x") << qint64(42);
        QTest::newRow("dollar alone") << value("$") << qint64(42);
        QTest::newRow("hex with a sign") << value("-0x7") << qint64(42);
        QTest::newRow("too long for 64 bits") << value("99999999999999999999") << qint64(42);
        QTest::newRow("missing key") << QByteArray("[COMP]\nOther=1\n") << qint64(42);
        QTest::newRow("key of another section") << QByteArray("[DEVS]\nKey=1\n[COMP]\n") << qint64(42);
        QTest::newRow("key before any section") << QByteArray("Key=1\n[COMP]\n") << qint64(42);
        QTest::newRow("commented out") << QByteArray("[COMP]\n;Key=1\n") << qint64(42);
    }

    void integersReadAsTheWindowsProfileDoes()
    {
        QFETCH(QByteArray, content);
        QFETCH(qint64, expected);
        const QString path = fileWith(content);
        QCOMPARE(IniProfile(path).readInteger("COMP", "Key", 42), expected);
        QCOMPARE(contentOf(path), content);
    }

    void missingFileReadsAsDefaults()
    {
        const QString path = dir.filePath(QStringLiteral("none.ini"));
        QCOMPARE(IniProfile(path).readInteger("COMP", "Key", 42), qint64(42));
        QVERIFY(!QFile::exists(path));
    }

    void writesKeepEveryOtherLine_data()
    {
        QTest::addColumn<QByteArray>("before"); // "<none>": no file
        QTest::addColumn<QByteArrayList>("writes"); // "SECTION/key=value"
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("new file")
            << QByteArray("<none>") << QByteArrayList{"COMP/A=1", "COMP/B=2", "DEVS/C=3"}
            << QByteArray("[COMP]\nA=1\nB=2\n[DEVS]\nC=3\n");
        QTest::newRow("key replaced where it stands")
            << QByteArray("; head\n[COMP]\nB=9\nA = 5\n[X]\nA=7\n") << QByteArrayList{"COMP/A=1"}
            << QByteArray("; head\n[COMP]\nB=9\nA=1\n[X]\nA=7\n");
        QTest::newRow("same value written again")
            << QByteArray("[COMP]\nA=1\n") << QByteArrayList{"COMP/A=1"} << QByteArray("[COMP]\nA=1\n");
        QTest::newRow("new key after the section's last line, before the blank one")
            << QByteArray("[COMP]\nA=1\n; about A\n\n[DEVS]\nC=3\n") << QByteArrayList{"COMP/B=2"}
            << QByteArray("[COMP]\nA=1\n; about A\nB=2\n\n[DEVS]\nC=3\n");
        QTest::newRow("new section at the end")
            << QByteArray("[OTHER]\nx=y\n") << QByteArrayList{"DEVS/C=3"}
            << QByteArray("[OTHER]\nx=y\n[DEVS]\nC=3\n");
        QTest::newRow("file without a final line end")
            << QByteArray("[OTHER]\nx=y") << QByteArrayList{"DEVS/C=3"}
            << QByteArray("[OTHER]\nx=y\n[DEVS]\nC=3\n");
        QTest::newRow("last key without a final line end, replaced")
            << QByteArray("[COMP]\nA=5") << QByteArrayList{"COMP/A=1"} << QByteArray("[COMP]\nA=1");
        QTest::newRow("key added to a last section without a final line end")
            << QByteArray("[COMP]\nA=1") << QByteArrayList{"COMP/B=2"} << QByteArray("[COMP]\nA=1\nB=2\n");
        QTest::newRow("crlf kept and used")
            << QByteArray("[COMP]\r\nA=5\r\n") << QByteArrayList{"COMP/A=1", "COMP/B=2", "DEVS/C=3"}
            << QByteArray("[COMP]\r\nA=1\r\nB=2\r\n[DEVS]\r\nC=3\r\n");
        QTest::newRow("names matched in any case")
            << QByteArray("[comp]\nportnumber=5\n") << QByteArrayList{"COMP/PortNumber=1"}
            << QByteArray("[comp]\nPortNumber=1\n");
        QTest::newRow("section header with spaces")
            << QByteArray("[ COMP ]\nA=5\n") << QByteArrayList{"COMP/A=1"} << QByteArray("[ COMP ]\nA=1\n");
        QTest::newRow("commented key left alone")
            << QByteArray("[COMP]\n;A=5\n") << QByteArrayList{"COMP/A=1"} << QByteArray("[COMP]\n;A=5\nA=1\n");
        QTest::newRow("Windows-1251 comment kept byte for byte")
            << QByteArray("; \xcf\xf0\xe8\xe1\xee\xf0\n[COMP]\nA=5\n") << QByteArrayList{"COMP/A=1"}
            << QByteArray("; \xcf\xf0\xe8\xe1\xee\xf0\n[COMP]\nA=1\n");
        QTest::newRow("byte-order mark read past and kept")
            << QByteArray("\xEF\xBB\xBF[COMP]\r\nA=5\r\n") << QByteArrayList{"COMP/A=1", "DEVS/C=3"}
            << QByteArray("\xEF\xBB\xBF[COMP]\r\nA=1\r\n[DEVS]\r\nC=3\r\n");
        QTest::newRow("only the first of two sections")
            << QByteArray("[COMP]\nA=5\n[COMP]\nA=6\n") << QByteArrayList{"COMP/A=1", "COMP/B=2"}
            << QByteArray("[COMP]\nA=1\nB=2\n[COMP]\nA=6\n");
    }

    void writesKeepEveryOtherLine()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArrayList, writes);
        QFETCH(QByteArray, after);

        const QString path = before == "<none>" ? dir.filePath(QTest::currentDataTag() + QStringLiteral(".ini"))
                                                : fileWith(before);
        IniProfile profile(path);
        for (const QByteArray &write : writes) {
            const qsizetype slash = write.indexOf('/');
            const qsizetype equals = write.indexOf('=');
            profile.writeValue(write.first(slash), write.sliced(slash + 1, equals - slash - 1),
                               write.sliced(equals + 1));
        }
        QVERIFY2(profile.save(), qPrintable(profile.errorString()));
        QCOMPARE(contentOf(path), after);
    }

    void unwritableFileIsReportedWithItsReason_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("folder missing") << dir.filePath(QStringLiteral("missing/settings.ini"));
        QTest::newRow("a folder has the name") << dir.path();
    }

    void unwritableFileIsReportedWithItsReason()
    {
        QFETCH(QString, path);
        IniProfile profile(path);
        profile.writeInteger("COMP", "A", 1);
        QVERIFY(!profile.save());
        QVERIFY(!profile.errorString().isEmpty());
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("missing"))));
    }
};

QTEST_GUILESS_MAIN(TestIniProfile)
#include "tst_iniprofile.moc"
