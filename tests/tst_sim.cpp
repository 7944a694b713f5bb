// indicator-sim as a master sees it: CAdapter and raw frames on the simulator's pseudo-terminal.
// The device's registers, what it refuses, the faults it plays on demand, noise on the line,
// the units behind its Modbus TCP gateway, and its command line.
#include "adapter.h"
#include "linesettings.h"
#include "parammap.h"
#include "registercodec.h"
#include "resultcodes.h"
#include "rtuframe.h"
#include "simdevice.h"
#include "support/frames.h"
#include "support/simprocess.h"
#include "support/taplistener.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <cmath>
#include <csignal>

#include <unistd.h>

namespace {

using Registers = std::array<quint16, Rtu::maxReadRegisters>;

int registerCount(TParamId id) { return ParamMap[id].Bytes / 2; }

QList<quint16> floatRegisters(float value)
{
    QList<quint16> registers(2);
    RegisterCodec::putFloat(value, registers.data());
    return registers;
}

QList<quint16> textRegisters(const QString &text, TParamId id)
{
    QList<quint16> registers(registerCount(id), 0);
    RegisterCodec::putText(text, registers.data(), ParamMap[id].Bytes);
    return registers;
}

// An RTU frame ends after 3.5 characters of silence, and the simulator never waits less than
// 20 ms for one: a request this long after noise starts a frame of its own.
constexpr int kFrameSilenceMs = 100;

// A read of the Mode registers 0x0A00..0x0A12: an 8-byte request and a 43-byte reply, longer
// than a USB adapter's piece.
constexpr quint16 kModeFirst = 0x0A00;
constexpr quint16 kModeCount = 19;
constexpr int kModeReplySize = 3 + 2 * kModeCount + 2;

// The line without CAdapter: any bytes out, whatever comes back.
class RawLine
{
public:
    explicit RawLine(const QString &path)
    {
        m_port.setPortName(path);
        m_port.setBaudRate(19200);
        QVERIFY(m_port.open(QIODevice::ReadWrite));
    }

    void write(const QByteArray &bytes)
    {
        m_port.write(bytes);
        QVERIFY(m_port.waitForBytesWritten(1000));
    }

    // Sends `request` and collects the reply until `size` bytes are in or `timeoutMs` passes.
    QByteArray exchange(const QByteArray &request, int size, int timeoutMs = 1000)
    {
        m_port.clear(QSerialPort::Input);
        write(request);
        QByteArray reply;
        const QDeadlineTimer deadline(timeoutMs);
        while (reply.size() < size && !deadline.hasExpired()) {
            m_port.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
            reply += m_port.readAll();
        }
        return reply;
    }

private:
    QSerialPort m_port;
};

// CPU time the process `pid` has used, from /proc.
double cpuSecondsOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command's closing parenthesis; utime and stime are the 12th and 13th.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

} // namespace

class TestSim : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<CAdapter> adapter;

    void startSim(const QStringList &arguments = {})
    {
        sim = std::make_unique<SimProcess>(arguments);
        QVERIFY2(sim->started(), "indicator-sim did not come up");
    }

    void connectAdapter(quint8 speedNumber = 4, const QString &path = {}, quint8 parity = 0)
    {
        adapter = std::make_unique<CAdapter>();
        adapter->PortName = path.isEmpty() ? sim->devicePath() : path;
        adapter->SpeedNumber = speedNumber;
        adapter->Parity = parity;
        QCOMPARE(adapter->Open(), 0);
        adapter->Connected = true;
    }

    void disconnectAdapter()
    {
        if (adapter)
            adapter->Close();
        adapter.reset();
    }

    Registers read(TParamId id, quint8 slave = 1)
    {
        Registers registers{};
        const qint16 result = adapter->ReadRegisters(slave, ParamMap[id].Register, registerCount(id), registers.data());
        if (result != lrOk)
            qWarning("reading parameter %d: result %d", int(id), int(result));
        return registers;
    }

    qint16 write(TParamId id, const QList<quint16> &values, quint8 slave = 1)
    {
        return adapter->WriteRegisters(slave, ParamMap[id].Register, quint16(values.size()), values.data());
    }

    // The live registers 0x0000..0x0009, read in one exchange so that they belong together.
    Registers readLive()
    {
        Registers registers{};
        const quint16 count = ParamMap[prmDataTxt].Register + registerCount(prmDataTxt);
        const qint16 result = adapter->ReadRegisters(1, 0, count, registers.data());
        if (result != lrOk)
            qWarning("reading the live registers: result %d", int(result));
        return registers;
    }

    static const quint16 *at(const Registers &live, TParamId id) { return live.data() + ParamMap[id].Register; }

