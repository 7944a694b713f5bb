// The link through a serial device server: RTU frames over a TCP connection on the loopback, to
// indicator-sim --tcp or to a server of the test's own. Connecting and its failures, the
// time-outs with the network's allowance, late replies, and a connection that drops while the
// window polls. Through a Modbus TCP gateway of the test's own: what a broken gateway sends.
#include "adapter.h"
#include "blocking.h"
#include "resultcodes.h"
#include "session.h"
#include "support/configwindow.h"
#include "support/frames.h"
#include "support/simprocess.h"
#include "tcptransport.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <array>
#include <csignal>
#include <future>

using namespace Frames;

namespace {

using Registers = std::array<quint16, 100>;
constexpr quint16 kAddressRegister = 0x0800; // the device's address, then its speed code
constexpr quint16 kBrightnessRegister = 0x0A0D;
constexpr quint16 kSpeedCode19200 = 4;

// A port on the loopback that nothing listens on: the system picked it free a moment ago.
QString refusingServer()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        qFatal("cannot listen on the loopback");
    const quint16 port = server.serverPort();
    server.close();
    return QStringLiteral("tcp://127.0.0.1:%1").arg(port);
}

QString nameOf(const QTcpServer &server)
{
    return QStringLiteral("tcp://127.0.0.1:%1").arg(server.serverPort());
}

} // namespace

class TestTcpLink : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CAdapter> adapter;

    void connectAdapter(const QString &portName)
    {
        adapter = std::make_unique<CAdapter>();
        adapter->PortName = portName;
        QCOMPARE(adapter->Open(), 0);
        adapter->Connected = true;
    }

