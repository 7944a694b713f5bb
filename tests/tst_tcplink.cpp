// The link through a serial device server: RTU frames over a TCP connection on the loopback, to
// indicator-sim --tcp or to a server of the test's own. Connecting and its failures, the
// time-outs with the network's allowance, late replies, and a connection that drops while the
// window polls. Through a Modbus TCP gateway of the test's own: what a broken gateway sends.
#include "adapter.h"
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
#include <atomic>
#include <csignal>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

// A Modbus TCP gateway of the test's own on the loopback, on a thread of its own while the
// exchange blocks this one: it takes one connection, waits for a request, sends `reply` and
// then drops the connection or holds it until it is let go. Every wait is bounded.
class ScriptedGateway
{
public:
    static constexpr int kWaitMs = 3000;

    ScriptedGateway(const QByteArray &reply, bool drop)
    {
        m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || listen(m_listener, 1) != 0
            || getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            qFatal("cannot listen on the loopback");
        m_name = QStringLiteral("modbus-tcp://127.0.0.1:%1").arg(ntohs(address.sin_port));
        m_thread = std::thread([this, reply, drop] { serve(reply, drop); });
    }

    ~ScriptedGateway()
    {
        m_done = true;
        m_thread.join();
        ::close(m_listener);
    }

    QString name() const { return m_name; }

private:
    bool readable(int fd) const
    {
        pollfd ready{fd, POLLIN, 0};
        return poll(&ready, 1, kWaitMs) > 0;
    }

    void serve(const QByteArray &reply, bool drop)
    {
        if (!readable(m_listener))
            return;
        const int connection = accept(m_listener, nullptr, nullptr);
        char request[64];
        if (connection >= 0 && readable(connection) && recv(connection, request, sizeof request, 0) > 0)
            send(connection, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        for (int waitedMs = 0; !drop && !m_done && waitedMs < kWaitMs; waitedMs += 10)
            usleep(10'000);
        if (connection >= 0)
            ::close(connection);
    }

    int m_listener = -1;
    QString m_name;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

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

    // A gateway that breaks off or sends what no gateway should: a clear result at once, never
    // a wait for the bytes that a length of 65535 announces, nor for more than the time-outs.
    void brokenGatewayGivesAClearResultAtOnce_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("drop");
        QTest::addColumn<int>("result");

        QTest::newRow("dropped in mid-reply") << hex("000100000007" "070304") << true << int(lrIncomplete);
        QTest::newRow("dropped in its header") << hex("00010000") << true << int(lrNoAnswer);
        QTest::newRow("length 65535, then 64 KiB")
            << hex("00010000ffff" "07") + QByteArray(65536, '\xAA') << false << int(lrWrongReply);
        QTest::newRow("length 0") << hex("000100000000" "07") << false << int(lrWrongReply);
        QTest::newRow("protocol 1") << hex("000100010007" "07030400003f80") << false << int(lrWrongReply);
        QTest::newRow("garbage: a web server's answer") << QByteArray("HTTP/1.1 400 Bad Request\r\n\r\n") << false
                                                        << int(lrWrongReply);
    }

    void brokenGatewayGivesAClearResultAtOnce()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, drop);
        QFETCH(int, result);
        constexpr int kAtOnceMs = 500; // a silent gateway costs 1.2 s

        ScriptedGateway gateway(reply, drop);
        connectAdapter(gateway.name());
        Registers registers{};
        registers.fill(0xBEEF);
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(adapter->ReadRegisters(7, 0x0A00, 2, registers.data()), qint16(result));
        QVERIFY2(elapsed.elapsed() < kAtOnceMs, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(registers[0], quint16(0xBEEF));
        QCOMPARE(adapter->PortLost(), drop);
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
        QVERIFY(!session.start(line));
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
        QVERIFY(config.find<QToolButton>("sbStop")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(answered >= 3, 5000);
    }
};

QTEST_MAIN(TestTcpLink)
#include "tst_tcplink.moc"
