// indicator-cli serve's server against indicator-sim on a pseudo-terminal: clients of Modbus TCP
// and of RTU over TCP on the loopback sharing one line, what each hears, and how a client that
// misbehaves or goes away leaves the line and the others alone.
#include "line.h"
#include "lineserver.h"
#include "support/frames.h"
#include "support/simprocess.h"

#include <QTcpSocket>
#include <QTest>

#include <memory>

using Frames::hex;

namespace {

constexpr int kWaitMs = 3000;
// Units 1 and 2 answer; nothing answers at 9, so its exchange waits out the line's time-out.
constexpr quint8 kSilentUnit = 9;

QByteArray mbap(quint16 transaction, const QByteArray &unitAndPdu)
{
    QByteArray frame = hex("0000 0000 0000");
    frame[0] = char(transaction >> 8);
    frame[1] = char(transaction);
    frame[4] = char(unitAndPdu.size() >> 8);
    frame[5] = char(unitAndPdu.size());
    return frame + unitAndPdu;
}

// The network address register, which holds the unit's own address.
QByteArray readAddressPdu(quint8 unit)
{
    return QByteArray(1, char(unit)) + hex("03 0800 0001");
}

} // namespace

class tst_Serve : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void modbusTcpAndRtuClientsShareTheLine();
    void refusalsNeverReachTheLine_data();
    void refusalsNeverReachTheLine();
    void clientGoneMidRequestLeavesTheLineToTheOthers();
    void secondRequestWhileOneIsUnderWayIsRefused();
    void badFrameLetsGoOnlyItsModbusTcpClient_data();
    void badFrameLetsGoOnlyItsModbusTcpClient();
    void badRtuFrameIsDroppedAndItsClientServedOn_data();
    void badRtuFrameIsDroppedAndItsClientServedOn();
    void clientsBeyondTheLimitAndIdleOnesAreLetGo();

private:
    std::unique_ptr<QTcpSocket> connectTo(LineServer::Framing framing);
    static QByteArray receive(QTcpSocket &client, int size);

    std::unique_ptr<SimProcess> m_sim;
    std::unique_ptr<Line> m_line;
    std::unique_ptr<LineServer> m_server;
    QList<QByteArray> m_onLine; // the requests that reached the line, in order
};

void tst_Serve::initTestCase()
{
    m_sim = std::make_unique<SimProcess>(QStringList{"--slave", "1-2"});
    QVERIFY2(m_sim->started(), "no indicator-sim");
    m_line = std::make_unique<Line>();
    LineSetup setup;
    setup.speedNumber = 4; // 19200 baud, the simulator's
    setup.portName = m_sim->devicePath();
    bool opened = false;
    m_line->open(setup, this, [&](const LineOpened &outcome) { opened = outcome.opened; });
    QTRY_VERIFY_WITH_TIMEOUT(opened, kWaitMs);
    m_line->setObserver([this](const ExchangeRecord &record) { m_onLine << record.request; });
}

void tst_Serve::init()
{
    m_onLine.clear();
    m_server = std::make_unique<LineServer>(*m_line);
    QString error;
    QVERIFY(m_server->listen(LineServer::Framing::ModbusTcp, {}, &error));
    QVERIFY(m_server->listen(LineServer::Framing::RtuOverTcp, {}, &error));
}

// Nothing of one test is still on the line when the next begins.
void tst_Serve::cleanup()
{
    m_server.reset();
    QTRY_VERIFY_WITH_TIMEOUT(m_line->isIdle(), kWaitMs);
}

std::unique_ptr<QTcpSocket> tst_Serve::connectTo(LineServer::Framing framing)
{
    auto client = std::make_unique<QTcpSocket>();
    client->connectToHost(QHostAddress::LocalHost, m_server->listening(framing)->port);
    const int before = m_server->clientCount();
    [&] { QTRY_VERIFY_WITH_TIMEOUT(m_server->clientCount() > before, kWaitMs); }();
    return client;
}

// Exactly size bytes, or what came within the wait.
QByteArray tst_Serve::receive(QTcpSocket &client, int size)
{
    [&] { QTRY_VERIFY_WITH_TIMEOUT(client.bytesAvailable() >= size, kWaitMs); }();
    return client.read(size);
}

