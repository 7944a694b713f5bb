// CAdapter against a scripted device: on a pipe with a clock of its own, the bytes on the line,
// the result of every kind of reply and the time each exchange takes, to the millisecond, for a
// serial line and through a Modbus TCP gateway; on a real pseudo-terminal, the serial port
// itself: its line settings, a good exchange, a time-out and a hang-up.
#include "adapter.h"
#include "mbapframe.h"
#include "resultcodes.h"
#include "rtuframe.h"
#include "support/frames.h"
#include "support/ptypeer.h"
#include "support/scriptedpipe.h"
#include "tcptransport.h"

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

// A Modbus TCP frame written out in hex, with TTTT for the transaction of the request it
// follows and LLLL for the one before.
QByteArray gatewayFrame(QString text, quint16 transaction)
{
    const auto word = [](quint16 value) { return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')); };
    text.replace(QLatin1String("TTTT"), word(transaction)).replace(QLatin1String("LLLL"), word(transaction - 1));
    return QByteArray::fromHex(text.toLatin1());
}

} // namespace

class TestAdapter : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ScriptedPipe> pipe;
    std::unique_ptr<PtyPeer> peer;
    std::unique_ptr<CAdapter> adapter;

    void connectAdapter(const QString &device, quint8 speedNumber = 4)
    {
        if (adapter)
            adapter->Close();
        adapter = std::make_unique<CAdapter>();
        adapter->PortName = device;
        adapter->SpeedNumber = speedNumber;
        QCOMPARE(adapter->Open(), 0);
        adapter->Connected = true;
    }

    // The adapter on a pseudo-terminal instead of the pipe.
    void connectOnPty()
    {
        peer = std::make_unique<PtyPeer>();
        connectAdapter(peer->devicePath());
    }

    // Milliseconds that an exchange took on the pipe's clock.
    qint64 timed(const std::function<qint16()> &exchange, qint16 *result)
    {
        const qint64 before = pipe->nowMs();
        *result = exchange();
        return pipe->nowMs() - before;
    }

