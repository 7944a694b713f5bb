// indicator-cli as a script runs it: its exit status, what it prints, and what it sends, against
// indicator-sim, and against a scripted device where the bytes on the line count.
#include "catalogue.h"
#include "support/frames.h"
#include "support/ptypeer.h"
#include "support/simprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <csignal>

#include <sys/stat.h>

using namespace Frames;

namespace {

constexpr int kRunTimeoutMs = 60000;

struct Run
{
    int status = -1;
    QString out;
    QString err;
    qint64 ms = 0;
};

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home; // the data and configuration folders of every run

    Run run(const QStringList &arguments, const QString &program = QStringLiteral(INDICATOR_CLI_PROGRAM))
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        process.setProcessEnvironment(environment);
        QElapsedTimer clock;
        clock.start();
        process.start(program, arguments);
        Run result;
        if (!process.waitForFinished(kRunTimeoutMs)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.ms = clock.elapsed();
        result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    // A run that the test talks to while it goes on, with the configuration folder of every run.
    void startInBackground(QProcess &cli, const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        cli.setProcessEnvironment(environment);
        cli.start(QStringLiteral(INDICATOR_CLI_PROGRAM), arguments);
    }

    // With every line setting given, so that no saved settings of this machine count.
    Run on(const QString &port, const QStringList &arguments)
    {
        return run(QStringList{"--port", port, "--baud", "19200", "--parity", "none", "--stop-bits", "1",
                               "--address", "1"}
                   + arguments);
    }

    QString file(const char *name) const { return m_home.filePath(QLatin1String(name)); }

    static void edit(const QString &path, const QString &from, const QString &to)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(file.readAll());
        file.close();
        QVERIFY2(text.contains(from), qPrintable(from));
        text.replace(from, to);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
    }

private slots:
    void readJsonPrintsEveryValue()
    {
        SimProcess sim;
        QVERIFY(sim.started());
        const Run read = on(sim.devicePath(), {"read", "--json"});
        QCOMPARE(read.status, 0);
        const QJsonObject values = QJsonDocument::fromJson(read.out.toUtf8()).object();
        QCOMPARE(values.size(), Catalogue::parameters().size());
        QCOMPARE(values.value("mode.top_range").toDouble(), 100.0);
        QCOMPARE(values.value("port.parity").toInt(-1), 0);
        QCOMPARE(values.value("info.name").toString(), QStringLiteral("Индикатор DI-4 sim"));
    }

    void writeSendsTheValuesInTheirOrder()
    {
        PtyPeer peer;
        // First the values the top range is judged with: set point 80, bottom 0, no decimals.
        peer.queueReply(readReply(1, {0x0000, 0x42A0}));
        peer.queueReply(readReply(1, {0x0000, 0x0000}));
        peer.queueReply(readReply(1, {0}));
        peer.queueReply(writeEcho(1, 0x0A06, 2));
        peer.queueReply(writeEcho(1, 0x0803, 1));
        const Run write = on(peer.devicePath(), {"write", "mode.top_range=250.5", "port.parity=Нечет"});
        QCOMPARE(write.status, 0);
        QVERIFY(peer.settle(2000));
        QCOMPARE(peer.requests(), (QList<QByteArray>{readRequest(1, 0x0A02, 2), readRequest(1, 0x0A04, 2),
                                                     readRequest(1, 0x0A0C, 1), writeRequest(1, 0x0A06, {0x8000, 0x437A}),
                                                     writeRequest(1, 0x0803, {2})}));
    }

    void aRefusedValueSendsNothing_data()
    {
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QString>("named");
        QTest::newRow("out of its limits") << QStringList{"mode.blink=1", "mode.dead_space=5"} << "mode.dead_space=5";
        QTest::newRow("not a number") << QStringList{"mode.top_range=12a"} << "не число";
        QTest::newRow("beyond a single") << QStringList{"mode.top_range=1e39"} << "mode.top_range";
        QTest::newRow("a fraction for a whole number") << QStringList{"port.address=1.5"} << "нужно целое число";
        QTest::newRow("no such caption") << QStringList{"port.parity=Odd"} << "нет такого кода";
        QTest::newRow("too long a text") << QStringList{"mode.unit=1234567"} << "mode.unit";
        QTest::newRow("read only") << QStringList{"info.version=2"} << "только для чтения";
        QTest::newRow("no such key") << QStringList{"mode.nothing=1"} << "mode.nothing";
        QTest::newRow("given twice") << QStringList{"mode.blink=1", "mode.blink=0"} << "given twice";
    }

