// CAdapter against a scripted device on a real pseudo-terminal: the bytes on the line, the
// result of every kind of reply, and the time each exchange takes.
#include "adapter.h"
#include "resultcodes.h"
#include "support/frames.h"
#include "support/ptypeer.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

#include <sys/resource.h>
#include <termios.h>

#include <array>

using Reply = PtyPeer::Reply;

namespace {

using Frames::hex;
using Frames::withBadCrc;
using Frames::withCrc;

// The same reply, delivered in one write or byte by byte.
Reply split(const QByteArray &bytes, int gapMs = 1)
{
    Reply reply;
    for (char byte : bytes)
        reply.append({gapMs, QByteArray(1, byte)});
    return reply;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

using Registers = std::array<quint16, 100>;
constexpr quint16 kUntouched = 0xBEEF;

Registers untouchedRegisters()
{
    Registers registers;
    registers.fill(kUntouched);
    return registers;
}

} // namespace

class TestAdapter : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PtyPeer> peer;
    std::unique_ptr<CAdapter> adapter;

    void connectAdapter(quint8 speedNumber = 4)
    {
        adapter = std::make_unique<CAdapter>();
        adapter->PortName = peer->devicePath();
        adapter->SpeedNumber = speedNumber;
        QCOMPARE(adapter->Open(), 0);
        adapter->Connected = true;
    }

private slots:
    void init()
    {
        peer = std::make_unique<PtyPeer>();
        connectAdapter();
    }

    void cleanup()
    {
        if (adapter)
            adapter->Close();
        adapter.reset();
        peer.reset();
    }

    void constructionValues()
    {
        const CAdapter fresh;
        QCOMPARE(fresh.PortNumber, quint8(1));
        QCOMPARE(fresh.SpeedNumber, quint8(4));
        QCOMPARE(fresh.TimeOut, quint16(400));
        QCOMPARE(fresh.Parity, quint8(4));
        QCOMPARE(fresh.StopBits, quint8(0));
        QVERIFY(!fresh.Connected);
        QVERIFY(fresh.PortName.isEmpty());
    }

    void portNumberNamesTheDevice_data()
    {
        QTest::addColumn<int>("portNumber");
        QTest::addColumn<QString>("device");
        QTest::newRow("COM1") << 0 << "/dev/ttyS0";
        QTest::newRow("COM8") << 7 << "/dev/ttyS7";
        QTest::newRow("COM256") << 255 << "/dev/ttyS255";
    }

    void portNumberNamesTheDevice()
    {
        QFETCH(int, portNumber);
        QFETCH(QString, device);
        QCOMPARE(CAdapter::PlatformPortName(quint8(portNumber)), device);
    }

    void requestsAreByteExact()
    {
        Registers registers{};
        QCOMPARE(adapter->ReadRegisters(1, 0x0A00, 2, registers.data()), lrNoAnswer);
        registers[0] = 0x0102;
        peer->queueReply(withCrc(hex("011008000001")));
        QCOMPARE(adapter->WriteRegisters(1, 0x0800, 1, registers.data()), lrOk);

        QVERIFY(peer->waitForRequests(2, 1000));
        QCOMPARE(peer->requests().at(0), hex("01030a000002c7d3"));
        QCOMPARE(peer->requests().at(1), hex("011008000001020102afc1"));
        QCOMPARE(peer->requests().at(1).size(), 11);
    }

    void readReplies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("result");
        QTest::addColumn<QList<quint16>>("expected"); // first slots after the call