private slots:
    void init()
    {
        pipe = std::make_unique<ScriptedPipe>();
        connectAdapter(pipe->devicePath());
    }

    // The pipe of the test's init is let go first: a pipe that goes takes every scripted
    // pipe's place with it.
    void connectToGateway(int latencyAllowanceMs = 0)
    {
        adapter->Close();
        adapter.reset();
        pipe.reset();
        pipe = std::make_unique<ScriptedPipe>(ScriptedPipe::Kind::ModbusTcpGateway);
        pipe->setLatencyAllowanceMs(latencyAllowanceMs);
        connectAdapter(pipe->devicePath());
    }

    void cleanup()
    {
        if (adapter)
            adapter->Close();
        adapter.reset();
        peer.reset();
        pipe.reset();
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
        pipe->queueReply(withCrc(hex("011008000001")));
        QCOMPARE(adapter->WriteRegisters(1, 0x0800, 1, registers.data()), lrOk);

        QCOMPARE(pipe->requests(), (QList<QByteArray>{hex("01030a000002c7d3"), hex("011008000001020102afc1")}));
    }

    void readReplies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("result");
        QTest::addColumn<QList<quint16>>("expected"); // first slots after the call

        const QList<quint16> untouched{kUntouched, kUntouched};
        QTest::newRow("float 1.0") << withCrc(hex("01030400003f80")) << int(lrOk)
                                   << QList<quint16>{0x0000, 0x3F80, kUntouched};
        QTest::newRow("last byte altered") << withBadCrc(hex("01030400003f80")) << int(lrBadCrc) << untouched;
        QTest::newRow("exception") << withCrc(hex("018302")) << int(lrDeviceError) << untouched;
        QTest::newRow("exception, bad crc") << withBadCrc(hex("018302")) << int(lrBadCrc) << untouched;
        QTest::newRow("exception without its crc") << hex("018302") << int(lrIncomplete) << untouched;
        QTest::newRow("byte count 0xFF") << withCrc(hex("0103ff") + QByteArray(255, '\x11'))
                                         << int(lrIncomplete) << untouched;
        QTest::newRow("byte count 96, one past the buffer")
            << withCrc(hex("010360") + QByteArray(96, '\x22')) << int(lrIncomplete) << untouched;
        QTest::newRow("header, then silence") << hex("010304") << int(lrIncomplete) << untouched;
        QTest::newRow("half the data, then silence") << hex("01030400003f") << int(lrIncomplete) << untouched;
        QTest::newRow("two bytes, then silence") << hex("0103") << int(lrNoAnswer) << untouched;
        QTest::newRow("silence") << QByteArray() << int(lrNoAnswer) << untouched;
        QTest::newRow("trailing bytes after a valid frame")
            << withCrc(hex("01030401020304")) + hex("deadbeef") << int(lrOk)
            << QList<quint16>{0x0102, 0x0304, kUntouched};
        QTest::newRow("leading garbage") << hex("00") + withCrc(hex("0103020102")) << int(lrBadCrc) << untouched;
    }

    void readReplies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, result);
        QFETCH(QList<quint16>, expected);

        for (const bool byteByByte : {false, true}) {
            if (!reply.isEmpty())
                pipe->queueReply(byteByByte ? split(reply) : Reply{{0, reply}});
            Registers registers = untouchedRegisters();
            QCOMPARE(adapter->ReadRegisters(1, 0x0A00, 2, registers.data()), result);
            for (int k = 0; k < expected.size(); ++k)
                QCOMPARE(registers[k], expected[k]);
            pipe->settle();
        }
    }

    void writeReplies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("result");

        QTest::newRow("echo") << withCrc(hex("011008000001")) << int(lrOk);
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
                pipe->queueReply(byteByByte ? split(reply) : Reply{{0, reply}});
            QCOMPARE(adapter->WriteRegisters(1, 0x0800, 1, value.data()), result);
            pipe->settle();
        }
    }

    // Replies with a valid CRC that do not answer the request: the slave's own are refused, and
    // another unit's frame is set aside while the wait for this one's reply goes on, also
    // across a pause longer than the interval between two bytes of one frame.
    void repliesThatDoNotAnswer_data()
    {
        QTest::addColumn<bool>("write");
        QTest::addColumn<QByteArray>("foreign"); // another unit's frame, first
        QTest::addColumn<QByteArray>("reply");   // then, 60 ms later, the slave's own
        QTest::addColumn<int>("result");

        const QByteArray ours = withCrc(hex("01030400003f80"));
        const QByteArray echo = withCrc(hex("011008000001"));
        QTest::newRow("read: another slave, then silence") << false << withCrc(hex("07030400003f80")) << QByteArray()
                                                         << int(lrNoAnswer);
        QTest::newRow("read: another function") << false << QByteArray() << withCrc(hex("01040400003f80"))
                                                << int(lrWrongReply);
        QTest::newRow("read: another function's exception") << false << QByteArray() << withCrc(hex("018402"))
                                                            << int(lrWrongReply);
        QTest::newRow("read: byte count 0") << false << QByteArray() << withCrc(hex("010300")) << int(lrWrongReply);
        QTest::newRow("read: byte count short") << false << QByteArray() << withCrc(hex("0103020000"))
                                                << int(lrWrongReply);
        QTest::newRow("read: byte count long") << false << QByteArray() << withCrc(hex("010306000100020003"))
                                               << int(lrWrongReply);
        QTest::newRow("read: byte count 94, long")
            << false << QByteArray() << withCrc(hex("01035e") + QByteArray(94, '\x22')) << int(lrWrongReply);
        QTest::newRow("read: another slave's late reply, then ours")
            << false << withCrc(hex("0703020007")) << ours << int(lrOk);
        QTest::newRow("read: another slave's late exception, then ours")
            << false << withCrc(hex("078302")) << ours << int(lrOk);
        QTest::newRow("read: another slave, bad crc") << false << withBadCrc(hex("0703020007")) << ours
                                                      << int(lrBadCrc);
        QTest::newRow("write: echo of another register") << true << QByteArray() << withCrc(hex("011008010001"))
                                                         << int(lrWrongReply);
        QTest::newRow("write: echo of another count") << true << QByteArray() << withCrc(hex("011008000002"))
                                                      << int(lrWrongReply);
        QTest::newRow("write: a read reply") << true << QByteArray() << withCrc(hex("0103020102"))
                                             << int(lrWrongReply);
        QTest::newRow("write: another slave, then silence") << true << withCrc(hex("091009990002")) << QByteArray()
                                                            << int(lrNoAnswer);
        QTest::newRow("write: another slave's late echo, then ours")
            << true << withCrc(hex("071008000001")) << echo << int(lrOk);
        // Five bytes, shorter than a write reply's first stage of six.
        QTest::newRow("write: another slave's empty read reply, then ours")
            << true << withCrc(hex("070300")) << echo << int(lrOk);
    }

    void repliesThatDoNotAnswer()
    {
        QFETCH(bool, write);
        QFETCH(QByteArray, foreign);
        QFETCH(QByteArray, reply);
        QFETCH(int, result);
        constexpr int kTurnaroundMs = 60; // longer than the 50 ms allowed between two bytes

        for (const bool byteByByte : {false, true}) {
            Reply script;
            for (const QByteArray &frame : {foreign, reply}) {
                if (frame.isEmpty())
                    continue;
                Reply chunks = byteByByte ? split(frame) : Reply{{0, frame}};
                chunks.first().delayMs = script.isEmpty() ? 0 : kTurnaroundMs;
                script += chunks;
            }
            pipe->queueReply(script);
            Registers registers = untouchedRegisters();
            const qint16 code = write ? adapter->WriteRegisters(1, 0x0800, 1, registers.data())
                                      : adapter->ReadRegisters(1, 0x0A00, 2, registers.data());
            QCOMPARE(code, result);
            const bool stored = !write && result == lrOk;
            QCOMPARE(registers[0], stored ? quint16(0x0000) : kUntouched);
            QCOMPARE(registers[1], stored ? quint16(0x3F80) : kUntouched);
            pipe->settle();
        }
    }

    // The write's first stage asks for 6 bytes: waiting for a sixth would cost the whole 506 ms.
    void exceptionReplyEndsAtItsFifthByte()
    {
        const std::array<quint16, 1> value{0};
        pipe->queueReply(withCrc(hex("019002")), 7);
        qint16 result = 0;
        QCOMPARE(timed([&] { return adapter->WriteRegisters(1, 0x0800, 1, value.data()); }, &result), 7);
        QCOMPARE(result, lrDeviceError);
    }

    // At most 50 ms of silence between two bytes of a reply.
    void gapsBetweenBytes_data()
    {
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<int>("result");
        QTest::newRow("50 ms passes") << 50 << int(lrOk);
        QTest::newRow("51 ms fails") << 51 << int(lrIncomplete);
    }

    void gapsBetweenBytes()
    {
        QFETCH(int, gapMs);
        QFETCH(int, result);
        // Header and half the data at once, then one pause inside the reply.
        const QByteArray reply = withCrc(hex("01030400003f80"));
        pipe->queueReply(Reply{{0, reply.left(5)}, {gapMs, reply.mid(5)}});
        Registers registers{};
        qint16 code = 0;
        const qint64 ms = timed([&] { return adapter->ReadRegisters(1, 0x0A00, 2, registers.data()); }, &code);
        QCOMPARE(code, result);
        QCOMPARE(ms, qMin(gapMs, 50));
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

        QVERIFY(pipe->requests().isEmpty());
    }

    void oversizedWriteIsRefused()
    {
        Registers registers{};
        QCOMPARE(adapter->WriteRegisters(1, 0, 46, registers.data()), lrBadParameters);
        QVERIFY(pipe->requests().isEmpty());

        pipe->queueReply(withCrc(hex("01100000002d")));
        QCOMPARE(adapter->WriteRegisters(1, 0, 45, registers.data()), lrOk);
        QCOMPARE(pipe->requests().size(), 1);
        QCOMPARE(pipe->requests().at(0).size(), 99);
    }

    // A reply's first stage may take the read's time-out (100 ms, 500 ms for a write) plus one
    // character time for each of its bytes (3, 6 for a write), and behind a serial device
    // server the network's allowance on top; a reply that begins on its last millisecond
    // counts, one a millisecond later is silence.
    void firstStageTimeOut_data()
    {
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("speedNumber");
        QTest::addColumn<int>("readTimeoutMs");
        QTest::addColumn<int>("allowanceMs");
        QTest::addColumn<int>("budgetMs");

        const int page = CAdapter::DefaultReadTimeoutMs;
        const int server = TcpTransport::kNetworkAllowanceMs;
        QTest::newRow("read, 19200 baud: 100 + 3 x 1") << false << 4 << page << 0 << 103;
        QTest::newRow("write, 19200 baud: 500 + 6 x 1") << true << 4 << page << 0 << 506;
        QTest::newRow("read, 1200 baud: 100 + 3 x 10") << false << 0 << page << 0 << 130;
        // A search's probe at 19200 baud waits 49 ms; a write keeps its own time-out.
        QTest::newRow("read with a probe's time-out") << false << 4 << 49 << 0 << 52;
        QTest::newRow("write keeps its own time-out") << true << 4 << 49 << 0 << 506;
        QTest::newRow("read behind a server") << false << 4 << page << server << 203;
        QTest::newRow("write behind a server") << true << 4 << page << server << 606;
    }

    void firstStageTimeOut()
    {
        QFETCH(bool, write);
        QFETCH(int, speedNumber);
        QFETCH(int, readTimeoutMs);
        QFETCH(int, allowanceMs);
        QFETCH(int, budgetMs);
        pipe->setLatencyAllowanceMs(allowanceMs);
        connectAdapter(pipe->devicePath(), quint8(speedNumber));
        adapter->ReadTimeoutMs = readTimeoutMs;

        const QByteArray reply = write ? withCrc(hex("011008000001")) : withCrc(hex("0103020007"));
        Registers registers{};
        const auto exchange = [&] {
            return write ? adapter->WriteRegisters(1, 0x0800, 1, registers.data())
                         : adapter->ReadRegisters(1, 0x0800, 1, registers.data());
        };
        struct Case
        {
            int replyAtMs; // -1: silence
            qint16 result;
        };
        for (const Case &c : {Case{-1, lrNoAnswer}, Case{budgetMs, lrOk}, Case{budgetMs + 1, lrNoAnswer}}) {
            if (c.replyAtMs >= 0)
                pipe->queueReply(reply, c.replyAtMs);
            qint16 result = 0;
            QCOMPARE(timed(exchange, &result), budgetMs);
            QCOMPARE(result, c.result);
            QVERIFY(!adapter->PortLost());
            pipe->settle();
        }
        QCOMPARE(pipe->requests().size(), 3);
    }

    // A request that cannot leave (a driver that stalls) fails once its time is up: 1000 ms
    // plus the request's own time on the wire, 8 bytes at 1 ms.
    void stalledWriteFailsAtItsDeadline()
    {
        pipe->failWrites(1);
        Registers registers{};
        qint16 result = 0;
        QCOMPARE(timed([&] { return adapter->ReadRegisters(1, 0x0800, 1, registers.data()); }, &result), 1008);
        QCOMPARE(result, lrWriteFailed);
        pipe->queueReply(withCrc(hex("0103020007")));
        QCOMPARE(adapter->ReadRegisters(1, 0x0800, 1, registers.data()), lrOk);
    }

    // The device answers after the exchange has given up; that answer, left on the line, must
    // not be taken for the reply to the next request, and the monitor sees it thrown away.
    void lateReplyIsDiscarded_data()
    {
        QTest::addColumn<int>("allowanceMs");
        QTest::addColumn<int>("giveUpMs");
        QTest::newRow("serial line") << 0 << 103;
        QTest::newRow("behind a server") << TcpTransport::kNetworkAllowanceMs << 203;
    }

    void lateReplyIsDiscarded()
    {
        QFETCH(int, allowanceMs);
        QFETCH(int, giveUpMs);
        pipe->setLatencyAllowanceMs(allowanceMs);
        connectAdapter(pipe->devicePath());
        QList<ExchangeRecord> records;
        adapter->setObserver([&records](const ExchangeRecord &record) { records << record; });

        Registers registers{};
        const QByteArray late = withCrc(hex("0103021111"));
        pipe->queueReply(late, giveUpMs + 1);
        qint16 result = 0;
        QCOMPARE(timed([&] { return adapter->ReadRegisters(1, 0x0800, 1, registers.data()); }, &result), giveUpMs);
        QCOMPARE(result, lrNoAnswer);
        pipe->advance(1);
        pipe->queueReply(withCrc(hex("0103022222")), 20);
        QCOMPARE(adapter->ReadRegisters(1, 0x0800, 1, registers.data()), lrOk);
        QCOMPARE(registers[0], quint16(0x2222));

        QCOMPARE(records.size(), 2);
        QCOMPARE(records[0].sent.msecsTo(records[0].ended), giveUpMs);
        QCOMPARE(records[1].discarded, late);
        QCOMPARE(records[1].reply, withCrc(hex("0103022222")));
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
        peer = std::make_unique<PtyPeer>();
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
        connectOnPty();
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
        connectOnPty();
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
        adapter->PortName = pipe->devicePath();
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
            pipe->queueReply(random.bounded(2) ? split(reply, 0) : Reply{{0, reply}});

            Registers registers = untouchedRegisters();
            const qint16 result = adapter->ReadRegisters(1, 0, 2, registers.data());
            pipe->settle();
            QVERIFY(result <= 0);
            if (result == lrOk) {
                const int announced = quint8(reply[2]);
                const QByteArray frame = reply.left(3 + announced + 2);
                QCOMPARE(withCrc(frame.chopped(2)), frame);
                QCOMPARE(announced, 4);
                QCOMPARE(registers[2], kUntouched);
            } else {
                QCOMPARE(registers[0], kUntouched);
            }
        }
    }

    // What the bytes after the request 12 34 00 00 00 06 07 03 0A 00 00 02 (transaction 0x1234,
    // unit 7, two registers from 0x0A00) make: a reply is taken only whole, of this transaction,
    // Modbus, the unit's and as long as its header says; a header's length is judged before
    // anything waits for the body it announces.
    void gatewayFramesAreJudgedByTheirHeader_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("size");

        using R = Mbap::Reading;
        QTest::newRow("good reply") << hex("123400000007" "07030400003f80") << int(R::Reply) << 13;
        QTest::newRow("header: waits for its length") << hex("123400000007" "07") << int(R::Wait) << 13;
        QTest::newRow("less than a header") << hex("1234000000") << int(R::Wait) << 7;
        QTest::newRow("another transaction") << hex("123300000007" "07030400003f80") << int(R::Foreign) << 13;
        QTest::newRow("exception 0x0B") << hex("123400000003" "07830b") << int(R::Reply) << 9;
        QTest::newRow("exception 0x0A") << hex("123400000003" "07830a") << int(R::Reply) << 9;
        QTest::newRow("wrong length: three registers") << hex("123400000009" "0703060001") << int(R::Refused) << 0;
        QTest::newRow("length other than the PDU's")
            << hex("123400000007" "070302000700ff") << int(R::Refused) << 0;
        QTest::newRow("protocol 1") << hex("123400010007" "07030400003f80") << int(R::Refused) << 0;
        QTest::newRow("length 0") << hex("123400000000" "07") << int(R::Refused) << 0;
        QTest::newRow("length 65535") << hex("12340000ffff" "07") << int(R::Refused) << 0;
        QTest::newRow("another transaction, length 65535") << hex("12330000ffff" "07") << int(R::Refused) << 0;
        QTest::newRow("another unit") << hex("123400000007" "08030400003f80") << int(R::Refused) << 0;
        QTest::newRow("garbage: a web server's answer") << QByteArray("HTTP/1.1 400 Bad Request\r\n")
                                                        << int(R::Refused) << 0;
    }

    void gatewayFramesAreJudgedByTheirHeader()
    {
        QFETCH(QByteArray, received);
        QFETCH(int, outcome);
        QFETCH(int, size);

        const QByteArray request = Mbap::request(0x1234, Rtu::readRequest(7, 0x0A00, 2));
        QCOMPARE(request, hex("123400000006" "07030a000002"));
        const Mbap::Reading reading = Mbap::read(request, received);
        QCOMPARE(int(reading.outcome), outcome);
        if (outcome != Mbap::Reading::Refused)
            QCOMPARE(reading.size, size);
    }

    // Through a gateway the same exchange in Modbus TCP frames, a transaction of its own for each
    // request, and the same result codes; each reply whole and a byte at a time.
    void gatewayReplies_data()
    {
        QTest::addColumn<QString>("reply"); // see gatewayFrame
        QTest::addColumn<int>("result");

        QTest::newRow("good reply") << "TTTT00000007" "07030400003f80" << int(lrOk);
        QTest::newRow("exception 0x0B: the unit did not answer the gateway")
            << "TTTT00000003" "07830b" << int(lrGatewayNoAnswer);
        QTest::newRow("exception 0x0A: no path to the unit") << "TTTT00000003" "07830a" << int(lrGatewayNoPath);
        QTest::newRow("the unit's own exception") << "TTTT00000003" "078302" << int(lrDeviceError);
        QTest::newRow("another function") << "TTTT00000007" "07040400003f80" << int(lrWrongReply);
        QTest::newRow("a late reply of the transaction before, then ours")
            << "LLLL00000003" "07830b" "TTTT00000007" "07030400003f80" << int(lrOk);
        QTest::newRow("a late reply alone") << "LLLL00000007" "07030400003f80" << int(lrNoAnswer);
        QTest::newRow("length 65535, and more bytes")
            << "TTTT0000ffff" "07030400003f80" + QString(64, QLatin1Char('a')) << int(lrWrongReply);
        QTest::newRow("header, then silence") << "TTTT00000007" "07" << int(lrIncomplete);
        QTest::newRow("less than a header, then silence") << "TTTT0000" << int(lrNoAnswer);
        QTest::newRow("silence") << "" << int(lrNoAnswer);
    }

    void gatewayReplies()
    {
        QFETCH(QString, reply);
        QFETCH(int, result);
        connectToGateway();

        quint16 transaction = 0;
        for (const bool byteByByte : {false, true}) {
            ++transaction;
            const QByteArray bytes = gatewayFrame(reply, transaction);
            if (!bytes.isEmpty())
                pipe->queueReply(byteByByte ? split(bytes) : Reply{{0, bytes}});
            Registers registers = untouchedRegisters();
            QCOMPARE(adapter->ReadRegisters(7, 0x0A00, 2, registers.data()), result);
            QCOMPARE(pipe->requests().last(), gatewayFrame("TTTT00000006" "07030a000002", transaction));
            QCOMPARE(registers[0], result == lrOk ? quint16(0x0000) : kUntouched);
            QCOMPARE(registers[1], result == lrOk ? quint16(0x3F80) : kUntouched);
            pipe->settle();
        }
        const std::array<quint16, 1> value{0x0102};
        pipe->queueReply(gatewayFrame("TTTT00000006" "071008000001", ++transaction));
        QCOMPARE(adapter->WriteRegisters(7, 0x0800, 1, value.data()), lrOk);
        QCOMPARE(pipe->requests().last(), gatewayFrame("TTTT00000009" "071008000001020102", transaction));
    }

    // A gateway answers 0x0B once its own time-out is over, and the first stage waits for it:
    // the read's 100 ms, the gateway's 1000 ms, the request's 8 and the reply's 7 characters at
    // 1 ms (19200 baud) and the network's 100 ms, 1215 ms. A reply on its last millisecond
    // counts, one a millisecond later is silence; that late one comes during the next exchange,
    // which sets it aside and shows it to the monitor as a frame of its own.
    void gatewayTimeOutIsWaitedFor()
    {
        constexpr int kBudgetMs = 100 + CAdapter::GatewayTimeoutAllowanceMs + 8 + 7 + TcpTransport::kNetworkAllowanceMs;
        connectToGateway(TcpTransport::kNetworkAllowanceMs);
        QList<ExchangeRecord> records;
        adapter->setObserver([&records](const ExchangeRecord &record) { records << record; });
        Registers registers{};
        const auto read = [&] { return adapter->ReadRegisters(7, 0x0800, 1, registers.data()); };

        pipe->queueReply(gatewayFrame("TTTT00000003" "07830b", 1), kBudgetMs);
        qint16 result = 0;
        QCOMPARE(timed(read, &result), kBudgetMs);
        QCOMPARE(result, lrGatewayNoAnswer);

        const QByteArray late = gatewayFrame("TTTT00000003" "07830b", 2);
        pipe->queueReply(late, kBudgetMs + 1);
        QCOMPARE(timed(read, &result), kBudgetMs);
        QCOMPARE(result, lrNoAnswer);

        const QByteArray ours = gatewayFrame("TTTT00000005" "0703020007", 3);
        pipe->queueReply(ours, 20);
        QCOMPARE(read(), lrOk);
        QCOMPARE(registers[0], quint16(7));
        QCOMPARE(records.size(), 3);
        QCOMPARE(records[2].request, gatewayFrame("TTTT00000006" "070308000001", 3));
        QCOMPARE(records[2].foreign, QList<QByteArray>{late});
        QCOMPARE(records[2].reply, ours);
    }

    // A gateway that answers a byte at a time, slower than a reply's bytes may come, is cut off
    // within the stage after its header (100 ms and a character per byte), not waited for.
    void gatewayReplyThatTricklesEnds()
    {
        connectToGateway();
        pipe->queueReply(split(gatewayFrame("TTTT00000007" "07030400003f80", 1), 40));
        Registers registers = untouchedRegisters();
        qint16 result = 0;
        QCOMPARE(timed([&] { return adapter->ReadRegisters(7, 0x0A00, 2, registers.data()); }, &result),
                 7 * 40 + 100 + 6);
        QCOMPARE(result, lrIncomplete);
        QCOMPARE(registers[0], kUntouched);
    }

    // A gateway is written modbus-tcp://HOST[:PORT]: on Modbus TCP's port 502 unless another is
    // given. It sets no line, is no device of this system, and passes no line to listen to.
    void gatewayNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("server"); // empty: no well-formed name

        QTest::newRow("port given") << "modbus-tcp://192.168.1.50:5020" << "192.168.1.50:5020";
        QTest::newRow("port 502 by default") << "modbus-tcp://192.168.1.50" << "192.168.1.50:502";
        QTest::newRow("IPv6 in brackets") << "modbus-tcp://[fe80::1]:1502" << "[fe80::1]:1502";
        QTest::newRow("port 0") << "modbus-tcp://192.168.1.50:0" << "";
        QTest::newRow("a path after the host") << "modbus-tcp://192.168.1.50/1" << "";
        QTest::newRow("no host") << "modbus-tcp://" << "";
    }

    void gatewayNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, server);

        const std::optional<TcpTransport::Endpoint> endpoint = TcpTransport::endpoint(name);
        QCOMPARE(endpoint ? endpoint->text() : QString(), server);
        const CAdapter::PipeAbilities gateway = CAdapter::abilitiesOf(name);
        QVERIFY(!gateway.setsLine);
        QVERIFY(!gateway.systemDevice);
        QVERIFY(!gateway.passesLine);
        QVERIFY(CAdapter::abilitiesOf(QStringLiteral("tcp://192.168.1.50:4001")).passesLine);
    }

    // A read budget of a second, so that "at once" can be told from "after the time-out" with
    // room to spare on a loaded machine; a write waits 500 ms at most.
    void vanishedPortFailsAtOnceWithoutSpinning()
    {
        constexpr int kLongReadTimeoutMs = 1000;
        constexpr int kAtOnceMs = 250;
        connectOnPty();
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
        connectOnPty();
        peer->queueReply(withCrc(hex("0103020007")));
        QCOMPARE(adapter->ReadRegisters(1, 0, 1, registers.data()), lrOk);
        QCOMPARE(registers[0], quint16(7));
    }

    // A late reply makes the port readable; the next exchange, queued in the same turn of the
    // event loop, takes those bytes before the port's own read notification runs, which then
    // finds nothing to read. That is no unplugged adapter.
    void readinessTakenByTheNextExchangeIsNoHangUp()
    {
        connectOnPty();
        peer->writeNow(withCrc(hex("0103020007")));
        QTest::qSleep(50); // the bytes wait in the terminal, no event handled
        Registers registers{};
        qint16 result = lrNoAnswer;
        peer->queueReply(withCrc(hex("0103020008")));
        QMetaObject::invokeMethod(
            this, [&] { result = adapter->ReadRegisters(1, 0, 1, registers.data()); }, Qt::QueuedConnection);
        QTRY_COMPARE_WITH_TIMEOUT(result, qint16(lrOk), 2000);
        QCOMPARE(registers[0], quint16(8));
        QTest::qWait(50); // the port's notification and what it queued
        QVERIFY(!adapter->PortLost());
        peer->queueReply(withCrc(hex("0103020009")));
        QCOMPARE(adapter->ReadRegisters(1, 0, 1, registers.data()), lrOk);
        QCOMPARE(registers[0], quint16(9));
    }

    // 10 registers at 1200 baud: 25 reply bytes, 229 ms on the wire, longer than the 130 ms of
    // the first stage; the 8-byte echo of a write takes 73 ms.
    void slowLineAt1200Baud()
    {
        constexpr int baud = 1200;
        connectAdapter(pipe->devicePath(), 0);

        QByteArray reply = hex("010314");
        for (int k = 0; k < 10; ++k)
            reply.append(char(0)).append(char(k));
        pipe->queueReply(PtyPeer::paced(withCrc(reply), baud));
        Registers registers{};
        qint16 result = 0;
        QCOMPARE(timed([&] { return adapter->ReadRegisters(1, 0x0100, 10, registers.data()); }, &result), 229);
        QCOMPARE(result, lrOk);
        QCOMPARE(registers[9], quint16(9));

        pipe->queueReply(PtyPeer::paced(withCrc(hex("01100100000a")), baud));
        QCOMPARE(timed([&] { return adapter->WriteRegisters(1, 0x0100, 10, registers.data()); }, &result), 73);
        QCOMPARE(result, lrOk);
    }

    // The serial port itself: a read and a write that the device answers, then silence, which
    // costs the read's 103 ms (with room above for a loaded machine).
    void exchangesOnAPseudoTerminal()
    {
        connectOnPty();
        Registers registers{};
        peer->queueReply(withCrc(hex("01030400003f80")));
        QCOMPARE(adapter->ReadRegisters(1, 0x0A00, 2, registers.data()), lrOk);
        QCOMPARE(registers[1], quint16(0x3F80));
        peer->queueReply(PtyPeer::paced(withCrc(hex("011008000001")), 19200));
        QCOMPARE(adapter->WriteRegisters(1, 0x0800, 1, registers.data()), lrOk);

        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(adapter->ReadRegisters(1, 0x0800, 1, registers.data()), lrNoAnswer);
        QVERIFY2(elapsed.elapsed() >= 100 && elapsed.elapsed() < 400, qPrintable(QString::number(elapsed.elapsed())));

        QVERIFY(peer->waitForRequests(3, 1000));
        QCOMPARE(peer->requests(), (QList<QByteArray>{Frames::readRequest(1, 0x0A00, 2),
                                                      Frames::writeRequest(1, 0x0800, {0x0000}),
                                                      Frames::readRequest(1, 0x0800, 1)}));
    }
};

QTEST_GUILESS_MAIN(TestAdapter)
#include "tst_adapter.moc"