    void aRefusedValueSendsNothing()
    {
        QFETCH(QStringList, values);
        QFETCH(QString, named);
        PtyPeer peer;
        const Run write = on(peer.devicePath(), QStringList{"write"} + values);
        QCOMPARE(write.status, 2);
        QVERIFY2(write.err.contains(named), qPrintable(write.err));
        QVERIFY(peer.settle(2000));
        QCOMPARE(peer.requests(), QList<QByteArray>());
    }

    // Judged with each other and with what the device holds (top 100, bottom 0, set point 80,
    // signal 4..20, one decimal): a value the Mode page would correct is refused whole.
    void aValueThatBreaksAModeRuleSendsNothing_data()
    {
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("setPoint"); // after the run
        QTest::newRow("bottom above the top")
            << QStringList{"mode.set_point=90", "mode.bottom_range=200"} << 2
            << "mode.bottom_range 200 выше, чем Верхняя граница (mode.top_range 100)" << "80";
        QTest::newRow("set point above 120 % of the top")
            << QStringList{"mode.set_point=1000"} << 2 << "mode.set_point 1000 выше 120 % верхней границы" << "80";
        QTest::newRow("top lowered below the set point")
            << QStringList{"mode.top_range=50"} << 2 << "mode.set_point 80 выше 120 % верхней границы (mode.top_range 50)"
            << "80";
        QTest::newRow("signal bottom above its top") << QStringList{"mode.signal_bottom=50"} << 2
                                                     << "mode.signal_bottom 50 выше, чем Верхняя граница сигнала" << "80";
        QTest::newRow("three decimals for a top of 100")
            << QStringList{"mode.decimal_point=3"} << 2
            << "mode.decimal_point 3 оставляет верхней границе не больше 9.999 (mode.top_range 100)" << "80";
        QTest::newRow("set point and top raised together")
            << QStringList{"mode.set_point=240", "mode.top_range=200"} << 0 << "" << "240";
        QTest::newRow("set point at 120 % of the top") << QStringList{"mode.set_point=120"} << 0 << "" << "120";
    }

    void aValueThatBreaksAModeRuleSendsNothing()
    {
        QFETCH(QStringList, values);
        QFETCH(int, status);
        QFETCH(QString, said);
        QFETCH(QString, setPoint);
        SimProcess sim;
        QVERIFY(sim.started());
        const Run write = on(sim.devicePath(), QStringList{"write"} + values);
        QCOMPARE(write.status, status);
        QVERIFY2(write.err.contains(said), qPrintable(write.err));
        QCOMPARE(on(sim.devicePath(), {"read", "mode.set_point"}).out, QStringLiteral("mode.set_point = %1\n").arg(setPoint));
    }

    // A file the window would correct goes only with --force, or as the backup of a device that
    // held it: the backup of a load must always undo it.
    void aProfileThatBreaksADisplayRuleGoesWithForceOrAsABackup()
    {
        SimProcess sim;
        QVERIFY(sim.started());
        const QString path = file("rules.json");
        const QString edited = file("rules-edited.json");
        QCOMPARE(on(sim.devicePath(), {"save", path}).status, 0);
        QFile::remove(edited);
        QVERIFY(QFile::copy(path, edited));
        edit(edited, "\"mode.set_point\": 80,", "\"mode.set_point\": 3.4e+38,");

        const Run refused = on(sim.devicePath(), {"load", edited});
        QCOMPARE(refused.status, 2);
        QVERIFY2(refused.err.contains("mode.set_point: выше 120 % верхней границы (mode.top_range 100)"),
                 qPrintable(refused.err));
        QCOMPARE(on(sim.devicePath(), {"load", edited, "--force"}).status, 0);
        const Run restored = on(sim.devicePath(), {"load", path});
        QCOMPARE(restored.status, 0);
        const QString backup = restored.err.section(QStringLiteral("the device's settings before the load: "), 1).trimmed();
        QVERIFY2(QFile::exists(backup), qPrintable(restored.err));

        const Run undone = on(sim.devicePath(), {"load", backup});
        QCOMPARE(undone.status, 0);
        QVERIFY2(undone.err.contains("let pass, as a backup of the device"), qPrintable(undone.err));
        QCOMPARE(on(sim.devicePath(), {"read", "mode.set_point"}).out, QStringLiteral("mode.set_point = 3.4e+38\n"));
    }