void tst_Serve::modbusTcpAndRtuClientsShareTheLine()
{
    const auto modbus = connectTo(LineServer::Framing::ModbusTcp);
    const auto rtu = connectTo(LineServer::Framing::RtuOverTcp);

    // Both at once: each gets its own unit's answer, in its own framing.
    modbus->write(mbap(0x1234, readAddressPdu(1)));
    rtu->write(Frames::readRequest(2, 0x0800, 1));
    QCOMPARE(receive(*modbus, 11), mbap(0x1234, hex("01 03 02 0001")));
    QCOMPARE(receive(*rtu, 7), Frames::readReply(2, {2}));

    // A write through one is read back through the other.
    modbus->write(mbap(7, hex("02 10 0A0D 0001 02 0002")));
    QCOMPARE(receive(*modbus, 12), mbap(7, hex("02 10 0A0D 0001")));
    rtu->write(Frames::readRequest(2, 0x0A0D, 1));
    QCOMPARE(receive(*rtu, 7), Frames::readReply(2, {2}));

    // The unit's own exception passes as it is; a silent unit is 0B over Modbus TCP, silence
    // over RTU, where the next request is answered as the first reply the client gets.
    modbus->write(mbap(8, hex("01 03 7000 0001")));
    QCOMPARE(receive(*modbus, 9), mbap(8, hex("01 83 02")));
    rtu->write(Frames::readRequest(1, 0x7000, 1));
    QCOMPARE(receive(*rtu, 5), Frames::withCrc(hex("01 83 02")));
    modbus->write(mbap(9, readAddressPdu(kSilentUnit)));
    QCOMPARE(receive(*modbus, 9), mbap(9, hex("09 83 0B")));
    rtu->write(Frames::readRequest(kSilentUnit, 0x0800, 1));
    QTRY_VERIFY_WITH_TIMEOUT(m_line->isIdle() && m_onLine.size() == 8, kWaitMs);
    rtu->write(Frames::readRequest(1, 0x0800, 1));
    QCOMPARE(receive(*rtu, 7), Frames::readReply(1, {1}));
}

void tst_Serve::refusalsNeverReachTheLine_data()
{
    QTest::addColumn<QByteArray>("unitAndPdu");
    QTest::addColumn<QByteArray>("exception");
    QTest::newRow("another function") << hex("01 04 0000 0001") << hex("01 84 01");
    QTest::newRow("no registers") << hex("01 03 0000 0000") << hex("01 83 03");
    QTest::newRow("more than the line carries, 48") << hex("01 03 0000 0030") << hex("01 83 03");
    QTest::newRow("a read with a byte more") << hex("01 03 0000 0001 00") << hex("01 83 03");
    QTest::newRow("byte count not twice the count") << hex("01 10 0A0D 0001 04 0002 0000") << hex("01 90 03");
    QTest::newRow("broadcast") << hex("00 10 0A0D 0001 02 0002") << hex("00 90 0A");
    QTest::newRow("unit 255") << hex("FF 03 0800 0001") << hex("FF 83 0A");
}

void tst_Serve::refusalsNeverReachTheLine()
{
    QFETCH(QByteArray, unitAndPdu);
    QFETCH(QByteArray, exception);
    const auto client = connectTo(LineServer::Framing::ModbusTcp);
    client->write(mbap(3, unitAndPdu));
    QCOMPARE(receive(*client, 9), mbap(3, exception));
    QVERIFY(m_line->isIdle());
    QVERIFY(m_onLine.isEmpty());
}

void tst_Serve::clientGoneMidRequestLeavesTheLineToTheOthers()
{
    const auto underWay = connectTo(LineServer::Framing::ModbusTcp);
    const auto queued = connectTo(LineServer::Framing::ModbusTcp);
    const auto stays = connectTo(LineServer::Framing::RtuOverTcp);

    underWay->write(mbap(1, readAddressPdu(kSilentUnit)));
    QTRY_VERIFY_WITH_TIMEOUT(!m_line->isIdle(), kWaitMs);
    // Its busy refusal tells that the server holds the first request, queued behind the silent one.
    queued->write(mbap(1, readAddressPdu(2)) + mbap(2, readAddressPdu(2)));
    QCOMPARE(receive(*queued, 9), mbap(2, hex("02 83 06")));
    stays->write(Frames::readRequest(1, 0x0800, 1));
    queued->abort();
    underWay->abort();
    QTRY_COMPARE_WITH_TIMEOUT(m_server->clientCount(), 1, kWaitMs);

    QCOMPARE(receive(*stays, 7), Frames::readReply(1, {1}));
    // The silent unit's request went out if the line had begun it before its client went; the
    // queued client's never did.
    QCOMPARE(m_onLine.constLast(), Frames::readRequest(1, 0x0800, 1));
    QVERIFY(m_onLine.size() == 1 || m_onLine.constFirst() == Frames::readRequest(kSilentUnit, 0x0800, 1));
    QVERIFY(!m_onLine.contains(Frames::readRequest(2, 0x0800, 1)));
}