        const QList<quint16> untouched{kUntouched, kUntouched};
        QTest::newRow("float 1.0") << withCrc(hex("01030400003f80")) << int(lrOk)
                                   << QList<quint16>{0x0000, 0x3F80, kUntouched};
        QTest::newRow("byte count 0") << withCrc(hex("010300")) << int(lrOk) << untouched;
        QTest::newRow("byte count 3: odd byte ignored")
            << withCrc(hex("010303123456")) << int(lrOk) << QList<quint16>{0x1234, kUntouched};
        QTest::newRow("more registers than asked: all copied")
            << withCrc(hex("010306000100020003")) << int(lrOk)
            << QList<quint16>{0x0001, 0x0002, 0x0003, kUntouched};
        QTest::newRow("other slave and function accepted")
            << withCrc(hex("07040200aa")) << int(lrOk) << QList<quint16>{0x00AA, kUntouched};
        QTest::newRow("last byte altered") << withBadCrc(hex("01030400003f80")) << int(lrBadCrc) << untouched;
        QTest::newRow("exception") << withCrc(hex("018302")) << int(lrDeviceError) << untouched;
        QTest::newRow("exception, bad crc") << withBadCrc(hex("018302")) << int(lrBadCrc) << untouched;
        QTest::newRow("exception without its crc") << hex("018302") << int(lrIncomplete) << untouched;
        QTest::newRow("byte count 0xFF") << withCrc(hex("0103ff") + QByteArray(255, '\x11'))
                                         << int(lrIncomplete) << untouched;
        QTest::newRow("byte count 96, one past the buffer")
            << withCrc(hex("010360") + QByteArray(96, '\x22')) << int(lrIncomplete) << untouched;
        QTest::newRow("byte count 94 fits")
            << withCrc(hex("01035e") + QByteArray(94, '\x22')) << int(lrOk)
            << QList<quint16>(47, 0x2222) + QList<quint16>{kUntouched};
        QTest::newRow("header, then silence") << hex("010304") << int(lrIncomplete) << untouched;
        QTest::newRow("half the data, then silence") << hex("01030400003f") << int(lrIncomplete) << untouched;
        QTest::newRow("two bytes, then silence") << hex("0103") << int(lrNoAnswer) << untouched;
        QTest::newRow("silence") << QByteArray() << int(lrNoAnswer) << untouched;
        QTest::newRow("trailing bytes after a valid frame")
            << withCrc(hex("0103020102")) + hex("deadbeef") << int(lrOk) << QList<quint16>{0x0102, kUntouched};
        QTest::newRow("leading garbage") << hex("00") + withCrc(hex("0103020102")) << int(lrBadCrc) << untouched;
    }

    void readReplies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, result);
        QFETCH(QList<quint16>, expected);

        for (const bool byteByByte : {false, true}) {
            if (!reply.isEmpty())
                peer->queueReply(byteByByte ? split(reply) : Reply{{0, reply}});
            Registers registers = untouchedRegisters();
            QCOMPARE(adapter->ReadRegisters(1, 0x0A00, 2, registers.data()), result);
            for (int k = 0; k < expected.size(); ++k)
                QCOMPARE(registers[k], expected[k]);
            QVERIFY(peer->settle(2000));
        }
    }

    void writeReplies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("result");

        QTest::newRow("echo") << withCrc(hex("011008000001")) << int(lrOk);
        QTest::newRow("echo of something else") << withCrc(hex("091009990002")) << int(lrOk);
        QTest::newRow("bad crc") << withBadCrc(hex("011008000001")) << int(lrBadCrc);
        QTest::newRow("exception") << withCrc(hex("019002")) << int(lrDeviceError);
        QTest::newRow("exception, bad crc") << withBadCrc(hex("019002")) << int(lrBadCrc);
        QTest::newRow("six bytes, then silence") << hex("011008000001") << int(lrIncomplete);
        QTest::newRow("five plain bytes, then silence") << hex("0110080000") << int(lrNoAnswer);
        QTest::newRow("silence") << QByteArray() << int(lrNoAnswer);
    }

    void writeReplies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, result);

        const std::array<quint16, 1> value{0x0102};
        for (const bool byteByByte : {false, true}) {
            if (!reply.isEmpty())
                peer->queueReply(byteByByte ? split(reply) : Reply{{0, reply}});
            QCOMPARE(adapter->WriteRegisters(1, 0x0800, 1, value.data()), result);
            QVERIFY(peer->settle(2000));
        }
    }

    void exceptionReplyEndsAtItsFifthByte()
    {
        // The write's first stage asks for 6 bytes; waiting for a sixth would cost the whole
        // 500 ms budget. 400 ms leaves a loaded machine room and still tells the two apart.
        const std::array<quint16, 1> value{0};
        peer->queueReply(withCrc(hex("019002")));
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(adapter->WriteRegisters(1, 0x0800, 1, value.data()), lrDeviceError);
        QVERIFY2(elapsed.elapsed() < 400, qPrintable(QString::number(elapsed.elapsed())));
    }

    void gapsBetweenBytes_data()
    {
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<int>("result");
        QTest::newRow("20 ms passes") << 20 << int(lrOk);
        QTest::newRow("80 ms fails") << 80 << int(lrIncomplete);
    }

    void gapsBetweenBytes()
    {
        QFETCH(int, gapMs);
        QFETCH(int, result);
        // Header and half the data at once, then one pause inside the reply.
        const QByteArray reply = withCrc(hex("01030400003f80"));
        peer->queueReply(Reply{{0, reply.left(5)}, {gapMs, reply.mid(5)}});
        Registers registers{};
        QCOMPARE(adapter->ReadRegisters(1, 0x0A00, 2, registers.data()), result);
    }

    void notConnectedSendsNothing()
    {
        adapter->Connected = false;
        Registers registers = untouchedRegisters();
        QCOMPARE(adapter->ReadRegisters(1, 0x0A00, 2, registers.data()), lrNotConnected);
        QCOMPARE(adapter->WriteRegisters(1, 0x0800, 1, registers.data()), lrNotConnected);
        QCOMPARE(registers[0], kUntouched);

        CAdapter neverOpened;
        QCOMPARE(neverOpened.ReadRegisters(1, 0, 1, registers.data()), lrNotConnected);
        QCOMPARE(neverOpened.WriteRegisters(1, 0, 1, registers.data()), lrNotConnected);

        QVERIFY(!peer->waitForRequests(1, 200));
    }

    void oversizedWriteIsRefused()
    {
        Registers registers{};
        QCOMPARE(adapter->WriteRegisters(1, 0, 46, registers.data()), lrBadParameters);
        QVERIFY(!peer->waitForRequests(1, 200));

        peer->queueReply(withCrc(hex("01100000002d")));
        QCOMPARE(adapter->WriteRegisters(1, 0, 45, registers.data()), lrOk);
        QVERIFY(peer->waitForRequests(1, 1000));
        QCOMPARE(peer->requests().at(0).size(), 99);
    }

    void silenceCostsTheTimeOut_data()
    {
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("readTimeoutMs");
        QTest::addColumn<int>("atLeastMs");
        QTest::addColumn<int>("belowMs");
        // 100 ms or 500 ms plus 1 ms per expected byte at 19200 baud; generous above for a busy machine.
        QTest::newRow("read") << false << CAdapter::DefaultReadTimeoutMs << 95 << 400;
        QTest::newRow("write") << true << CAdapter::DefaultReadTimeoutMs << 495 << 900;
        // A search's probe at 19200 baud: 49 ms and 3 ms for the reply's header.
        QTest::newRow("read with a probe's time-out") << false << 49 << 47 << 95;
        QTest::newRow("write keeps its own time-out") << true << 49 << 495 << 900;
    }

    void silenceCostsTheTimeOut()
    {
        QFETCH(bool, write);
        QFETCH(int, readTimeoutMs);
        QFETCH(int, atLeastMs);
        QFETCH(int, belowMs);
        adapter->ReadTimeoutMs = readTimeoutMs;
        Registers registers{};
        QElapsedTimer elapsed;
        elapsed.start();
        const qint16 result = write ? adapter->WriteRegisters(1, 0x0800, 1, registers.data())
                                    : adapter->ReadRegisters(1, 0x0800, 1, registers.data());
        const qint64 ms = elapsed.elapsed();
        QCOMPARE(result, lrNoAnswer);
        QVERIFY2(ms >= atLeastMs && ms < belowMs, qPrintable(QString::number(ms)));
    }

    void lateReplyIsDiscarded()
    {
        Registers registers{};
        // The device answers after the exchange has given up...
        peer->queueReply(withCrc(hex("0103021111")), 250);
        QCOMPARE(adapter->ReadRegisters(1, 0x0800, 1, registers.data()), lrNoAnswer);
        QTest::qWait(400);
        // ...and that answer must not be taken for the reply to the next request.
        peer->queueReply(withCrc(hex("0103022222")), 20);
        QCOMPARE(adapter->ReadRegisters(1, 0x0800, 1, registers.data()), lrOk);
        QCOMPARE(registers[0], quint16(0x2222));
    }

    void lineSettingsReachThePort_data()
    {
        QTest::addColumn<int>("speedNumber");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("stopBits");
        QTest::addColumn<int>("speed");
        QTest::addColumn<bool>("odd");
        QTest::addColumn<bool>("stick"); // mark or space
        QTest::addColumn<bool>("twoStopBits");

        QTest::newRow("construction values: 19200, space, 1") << -1 << -1 << -1 << int(B19200) << false << true << false;
        QTest::newRow("1200, none, 1") << 0 << 0 << 0 << int(B1200) << false << false << false;
        QTest::newRow("9600, even, 2") << 3 << 1 << 2 << int(B9600) << false << false << true;
        QTest::newRow("115200, odd, 1.5 sent as 2") << 7 << 2 << 1 << int(B115200) << true << false << true;
        QTest::newRow("57600, mark") << 6 << 3 << 0 << int(B57600) << true << true << false;
    }

    void lineSettingsReachThePort()
    {
        QFETCH(int, speedNumber);
        QFETCH(int, parity);
        QFETCH(int, stopBits);
        QFETCH(int, speed);
        QFETCH(bool, odd);
        QFETCH(bool, stick);
        QFETCH(bool, twoStopBits);

        adapter->Close();
        adapter = std::make_unique<CAdapter>();
        adapter->PortName = peer->devicePath();
        if (speedNumber >= 0) {
            adapter->SpeedNumber = quint8(speedNumber);
            adapter->Parity = quint8(parity);
            adapter->StopBits = quint8(stopBits);
        }
        QCOMPARE(adapter->Open(), 0);

        // Linux pseudo-terminals keep everything but the parity-enable bit.
        const termios line = peer->lineSettings();
        QCOMPARE(int(cfgetospeed(&line)), speed);
        QCOMPARE(int(line.c_cflag & CSIZE), int(CS8));
        QCOMPARE(bool(line.c_cflag & PARODD), odd);
        QCOMPARE(bool(line.c_cflag & CMSPAR), stick);
        QCOMPARE(bool(line.c_cflag & CSTOPB), twoStopBits);
    }

    void openFailures_data()
    {
        QTest::addColumn<int>("speedNumber");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("stopBits");
        QTest::newRow("speed 8") << 8 << 0 << 0;
        QTest::newRow("speed 255") << 255 << 0 << 0;
        QTest::newRow("parity 5") << 3 << 5 << 0;
        QTest::newRow("stop bits 3") << 3 << 0 << 3;
    }

    void openFailures()
    {
        QFETCH(int, speedNumber);
        QFETCH(int, parity);
        QFETCH(int, stopBits);
        adapter->Close();

        CAdapter bad;
        bad.PortName = peer->devicePath();
        bad.SpeedNumber = quint8(speedNumber);
        bad.Parity = quint8(parity);
        bad.StopBits = quint8(stopBits);
        QCOMPARE(bad.Open(), -1);
        QCOMPARE(bad.Close(), -1);

        // Nothing was left open: a good adapter can take the port.
        CAdapter good;
        good.PortName = peer->devicePath();
        QCOMPARE(good.Open(), 0);
        QCOMPARE(good.Close(), 0);
    }

    void portIsExclusive()
    {
        CAdapter second;
        second.PortName = peer->devicePath();
        QCOMPARE(second.Open(), -1);
        QCOMPARE(second.Close(), -1);

        QCOMPARE(adapter->Close(), 0);
        QCOMPARE(second.Open(), 0);
        QCOMPARE(second.Close(), 0);
        adapter.reset();
    }

    void deviceThatIsNoSerialPort_data()
    {
        QTest::addColumn<QString>("device");
        QTest::newRow("missing") << "/dev/no-such-serial-port";
        QTest::newRow("not a terminal: takes no line settings") << "/dev/null";
    }

    void deviceThatIsNoSerialPort()
    {
        QFETCH(QString, device);
        CAdapter adapter;
        adapter.PortName = device;
        QCOMPARE(adapter.Open(), -1);
        QCOMPARE(adapter.Close(), -1);
    }

    void openThenCloseLeavesConnectedAlone()
    {
        QCOMPARE(adapter->Close(), 0);
        QVERIFY(adapter->Connected);
        adapter = std::make_unique<CAdapter>();
        adapter->PortName = peer->devicePath();
        QCOMPARE(adapter->Open(), 0);
        QVERIFY(!adapter->Connected);
        QCOMPARE(adapter->Close(), 0);
        adapter.reset();
    }

    void randomRepliesNeverPassUnverified()
    {
        // Replies of random bytes, some with a right CRC, whole or cut short: lrOk only for
        // bytes that verify, and the sanitizers watch every buffer on the way.
        QRandomGenerator random(20261208);
        for (int round = 0; round < 150; ++round) {
            const int dataBytes = random.bounded(0, 120);
            QByteArray reply(1, char(random.bounded(256)));
            reply.append(random.bounded(4) == 0 ? char(0x83) : char(0x03));
            reply.append(random.bounded(3) == 0 ? char(random.bounded(256)) : char(dataBytes));
            for (int i = 0; i < dataBytes; ++i)
                reply.append(char(random.bounded(256)));
            reply = random.bounded(2) ? withCrc(reply) : reply + QByteArray(2, char(random.bounded(256)));
            if (random.bounded(5) == 0)
                reply.truncate(random.bounded(int(reply.size())));
            peer->queueReply(random.bounded(2) ? split(reply, 0) : Reply{{0, reply}});

            Registers registers = untouchedRegisters();
            const qint16 result = adapter->ReadRegisters(1, 0, 2, registers.data());
            QVERIFY(peer->settle(2000));
            QVERIFY(result <= 0);
            if (result == lrOk) {
                const int announced = quint8(reply[2]);
                const QByteArray frame = reply.left(3 + announced + 2);
                QCOMPARE(withCrc(frame.chopped(2)), frame);
                QVERIFY(announced <= 95);
                QCOMPARE(registers[announced / 2], kUntouched);
            } else {
                QCOMPARE(registers[0], kUntouched);
            }
        }
    }

    // A read budget of a second, so that "at once" can be told from "after the time-out" with
    // room to spare on a loaded machine; a write waits 500 ms at most.
    void vanishedPortFailsAtOnceWithoutSpinning()
    {
        constexpr int kLongReadTimeoutMs = 1000;
        constexpr int kAtOnceMs = 250;
        adapter->ReadTimeoutMs = kLongReadTimeoutMs;
        peer->hangUp();
        Registers registers{};
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(adapter->ReadRegisters(1, 0, 1, registers.data()) < 0);
        QVERIFY2(elapsed.elapsed() < kAtOnceMs, qPrintable(QString::number(elapsed.elapsed())));

        const double cpuBefore = cpuSeconds();
        QTest::qWait(500);
        const double cpuUsed = cpuSeconds() - cpuBefore;
        QVERIFY2(cpuUsed < 0.2, qPrintable(QString::number(cpuUsed)));

        for (int i = 0; i < 3; ++i) {
            elapsed.restart();
            QVERIFY(adapter->ReadRegisters(1, 0, 1, registers.data()) < 0);
            QVERIFY(adapter->WriteRegisters(1, 0, 1, registers.data()) < 0);
            QVERIFY2(elapsed.elapsed() < kAtOnceMs, qPrintable(QString::number(elapsed.elapsed())));
        }
        QCOMPARE(adapter->Close(), 0);
        adapter.reset();

        // A new connection on a new line works.
        peer = std::make_unique<PtyPeer>();
        connectAdapter();
        peer->queueReply(withCrc(hex("0103020007")));
        QCOMPARE(adapter->ReadRegisters(1, 0, 1, registers.data()), lrOk);
        QCOMPARE(registers[0], quint16(7));
    }

    void slowLineAt1200Baud()
    {
        constexpr int baud = 1200;
        adapter->Close();
        connectAdapter(0);

        // 10 registers: 25 reply bytes, 230 ms on the wire.
        QByteArray reply = hex("010314");
        for (int k = 0; k < 10; ++k)
            reply.append(char(0)).append(char(k));
        peer->queueReply(PtyPeer::paced(withCrc(reply), baud));
        Registers registers{};
        QCOMPARE(adapter->ReadRegisters(1, 0x0100, 10, registers.data()), lrOk);
        QCOMPARE(registers[9], quint16(9));

        peer->queueReply(PtyPeer::paced(withCrc(hex("01100100000a")), baud));
        QCOMPARE(adapter->WriteRegisters(1, 0x0100, 10, registers.data()), lrOk);
    }
};

QTEST_GUILESS_MAIN(TestAdapter)
#include "tst_adapter.moc"