private slots:
    void cleanup()
    {
        if (adapter)
            adapter->Close();
        adapter.reset();
    }

    void exchangesThroughTheSimulatorAreRtuFrames()
    {
        SimProcess sim({"--tcp", "0", "--slave", "7"});
        QVERIFY2(sim.started(), "indicator-sim did not come up");
        QVERIFY(sim.devicePath().startsWith(QLatin1String("tcp://127.0.0.1:")));
        connectAdapter(sim.devicePath());
        QList<ExchangeRecord> records;
        adapter->setObserver([&records](const ExchangeRecord &record) { records << record; });

        Registers registers{};
        QCOMPARE(adapter->ReadRegisters(7, kAddressRegister, 2, registers.data()), lrOk);
        QCOMPARE(registers[0], quint16(7));
        QCOMPARE(registers[1], kSpeedCode19200);
        const quint16 brightness = 2;
        QCOMPARE(adapter->WriteRegisters(7, kBrightnessRegister, 1, &brightness), lrOk);
        QCOMPARE(adapter->ReadRegisters(7, kBrightnessRegister, 1, registers.data()), lrOk);
        QCOMPARE(registers[0], brightness);

        QCOMPARE(records.size(), 3);
        QCOMPARE(records[0].request, readRequest(7, kAddressRegister, 2));
        QCOMPARE(records[0].reply, readReply(7, {7, kSpeedCode19200}));
        QCOMPARE(records[1].request, writeRequest(7, kBrightnessRegister, {brightness}));
        QCOMPARE(records[1].reply, writeEcho(7, kBrightnessRegister, 1));
    }

    // A gateway that breaks off, or floods the connection behind a length of 65535: a clear
    // result at once, never a wait for the bytes such a length announces, nor for the 1.2 s of
    // a silent gateway. The exchange blocks a thread of its own while the gateway answers here.
    void brokenGatewayGivesAClearResultAtOnce_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("drop");
        QTest::addColumn<int>("result");
        QTest::newRow("dropped in mid-reply") << hex("000100000007" "070304") << true << int(lrIncomplete);
        QTest::newRow("length 65535, then 64 KiB")
            << hex("00010000ffff" "07") + QByteArray(65536, '\xAA') << false << int(lrWrongReply);
    }

    void brokenGatewayGivesAClearResultAtOnce()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, drop);
        QFETCH(int, result);
        constexpr int kAtOnceMs = 500;
        constexpr int kWaitMs = 3000;
        struct Outcome
        {
            qint16 code = lrNotConnected;
            qint64 ms = 0;
            bool lost = false;
        };

        QTcpServer gateway;
        QVERIFY(gateway.listen(QHostAddress::LocalHost));
        std::future<Outcome> exchange = std::async(std::launch::async, [port = gateway.serverPort()] {
            Outcome outcome;
            CAdapter adapter;
            adapter.PortName = QStringLiteral("modbus-tcp://127.0.0.1:%1").arg(port);
            if (adapter.Open() != 0)
                return outcome;
            adapter.Connected = true;
            Registers registers{};
            QElapsedTimer elapsed;
            elapsed.start();
            outcome.code = adapter.ReadRegisters(7, 0x0A00, 2, registers.data());
            outcome.ms = elapsed.elapsed();
            outcome.lost = adapter.PortLost();
            adapter.Close();
            return outcome;
        });
        QVERIFY(gateway.waitForNewConnection(kWaitMs));
        QTcpSocket *connection = gateway.nextPendingConnection();
        QVERIFY(connection->waitForReadyRead(kWaitMs));
        QCOMPARE(connection->readAll(), hex("000100000006" "07030a000002"));
        connection->write(reply);
        connection->flush();
        if (drop)
            connection->abort();
        QVERIFY(exchange.wait_for(std::chrono::milliseconds(kWaitMs)) == std::future_status::ready);
        const Outcome outcome = exchange.get();
        QCOMPARE(outcome.code, qint16(result));
        QVERIFY2(outcome.ms < kAtOnceMs, qPrintable(QString::number(outcome.ms)));
        QCOMPARE(outcome.lost, drop);
    }

    // Start freezes the window while it connects: each failure must come back soon, with its reason.
    void failedConnectionSaysWhyWithinTheConnectTimeOut_data()
    {
        QTest::addColumn<QString>("portName"); // %BUSY%: a server whose queue is full
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("atLeastMs");
        QTest::addColumn<int>("belowMs");

        const QString malformed = QStringLiteral("адрес сервера должен быть tcp://УЗЕЛ:ПОРТ");
        QTest::newRow("nothing listens") << refusingServer() << "отказ в соединении" << 0 << 1000;
        QTest::newRow("no port") << "tcp://127.0.0.1" << malformed << 0 << 1000;
        QTest::newRow("port 0") << "tcp://127.0.0.1:0" << malformed << 0 << 1000;
        QTest::newRow("port 65536") << "tcp://127.0.0.1:65536" << malformed << 0 << 1000;
        QTest::newRow("a path after the port") << "tcp://127.0.0.1:4001/dev/ttyUSB0" << malformed << 0 << 1000;
        QTest::newRow("a gateway's port 0") << "modbus-tcp://127.0.0.1:0"
                                            << "адрес шлюза должен быть modbus-tcp://УЗЕЛ[:ПОРТ]" << 0 << 1000;
        // The system drops connection requests to a full queue unanswered, as a server that is
        // switched off leaves them: the whole connect time-out passes, and no more.
        QTest::newRow("no answer") << "%BUSY%" << "сервер 127.0.0.1:%PORT% не отвечает"
                                   << TcpTransport::kConnectTimeoutMs - 50 << TcpTransport::kConnectTimeoutMs + 2000;
    }

    void failedConnectionSaysWhyWithinTheConnectTimeOut()
    {
        QFETCH(QString, portName);
        QFETCH(QString, reason);
        QFETCH(int, atLeastMs);
        QFETCH(int, belowMs);

        // The queue holds one connection beyond a backlog of 0, and the server takes nothing off
        // it (the session's wait serves events): the filler stays, and the next request meets a
        // full queue.
        QTcpServer busy;
        busy.setListenBacklogSize(0);
        QTcpSocket filler;
        if (portName == QLatin1String("%BUSY%")) {
            QVERIFY(busy.listen(QHostAddress::LocalHost));
            filler.connectToHost(QHostAddress::LocalHost, busy.serverPort());
            QVERIFY(filler.waitForConnected(1000));
            busy.pauseAccepting();
            portName = nameOf(busy);
            reason.replace(QLatin1String("%PORT%"), QString::number(busy.serverPort()));
        }

        Session session;
        LineSetup line;
        line.speedNumber = 4;
        line.portName = portName;
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(!Blocking::start(session, line));
        const qint64 ms = elapsed.elapsed();
        QCOMPARE(session.openFailureText(), reason);
        QVERIFY(!session.isConnected());
        QVERIFY2(ms >= atLeastMs && ms < belowMs, qPrintable(QString::number(ms)));
    }

    // A server that takes the connection and never answers is a device that keeps silent, not a
    // lost connection: the read waits its time-out and the network's allowance (100 ms, 100 ms
    // for the network, 3 bytes at 1 ms; to the millisecond in tst_adapter, on a scripted pipe
    // that claims the same allowance), with room above for a loaded machine.
    void silentServerCostsTheTimeOutWithTheNetworksAllowance()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connectAdapter(nameOf(server));
        QVERIFY(server.waitForNewConnection(1000));
        QTcpSocket *serverSide = server.nextPendingConnection();
        QVERIFY(serverSide);

        Registers registers{};
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(adapter->ReadRegisters(1, kAddressRegister, 1, registers.data()), lrNoAnswer);
        const qint64 ms = elapsed.elapsed();
        QVERIFY2(ms >= 200 && ms < 600, qPrintable(QString::number(ms)));
        QVERIFY(!adapter->PortLost());
        QVERIFY(serverSide->waitForReadyRead(1000));
        QCOMPARE(serverSide->readAll(), readRequest(1, kAddressRegister, 1));
    }

    // The simulator answers after 500 ms, when the read has given up at 203 ms (100 ms, 100 ms
    // for the network, 3 bytes at 1 ms): the room between the two is for a loaded machine. The
    // late reply, to one register, must not pass for the reply to the next read, of two.
    void lateReplyIsThrownAwayAndShownAsDiscarded()
    {
        SimProcess sim({"--tcp", "0", "--slave", "7", "--delay", "500"});
        QVERIFY2(sim.started(), "indicator-sim did not come up");
        connectAdapter(sim.devicePath());
        QList<ExchangeRecord> records;
        adapter->setObserver([&records](const ExchangeRecord &record) { records << record; });

        Registers registers{};
        QCOMPARE(adapter->ReadRegisters(7, kAddressRegister, 1, registers.data()), lrNoAnswer);
        QTest::qWait(600);
        adapter->ReadTimeoutMs = 1000;
        registers.fill(0);
        QCOMPARE(adapter->ReadRegisters(7, kAddressRegister, 2, registers.data()), lrOk);
        QCOMPARE(registers[0], quint16(7));
        QCOMPARE(registers[1], kSpeedCode19200);

        QCOMPARE(records.size(), 2);
        QCOMPARE(records[1].discarded, readReply(7, {7}));
        QCOMPARE(records[1].reply, readReply(7, {7, kSpeedCode19200}));
    }

    // The server goes while the Readings page polls: the window ends the connection as for an
    // unplugged adapter, and offers to connect again once the server accepts connections.
    void droppedConnectionEndsPollingAndConnectsAgainOnceTheServerIsBack()
    {
        constexpr int kReplugWatchMs = 500;
        auto sim = std::make_unique<SimProcess>(QStringList{"--tcp", "0"});
        QVERIFY2(sim->started(), "indicator-sim did not come up");
        const QString server = sim->devicePath();
        int answered = 0;
        ConfigWindow config("[PORTS]\nCOM2=" + server.toLocal8Bit() + "\n");
        QCOMPARE(config.find<QComboBox>("cmbPort")->itemData(1, Qt::ToolTipRole).toString(), server);
        config.window().session().setObserver([&answered](const ExchangeRecord &record) {
            answered += record.result == lrOk;
        });
        QVERIFY(config.start());
        config.click("sbData");
        QTRY_VERIFY_WITH_TIMEOUT(answered >= 3, 5000);

        QCOMPARE(sim->stop(SIGTERM), 0);
        QTRY_VERIFY_WITH_TIMEOUT(config.find<QToolButton>("sbStart")->isEnabled(), 5000);
        QCOMPARE(config.errorText(),
                 QStringLiteral("Ошибка! Адаптер COM2 отключён (%1). Соединение с сервером разорвано.").arg(server));
        QVERIFY(!config.find<QTimer>("Timer")->isActive());
        auto *again = config.find<QPushButton>("btnReconnect");
        QTest::qWait(2 * kReplugWatchMs);
        QVERIFY(!again->isVisible());

        sim = std::make_unique<SimProcess>(QStringList{"--tcp", server.section(QLatin1Char(':'), -1)});
        QVERIFY2(sim->started(), "indicator-sim did not come back on its port");
        QTRY_VERIFY_WITH_TIMEOUT(again->isVisible(), 5000);
        QCOMPARE(config.errorText(), QStringLiteral("Адаптер COM2 снова подключён (%1).").arg(server));
        answered = 0;
        QTest::mouseClick(again, Qt::LeftButton);
        QTRY_VERIFY(config.find<QToolButton>("sbStop")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(answered >= 3, 5000);
    }
};

QTEST_MAIN(TestTcpLink)
#include "tst_tcplink.moc"