void tst_Serve::secondRequestWhileOneIsUnderWayIsRefused()
{
    const auto modbus = connectTo(LineServer::Framing::ModbusTcp);
    modbus->write(mbap(1, readAddressPdu(kSilentUnit)) + mbap(2, readAddressPdu(1)));
    QCOMPARE(receive(*modbus, 9), mbap(2, hex("01 83 06")));
    QCOMPARE(receive(*modbus, 9), mbap(1, hex("09 83 0B")));

    const auto rtu = connectTo(LineServer::Framing::RtuOverTcp);
    rtu->write(Frames::readRequest(kSilentUnit, 0x0800, 1) + Frames::readRequest(1, 0x0800, 1));
    QTRY_VERIFY_WITH_TIMEOUT(m_line->isIdle() && m_onLine.size() == 2, kWaitMs);
    QTest::qWait(50); // a reply to the dropped request would come right after
    QCOMPARE(rtu->bytesAvailable(), 0);
    QCOMPARE(m_onLine.size(), 2);
}

void tst_Serve::badFrameLetsGoOnlyItsModbusTcpClient_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::newRow("length 1") << hex("0001 0000 0001 01");
    QTest::newRow("length 255") << hex("0001 0000 00FF 01");
    QTest::newRow("length 65535") << hex("0001 0000 FFFF 01");
    QTest::newRow("protocol 1") << hex("0001 0001 0006 01");
    QTest::newRow("a web browser") << QByteArray("GET / HTTP/1.1\r\n");
}

void tst_Serve::badFrameLetsGoOnlyItsModbusTcpClient()
{
    QFETCH(QByteArray, header);
    const auto good = connectTo(LineServer::Framing::ModbusTcp);
    const auto bad = connectTo(LineServer::Framing::ModbusTcp);
    bad->write(header);
    QTRY_COMPARE_WITH_TIMEOUT(bad->state(), QAbstractSocket::UnconnectedState, kWaitMs);
    QCOMPARE(m_server->clientCount(), 1);
    good->write(mbap(5, readAddressPdu(1)));
    QCOMPARE(receive(*good, 11), mbap(5, hex("01 03 02 0001")));
}

void tst_Serve::badRtuFrameIsDroppedAndItsClientServedOn_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("CRC fails") << Frames::withBadCrc(hex("01 03 0800 0001"));
    QTest::newRow("another function") << Frames::withCrc(hex("01 04 0800 0001"));
    QTest::newRow("longer than 256 bytes") << hex("01 10 0000 007D FA") + QByteArray(250, '\0');
}

void tst_Serve::badRtuFrameIsDroppedAndItsClientServedOn()
{
    QFETCH(QByteArray, frame);
    const auto rtu = connectTo(LineServer::Framing::RtuOverTcp);
    rtu->write(frame);
    QTest::qWait(100);
    QCOMPARE(rtu->bytesAvailable(), 0);
    QVERIFY(m_onLine.isEmpty());
    rtu->write(Frames::readRequest(1, 0x0800, 1));
    QCOMPARE(receive(*rtu, 7), Frames::readReply(1, {1}));
}

void tst_Serve::clientsBeyondTheLimitAndIdleOnesAreLetGo()
{
    m_server = std::make_unique<LineServer>(*m_line, LineServer::Limits{.mostClients = 2, .idleMs = 400});
    QString error;
    QVERIFY(m_server->listen(LineServer::Framing::ModbusTcp, {}, &error));
    QStringList notes;
    const QObject listening; // the server outlives this test
    connect(m_server.get(), &LineServer::note, &listening, [&](const QString &text) { notes << text; });
    const auto asking = connectTo(LineServer::Framing::ModbusTcp);
    const auto idle = connectTo(LineServer::Framing::ModbusTcp);
    QTcpSocket third;
    third.connectToHost(QHostAddress::LocalHost, m_server->listening(LineServer::Framing::ModbusTcp)->port);
    QTRY_COMPARE_WITH_TIMEOUT(third.state(), QAbstractSocket::UnconnectedState, kWaitMs);
    QCOMPARE(m_server->clientCount(), 2);

    // Asking every 150 ms keeps a client; one that asks nothing for 400 ms is let go.
    for (quint16 poll = 1; poll <= 5; ++poll) {
        asking->write(mbap(poll, readAddressPdu(1)));
        QCOMPARE(receive(*asking, 11), mbap(poll, hex("01 03 02 0001")));
        QTest::qWait(150);
    }
    QCOMPARE(idle->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(asking->state(), QAbstractSocket::ConnectedState);
    QCOMPARE(notes.filter(QStringLiteral("refused: 2 clients already")).size(), 1);
    QCOMPARE(notes.filter(QStringLiteral("let go: idle for 0.4 s after 0 request(s)")).size(), 1);
}

QTEST_GUILESS_MAIN(tst_Serve)
#include "tst_serve.moc"