private slots:
    void cleanup()
    {
        disconnectAdapter();
        // Every run ends cleanly: exit code 0, and under the sanitizers nothing leaked.
        if (sim && sim->started())
            QCOMPARE(sim->stop(SIGTERM), 0);
        sim.reset();
    }

    void everyParameterHoldsAPlausibleValue_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("id");
        QTest::addColumn<QVariant>("expected"); // QString: register text; double: register float; int: code
        const auto row = [](const char *name, TParamId id, const QVariant &expected, const QStringList &arguments = {}) {
            QTest::newRow(name) << arguments << int(id) << expected;
        };
        row("firmware version", prmInformationProgVer, QStringLiteral("v1.07 сборка 12"));
        row("device name", prmInformationDevName, QStringLiteral("Индикатор DI-4 sim"));
        row("self-diagnostics", prmSelfDiag, 0);
        row("EEPROM errors", prmEEPROMErr, 0);
        row("network address", prmPortNetAddr, 1);
        row("speed: 19200", prmPortSpeed, 4);
        row("stop bits: 1", prmPortStopBit, 0);
        row("parity: none", prmPortParity, 0);
        row("calibration bottom", prmClbrBottom, 4000);
        row("calibration top", prmClbrTop, 20000);
        row("dead space", prmModeDeadSpace, 0.5);
        row("set point", prmModeRangeSet, 80.0);
        row("bottom of range", prmModeBottomRange, 0.0);
        row("top of range", prmModeTopRange, 100.0);
        row("signal bottom", prmModeRElSignalBottomRange, 4.0);
        row("signal top", prmModeRElSignalTopRange, 20.0);
        row("decimal point: one decimal", prmModeDecimalPointPos, 1);
        row("brightness", prmModeBrightness, 1);
        row("unit", prmModeUnit, QStringLiteral("°C"));
        row("scale type", prmModeScaleType, 0);
        row("blink", prmModeBlink, 1);
        // The startup options show in the device's own settings.
        row("--slave 9", prmPortNetAddr, 9, {"--slave", "9"});
        row("--baud 115200", prmPortSpeed, 7, {"--baud", "115200"});
        row("--parity odd", prmPortParity, 2, {"--parity", "odd"});
        row("--stop-bits 2", prmPortStopBit, 1, {"--stop-bits", "2"});
        row("--self-diag 5", prmSelfDiag, 5, {"--self-diag", "5"});
        row("--eeprom-err 0x10", prmEEPROMErr, 16, {"--eeprom-err", "0x10"});
    }

    void everyParameterHoldsAPlausibleValue()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, id);
        QFETCH(QVariant, expected);
        startSim(arguments);
        // The simulator answers only a master at its own speed and parity.
        const qsizetype baudOption = arguments.indexOf(QStringLiteral("--baud"));
        const quint8 speedNumber =
            baudOption < 0 ? 4 : LineSettings::speedNumber(arguments.at(baudOption + 1).toUInt()).value_or(0);
        connectAdapter(speedNumber, {}, arguments.contains(QStringLiteral("odd")) ? 2 : 0);
        const qsizetype slaveOption = arguments.indexOf(QStringLiteral("--slave"));
        const Registers registers = read(TParamId(id), slaveOption < 0 ? 1 : quint8(arguments.at(slaveOption + 1).toInt()));
        switch (expected.typeId()) {
        case QMetaType::QString:
            QCOMPARE(RegisterCodec::textFrom(registers.data(), ParamMap[id].Bytes), expected.toString());
            break;
        case QMetaType::Double:
            QCOMPARE(RegisterCodec::floatFrom(registers.data()), expected.toFloat());
            break;
        default:
            QCOMPARE(int(registers[0]), expected.toInt());
        }
        // Nothing beyond the parameter's registers came back.
        QCOMPARE(registers[registerCount(TParamId(id))], quint16(0));
    }

    // A device at 38400 baud with odd parity, as a master at each setting hears it.
    void masterAtAnotherSettingHearsSilenceOrNoise_data()
    {
        QTest::addColumn<bool>("noise");
        QTest::addColumn<int>("speedNumber");
        QTest::addColumn<int>("parity");
        QTest::addColumn<QString>("heard");
        QTest::newRow("its own setting") << false << 5 << 2 << "answer";
        QTest::newRow("another speed") << false << 4 << 2 << "silence";
        QTest::newRow("no parity") << false << 5 << 0 << "silence";
        QTest::newRow("even parity") << false << 5 << 1 << "silence";
        QTest::newRow("its own setting, with noise on") << true << 5 << 2 << "answer";
        QTest::newRow("another speed, with noise on") << true << 7 << 2 << "noise";
        QTest::newRow("no parity, with noise on") << true << 5 << 0 << "noise";
    }

    void masterAtAnotherSettingHearsSilenceOrNoise()
    {
        QFETCH(bool, noise);
        QFETCH(int, speedNumber);
        QFETCH(int, parity);
        QFETCH(QString, heard);
        QStringList arguments{"--baud", "38400", "--parity", "odd"};
        if (noise)
            arguments << QStringLiteral("--mismatch-noise");
        startSim(arguments);
        connectAdapter(quint8(speedNumber), {}, quint8(parity));
        Registers registers{};
        const qint16 code = adapter->ReadRegisters(1, ParamMap[prmPortNetAddr].Register, 1, registers.data());
        if (heard == QLatin1String("answer"))
            QCOMPARE(code, qint16(lrOk));
        else if (heard == QLatin1String("silence"))
            QCOMPARE(code, qint16(lrNoAnswer));
        else
            QVERIFY2(code == lrBadCrc || code == lrIncomplete, qPrintable(QString::number(code)));

        // Back at the device's own setting, the master is answered again.
        disconnectAdapter();
        connectAdapter(5, {}, 2);
        QCOMPARE(int(read(prmPortNetAddr)[0]), 1);
    }

    void liveReadingFollowsTheInput()
    {
        startSim();
        connectAdapter();
        const Registers live = readLive();
        const float reading = RegisterCodec::floatFrom(at(live, prmDataCur));
        const float input = RegisterCodec::floatFrom(at(live, prmData2));
        const int counts = *at(live, prmClbrData);
        const QByteArray text = RegisterCodec::textBytesFrom(at(live, prmDataTxt), ParamMap[prmDataTxt].Bytes);

        // 4..20 mA calibrated at 4000 and 20000 counts, shown as 0..100 with one decimal.
        QVERIFY2(input >= 4.0f && input <= 20.0f, qPrintable(QString::number(input)));
        QVERIFY2(std::abs(counts - input * 1000) <= 1, qPrintable(QString::number(counts)));
        QVERIFY2(std::abs(reading - (input - 4) / 16 * 100) <= 0.05f + 1e-4f, qPrintable(QString::number(reading)));
        QCOMPARE(text, QByteArray::number(reading, 'f', 1).rightJustified(6, ' '));

        // The input moves, and the display with it.
        QTRY_VERIFY_WITH_TIMEOUT(RegisterCodec::textBytesFrom(at(readLive(), prmDataTxt), 6) != text, 5000);
    }

    void displayFollowsRangeAndDecimalPoint_data()
    {
        QTest::addColumn<int>("decimals");
        QTest::addColumn<float>("bottom");
        QTest::addColumn<float>("top");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("no decimals, 0..1000") << 0 << 0.0f << 1000.0f << R"(^ *\d{1,4}$)";
        QTest::newRow("two decimals, -50..50") << 2 << -50.0f << 50.0f << R"(^ *-?\d{1,2}\.\d\d$)";
        QTest::newRow("five digits do not fit") << 0 << 20000.0f << 30000.0f << R"(^  ----$)";
    }

    void displayFollowsRangeAndDecimalPoint()
    {
        QFETCH(int, decimals);
        QFETCH(float, bottom);
        QFETCH(float, top);
        QFETCH(QString, pattern);
        startSim();
        connectAdapter();
        QCOMPARE(write(prmModeDecimalPointPos, {quint16(decimals)}), lrOk);
        QCOMPARE(write(prmModeBottomRange, floatRegisters(bottom)), lrOk);
        QCOMPARE(write(prmModeTopRange, floatRegisters(top)), lrOk);

        const Registers live = readLive();
        const QString text = QString::fromLatin1(RegisterCodec::textBytesFrom(at(live, prmDataTxt), 6));
        const float reading = RegisterCodec::floatFrom(at(live, prmDataCur));
        QVERIFY2(QRegularExpression(pattern).match(text).hasMatch(), qPrintable(text));
        QVERIFY2(reading >= bottom && reading <= top, qPrintable(QString::number(reading)));
        if (!text.endsWith(QLatin1String("----")))
            QVERIFY(std::abs(text.toDouble() - reading) < 0.5 * std::pow(10.0, -decimals));
    }

    void displayTextOfAFourDigitIndicator_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("-12.34") << -12.34 << 2 << QByteArray("-12.34");
        QTest::newRow("80.0") << 80.0 << 1 << QByteArray("  80.0");
        QTest::newRow("leading zero") << 0.05 << 2 << QByteArray("  0.05");
        QTest::newRow("no minus on a zero") << -0.004 << 2 << QByteArray("  0.00");
        QTest::newRow("rounded") << 1.2346 << 3 << QByteArray(" 1.235");
        QTest::newRow("four digits") << 9999.4 << 0 << QByteArray("  9999");
        QTest::newRow("rounds to a fifth digit") << 9999.5 << 0 << QByteArray("  ----");
        QTest::newRow("negative, four digits") << -999.94 << 1 << QByteArray("-999.9");
        QTest::newRow("negative, fifth digit") << -999.96 << 1 << QByteArray("  ----");
        QTest::newRow("too large for three decimals") << 10.0 << 3 << QByteArray("  ----");
        QTest::newRow("no value") << std::nan("") << 1 << QByteArray("  ----");
    }

    void displayTextOfAFourDigitIndicator()
    {
        QFETCH(double, value);
        QFETCH(int, decimals);
        QFETCH(QByteArray, text);
        QCOMPARE(SimDevice::displayText(value, decimals), text);
    }

    void writableParametersReadBack_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QList<quint16>>("values");
        QTest::newRow("network address") << int(prmPortNetAddr) << QList<quint16>{5};
        QTest::newRow("speed") << int(prmPortSpeed) << QList<quint16>{3};
        QTest::newRow("stop bits") << int(prmPortStopBit) << QList<quint16>{1};
        QTest::newRow("parity") << int(prmPortParity) << QList<quint16>{2};
        QTest::newRow("calibration bottom") << int(prmClbrBottom) << QList<quint16>{0x1234};
        QTest::newRow("calibration top") << int(prmClbrTop) << QList<quint16>{0xFEDC};
        QTest::newRow("dead space 1.5") << int(prmModeDeadSpace) << QList<quint16>{0x0000, 0x3FC0};
        QTest::newRow("set point 4.2") << int(prmModeRangeSet) << QList<quint16>{0x6666, 0x4086};
        QTest::newRow("bottom of range") << int(prmModeBottomRange) << floatRegisters(-50.0f);
        QTest::newRow("top of range") << int(prmModeTopRange) << floatRegisters(9999.0f);
        QTest::newRow("signal bottom") << int(prmModeRElSignalBottomRange) << floatRegisters(0.0f);
        QTest::newRow("signal top") << int(prmModeRElSignalTopRange) << floatRegisters(10.0f);
        QTest::newRow("decimal point") << int(prmModeDecimalPointPos) << QList<quint16>{3};
        QTest::newRow("brightness") << int(prmModeBrightness) << QList<quint16>{2};
        QTest::newRow("unit mA and blanks") << int(prmModeUnit) << QList<quint16>{0x416D, 0x2020, 0x2020};
        QTest::newRow("scale type") << int(prmModeScaleType) << QList<quint16>{3};
        QTest::newRow("blink off") << int(prmModeBlink) << QList<quint16>{0};
        QTest::newRow("name ABC") << int(prmInformationDevName) << textRegisters("ABC", prmInformationDevName);
        QTest::newRow("name of 20 letters")
            << int(prmInformationDevName) << textRegisters(QStringLiteral("Прибор номер 12 ABCD"), prmInformationDevName);
    }

    void writableParametersReadBack()
    {
        QFETCH(int, id);
        QFETCH(QList<quint16>, values);
        startSim();
        connectAdapter();
        QCOMPARE(write(TParamId(id), values), lrOk);
        const Registers registers = read(TParamId(id));
        QCOMPARE(QList<quint16>(registers.begin(), registers.begin() + values.size()), values);
    }

    void refusedRequests_data()
    {
        QTest::addColumn<bool>("isWrite");
        QTest::addColumn<int>("first");
        QTest::addColumn<QList<quint16>>("values"); // for a read, as many as it asks for
        QTest::addColumn<int>("exception");

        const int address = SimDevice::kIllegalDataAddress;
        const QList<quint16> one{0};
        const QList<quint16> two{0, 0};
        QTest::newRow("read after the display text") << false << 0x000A << one << address;
        QTest::newRow("read of 11 version registers") << false << 0x0100 << QList<quint16>(11) << address;
        QTest::newRow("read before the device settings") << false << 0x07FF << one << address;
        QTest::newRow("read after the blink flag") << false << 0x0A13 << one << address;
        QTest::newRow("read after the device name") << false << 0x0B0A << one << address;
        QTest::newRow("read of 0xFFFF") << false << 0xFFFF << one << address;

        QTest::newRow("write of the numeric reading") << true << 0x0000 << two << address;
        QTest::newRow("write of the calibration value") << true << 0x0004 << one << address;
        QTest::newRow("write of the display text") << true << 0x0007 << QList<quint16>(3) << address;
        QTest::newRow("write of the firmware version") << true << 0x0100 << QList<quint16>(10) << address;
        QTest::newRow("write across the end of the mode") << true << 0x0A12 << two << address;

        const int value = SimDevice::kIllegalDataValue;
        QTest::newRow("network address 0") << true << 0x0800 << one << value;
        QTest::newRow("speed code 8") << true << 0x0801 << QList<quint16>{8} << value;
        QTest::newRow("parity code 3") << true << 0x0803 << QList<quint16>{3} << value;
        QTest::newRow("decimal point 4") << true << 0x0A0C << QList<quint16>{4} << value;
        QTest::newRow("scale type 4") << true << 0x0A11 << QList<quint16>{4} << value;
        QTest::newRow("dead space NaN") << true << 0x0A00 << QList<quint16>{0x0000, 0x7FC0} << value;
        // The high half alone, on the stored low half 0x0000: +infinity.
        QTest::newRow("half a float that makes infinity") << true << 0x0A05 << QList<quint16>{0x7F80} << value;
    }

    void refusedRequests()
    {
        QFETCH(bool, isWrite);
        QFETCH(int, first);
        QFETCH(QList<quint16>, values);
        QFETCH(int, exception);
        startSim();
        const quint16 count = quint16(values.size());

        {
            RawLine line(sim->devicePath());
            const QByteArray request = isWrite ? Frames::writeRequest(1, quint16(first), values)
                                               : Frames::readRequest(1, quint16(first), count);
            // Slave, function with its exception flag, exception code, CRC.
            QByteArray expected = request.left(2);
            expected[1] = char(expected[1] | Rtu::exceptionFlag);
            expected = Frames::withCrc(expected + char(exception));
            QCOMPARE(line.exchange(request, int(expected.size())).toHex(), expected.toHex());
        }

        connectAdapter();
        const bool valueRefused = exception == SimDevice::kIllegalDataValue;
        Registers before{};
        if (valueRefused)
            QCOMPARE(adapter->ReadRegisters(1, quint16(first), count, before.data()), lrOk);
        Registers registers{};
        QCOMPARE(isWrite ? adapter->WriteRegisters(1, quint16(first), count, values.data())
                         : adapter->ReadRegisters(1, quint16(first), count, registers.data()),
                 lrDeviceError);
        if (valueRefused) {
            QCOMPARE(adapter->ReadRegisters(1, quint16(first), count, registers.data()), lrOk);
            QVERIFY(registers == before);
        }
    }

    void faultsOnDemand_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QList<int>>("slaves"); // one read each
        QTest::addColumn<QList<int>>("results");
        QTest::newRow("silent") << QStringList{"--silent"} << QList<int>{1} << QList<int>{lrNoAnswer};
        QTest::newRow("wrong CRC on every reply")
            << QStringList{"--corrupt-every", "1"} << QList<int>{1, 1} << QList<int>{lrBadCrc, lrBadCrc};
        QTest::newRow("wrong CRC on every third reply")
            << QStringList{"--corrupt-every", "3"} << QList<int>{1, 1, 1, 1} << QList<int>{lrOk, lrOk, lrBadCrc, lrOk};
        QTest::newRow("exception on every second reply")
            << QStringList{"--exception-every", "2"} << QList<int>{1, 1, 1} << QList<int>{lrOk, lrDeviceError, lrOk};
        // After a request to another slave, the next request to this one is still answered.
        QTest::newRow("--slave 7 answers 7 alone")
            << QStringList{"--slave", "7"} << QList<int>{1, 7, 2, 7, 7} << QList<int>{lrNoAnswer, lrOk, lrNoAnswer, lrOk, lrOk};
        QTest::newRow("broadcast is never answered") << QStringList{} << QList<int>{0, 1} << QList<int>{lrNoAnswer, lrOk};
    }

    void faultsOnDemand()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QList<int>, slaves);
        QFETCH(QList<int>, results);
        startSim(arguments);
        connectAdapter();
        for (int i = 0; i < slaves.size(); ++i) {
            Registers registers{};
            QCOMPARE(int(adapter->ReadRegisters(quint8(slaves[i]), ParamMap[prmModeBrightness].Register, 1,
                                                registers.data())),
                     results[i]);
        }
    }

    void broadcastWriteIsCarriedOutUnanswered()
    {
        startSim();
        connectAdapter();
        QCOMPARE(write(prmModeBrightness, {2}, 0), lrNoAnswer);
        QCOMPARE(int(read(prmModeBrightness)[0]), 2);
    }

    // Each address of a list is a device of its own, with its own registers and its address
    // in them; a frame to any of them is checked as strictly as one to the first.
    void eachAddressIsADeviceOfItsOwn()
    {
        startSim({"--slave", "2-3"});
        connectAdapter();
        QCOMPARE(write(prmModeBrightness, {2}, 3), lrOk);
        QCOMPARE(int(read(prmModeBrightness, 2)[0]), 1);
        QCOMPARE(int(read(prmModeBrightness, 3)[0]), 2);
        QCOMPARE(int(read(prmPortNetAddr, 2)[0]), 2);
        QCOMPARE(int(read(prmPortNetAddr, 3)[0]), 3);
        Registers registers{};
        QCOMPARE(adapter->ReadRegisters(1, ParamMap[prmPortNetAddr].Register, 1, registers.data()), lrNoAnswer);
        QCOMPARE(write(prmModeBrightness, {0}, 0), lrNoAnswer); // a broadcast reaches both
        QCOMPARE(int(read(prmModeBrightness, 2)[0]), 0);
        QCOMPARE(int(read(prmModeBrightness, 3)[0]), 0);
        disconnectAdapter();

        // The last request went to 3: one to 2 with its CRC spoilt gets no reply.
        const QByteArray valid = Frames::readRequest(2, ParamMap[prmModeBrightness].Register, 1);
        const QByteArray answer = Frames::readReply(2, {0});
        RawLine line(sim->devicePath());
        QCOMPARE(line.exchange(valid.chopped(1) + char(~valid.back()), 1, 300), QByteArray());
        QTest::qWait(kFrameSilenceMs);
        QCOMPARE(line.exchange(valid, int(answer.size())).toHex(), answer.toHex());
    }

    void deviceSettingsWaitForARestart()
    {
        startSim();
        connectAdapter();
        QCOMPARE(write(prmPortNetAddr, {5}), lrOk);
        QCOMPARE(write(prmPortSpeed, {0}), lrOk);
        QCOMPARE(int(read(prmPortNetAddr)[0]), 5);
        Registers registers{};
        QCOMPARE(adapter->ReadRegisters(5, ParamMap[prmPortNetAddr].Register, 1, registers.data()), lrNoAnswer);
        QCOMPARE(int(read(prmPortSpeed)[0]), 0);
    }

    void delayIsATurnaround()
    {
        startSim({"--delay", "150"});
        connectAdapter();
        // A write waits 500 ms for its reply, a read 100 ms.
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(write(prmModeBlink, {0}), lrOk);
        QVERIFY2(elapsed.elapsed() >= 150, qPrintable(QString::number(elapsed.elapsed())));
        Registers registers{};
        QCOMPARE(adapter->ReadRegisters(1, ParamMap[prmModeBlink].Register, 1, registers.data()), lrNoAnswer);
    }

    void wireTimingAt1200Baud()
    {
        startSim({"--wire-timing", "--baud", "1200"});
        connectAdapter(0);
        // 11 bits a character at 1200 baud: 9.17 ms. A 10-register read is an 8-byte request
        // and a 25-byte reply, 302 ms; the write is 29 bytes out and 8 back, 339 ms.
        const QList<quint16> name = textRegisters(QStringLiteral("Линия 1200"), prmInformationDevName);
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(write(prmInformationDevName, name), lrOk);
        QVERIFY2(elapsed.elapsed() >= 330, qPrintable(QString::number(elapsed.elapsed())));
        elapsed.restart();
        const Registers registers = read(prmInformationDevName);
        QVERIFY2(elapsed.elapsed() >= 295, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(RegisterCodec::textFrom(registers.data(), ParamMap[prmInformationDevName].Bytes),
                 QStringLiteral("Линия 1200"));
    }

    void noiseOnTheLineIsSurvived()
    {
        startSim();
        const QByteArray valid = Frames::readRequest(1, ParamMap[prmModeBrightness].Register, 1);
        const QByteArray answer = Frames::readReply(1, {1});
        const QByteArray write = Frames::writeRequest(1, ParamMap[prmModeUnit].Register, {1, 2, 3});
        QRandomGenerator random(20261208);
        RawLine line(sim->devicePath());
        for (int round = 0; round < 12; ++round) {
            QByteArray noise;
            for (int i = 0, n = random.bounded(1, 300); i < n; ++i)
                noise.append(char(random.bounded(256)));
            switch (round % 4) {
            case 0: // a request cut short, then nothing
                noise = valid.left(random.bounded(1, int(valid.size())));
                break;
            case 1: // a write whose byte count runs past the longest frame
                noise = write.left(6) + char(0xFE) + noise;
                break;
            case 2: // a request with its CRC spoilt, then random bytes
                noise = valid.chopped(1) + char(~valid.back()) + noise;
                break;
            default: // random bytes alone
                break;
            }
            line.write(noise);
            QTest::qWait(kFrameSilenceMs);
            QCOMPARE(line.exchange(valid, int(answer.size())).toHex(), answer.toHex());
        }
    }

    void requestInsideABurstIsNotAnswered()
    {
        // One burst is one frame: a request that follows a broken header without a pause is
        // part of the broken frame, as a device on a real line would take it.
        startSim();
        const QByteArray valid = Frames::readRequest(1, ParamMap[prmModeBrightness].Register, 1);
        const QByteArray answer = Frames::readReply(1, {1});
        const QByteArray brokenHeader = Frames::hex("01100b000001fe");
        RawLine line(sim->devicePath());
        QCOMPARE(line.exchange(brokenHeader + valid, 1, 300), QByteArray());
        QTest::qWait(kFrameSilenceMs);
        QCOMPARE(line.exchange(valid, int(answer.size())).toHex(), answer.toHex());
    }

    void masterMayCloseAndReopen()
    {
        startSim();
        for (int round = 0; round < 3; ++round) {
            connectAdapter();
            QCOMPARE(int(read(prmModeBrightness)[0]), 1);
            disconnectAdapter();
        }
        // With no master on the line the simulator waits, without spinning.
        const double before = cpuSecondsOf(sim->processId());
        QTest::qWait(500);
        const double used = cpuSecondsOf(sim->processId()) - before;
        QVERIFY2(used < 0.1, qPrintable(QString::number(used)));
        connectAdapter();
        QCOMPARE(int(read(prmModeBrightness)[0]), 1);
    }

    // The tap hears the line as a listener on the pair does: the master's request, then the
    // reply, and a request that no unit here answers as well.
    void tapHearsRequestThenReply_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<bool>("answered");
        QTest::newRow("unit 1") << 1 << true;
        QTest::newRow("unit 2") << 2 << true;
        QTest::newRow("unit 3") << 3 << true;
        QTest::newRow("absent unit 4") << 4 << false;
    }

    void tapHearsRequestThenReply()
    {
        QFETCH(int, address);
        QFETCH(bool, answered);
        QTemporaryDir dir;
        const QString tapPath = dir.filePath(QStringLiteral("tap"));
        startSim({"--slave", "1-3", "--tap", tapPath});
        TapListener tap(tapPath);
        QVERIFY(tap.isOpen());
        RawLine line(sim->devicePath());
        const QByteArray request = Frames::readRequest(quint8(address), ParamMap[prmPortNetAddr].Register, 1);
        const QByteArray reply = answered ? Frames::readReply(quint8(address), {quint16(address)}) : QByteArray();
        QCOMPARE(line.exchange(request, int(qMax(1, int(reply.size()))), answered ? 1000 : 300).toHex(), reply.toHex());
        QCOMPARE(tap.waitFor(request.size() + reply.size(), 1000).toHex(), (request + reply).toHex());
        QCOMPARE(sim->stop(SIGTERM), 0);
        QVERIFY(!QFileInfo(tapPath).isSymLink());
    }

    // Cut anywhere, frames included, and nothing lost, added or moved.
    void tapInRandomPiecesCarriesTheSameBytes()
    {
        QTemporaryDir dir;
        const QString tapPath = dir.filePath(QStringLiteral("tap"));
        startSim({"--tap", tapPath, "--tap-pieces", "20261209"});
        TapListener tap(tapPath);
        QVERIFY(tap.isOpen());
        RawLine line(sim->devicePath());
        const QByteArray request = Frames::readRequest(1, kModeFirst, kModeCount);
        QByteArray expected;
        QList<qsizetype> frameEnds;
        for (int exchange = 0; exchange < 10; ++exchange) {
            const QByteArray reply = line.exchange(request, kModeReplySize);
            QCOMPARE(reply.size(), kModeReplySize);
            expected += request;
            frameEnds << expected.size();
            expected += reply;
            frameEnds << expected.size();
            // Read as the pieces come, as a listener does: read late, they run together.
            QCOMPARE(tap.waitFor(expected.size(), 2000).toHex(), expected.toHex());
        }
        qsizetype end = 0;
        int cutInsideAFrame = 0;
        for (const QByteArray &piece : tap.pieces())
            cutInsideAFrame += !frameEnds.contains(end += piece.size());
        QVERIFY2(cutInsideAFrame > 0, qPrintable(QStringLiteral("%1 pieces").arg(tap.pieces().size())));
    }

    // No one on the tap, or a listener that never reads: the line goes on answering, and a
    // listener who comes later hears the line from then on, not what the one before left.
    void tapNeverHoldsUpTheLine_data()
    {
        QTest::addColumn<bool>("idleListener");
        QTest::newRow("no one listens") << false;
        QTest::newRow("a listener that never reads") << true;
    }

    void tapNeverHoldsUpTheLine()
    {
        QFETCH(bool, idleListener);
        QTemporaryDir dir;
        const QString tapPath = dir.filePath(QStringLiteral("tap"));
        startSim({"--tap", tapPath});
        auto idle = idleListener ? std::make_unique<TapListener>(tapPath) : nullptr;
        RawLine line(sim->devicePath());
        const QByteArray request = Frames::readRequest(1, kModeFirst, kModeCount);
        // 800 exchanges of 51 bytes: 40 KB, twice what a pseudo-terminal holds unread.
        int answered = 0;
        for (int exchange = 0; exchange < 800; ++exchange)
            answered += line.exchange(request, kModeReplySize).size() == kModeReplySize;
        QCOMPARE(answered, 800);

        idle.reset();
        // The simulator sees the listener gone before it carries this request.
        const QByteArray reply = line.exchange(request, kModeReplySize);
        QCOMPARE(reply.size(), kModeReplySize);
        TapListener later(tapPath);
        QVERIFY(later.isOpen());
        QCOMPARE(line.exchange(request, kModeReplySize).toHex(), reply.toHex());
        QCOMPARE(later.waitFor(request.size() + reply.size(), 1000).toHex(), (request + reply).toHex());
    }

    // indicator-sim --modbus-tcp is a gateway with units 3 and 5 behind it: they answer in
    // Modbus TCP frames, each with the request's transaction; an identifier with no unit gets
    // 0x0B once the gateway has waited its 500 ms for it, or 0x0A at once with
    // --gateway-no-path, and the master's wait for the gateway hears either. The bounds leave
    // room for a loaded machine.
    void gatewayAnswersForTheUnitsBehindIt_data()
    {
        QTest::addColumn<bool>("noPath");
        QTest::addColumn<int>("absent");
        QTest::addColumn<int>("atLeastMs");
        QTest::addColumn<int>("belowMs");
        QTest::newRow("no unit: 0x0B after the gateway's wait") << false << int(lrGatewayNoAnswer) << 450 << 1200;
        QTest::newRow("no unit, no path: 0x0A at once") << true << int(lrGatewayNoPath) << 0 << 400;
    }

    void gatewayAnswersForTheUnitsBehindIt()
    {
        QFETCH(bool, noPath);
        QFETCH(int, absent);
        QFETCH(int, atLeastMs);
        QFETCH(int, belowMs);
        startSim(QStringList{"--modbus-tcp", "0", "--slave", "3,5"}
                 + (noPath ? QStringList{"--gateway-no-path"} : QStringList{}));
        QVERIFY(sim->devicePath().startsWith(QLatin1String("modbus-tcp://127.0.0.1:")));
        connectAdapter();
        QList<ExchangeRecord> records;
        adapter->setObserver([&records](const ExchangeRecord &record) { records << record; });

        QCOMPARE(int(read(prmPortNetAddr, 5)[0]), 5);
        QCOMPARE(records.last().request.toHex(), QByteArray("000100000006050308000001"));
        QCOMPARE(records.last().reply.toHex(), QByteArray("00010000000505030200" "05"));
        QCOMPARE(write(prmModeBrightness, {2}, 3), qint16(lrOk));
        QCOMPARE(int(read(prmModeBrightness, 3)[0]), 2);
        QCOMPARE(int(read(prmModeBrightness, 5)[0]), 1);

        Registers registers{};
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(adapter->ReadRegisters(4, ParamMap[prmPortNetAddr].Register, 1, registers.data()), qint16(absent));
        const qint64 ms = elapsed.elapsed();
        QVERIFY2(ms >= atLeastMs && ms < belowMs, qPrintable(QString::number(ms)));
        QCOMPARE(int(read(prmPortNetAddr, 3)[0]), 3);
    }

    void badOptionsGiveUsageAndCode2_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown option") << QStringList{"--colour"};
        QTest::newRow("option without its value") << QStringList{"--slave"};
        QTest::newRow("slave 0") << QStringList{"--slave", "0"};
        QTest::newRow("slave abc") << QStringList{"--slave", "abc"};
        QTest::newRow("slaves backwards") << QStringList{"--slave", "5-3"};
        QTest::newRow("slaves beyond 247") << QStringList{"--slave", "240-248"};
        QTest::newRow("slaves with a gap") << QStringList{"--slave", "1,,2"};
        QTest::newRow("baud 1234") << QStringList{"--baud", "1234"};
        QTest::newRow("parity mark") << QStringList{"--parity", "mark"};
        QTest::newRow("corrupt every 0") << QStringList{"--corrupt-every", "0"};
        QTest::newRow("delay -1") << QStringList{"--delay", "-1"};
        QTest::newRow("link with a device") << QStringList{"--link", "/tmp/x", "--device", "/dev/ttyS0"};
        QTest::newRow("tcp port 65536") << QStringList{"--tcp", "65536"};
        QTest::newRow("tcp with a device") << QStringList{"--tcp", "0", "--device", "/dev/ttyS0"};
        QTest::newRow("tap over tcp") << QStringList{"--tcp", "0", "--tap", "/tmp/x"};
        QTest::newRow("tap pieces without a tap") << QStringList{"--tap-pieces", "1"};
        QTest::newRow("tap pieces -1") << QStringList{"--tap", "/tmp/x", "--tap-pieces", "-1"};
        QTest::newRow("gateway and tcp") << QStringList{"--modbus-tcp", "0", "--tcp", "0"};
        QTest::newRow("gateway with a tap") << QStringList{"--modbus-tcp", "0", "--tap", "/tmp/x"};
        QTest::newRow("gateway with a wrong CRC") << QStringList{"--modbus-tcp", "0", "--corrupt-every", "3"};
        QTest::newRow("no path without a gateway") << QStringList{"--gateway-no-path"};
    }

    void badOptionsGiveUsageAndCode2()
    {
        QFETCH(QStringList, arguments);
        QProcess process;
        process.start(SimProcess::program(), arguments);
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardOutput().isEmpty());
        const QByteArray message = process.readAllStandardError();
        QVERIFY2(message.startsWith("indicator-sim: "), message.constData());
        QVERIFY(message.contains("Usage: indicator-sim"));
    }

    void signalsEndItAndRemoveTheLink_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }

    void signalsEndItAndRemoveTheLink()
    {
        QFETCH(int, signal);
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("indicator"));
        startSim({"--link", link});
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim->devicePath());
        connectAdapter(4, link);
        QCOMPARE(int(read(prmModeBrightness)[0]), 1);
        disconnectAdapter();
        QCOMPARE(sim->stop(signal), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void linkReplacesAStaleLinkButNoFile()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("indicator"));
        QVERIFY(QFile::link(QStringLiteral("/dev/no-such-device"), link));
        startSim({"--link", link});
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim->devicePath());
        QCOMPARE(sim->stop(SIGTERM), 0);

        QFile file(link);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep");
        file.close();
        sim = std::make_unique<SimProcess>(QStringList{"--link", link});
        QVERIFY(!sim->started());
        QCOMPARE(sim->stop(SIGTERM), 1);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep"));
        sim.reset();
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
