// Read exchanges per second of CAdapter, of the owner of the line that the window and the tools
// ask (each request handed to its link thread, each reply handed back as an event, the next
// request made from it), and of libmodbus's own master, in turns against the same indicator-sim
// on a pseudo-terminal, for 1 and for 10 registers.
//
// Usage: indicator-exchange-bench [N]   (N exchanges of each kind by each master; 2000)
#include "adapter.h"
#include "line.h"
#include "parammap.h"
#include "resultcodes.h"
#include "rtuframe.h"
#include "support/simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <modbus.h>

#include <array>
#include <cstdio>
#include <functional>

namespace {

constexpr int kDefaultExchanges = 2000;
// The two masters take turns in this many rounds, so that a burst of load elsewhere on the
// machine falls on both alike.
constexpr int kRounds = 10;
constexpr quint32 kBaud = 19200;
constexpr quint8 kSlave = 1;

struct Workload
{
    const char *name;
    TParamId parameter;
};
constexpr std::array kWorkloads{Workload{"1 register", prmModeBrightness},
                                Workload{"10 registers", prmInformationDevName}};

// A master that can take the line, make `count` reads, and give the line back; false on the
// first failed exchange.
using Master = std::function<bool(quint16 first, quint16 count, int exchanges)>;

bool readWithAdapter(const QString &device, quint16 first, quint16 count, int exchanges)
{
    CAdapter adapter;
    adapter.PortName = device;
    adapter.SpeedNumber = 4; // 19200
    adapter.Parity = 0;
    if (adapter.Open() != 0)
        return false;
    adapter.Connected = true;
    std::array<quint16, Rtu::maxReadRegisters> registers{};
    bool ok = true;
    for (int i = 0; i < exchanges && ok; ++i)
        ok = adapter.ReadRegisters(kSlave, first, count, registers.data()) == lrOk;
    adapter.Close();
    return ok;
}

// As a page's read-all goes: every request queued at once, each reply taken as it comes.
bool readWithLine(const QString &device, quint16 first, quint16 count, int exchanges)
{
    Line line;
    QEventLoop loop;
    LineSetup setup;
    setup.speedNumber = 4; // 19200
    setup.portName = device;
    bool ok = false;
    line.open(setup, &loop, [&](const LineOpened &opened) { ok = opened.opened; });
    int left = exchanges;
    for (int i = 0; i < exchanges; ++i) {
        line.request(LineRequest::read(kSlave, first, count), &loop, [&](const LineReply &reply) {
            ok = ok && reply.code == lrOk;
            if (--left == 0)
                loop.quit();
        });
    }
    loop.exec();
    return ok;
}

bool readWithLibmodbus(const QString &device, quint16 first, quint16 count, int exchanges)
{
    modbus_t *ctx = modbus_new_rtu(device.toLocal8Bit().constData(), int(kBaud), 'N', 8, 1);
    if (!ctx)
        return false;
    bool ok = modbus_set_slave(ctx, kSlave) == 0 && modbus_connect(ctx) == 0;
    std::array<uint16_t, MODBUS_MAX_READ_REGISTERS> registers{};
    for (int i = 0; i < exchanges && ok; ++i)
        ok = modbus_read_registers(ctx, first, count, registers.data()) == count;
    modbus_close(ctx);
    modbus_free(ctx);
    return ok;
}

// Seconds the master took for its share of `exchanges`, or a negative value on failure.
double timeMaster(const Master &master, quint16 first, quint16 count, int exchanges)
{
    QElapsedTimer elapsed;
    elapsed.start();
    if (!master(first, count, exchanges))
        return -1;
    return double(elapsed.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int exchanges = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : kDefaultExchanges;
    if (exchanges < kRounds) {
        fprintf(stderr, "Usage: indicator-exchange-bench [N]   (N >= %d exchanges of each kind)\n", kRounds);
        return 2;
    }

    SimProcess sim;
    if (!sim.started()) {
        fprintf(stderr, "indicator-sim did not start\n");
        return 1;
    }
    const QString device = sim.devicePath();
    const Master adapter = [&](quint16 f, quint16 c, int n) { return readWithAdapter(device, f, c, n); };
    const Master owner = [&](quint16 f, quint16 c, int n) { return readWithLine(device, f, c, n); };
    const Master libmodbus = [&](quint16 f, quint16 c, int n) { return readWithLibmodbus(device, f, c, n); };

    printf("%d read exchanges each against indicator-sim on %s (a pseudo-terminal: no wire time)\n",
           exchanges, qPrintable(device));
    printf("%-14s %12s %12s %12s %7s %7s %15s %15s\n", "", "CAdapter/s", "Line/s", "libmodbus/s", "ratio",
           "Line", "CAdapter us/ex", "libmodbus us/ex");
    for (const Workload &work : kWorkloads) {
        const quint16 first = ParamMap[work.parameter].Register;
        const quint16 count = ParamMap[work.parameter].Bytes / 2;
        double adapterSeconds = 0;
        double ownerSeconds = 0;
        double libmodbusSeconds = 0;
        for (int round = 0; round < kRounds; ++round) {
            const int share = exchanges / kRounds + (round < exchanges % kRounds ? 1 : 0);
            const double a = timeMaster(adapter, first, count, share);
            const double o = timeMaster(owner, first, count, share);
            const double l = timeMaster(libmodbus, first, count, share);
            if (a < 0 || o < 0 || l < 0) {
                fprintf(stderr, "%s: an exchange failed (%s)\n", work.name,
                        a < 0 ? "CAdapter" : o < 0 ? "Line" : "libmodbus");
                return 1;
            }
            adapterSeconds += a;
            ownerSeconds += o;
            libmodbusSeconds += l;
        }
        const double adapterRate = exchanges / adapterSeconds;
        const double ownerRate = exchanges / ownerSeconds;
        const double libmodbusRate = exchanges / libmodbusSeconds;
        // ratio: CAdapter against libmodbus; Line: the owner of the line against libmodbus.
        printf("%-14s %12.0f %12.0f %12.0f %7.2f %7.2f %15.1f %15.1f\n", work.name, adapterRate, ownerRate,
               libmodbusRate, adapterRate / libmodbusRate, ownerRate / libmodbusRate, 1e6 / adapterRate,
               1e6 / libmodbusRate);
    }
    return 0;
}
