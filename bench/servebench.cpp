// One line shared through indicator-cli serve: eight clients, half of them Modbus TCP and half
// RTU over TCP, poll five units of indicator-sim pacing the line (--wire-timing) at 19200 baud,
// each client a request at a time, and now and then a client leaves and another comes.
//
// Each poll reads the ten live registers of a unit (0x0000..0x0009): 8 characters of request
// and 5 + 20 of reply, 33 characters of 11 bits, 18.9 ms on the wire at 19200 baud. With eight
// clients asking, the line should never wait for serve: the wire time of the exchanges over the
// wall time is the share of time the line is busy (target at least 95 %), and what the wall
// time adds to the wire's, per exchange, is serve's overhead with the line's own (target at
// most 1 ms). serve's resident memory is read as the clients come and go: it should stay flat.
//
// Usage: indicator-serve-bench [SECONDS]   (30)
#include "linesettings.h"
#include "mbapframe.h"
#include "rtuframe.h"
#include "support/simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <csignal>
#include <memory>

#include <sys/prctl.h>

namespace {

constexpr quint8 kSpeedNumber = 4; // 19200 baud
constexpr int kClients = 8;
constexpr int kUnits = 5;
constexpr quint16 kFirstRegister = 0x0000;
constexpr quint16 kRegisters = 10;
constexpr int kRequestCharacters = 8;
constexpr int kReplyCharacters = 5 + 2 * kRegisters; // address, function, byte count, data, CRC
// A client leaves after this many polls and another comes in its place: on a line of 53
// exchanges a second, about five come and go a second.
constexpr int kPollsPerVisit = 10;
// A poll the line has not answered in this time counts as unanswered: a read waits at most
// about 230 ms on the line for its reply, and waits behind seven others.
constexpr int kAnswerTimeoutMs = 3000;
constexpr int kStartTimeoutMs = 5000;
// The first seconds warm the line and the processes up; memory is compared from then on.
constexpr qint64 kWarmUpMs = 2000;
constexpr int kDefaultSeconds = 30;

double wireMs(int characters)
{
    const double baud = LineSettings::baudRate(kSpeedNumber).value_or(LineSettings::BaudRates.front());
    return characters * LineSettings::bitsPerCharacter * 1000.0 / baud;
}

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression vmRss(QStringLiteral("^VmRSS:\\s+(\\d+) kB"), QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = vmRss.match(QString::fromLatin1(status.readAll()));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

struct Tally
{
    qint64 answered = 0;
    qint64 silent = 0;  // nothing within the time-out
    qint64 refused = 0; // an exception (0B: the unit did not answer serve in the line's time) or a wrong reply
    qint64 visits = 0;
    QElapsedTimer clock;
};

// A client of one framing that polls the units in turn, a request at a time, and comes back
// on a new connection after kPollsPerVisit polls.
class Client : public QObject
{
public:
    Client(bool modbusTcp, quint16 port, int index, Tally &tally)
        : m_modbusTcp(modbusTcp), m_port(port), m_unit(index % kUnits), m_tally(tally)
    {
        m_timeout.setSingleShot(true);
        m_timeout.setInterval(kAnswerTimeoutMs);
        connect(&m_timeout, &QTimer::timeout, this, [this] {
            ++m_tally.silent;
            fprintf(stderr, "indicator-serve-bench: %s client, unit %d: no reply after %d ms\n",
                    m_modbusTcp ? "Modbus TCP" : "RTU", m_unit, kAnswerTimeoutMs);
            visit();
        });
    }

    void visit()
    {
        m_socket = std::make_unique<QTcpSocket>();
        connect(m_socket.get(), &QTcpSocket::connected, this, &Client::ask);
        connect(m_socket.get(), &QTcpSocket::readyRead, this, &Client::take);
        m_socket->connectToHost(QStringLiteral("127.0.0.1"), m_port);
        m_polls = 0;
        ++m_tally.visits;
    }

private:
    void ask()
    {
        m_unit = m_unit % kUnits + 1;
        const QByteArray rtu = Rtu::readRequest(quint8(m_unit), kFirstRegister, kRegisters);
        m_expected = m_modbusTcp ? Mbap::headerSize + 2 + 2 * kRegisters : kReplyCharacters;
        m_socket->write(m_modbusTcp ? Mbap::request(++m_transaction, rtu) : rtu);
        m_timeout.start();
    }

    void take()
    {
        if (m_socket->bytesAvailable() < m_expected)
            return;
        m_timeout.stop();
        const QByteArray reply = m_socket->readAll();
        const bool good = reply.size() == m_expected
                          && (m_modbusTcp ? Rtu::wordAt(reply, 0) == m_transaction && quint8(reply[7]) == Rtu::fnReadHoldingRegisters
                                          : Rtu::crcVerifies(reply) && quint8(reply[1]) == Rtu::fnReadHoldingRegisters);
        ++(good ? m_tally.answered : m_tally.refused);
        if (!good)
            fprintf(stderr, "indicator-serve-bench: %s client, unit %d: %s\n", m_modbusTcp ? "Modbus TCP" : "RTU",
                    m_unit, reply.toHex(' ').constData());
        if (++m_polls < kPollsPerVisit) {
            ask();
            return;
        }
        m_socket->disconnect(this);
        m_socket->disconnectFromHost();
        m_socket.release()->deleteLater();
        visit();
    }

    const bool m_modbusTcp;
    const quint16 m_port;
    int m_unit;
    Tally &m_tally;
    std::unique_ptr<QTcpSocket> m_socket;
    QTimer m_timeout;
    qint64 m_expected = 0;
    quint16 m_transaction = 0;
    int m_polls = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = std::max(1, argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : kDefaultSeconds);

    SimProcess sim({"--wire-timing", "--slave", QStringLiteral("1-%1").arg(kUnits)});
    if (!sim.started()) {
        fprintf(stderr, "indicator-serve-bench: no indicator-sim\n");
        return 1;
    }
    QProcess serve;
    serve.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    serve.setProcessChannelMode(QProcess::SeparateChannels);
    serve.setReadChannel(QProcess::StandardError);
    serve.start(QStringLiteral(INDICATOR_CLI_PROGRAM),
                {"--port", sim.devicePath(), "--baud", "19200", "--parity", "none", "--stop-bits", "1", "serve",
                 "--modbus-tcp", "0", "--rtu-tcp", "0"});
    // The first line names the ports the system chose.
    QElapsedTimer start;
    start.start();
    while (!serve.canReadLine() && serve.state() != QProcess::NotRunning && start.elapsed() < kStartTimeoutMs)
        serve.waitForReadyRead(100);
    const QString first = QString::fromLocal8Bit(serve.readLine());
    const QRegularExpressionMatch ports = QRegularExpression(QStringLiteral("Modbus TCP at [^ ]+:(\\d+) and RTU over TCP at [^ ]+:(\\d+)")).match(first);
    if (!ports.hasMatch()) {
        fprintf(stderr, "indicator-serve-bench: indicator-cli serve did not start: %s\n", qPrintable(first));
        return 1;
    }
    printf("indicator-cli serve on indicator-sim --wire-timing, %d units at 19200 baud; %d clients (%d Modbus TCP, "
           "%d RTU over TCP), each reading %d registers, %d polls a visit, for %d s\n",
           kUnits, kClients, kClients / 2, kClients - kClients / 2, kRegisters, kPollsPerVisit, seconds);

    Tally tally;
    std::vector<std::unique_ptr<Client>> clients;
    for (int k = 0; k < kClients; ++k)
        clients.push_back(std::make_unique<Client>(k % 2 == 0, quint16(ports.captured(k % 2 == 0 ? 1 : 2).toUInt()), k, tally));
    tally.clock.start();
    for (const auto &client : clients)
        client->visit();

    qint64 warmKiB = -1;
    qint64 peakKiB = 0;
    qint64 answeredWarm = 0;
    qint64 warmAtMs = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const qint64 kib = residentKiB(serve.processId());
        if (warmKiB < 0 && tally.clock.elapsed() >= kWarmUpMs) {
            warmKiB = kib;
            answeredWarm = tally.answered;
            warmAtMs = tally.clock.elapsed();
        }
        peakKiB = std::max(peakKiB, kib);
        if (tally.clock.elapsed() >= seconds * 1000 + kWarmUpMs)
            app.quit();
    });
    sampler.start(250);
    app.exec();
    const qint64 endKiB = residentKiB(serve.processId());
    const qint64 endAtMs = tally.clock.elapsed();
    const qint64 answeredEnd = tally.answered;
    clients.clear();
    ::kill(pid_t(serve.processId()), SIGINT);
    serve.waitForFinished(kStartTimeoutMs);

