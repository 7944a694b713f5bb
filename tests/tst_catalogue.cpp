// The parameter catalogue against the device's register map and the limits the pages apply, and
// the session's typed reads and writes on a scripted device: a value the catalogue refuses
// never reaches the line.
#include "blocking.h"
#include "catalogue.h"
#include "resultcodes.h"
#include "session.h"
#include "support/frames.h"
#include "support/ptypeer.h"

#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>

using namespace Frames;

namespace {

// What a parameter is, in one line: kind, writable or not, and its values.
QString described(const Catalogue::Parameter &parameter)
{
    using Catalogue::Kind;
    QString text;
    switch (parameter.kind) {
    case Kind::Float:
        text = QStringLiteral("float/%1").arg(parameter.decimals);
        if (std::isfinite(parameter.lowest))
            text += QStringLiteral(" %1..%2").arg(parameter.lowest).arg(parameter.highest);
        break;
    case Kind::Code: {
        QStringList captions;
        for (const Catalogue::Code &code : parameter.codes)
            captions << QStringLiteral("%1=%2").arg(code.value).arg(code.caption);
        text = QStringLiteral("code ") + captions.join(u'|');
        break;
    }
    case Kind::Flag:
        text = QStringLiteral("flag");
        break;
    case Kind::Number:
        text = QStringLiteral("number %1..%2").arg(parameter.lowest).arg(parameter.highest);
        break;
    case Kind::Text:
        text = QStringLiteral("text");
        break;
    case Kind::FlagWord:
        text = QStringLiteral("flags %1").arg(parameter.bits.size());
        break;
    }
    return text + (parameter.writable ? QStringLiteral(" rw") : QStringLiteral(" r"));
}

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PtyPeer> peer;
    std::unique_ptr<Session> session;

private slots:
    void init()
    {
        peer = std::make_unique<PtyPeer>();
        session = std::make_unique<Session>();
        session->setDeviceNumber(1);
        LineSetup line;
        line.speedNumber = 0; // 1200 baud: the slowest line, the most patient time-outs
        line.portName = peer->devicePath();
        QVERIFY(Blocking::start(*session, line));
    }

    void cleanup()
    {
        session.reset();
        peer.reset();
    }

    // The device's registers, and the limits and codes that the pages offer; rows by parameter id.
    void everyParameterHasItsRegistersAndValues_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("firstRegister");
        QTest::addColumn<int>("registers");
        QTest::addColumn<QString>("values");