    // Refused from the file's status before a byte is read: a device that never ends, a FIFO
    // that would block the opening, a folder, a file no profile grows to. As a profile and as
    // the window's settings file beside the program.
    void aFileThatIsNoFileIsRefusedAtOnce_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("asSettings");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        for (const bool asSettings : {false, true}) {
            const char *as = asSettings ? "settings" : "profile";
            QTest::addRow("%s: a link to /dev/zero", as) << "zero" << asSettings << 2 << "не обычный файл";
            QTest::addRow("%s: a FIFO", as) << "fifo" << asSettings << 2 << "не обычный файл";
            QTest::addRow("%s: larger than 1 MiB", as) << "large" << asSettings << 2 << "файл больше 1048576 байт";
        }
        QTest::newRow("profile: a folder") << "folder" << false << 2 << "это папка, а не файл";
        // The window's settings are only defaults for the line: said, and the run goes on.
        QTest::newRow("settings: a folder") << "folder" << true << 1 << "not read: это папка, а не файл";
        QTest::newRow("settings: a loop of links") << "loop" << true << 1 << "not read: символические ссылки ведут по кругу";
    }

    void aFileThatIsNoFileIsRefusedAtOnce()
    {
        QFETCH(QString, kind);
        QFETCH(bool, asSettings);
        QFETCH(int, status);
        QFETCH(QString, said);
        QTemporaryDir folder;
        const QString program = folder.filePath(QStringLiteral("indicator-cli"));
        QVERIFY(QFile::copy(QStringLiteral(INDICATOR_CLI_PROGRAM), program));
        const QString path = folder.filePath(asSettings ? QStringLiteral("indicator-config.ini") : QStringLiteral("unit.json"));
        const QByteArray name = QFile::encodeName(path);
        if (kind == QLatin1String("zero"))
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        else if (kind == QLatin1String("fifo"))
            QCOMPARE(mkfifo(name.constData(), 0600), 0);
        else if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(path));
        else if (kind == QLatin1String("loop"))
            QVERIFY(QFile::link(path, path));
        else {
            QFile large(path);
            QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(1024 * 1024 + 1));
        }

        const Run start = run({"list"});
        const QStringList line{"--port", folder.filePath(QStringLiteral("no-such-tty"))};
        const Run result = run(asSettings ? line + QStringList{"read"} : QStringList{"compare", path}, program);
        QCOMPARE(result.status, status);
        QVERIFY2(result.err.contains(path + QStringLiteral(": ") + said) || result.err.contains(path + u' ' + said),
                 qPrintable(result.err));
        QVERIFY2(result.ms < start.ms + 1000, qPrintable(QStringLiteral("%1 ms, start %2").arg(result.ms).arg(start.ms)));
    }

    // One read's time-out (100 ms and 3 character times) and no more: reading every parameter
    // of a silent device would take 25 of them.
    void aSilentAddressFailsWithinOneReadTimeOut()
    {
        SimProcess sim;
        QVERIFY(sim.started());
        const Run start = run({"list"});
        const Run read = run({"--port", sim.devicePath(), "--baud", "19200", "--parity", "none", "--stop-bits",
                              "1", "--address", "9", "read"});
        QCOMPARE(read.status, 1);
        QVERIFY2(read.err.contains(QStringLiteral("data.value: Ошибка! Нет овета! (код -6)")), qPrintable(read.err));
        QVERIFY2(read.ms >= 100, qPrintable(QString::number(read.ms)));
        QVERIFY2(read.ms < start.ms + 1000, qPrintable(QStringLiteral("%1 ms, start %2").arg(read.ms).arg(start.ms)));
    }

    void aMissingPortFailsWithItsReason()
    {
        const Run read = on(m_home.filePath(QStringLiteral("no-such-tty")), {"read"});
        QCOMPARE(read.status, 1);
        const QString path = m_home.filePath(QStringLiteral("no-such-tty"));
        QCOMPARE(read.err, QStringLiteral("indicator-cli: Ошибка! Порт %1 не открыт: нет такого устройства\n").arg(path));
    }

    // A person edits a saved profile: compare finds the edit, load writes it alone and reads it
    // back, and a value out of its limits, or a file of another device, writes nothing.
    void compareAndLoadAnEditedProfile()
    {
        SimProcess sim;
        QVERIFY(sim.started());
        const QString path = file("unit.json");
        QCOMPARE(on(sim.devicePath(), {"save", path}).status, 0);
        edit(path, "\"mode.set_point\": 80,", "\"mode.set_point\": 95.5,");

        Run compare = on(sim.devicePath(), {"compare", path});
        QCOMPARE(compare.status, 3);
        QVERIFY2(compare.out.contains("* mode.set_point: device 80, file 95.5\n"), qPrintable(compare.out));
        QVERIFY(compare.out.endsWith("1 of 16 values differ\n"));

        const Run load = on(sim.devicePath(), {"load", path});
        QCOMPARE(load.status, 0);
        QCOMPARE(load.out, QStringLiteral("mode.set_point: 80 -> 95.5: записано и подтверждено\n"));
        QVERIFY2(load.err.contains(file("data/indicator-config/backups/")), qPrintable(load.err));
        QCOMPARE(on(sim.devicePath(), {"compare", path}).status, 0);

        edit(path, "\"mode.dead_space\": 0.5,", "\"mode.dead_space\": 5,");
        Run refused = on(sim.devicePath(), {"load", path});
        QCOMPARE(refused.status, 2);
        QVERIFY2(refused.err.contains("mode.dead_space: значение вне пределов 0..2"), qPrintable(refused.err));
        edit(path, "\"mode.dead_space\": 5,", "\"mode.dead_space\": 0.7,");
        edit(path, "\"name\": \"Индикатор DI-4 sim\"", "\"name\": \"DI-8\"");
        refused = on(sim.devicePath(), {"load", path});
        QCOMPARE(refused.status, 2);
        QVERIFY2(refused.err.contains("в приборе «Индикатор DI-4 sim», в файле «DI-8»"), qPrintable(refused.err));
        QCOMPARE(on(sim.devicePath(), {"read", "mode.dead_space"}).out, QStringLiteral("mode.dead_space = 0.5\n"));
        QCOMPARE(on(sim.devicePath(), {"load", path, "--force"}).status, 0);
        QCOMPARE(on(sim.devicePath(), {"read", "mode.dead_space"}).out, QStringLiteral("mode.dead_space = 0.7\n"));
    }

    void aLoadThatReadsBackAnotherValueSaysSo()
    {
        SimProcess sim({"--misstore", "0x0A0D"});
        QVERIFY(sim.started());
        const QString path = file("misstore.json");
        QCOMPARE(on(sim.devicePath(), {"save", path}).status, 0);
        edit(path, "\"mode.brightness\": 1,", "\"mode.brightness\": 2,");
        const Run load = on(sim.devicePath(), {"load", path});
        QCOMPARE(load.status, 3);
        QCOMPARE(load.out, QStringLiteral("mode.brightness: 1 -> 2: записано, но прочитано другое: 3\n"));
    }

    // As the window names it: COM3 of the window's settings file beside the program.
    void theLineComesFromTheWindowsSettings()
    {
        SimProcess sim({"--slave", "7", "--baud", "38400"});
        QVERIFY(sim.started());
        QTemporaryDir folder;
        const QString program = folder.filePath(QStringLiteral("indicator-cli"));
        QVERIFY(QFile::copy(QStringLiteral(INDICATOR_CLI_PROGRAM), program));
        QFile settings(folder.filePath(QStringLiteral("indicator-config.ini")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[COMP]\nPortNumber=2\nSpeedNumber=5\nParity=0\nStopBits=0\n[DEVS]\nDeviceNumber=7\n[PORTS]\nCOM3="
                       + sim.devicePath().toLocal8Bit() + "\n");
        settings.close();
        const Run read = run({"read", "port.address"}, program);
        QCOMPARE(read.status, 0);
        QCOMPARE(read.out, QStringLiteral("port.address = 7\n"));
    }

    void scanAndWatch()
    {
        SimProcess sim({"--slave", "2"});
        QVERIFY(sim.started());
        const Run scan = on(sim.devicePath(), {"scan", "--addresses", "1-3", "--bauds", "19200", "--parities", "none"});
        QCOMPARE(scan.status, 0);
        QCOMPARE(scan.out,
                 QStringLiteral("address=2 baud=19200 parity=none name=\"Индикатор DI-4 sim\" version=\"v1.07 сборка 12\"\n"));
        const Run watch = run({"--port", sim.devicePath(), "--baud", "19200", "--parity", "none", "--stop-bits", "1",
                               "--address", "2", "watch", "--csv", "--count", "2", "--interval", "50"});
        QCOMPARE(watch.status, 0);
        const QStringList rows = watch.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0], QStringLiteral("time,data.value,data.text,data.value2,calibration.value,data.self_diag,"
                                         "data.eeprom_errors"));
    }

    // Asked for JSON and CSV at once, a watch prints JSON lines alone: a script that reads a
    // JSON object a line must not meet a CSV header first.
    void aWatchInJsonPrintsNoCsvHeader()
    {
        SimProcess sim;
        QVERIFY(sim.started());
        const Run watch = on(sim.devicePath(), {"watch", "--csv", "--json", "--count", "2", "--interval", "50"});
        QCOMPARE(watch.status, 0);
        const QStringList lines = watch.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        for (const QString &line : lines)
            QVERIFY2(QJsonDocument::fromJson(line.toUtf8()).object().contains(QStringLiteral("data.value")), qPrintable(line));
    }

    // Three units on one line, the third off the mark: listed, watched and judged one by one.
    void manyUnitsOnOneLine()
    {
        SimProcess sim({"--slave", "1-3", "--reading", "12", "--noise", "0.005", "--reading-at", "3=12.2"});
        QVERIFY(sim.started());
        const Run scan = on(sim.devicePath(), {"scan", "--all", "--addresses", "1-4", "--json"});
        QCOMPARE(scan.status, 0);
        const QStringList units = scan.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(units.size(), 3);
        QCOMPARE(QJsonDocument::fromJson(units[2].toUtf8()).object().value("address").toInt(), 3);
        QVERIFY(scan.err.contains(QStringLiteral("4 probes")));
        const Run listed = on(sim.devicePath(), {"scan", "--all", "--addresses", "3,1", "--json"});
        QCOMPARE(listed.status, 0);
        QCOMPARE(listed.out.count(u'\n'), 2); // unit 2, between them, answers and is not listed
        QVERIFY(!listed.out.contains(QStringLiteral("\"address\":2")));

        const Run watch = on(sim.devicePath(), {"watch", "--addresses", "2-3", "--csv", "--count", "2", "--interval", "50"});
        QCOMPARE(watch.status, 0);
        const QStringList rows = watch.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 5);
        QVERIFY(rows[0].startsWith(QStringLiteral("time,address,data.value,")));
        QCOMPARE(rows[1].section(u',', 1, 1), QStringLiteral("2"));
        QCOMPARE(rows[4].section(u',', 1, 1), QStringLiteral("3"));

        QTemporaryDir reports;
        const QString page = reports.filePath(QStringLiteral("партия.html"));
        const Run test = on(sim.devicePath(), {"test", "--expect", "12.0", "--tolerance", "0.05", "--addresses", "1-3",
                                               "--duration", "1", "--min-readings", "3", "--report", page});
        QCOMPARE(test.status, 3);
        QFile written(page);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(written.readAll());
        QCOMPARE(html.count(QStringLiteral("<tr><td")), 3);
        QCOMPARE(html.count(QStringLiteral("\"fail\">не годен")), 1);
        const QStringList verdicts = test.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(verdicts.size(), 3);
        QVERIFY2(verdicts[0].startsWith(QStringLiteral("address=1 pass")), qPrintable(test.out));
        QVERIFY(verdicts[2].startsWith(QStringLiteral("address=3 FAIL")));
        QVERIFY(verdicts[2].contains(QStringLiteral("среднее")));
        const QString printed = reports.filePath(QStringLiteral("партия.pdf"));
        const Run passing = on(sim.devicePath(), {"test", "--expect", "12.0", "--tolerance", "0.05", "--addresses", "1-2",
                                                  "--duration", "1", "--min-readings", "3", "--report", printed});
        QCOMPARE(passing.status, 0);
        QFile document(printed);
        QVERIFY2(document.open(QIODevice::ReadOnly), qPrintable(passing.err));
        QCOMPARE(document.read(5), QByteArray("%PDF-"));
        // A report that cannot be written fails the run, whatever the verdicts.
        const QString nowhere = reports.filePath(QStringLiteral("gone/партия.pdf"));
        const Run unwritten = on(sim.devicePath(), {"test", "--expect", "12.0", "--tolerance", "0.05", "--addresses", "1",
                                                    "--duration", "1", "--min-readings", "3", "--report", nowhere});
        QCOMPARE(unwritten.status, 1);
        QVERIFY2(unwritten.err.contains(QStringLiteral("report not written to ") + nowhere), qPrintable(unwritten.err));
        // More readings than a second gives: the test goes on until units 1 and 2 have them, and
        // the empty address 9 holds it up no longer than the time given.
        const Run longer = on(sim.devicePath(), {"test", "--expect", "12.0", "--tolerance", "0.05", "--addresses", "1-2,9",
                                                 "--duration", "1", "--min-readings", "300"});
        QCOMPARE(longer.status, 3);
        const QStringList judged = longer.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(judged.size(), 3);
        for (int unit = 0; unit < 2; ++unit) {
            const QRegularExpressionMatch samples = QRegularExpression(QStringLiteral(" pass samples=(\\d+) ")).match(judged[unit]);
            QVERIFY2(samples.hasMatch() && samples.captured(1).toInt() >= 300, qPrintable(judged[unit]));
        }
        QVERIFY2(judged[2].startsWith(QStringLiteral("address=9 FAIL")) && judged[2].contains(QStringLiteral("нет показаний")),
                 qPrintable(judged[2]));
    }

    // A name put on a device with a line feed or an escape sequence: each line of text stays one
    // line and nothing reaches the terminal raw; JSON carries the name as it is.
    void aDevicesNameIsShownEscaped_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("a line feed") << "A\nB" << "\"A\\nB\"";
        QTest::newRow("an escape sequence") << "A\x1b[2J" << "\"A\\x1b[2J\"";
        QTest::newRow("a backslash before n") << "A\\nB" << "\"A\\\\nB\"";
    }

    void aDevicesNameIsShownEscaped()
    {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        SimProcess sim;
        QVERIFY(sim.started());
        QCOMPARE(on(sim.devicePath(), {"write", "info.name=" + name}).status, 0);
        QCOMPARE(on(sim.devicePath(), {"read", "info.name"}).out, QStringLiteral("info.name = %1\n").arg(shown));
        const Run scan = on(sim.devicePath(), {"scan", "--addresses", "1-1", "--bauds", "19200", "--parities", "none"});
        QCOMPARE(scan.status, 0);
        QCOMPARE(scan.out, QStringLiteral("address=1 baud=19200 parity=none name=%1 version=\"v1.07 сборка 12\"\n").arg(shown));
        const Run json = on(sim.devicePath(), {"read", "--json", "info.name"});
        QCOMPARE(QJsonDocument::fromJson(json.out.toUtf8()).object().value("info.name").toString(), name);
    }

    // The test plays a master and a device on the far end of the pseudo-terminal; the bytes
    // that the listener would send would arrive there as requests.
    void listenHearsTheLineAndSendsNothing()
    {
        PtyPeer peer;
        QProcess cli;
        startInBackground(cli, {"--port", peer.devicePath(), "--baud", "19200", "--parity", "none", "--stop-bits", "1", "listen",
                   "--duration", "2"});
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += cli.readAllStandardError()).contains("sending nothing"), kRunTimeoutMs);
        // 150.0 as a register float; a name whose escape sequence would clear the terminal.
        peer.writeNow(readRequest(3, 0x0A06, 2) + readReply(3, {0x0000, 0x4316}));
        peer.writeNow(readRequest(3, 0x0B00, 10) + readReply(3, {0x1B41, 0x325B, 0x004A, 0, 0, 0, 0, 0, 0, 0}));
        peer.writeNow(hex("FF00"));
        QVERIFY(cli.waitForFinished(kRunTimeoutMs));
        QCOMPARE(cli.exitCode(), 0);
        const QString out = QString::fromUtf8(cli.readAllStandardOutput());
        QVERIFY2(out.contains(QStringLiteral("адрес 3: чтение: верхняя граница (0x0A06, 2 рег.) → 150 (")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("адрес 3: чтение: имя прибора (0x0B00, 10 рег.) → \"A\\x1b[2J\"")),
                 qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("не кадр, байт: 2: FF 00")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("address 3: 2 requests, 2 replies, 0 time-outs, 0 CRC errors")), qPrintable(out));
        QVERIFY(peer.requests().isEmpty());
    }

    // The line gone in the middle of a test: no unit has a verdict to give, and the run fails.
    void aTestWithoutItsPortJudgesNoUnit()
    {
        auto sim = std::make_unique<SimProcess>(QStringList{"--slave", "1-2", "--reading", "12"});
        QVERIFY(sim->started());
        QProcess cli;
        startInBackground(cli, {"--port", sim->devicePath(), "--baud", "19200", "--parity", "none", "--stop-bits", "1", "test",
                   "--expect", "12", "--tolerance", "0.05", "--addresses", "1-2", "--duration", "60"});
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += cli.readAllStandardError()).contains("testing 2 unit(s)"), kRunTimeoutMs);
        sim.reset();
        QVERIFY(cli.waitForFinished(kRunTimeoutMs));
        QCOMPARE(cli.exitCode(), 1);
        const QStringList verdicts = QString::fromUtf8(cli.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(verdicts.size(), 2);
        for (const QString &verdict : verdicts)
            QVERIFY2(verdict.contains(QStringLiteral(" UNTESTED ")) && verdict.contains(QStringLiteral("связь с адаптером потеряна")),
                     qPrintable(verdict));
        QVERIFY(cli.readAllStandardError().contains("lost during the test"));
    }

    // An adapter unplugged while listening ends the run as a failure, at once.
    void listenEndsWhenThePortGoesAway()
    {
        PtyPeer peer;
        QProcess cli;
        startInBackground(cli, {"--port", peer.devicePath(), "--baud", "19200", "listen"});
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += cli.readAllStandardError()).contains("sending nothing"), kRunTimeoutMs);
        peer.hangUp();
        QVERIFY(cli.waitForFinished(kRunTimeoutMs));
        QCOMPARE(cli.exitCode(), 1);
        QVERIFY(cli.readAllStandardError().contains("lost"));
    }

    // A client of serve is named as it comes and goes, each line with the time, and Ctrl+C ends
    // the run cleanly.
    void serveSharesTheLineUntilCtrlC()
    {
        SimProcess sim({"--slave", "1-2"});
        QVERIFY(sim.started());
        QProcess cli;
        startInBackground(cli, {"--port", sim.devicePath(), "--baud", "19200", "--parity", "none", "--stop-bits", "1", "serve",
                   "--rtu-tcp", "0"});
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += cli.readAllStandardError()).contains("Ctrl+C ends"), kRunTimeoutMs);
        const QRegularExpressionMatch at = QRegularExpression(QStringLiteral("RTU over TCP at 127.0.0.1:(\\d+)")).match(QString::fromUtf8(err));
        QVERIFY2(at.hasMatch(), err.constData());

        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, quint16(at.captured(1).toUInt()));
        QVERIFY(client.waitForConnected(kRunTimeoutMs));
        client.write(readRequest(2, 0x0800, 1));
        const QByteArray reply = readReply(2, {2});
        QTRY_VERIFY_WITH_TIMEOUT(client.bytesAvailable() >= reply.size(), kRunTimeoutMs);
        QCOMPARE(client.readAll(), reply);
        client.disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT((err += cli.readAllStandardError()).contains("left after 1 request(s)"), kRunTimeoutMs);
        ::kill(pid_t(cli.processId()), SIGINT);
        QVERIFY(cli.waitForFinished(kRunTimeoutMs));
        QCOMPARE(cli.exitCode(), 0);
        err += cli.readAllStandardError();
        const QRegularExpression came(QStringLiteral("\\n\\d\\d:\\d\\d:\\d\\d\\.\\d{3} indicator-cli: client 127\\.0\\.0\\.1:\\d+ "
                                                     "\\(RTU over TCP\\) came, 1 of 16\\n"));
        QVERIFY2(came.match(QString::fromUtf8(err)).hasMatch(), err.constData());
        QVERIFY2(err.endsWith("indicator-cli: stopped\n"), err.constData());
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("shown");
        QTest::newRow("program help") << QStringList{"--help"} << 0 << "Exit status: 0 success";
        QTest::newRow("a command's help") << QStringList{"load", "--help"} << 0 << "--with-line-settings";
        QTest::newRow("a help's Russian example") << QStringList{"write", "--help"} << 0 << "(port.parity=Нечет)";
        QTest::newRow("no command") << QStringList{} << 2 << "no command given";
        QTest::newRow("an option of another command") << QStringList{"read", "--csv"} << 2 << "--csv is an option of watch";
        QTest::newRow("a speed the device lacks") << QStringList{"--baud", "14400", "read"} << 2 << "--baud takes one of";
        QTest::newRow("a file to save missing") << QStringList{"save"} << 2 << "usage: indicator-cli save FILE";
        QTest::newRow("an option of two other commands") << QStringList{"read", "--addresses", "1-2"} << 2
                                                         << "--addresses is an option of scan watch test";
        QTest::newRow("a list of addresses with a word in it") << QStringList{"watch", "--addresses", "3,x"} << 2
                                                               << "--addresses \"3,x\": «x» — не адрес";
        QTest::newRow("a test without its reference") << QStringList{"test", "--tolerance", "0.1"} << 2
                                                      << "test needs --expect and --tolerance";
        QTest::newRow("one reading for a σ") << QStringList{"test", "--expect", "12", "--tolerance", "1", "--min-readings", "1"}
                                             << 2 << "--min-readings takes a whole number from 2 to 1000000, not \"1\"";
        QTest::newRow("a limit shorter than the time") << QStringList{"test", "--expect", "12", "--tolerance", "1", "--duration",
                                                                      "30", "--max-duration", "20"}
                                                       << 2 << "--max-duration must be at least --duration";
        QTest::newRow("a report of no known kind") << QStringList{"test", "--expect", "12", "--tolerance", "1", "--report", "r.txt"}
                                                   << 2 << "--report takes a file ending in .html or .pdf, not \"r.txt\"";
        QTest::newRow("a negative tolerance") << QStringList{"test", "--expect", "12", "--tolerance", "-1"} << 2
                                              << "--tolerance takes a non-negative number";
        QTest::newRow("listening through a Modbus TCP gateway")
            << QStringList{"--port", "modbus-tcp://127.0.0.1:1502", "--baud", "19200", "--parity", "none",
                           "--stop-bits", "1", "listen"}
            << 2 << "leads to a Modbus TCP gateway";
        QTest::newRow("serving at a host name") << QStringList{"serve", "--modbus-tcp", "localhost:5020"} << 2
                                                << "--modbus-tcp takes [ADDR:]PORT";
        QTest::newRow("serving at IPv6 without brackets") << QStringList{"serve", "--rtu-tcp", "::1:5020"} << 2
                                                          << "--rtu-tcp takes [ADDR:]PORT";
        QTest::newRow("serving at a port beyond 65535") << QStringList{"serve", "--modbus-tcp", "65536"} << 2
                                                        << "--modbus-tcp takes [ADDR:]PORT";
        QTest::newRow("serving nothing")
            << QStringList{"--port", "/dev/null", "--baud", "19200", "--parity", "none", "--stop-bits", "1", "serve"}
            << 2 << "serve needs --modbus-tcp";
        QTest::newRow("a port with a line feed") << QStringList{"--port", "a\nb", "read"} << 2
                                                 << "--port takes a device path or COM1.., not \"a\\nb\"\n";
    }

    void usage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, shown);
        const Run result = run(arguments);
        QCOMPARE(result.status, status);
        QVERIFY2((result.out + result.err).contains(shown), qPrintable(result.out + result.err));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
