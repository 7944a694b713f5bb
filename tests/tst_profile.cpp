// A device's settings kept in a file and written back: the round trip through the file, the
// comparison, what is refused before anything is sent, the order of the writes, and the result
// of each write as its read-back shows it. Against indicator-sim, and a scripted device where a
// reply must be a particular fault.
#include "blocking.h"
#include "profile.h"
#include "profilereader.h"
#include "profilewriter.h"
#include "resultcodes.h"
#include "session.h"
#include "support/frames.h"
#include "support/ptypeer.h"
#include "support/simprocess.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Frames;
using Profiles::DeviceProfile;

namespace {

const Catalogue::Parameter &parameter(const char *key)
{
    const Catalogue::Parameter *found = Catalogue::find(QString::fromLatin1(key));
    if (!found)
        qFatal("no parameter %s", key);
    return *found;
}

// The line that connect() opens, at the device's address 1, as a profile records it.
Profiles::Origin readAt(const QString &port)
{
    LineSetup line;
    line.speedNumber = 4; // 19200 baud
    return {port, line, 1};
}

// A whole profile of made-up values that the catalogue lets pass, with the changes given.
DeviceProfile madeUp(const QMap<QString, QVariant> &changes = {})
{
    QMap<QString, QVariant> values;
    for (const Catalogue::Parameter *p : Profiles::keptParameters())
        values.insert(p->key, p->kind == Catalogue::Kind::Text    ? QVariant(QString())
                              : p->kind == Catalogue::Kind::Float ? QVariant(0.0)
                                                                  : QVariant(int(p->lowest)));
    for (auto change = changes.begin(); change != changes.end(); ++change)
        values.insert(change.key(), change.value());
    return Profiles::stamped({QStringLiteral("DI-4"), QStringLiteral("v1")}, readAt(QStringLiteral("COM1")), values);
}

QString keys(const QList<const Catalogue::Parameter *> &parameters)
{
    QStringList keys;
    for (const Catalogue::Parameter *p : parameters)
        keys << p->key;
    return keys.join(u' ');
}

} // namespace

class TestProfile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    QList<QByteArray> m_requests; // every request the session put on the line

    // A session on the device at path, its requests recorded.
    std::unique_ptr<Session> connect(const QString &path)
    {
        auto session = std::make_unique<Session>();
        session->setDeviceNumber(1);
        session->setObserver([this](const ExchangeRecord &record) { m_requests << record.request; });
        LineSetup line;
        line.speedNumber = 4; // 19200 baud
        line.portName = path;
        if (!Blocking::start(*session, line))
            qFatal("no connection to %s", qPrintable(path));
        return session;
    }

    static DeviceProfile readWhole(Session &session)
    {
        ProfileReader reader(session, readAt(QStringLiteral("COM1"))); // as connect() opens it
        Blocking::runToEnd(reader);
        if (!reader.complete())
            qFatal("the device could not be read whole");
        return reader.profile();
    }

    ProfileWriter::Options options() const
    {
        ProfileWriter::Options options;
        options.backupFolder = m_folder.filePath(QStringLiteral("backups"));
        return options;
    }

    QStringList backups() const { return QDir(options().backupFolder).entryList(QDir::Files); }