        QTest::newRow("0") << "data.value" << 0x0000 << 2 << "float/3 r";
        QTest::newRow("1") << "data.text" << 0x0007 << 3 << "text r";
        QTest::newRow("2") << "data.value2" << 0x0002 << 2 << "float/3 r";
        QTest::newRow("3") << "calibration.value" << 0x0004 << 1 << "number 0..65535 r";
        QTest::newRow("4") << "data.self_diag" << 0x0005 << 1 << "flags 3 r";
        QTest::newRow("5") << "data.eeprom_errors" << 0x0006 << 1 << "flags 4 r";
        QTest::newRow("6") << "info.version" << 0x0100 << 10 << "text r";
        QTest::newRow("7") << "port.address" << 0x0800 << 1 << "number 1..247 rw";
        QTest::newRow("8") << "port.speed" << 0x0801 << 1
                           << "code 0=1200|1=2400|2=4800|3=9600|4=19200|5=38400|6=57600|7=115200 rw";
        QTest::newRow("9") << "port.stop_bits" << 0x0802 << 1 << "code 0=1|1=2 rw";
        QTest::newRow("10") << "port.parity" << 0x0803 << 1 << "code 0=Нет|1=Чет|2=Нечет rw";
        QTest::newRow("11") << "calibration.bottom" << 0x0900 << 1 << "number 0..65535 rw";
        QTest::newRow("12") << "calibration.top" << 0x0901 << 1 << "number 0..65535 rw";
        QTest::newRow("13") << "mode.dead_space" << 0x0A00 << 2 << "float/1 0..2 rw";
        QTest::newRow("14") << "mode.set_point" << 0x0A02 << 2 << "float/3 rw";
        QTest::newRow("15") << "mode.bottom_range" << 0x0A04 << 2 << "float/3 rw";
        QTest::newRow("16") << "mode.top_range" << 0x0A06 << 2 << "float/3 rw";
        QTest::newRow("17") << "mode.signal_bottom" << 0x0A08 << 2 << "float/3 rw";
        QTest::newRow("18") << "mode.signal_top" << 0x0A0A << 2 << "float/3 rw";
        QTest::newRow("19") << "mode.decimal_point" << 0x0A0C << 1 << "code 0=0000|1=000.0|2=00.00|3=0.000 rw";
        QTest::newRow("20") << "mode.brightness" << 0x0A0D << 1 << "number 0..2 rw";
        QTest::newRow("21") << "mode.unit" << 0x0A0E << 3 << "text rw";
        QTest::newRow("22") << "mode.scale_type" << 0x0A11 << 1
                            << "code 0=заказанный диапазон отображения|1=реальный электрический сигнал|"
                               "2=шкала в % с шагом 0.1|3=нормирующая (полная) шкала rw";
        QTest::newRow("23") << "mode.blink" << 0x0A12 << 1 << "flag rw";
        QTest::newRow("24") << "info.name" << 0x0B00 << 10 << "text rw";
    }

    void everyParameterHasItsRegistersAndValues()
    {
        QFETCH(QString, key);
        QFETCH(int, firstRegister);
        QFETCH(int, registers);
        QFETCH(QString, values);
        const Catalogue::Parameter *parameter = Catalogue::find(key);
        QVERIFY(parameter);
        QCOMPARE(int(parameter->id), QString::fromLatin1(QTest::currentDataTag()).toInt());
        QCOMPARE(&Catalogue::of(parameter->id), parameter);
        QCOMPARE(int(parameter->firstRegister()), firstRegister);
        QCOMPARE(parameter->registerCount(), registers);
        QCOMPARE(Catalogue::at(quint16(firstRegister), registers), parameter);
        QCOMPARE(described(*parameter), values);
        QVERIFY(!parameter->caption.isEmpty());
    }

    // Which parameters a profile of the device's settings holds, by role.
    void rolesSortTheSettingsFromTheRest()
    {
        QMap<Catalogue::Role, QStringList> byRole;
        for (const Catalogue::Parameter &parameter : Catalogue::parameters())
            byRole[parameter.role] << parameter.key;
        QCOMPARE(byRole[Catalogue::Role::Setting].size(), 11);
        QCOMPARE(byRole[Catalogue::Role::LineSetting],
                 (QStringList{"port.address", "port.speed", "port.stop_bits", "port.parity"}));
        QCOMPARE(byRole[Catalogue::Role::Identity], (QStringList{"info.version", "info.name"}));
        QCOMPARE(byRole[Catalogue::Role::Calibration], (QStringList{"calibration.bottom", "calibration.top"}));
    }

    void typedWritesSendTheValueOrNothing_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QByteArray>("request"); // empty: refused, nothing sent

        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("dead space at its top") << "mode.dead_space" << QVariant(2.0)
                                               << writeRequest(1, 0x0A00, {0x0000, 0x4000});
        QTest::newRow("dead space above 2") << "mode.dead_space" << QVariant(2.5) << QByteArray();
        QTest::newRow("dead space below 0") << "mode.dead_space" << QVariant(-0.1) << QByteArray();
        QTest::newRow("not a number") << "mode.top_range" << QVariant(nan) << QByteArray();
        QTest::newRow("beyond a single") << "mode.top_range" << QVariant(1e39) << QByteArray();
        QTest::newRow("letters for a float") << "mode.top_range" << QVariant(QStringLiteral("abc")) << QByteArray();
        QTest::newRow("top range 1.5") << "mode.top_range" << QVariant(1.5) << writeRequest(1, 0x0A06, {0x0000, 0x3FC0});
        QTest::newRow("address 247") << "port.address" << QVariant(247) << writeRequest(1, 0x0800, {247});
        QTest::newRow("address 0") << "port.address" << QVariant(0) << QByteArray();
        QTest::newRow("address 248") << "port.address" << QVariant(248) << QByteArray();
        QTest::newRow("address with a fraction") << "port.address" << QVariant(1.5) << QByteArray();
        QTest::newRow("last speed code") << "port.speed" << QVariant(7) << writeRequest(1, 0x0801, {7});
        QTest::newRow("no such speed code") << "port.speed" << QVariant(8) << QByteArray();
        QTest::newRow("blink 2") << "mode.blink" << QVariant(2) << QByteArray();
        QTest::newRow("unit of two letters, zeros after")
            << "mode.unit" << QVariant(QStringLiteral("кг")) << writeRequest(1, 0x0A0E, {0xE3EA, 0, 0});
        QTest::newRow("unit longer than six") << "mode.unit" << QVariant(QStringLiteral("1234567")) << QByteArray();
        QTest::newRow("character the device lacks") << "mode.unit" << QVariant(QStringLiteral("漢")) << QByteArray();
        QTest::newRow("a number for a text") << "mode.unit" << QVariant(5) << QByteArray();
        QTest::newRow("firmware version") << "info.version" << QVariant(QStringLiteral("1")) << QByteArray();
        QTest::newRow("self-diagnostic word") << "data.self_diag" << QVariant(0) << QByteArray();
    }

    void typedWritesSendTheValueOrNothing()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(QByteArray, request);
        const Catalogue::Parameter *parameter = Catalogue::find(key);
        QVERIFY(parameter);
        QSignalSpy outcomes(session.get(), &Session::outcome);
        if (!request.isEmpty())
            peer->queueReply(writeEcho(1, parameter->firstRegister(), quint16(parameter->registerCount())));

        QString refusal;
        const std::optional<qint16> code = Blocking::writeValue(*session, *parameter, value, &refusal);

        QVERIFY(code);
        QVERIFY(peer->settle(2000));
        QCOMPARE(outcomes.size(), 1);
        if (request.isEmpty()) {
            QCOMPARE(*code, qint16(lrBadParameters));
            QVERIFY(!refusal.isEmpty());
            QCOMPARE(outcomes.first().at(1).toString(), QStringLiteral("Ошибка! Неправильные параметры!"));
            QCOMPARE(peer->requests(), QList<QByteArray>());
        } else {
            QCOMPARE(*code, qint16(lrOk));
            QCOMPARE(refusal, QString());
            QCOMPARE(peer->requests(), QList<QByteArray>{request});
        }
    }

    void typedReadsDecodeTheRegisters_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QList<quint16>>("registers");
        QTest::addColumn<QVariant>("value");

        QTest::newRow("float") << "mode.set_point" << QList<quint16>{0x0000, 0x3FC0} << QVariant(1.5);
        QTest::newRow("float as its shortest decimal") << "mode.dead_space" << QList<quint16>{0xCCCD, 0x3DCC}
                                                       << QVariant(0.1);
        QTest::newRow("text ends at its zero") << "info.name" << QList<quint16>{0x4241, 0x0043, 0x4545, 0, 0, 0, 0, 0, 0, 0}
                                               << QVariant(QStringLiteral("ABC"));
        QTest::newRow("code") << "port.parity" << QList<quint16>{2} << QVariant(2);
    }

    void typedReadsDecodeTheRegisters()
    {
        QFETCH(QString, key);
        QFETCH(QList<quint16>, registers);
        QFETCH(QVariant, value);
        const Catalogue::Parameter *parameter = Catalogue::find(key);
        peer->queueReply(readReply(1, registers));
        const std::optional<Session::Reading> reading = Blocking::readValue(*session, *parameter);
        QVERIFY(reading);
        QCOMPARE(reading->code, qint16(lrOk));
        QCOMPARE(reading->value, value);
        QVERIFY(peer->settle(2000));
        QCOMPARE(peer->requests(),
                 QList<QByteArray>{readRequest(1, parameter->firstRegister(), quint16(parameter->registerCount()))});
    }

    void aStoppedSessionExchangesNothing()
    {
        session->stop();
        QSignalSpy outcomes(session.get(), &Session::outcome);
        QVERIFY(!Blocking::readValue(*session, Catalogue::of(prmModeBlink)));
        QVERIFY(!Blocking::writeValue(*session, Catalogue::of(prmModeBlink), 1));
        QVERIFY(outcomes.isEmpty());
        QCOMPARE(peer->requests(), QList<QByteArray>());
    }
};

QTEST_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