    const double exchangeWireMs = wireMs(kRequestCharacters + kReplyCharacters);
    const qint64 exchanges = answeredEnd - answeredWarm;
    const double wallMs = double(endAtMs - warmAtMs);
    const double busy = exchanges * exchangeWireMs / std::max(wallMs, 1.0);
    printf("Requests: %lld answered, %lld without a reply, %lld refused or wrong; %lld client visits\n", tally.answered,
           tally.silent, tally.refused, tally.visits);
    printf("After the warm-up: %lld exchanges in %.2f s, %.1f ms of wire each; the line busy %.1f %% of the time "
           "(target at least 95 %%)\n",
           exchanges, wallMs / 1000.0, exchangeWireMs, 100.0 * busy);
    printf("Over the wire time: %.2f ms an exchange (target at most 1 ms)\n",
           exchanges > 0 ? (wallMs - exchanges * exchangeWireMs) / double(exchanges) : 0.0);
    printf("serve's resident memory: %lld KiB after the warm-up, %lld KiB at most, %lld KiB at the end\n", warmKiB,
           peakKiB, endKiB);
    const bool stopped = serve.exitStatus() == QProcess::NormalExit && serve.exitCode() == 0;
    if (!stopped)
        fprintf(stderr, "indicator-serve-bench: serve did not stop cleanly at SIGINT\n");
    return tally.silent == 0 && tally.refused == 0 && tally.answered > 0 && stopped ? 0 : 1;
}