private slots:
    void init()
    {
        m_requests.clear();
        QDir(options().backupFolder).removeRecursively();
    }

    // Device -> file -> another device: every value arrives, and the file says what it holds.
    void aProfileGoesThroughItsFileIntoAnotherDevice()
    {
        SimProcess first;
        QVERIFY(first.started());
        auto session = connect(first.devicePath());
        for (const auto &[key, value] : {std::pair{"mode.decimal_point", QVariant(2)},
                                         std::pair{"mode.top_range", QVariant(250.5)},
                                         std::pair{"mode.dead_space", QVariant(0.1)},
                                         std::pair{"mode.unit", QVariant(QStringLiteral("кПа"))}})
            QCOMPARE(Blocking::writeValue(*session, parameter(key), value), std::optional<qint16>(lrOk));
        const QString path = m_folder.filePath(QStringLiteral("unit.json"));
        QString error;
        QVERIFY2(Profiles::save(readWhole(*session), path, &error), qPrintable(error));

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray json = file.readAll();
        for (const char *line : {"\"format\": 1", "\"name\": \"Индикатор DI-4 sim\"", "\"version\": \"v1.07 сборка 12\"",
                                 "\"mode.dead_space\": 0.1,", "\"mode.top_range\": 250.5,", "\"mode.unit\": \"кПа\"",
                                 "\"caption\": \"00.00\"", "\"baud\": 19200"})
            QVERIFY2(json.contains(line), line);

        SimProcess second;
        QVERIFY(second.started());
        session = connect(second.devicePath());
        const std::optional<DeviceProfile> loaded = Profiles::load(path, &error);
        QVERIFY2(loaded, qPrintable(error));
        // Two decimals leave 99.99 for the top range: the window would have moved the point. The
        // device held it all the same, so its file goes back when the display rules are waived.
        const QList<ProfileWriter::Refusal> refused = ProfileWriter::refusals(*loaded);
        QCOMPARE(refused.size(), 1);
        QCOMPARE(refused.first().key, QStringLiteral("mode.decimal_point"));
        ProfileWriter::Options waived = options();
        waived.waiveDisplayRules = true;
        ProfileWriter writer(*session, *loaded, readWhole(*session), waived);
        QCOMPARE(keys(writer.plan()), QStringLiteral("mode.decimal_point mode.top_range mode.dead_space mode.unit"));
        Blocking::runToEnd(writer);
        QVERIFY(writer.allConfirmed());
        QCOMPARE(Profiles::compare(readWhole(*session), *loaded).differing(), 0);
    }

    // A person edits one value; the comparison finds it, and only it is written and read back.
    void anEditedValueIsFoundAndWrittenAlone()
    {
        SimProcess sim;
        QVERIFY(sim.started());
        auto session = connect(sim.devicePath());
        const DeviceProfile device = readWhole(*session);
        QString error;
        std::optional<QByteArray> json = Profiles::toJson(device, &error);
        QVERIFY(json && json->contains("\"mode.set_point\": 80,"));
        json->replace("\"mode.set_point\": 80,", "\"mode.set_point\": 95.5,");
        const std::optional<DeviceProfile> edited = Profiles::fromJson(*json, &error);
        QVERIFY2(edited, qPrintable(error));

        const Profiles::Comparison comparison = Profiles::compare(device, *edited);
        QCOMPARE(comparison.differing(), 1);
        QVERIFY(comparison.identity.isEmpty());
        const auto row = std::find_if(comparison.rows.begin(), comparison.rows.end(),
                                      [](const Profiles::ComparisonRow &r) { return r.differs; });
        QCOMPARE(row->parameter->key, QStringLiteral("mode.set_point"));
        QCOMPARE(row->device, QVariant(80.0));

        m_requests.clear();
        ProfileWriter writer(*session, *edited, device, options());
        Blocking::runToEnd(writer);
        QVERIFY(writer.allConfirmed());
        QCOMPARE(writer.results().size(), 1);
        QCOMPARE(m_requests, (QList<QByteArray>{writeRequest(1, 0x0A02, {0x0000, 0x42BF}), readRequest(1, 0x0A02, 2)}));
        // The backup holds the device as it was.
        QCOMPARE(backups().size(), 1);
        const auto backup = Profiles::load(QDir(options().backupFolder).filePath(backups().first()), &error);
        QVERIFY2(backup, qPrintable(error));
        QCOMPARE(Profiles::compare(device, *backup).differing(), 0);
    }

    void aFileTheWindowWouldRefuseWritesNothing_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("dead space out of its limits") << "mode.dead_space" << QVariant(5.0);
        QTest::newRow("brightness with a fraction") << "mode.brightness" << QVariant(1.5);
        QTest::newRow("no such decimal point") << "mode.decimal_point" << QVariant(7);
        QTest::newRow("address 0") << "port.address" << QVariant(0);
        QTest::newRow("unit too long") << "mode.unit" << QVariant(QStringLiteral("1234567"));
        QTest::newRow("bottom above the top") << "mode.bottom_range" << QVariant(1000.0);
        QTest::newRow("signal bottom above its top") << "mode.signal_bottom" << QVariant(50.0);
        QTest::newRow("set point above 120 % of the top") << "mode.set_point" << QVariant(3.4e38);
        QTest::newRow("set point just above 120") << "mode.set_point" << QVariant(120.01);
        QTest::newRow("three decimals for a top of 100") << "mode.decimal_point" << QVariant(3);
        QTest::newRow("an address beyond every whole number") << "port.address" << QVariant(1e308);
    }

    void aFileTheWindowWouldRefuseWritesNothing()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        PtyPeer peer;
        auto session = connect(peer.devicePath());
        const DeviceProfile target = madeUp({{QStringLiteral("mode.top_range"), 100.0}, {key, value},
                                             {QStringLiteral("mode.blink"), 1}});

        QCOMPARE(ProfileWriter::refusals(target).size(), 1);
        QCOMPARE(ProfileWriter::refusals(target).first().key, key);
        ProfileWriter writer(*session, target, madeUp(), options());
        QVERIFY(!writer.ready());
        Blocking::runToEnd(writer);
        QVERIFY(writer.results().isEmpty());
        QVERIFY(peer.settle(2000));
        QCOMPARE(peer.requests(), QList<QByteArray>());
        QCOMPARE(backups(), QStringList());
    }

    // A file edited by hand is taken only whole and as the program writes it.
    void aFileThatIsNotAWholeProfileIsRefused_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QString>("error");
        QTest::newRow("a newer format") << QByteArray("\"format\": 1") << QByteArray("\"format\": 2")
                                        << "формат 2; эта программа читает формат 1";
        QTest::newRow("a key mistyped") << QByteArray("\"mode.blink\"") << QByteArray("\"mode.blnk\"")
                                        << "mode.blnk: такого параметра профиль не хранит";
        QTest::newRow("a reading among the settings") << QByteArray("\"mode.blink\"") << QByteArray("\"data.value\"")
                                                      << "data.value: такого параметра профиль не хранит";
        QTest::newRow("a code edited without its caption")
            << QByteArray("\"code\": 2") << QByteArray("\"code\": 1") << "port.parity: подпись «Нечет» не подпись кода 1";
        QTest::newRow("a text for a number") << QByteArray("\"mode.top_range\": 0") << QByteArray("\"mode.top_range\": \"0\"")
                                             << "mode.top_range: нужно число";
        QTest::newRow("not JSON") << QByteArray("\"format\": 1,") << QByteArray("\"format\": 1") << "не JSON";
        QTest::newRow("a code beyond every whole number")
            << QByteArray("\"code\": 2") << QByteArray("\"code\": 1e300") << "port.parity: подпись «Нечет» не подпись кода";
        QTest::newRow("a number no register holds") << QByteArray("\"mode.blink\": 0") << QByteArray("\"mode.blink\": 1e308")
                                                    << "mode.blink: число вне пределов регистра";
        QTest::newRow("the broadcast address") << QByteArray("\"address\": 1") << QByteArray("\"address\": 0")
                                               << "line.address: адрес вне пределов 1..247";
        QTest::newRow("a speed that wraps to 19200") << QByteArray("\"baud\": 19200") << QByteArray("\"baud\": 4294986496")
                                                     << "line: параметры линии не распознаны";
    }

    void aFileThatIsNotAWholeProfileIsRefused()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QString, error);
        QString why;
        std::optional<QByteArray> json = Profiles::toJson(madeUp({{QStringLiteral("port.parity"), 2}}), &why);
        QVERIFY(json && json->contains(from));
        QVERIFY2(Profiles::fromJson(*json, &why), qPrintable(why));
        json->replace(from, to);
        QVERIFY(!Profiles::fromJson(*json, &why));
        QVERIFY2(why.startsWith(error), qPrintable(why));
    }

    // One write meets an exception: its row says so, and the writes after it go on and are read back.
    void aRefusedWriteIsReportedAndTheOthersStillVerified()
    {
        PtyPeer peer;
        auto session = connect(peer.devicePath());
        const DeviceProfile target = madeUp({{QStringLiteral("mode.brightness"), 2}, {QStringLiteral("mode.blink"), 1}});
        peer.queueReply(withCrc(hex("019004")));
        peer.queueReply(writeEcho(1, 0x0A12, 1));
        peer.queueReply(readReply(1, {1}));

        ProfileWriter writer(*session, target, madeUp(), options());
        QVERIFY(writer.ready());
        Blocking::runToEnd(writer);
        QVERIFY(peer.settle(2000));
        QCOMPARE(peer.requests(), (QList<QByteArray>{writeRequest(1, 0x0A0D, {2}), writeRequest(1, 0x0A12, {1}),
                                                     readRequest(1, 0x0A12, 1)}));
        QCOMPARE(writer.results().size(), 2);
        const ProfileWriter::Result &refused = writer.results()[0];
        QCOMPARE(refused.outcome, ProfileWriter::Outcome::Refused);
        QCOMPARE(refused.code, qint16(lrDeviceError));
        QCOMPARE(refused.text, QStringLiteral("не записано: Ошибка! Прибор отклонил запрос!"));
        QCOMPARE(writer.results()[1].outcome, ProfileWriter::Outcome::Confirmed);
        QVERIFY(!writer.allConfirmed());
    }

    void aDeviceThatStoresAnotherValueIsCaughtByTheReadBack()
    {
        SimProcess sim({QStringLiteral("--misstore"), QStringLiteral("0x0A06")});
        QVERIFY(sim.started());
        auto session = connect(sim.devicePath());
        const DeviceProfile device = readWhole(*session);
        DeviceProfile target = device;
        target.values[QStringLiteral("mode.top_range")] = 200.0;
        target.values[QStringLiteral("mode.brightness")] = 2;

        ProfileWriter writer(*session, target, device, options());
        Blocking::runToEnd(writer);
        QCOMPARE(writer.results().size(), 2);
        const ProfileWriter::Result &misstored = writer.results()[0];
        QCOMPARE(misstored.parameter->key, QStringLiteral("mode.top_range"));
        QCOMPARE(misstored.outcome, ProfileWriter::Outcome::ReadBackDiffers);
        QCOMPARE(misstored.readBack, QVariant(200.00002));
        QCOMPARE(writer.results()[1].outcome, ProfileWriter::Outcome::Confirmed);
    }

    void aProfileOfAnotherDeviceWaitsForConfirmation_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QStringList>("differences");
        QTest::newRow("same device") << "DI-4" << "v1" << QStringList();
        QTest::newRow("another name") << "DI-8" << "v1"
                                      << QStringList{"имя прибора: в приборе «DI-4», в файле «DI-8»"};
        QTest::newRow("another firmware") << "DI-4" << "v2"
                                          << QStringList{"версия программы: в приборе «v1», в файле «v2»"};
    }

    void aProfileOfAnotherDeviceWaitsForConfirmation()
    {
        QFETCH(QString, name);
        QFETCH(QString, version);
        QFETCH(QStringList, differences);
        PtyPeer peer;
        auto session = connect(peer.devicePath());
        DeviceProfile target = madeUp({{QStringLiteral("mode.blink"), 1}});
        target.identity = {name, version};

        ProfileWriter writer(*session, target, madeUp(), options());
        QCOMPARE(writer.identityDifferences(), differences);
        if (!differences.isEmpty()) {
            Blocking::runToEnd(writer);
            QVERIFY(writer.results().isEmpty());
            QVERIFY(peer.settle(2000));
            QCOMPARE(peer.requests(), QList<QByteArray>());
            writer.confirmIdentity();
        }
        peer.queueReply(writeEcho(1, 0x0A12, 1));
        peer.queueReply(readReply(1, {1}));
        Blocking::runToEnd(writer);
        QVERIFY(writer.allConfirmed());
    }

    // Each row: what the device holds, what the file holds, and the order of the writes.
    void writesGoInAnOrderTheDeviceAccepts_data()
    {
        QTest::addColumn<QVariantMap>("now");
        QTest::addColumn<QVariantMap>("file");
        QTest::addColumn<bool>("withLineSettings");
        QTest::addColumn<QString>("order");

        const QVariantMap range{{"mode.bottom_range", 0.0}, {"mode.top_range", 100.0}, {"mode.decimal_point", 1}};
        QTest::newRow("decimal point before the range")
            << range << QVariantMap{{"mode.bottom_range", 10.0}, {"mode.top_range", 50.0}, {"mode.decimal_point", 2}}
            << false << "mode.decimal_point mode.bottom_range mode.top_range";
        QTest::newRow("new bottom above the old top: top first")
            << range << QVariantMap{{"mode.bottom_range", 150.0}, {"mode.top_range", 300.0}, {"mode.decimal_point", 1}}
            << false << "mode.top_range mode.bottom_range";
        QTest::newRow("range lowered: bottom first")
            << QVariantMap{{"mode.bottom_range", 150.0}, {"mode.top_range", 300.0}}
            << QVariantMap{{"mode.bottom_range", 0.0}, {"mode.top_range", 100.0}} << false
            << "mode.bottom_range mode.top_range";
        QTest::newRow("signal range raised: top first")
            << QVariantMap{{"mode.signal_bottom", 4.0}, {"mode.signal_top", 20.0}}
            << QVariantMap{{"mode.signal_bottom", 30.0}, {"mode.signal_top", 40.0}} << false
            << "mode.signal_top mode.signal_bottom";
        QTest::newRow("set point after the range")
            << QVariantMap{{"mode.top_range", 100.0}, {"mode.set_point", 80.0}}
            << QVariantMap{{"mode.top_range", 200.0}, {"mode.set_point", 150.0}} << false
            << "mode.top_range mode.set_point";
        QTest::newRow("line settings left out") << QVariantMap{} << QVariantMap{{"port.address", 5}, {"mode.blink", 1}}
                                                << false << "mode.blink";
        QTest::newRow("line settings last") << QVariantMap{} << QVariantMap{{"port.address", 5}, {"mode.blink", 1}}
                                            << true << "mode.blink port.address";
    }

    void writesGoInAnOrderTheDeviceAccepts()
    {
        QFETCH(QVariantMap, now);
        QFETCH(QVariantMap, file);
        QFETCH(bool, withLineSettings);
        QFETCH(QString, order);
        ProfileWriter::Options options;
        options.withLineSettings = withLineSettings;
        QCOMPARE(keys(ProfileWriter::writeOrder(madeUp(file), madeUp(now), options)), order);
    }

    // A reading given up midway: the read under way is the last to reach the line, and neither
    // its outcome nor the end of the reading is told.
    void aCancelledReadingTellsNothingMore()
    {
        PtyPeer peer; // silent: a reading not given up would go on to tell of the silence
        auto session = connect(peer.devicePath());
        ProfileReader reader(*session, readAt(QStringLiteral("COM1")));
        QSignalSpy steps(&reader, &ProfileReader::stepDone);
        QSignalSpy ended(&reader, &ProfileReader::ended);
        reader.start();
        QTRY_VERIFY(session->hasPending(&reader));
        reader.cancel();
        QTRY_VERIFY(session->isIdle());
        QVERIFY(peer.settle(2000));
        QVERIFY(peer.requests().size() <= 1);
        QCOMPARE(steps.count(), 0);
        QCOMPARE(ended.count(), 0);
    }

    // Reads that the device refuses are named, the others still made; such a profile is no file.
    void aReadThatFailsLeavesNoFile()
    {
        SimProcess sim({QStringLiteral("--exception-every"), QStringLiteral("5")});
        QVERIFY(sim.started());
        auto session = connect(sim.devicePath());
        ProfileReader reader(*session, readAt(QStringLiteral("COM1")));
        Blocking::runToEnd(reader);
        QVERIFY(reader.finished() && !reader.complete());
        QStringList failed;
        for (const ProfileReader::Failure &failure : reader.failures())
            failed << failure.parameter->key;
        const auto &read = Profiles::readParameters();
        QCOMPARE(failed, (QStringList{read[4]->key, read[9]->key, read[14]->key}));
        QCOMPARE(m_requests.size(), read.size());

        const QString path = m_folder.filePath(QStringLiteral("partial.json"));
        QString error;
        QVERIFY(!Profiles::save(reader.profile(), path, &error));
        QVERIFY2(error.contains(read[9]->key), qPrintable(error));
        QVERIFY(!QFile::exists(path));
    }
};

QTEST_MAIN(TestProfile)
#include "tst_profile.moc"
