// The search for devices on the line: the order of its probes, what it sends, what it shows,
// how fast it lets go of the port, and taking a found indicator over into the left panel.
#include "devicesearch.h"
#include "registercodec.h"
#include "support/configwindow.h"
#include "support/frames.h"
#include "support/platformclick.h"
#include "support/scriptedpipe.h"
#include "support/simprocess.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

using namespace Frames;

namespace {

constexpr int kSearchTimeoutMs = 60000;
// A device's turnaround that a loaded machine keeps to: at the window's 40 ms a scripted reply
// that comes late meets the next probe and shifts the script.
constexpr int kLoadedMachineAllowanceMs = 200;
constexpr quint16 kAddressRegister = 0x0800;
constexpr quint16 kVersionRegister = 0x0100;
constexpr quint16 kNameRegister = 0x0B00;
constexpr quint16 kTextRegisters = 10;

QList<quint16> textRegisters(const QString &text)
{
    QList<quint16> registers(kTextRegisters, 0);
    RegisterCodec::putText(text, registers.data(), 2 * kTextRegisters);
    return registers;
}

// "speed/parity:address" for each probe, as the tables below write them.
QStringList probeTexts(const QList<DeviceSearch::Probe> &probes)
{
    QStringList texts;
    for (const DeviceSearch::Probe &probe : probes)
        texts << QStringLiteral("%1/%2:%3").arg(probe.setting.speedNumber).arg(probe.setting.parity).arg(probe.address);
    return texts;
}

// How many of this process's descriptors have the device open.
int openCount(const QString &device)
{
    const QDir descriptors(QStringLiteral("/proc/self/fd"));
    int count = 0;
    for (const QString &entry : descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        if (QFile::symLinkTarget(descriptors.filePath(entry)) == device)
            ++count;
    }
    return count;
}

// The search window of a configurator window, driven by the names of its controls.
class Search
{
public:
    explicit Search(ConfigWindow &config)
    {
        config.trigger("mnuSearch");
        m_window = config.window().findChild<QDialog *>(QStringLiteral("frmSearch"));
        if (!m_window)
            qFatal("the search window does not open");
    }

    template <typename T = QWidget>
    T *find(const QString &name) const
    {
        T *widget = m_window->findChild<T *>(name);
        if (!widget)
            qFatal("no %s in the search window", qPrintable(name));
        return widget;
    }

    QDialog *window() const { return m_window; }

    void tickOnly(const QList<int> &speeds, const QList<int> &parities)
    {
        for (int i = 0; i < 8; ++i)
            find<QCheckBox>(QStringLiteral("checkSearchSpeed%1").arg(i))->setChecked(speeds.contains(i));
        for (int i = 0; i < 3; ++i)
            find<QCheckBox>(QStringLiteral("checkSearchParity%1").arg(i))->setChecked(parities.contains(i));
    }

    // For scripted replies, which must each meet their own probe.
    void patient() { find<QSpinBox>(QStringLiteral("spinSearchAllowance"))->setValue(kLoadedMachineAllowanceMs); }

    void addresses(int first, int last)
    {
        find<QSpinBox>(QStringLiteral("spinSearchFirstAddress"))->setValue(first);
        find<QSpinBox>(QStringLiteral("spinSearchLastAddress"))->setValue(last);
    }

    void click(const char *name) { QTest::mouseClick(find<QPushButton>(QLatin1String(name)), Qt::LeftButton); }

    // Runs the search to its end.
    bool run()
    {
        click("btnSearchStart");
        QPushButton *start = find<QPushButton>(QStringLiteral("btnSearchStart"));
        return QTest::qWaitFor([start] { return start->isEnabled(); }, kSearchTimeoutMs);
    }

    // One line per row of the table: its cells joined by " | ".
    QStringList rows() const
    {
        const auto *table = find<QTableWidget>(QStringLiteral("tblSearchFound"));
        QStringList rows;
        for (int row = 0; row < table->rowCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < table->columnCount(); ++column)
                cells << table->item(row, column)->text();
            rows << cells.join(QStringLiteral(" | "));
        }
        return rows;
    }

    QString text(const char *label) const { return find<QLabel>(QLatin1String(label))->text(); }

private:
    QDialog *m_window = nullptr;
};

} // namespace

class TestSearch : public QObject
{
    Q_OBJECT

private slots:
    // The left panel at 9600, no parity; speed rows 0..7 are 1200..115200, parity rows none, even, odd.
    void probesGoFromLikelyToUnlikely_data()
    {
        QTest::addColumn<QList<quint8>>("speeds");
        QTest::addColumn<QList<quint8>>("parities");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("likelyAddress");
        QTest::addColumn<QStringList>("expected");

        const QList<quint8> twoSpeeds{5, 3};
        QTest::newRow("panel setting and device number first")
            << twoSpeeds << QList<quint8>{2, 0} << 1 << 3 << 2
            << QStringList{"3/0:2", "3/0:1", "3/0:3", "3/2:1", "3/2:2", "3/2:3",
                           "5/0:1", "5/0:2", "5/0:3", "5/2:1", "5/2:2", "5/2:3"};
        QTest::newRow("device number outside the range is not probed")
            << QList<quint8>{3} << QList<quint8>{0} << 5 << 6 << 2 << QStringList{"3/0:5", "3/0:6"};
        QTest::newRow("panel setting not ticked is not tried")
            << QList<quint8>{4} << QList<quint8>{1} << 1 << 2 << 1 << QStringList{"4/1:1", "4/1:2"};
        QTest::newRow("never the broadcast address")
            << QList<quint8>{3} << QList<quint8>{0} << 0 << 2 << 0 << QStringList{"3/0:1", "3/0:2"};
        QTest::newRow("never past 247")
            << QList<quint8>{3} << QList<quint8>{0} << 246 << 300 << 1 << QStringList{"3/0:246", "3/0:247"};
        QTest::newRow("a reversed range is the same range")
            << QList<quint8>{3} << QList<quint8>{0} << 3 << 1 << 9 << QStringList{"3/0:1", "3/0:2", "3/0:3"};
        QTest::newRow("nothing ticked, nothing sent") << QList<quint8>{} << QList<quint8>{0} << 1 << 247 << 1
                                                      << QStringList{};
        QTest::newRow("common speeds before the slow ones, the slowest last")
            << QList<quint8>{0, 1, 2, 3, 4, 5, 6, 7} << QList<quint8>{0} << 1 << 1 << 1
            << QStringList{"3/0:1", "4/0:1", "5/0:1", "6/0:1", "7/0:1", "2/0:1", "1/0:1", "0/0:1"};
        QTest::newRow("low addresses at every setting before any full sweep")
            << QList<quint8>{3, 4} << QList<quint8>{0, 2} << 15 << 18 << 17
            << QStringList{"3/0:17", "3/0:15", "3/0:16", "4/0:15", "4/0:16", "4/2:15", "4/2:16", "3/2:15", "3/2:16",
                           "3/0:18", "4/0:17", "4/0:18", "4/2:17", "4/2:18", "3/2:17", "3/2:18"};
        QTest::newRow("a row named twice is tried once")
            << QList<quint8>{4, 4} << QList<quint8>{0, 0} << 1 << 2 << 1 << QStringList{"4/0:1", "4/0:2"};
    }

    void probesGoFromLikelyToUnlikely()
    {
        QFETCH(QList<quint8>, speeds);
        QFETCH(QList<quint8>, parities);
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(int, likelyAddress);
        QFETCH(QStringList, expected);

        DeviceSearch::Plan plan;
        plan.speeds = speeds;
        plan.parities = parities;
        plan.firstAddress = first;
        plan.lastAddress = last;
        plan.likely = {3, 0}; // 9600, none
        plan.likelyAddress = likelyAddress;
        QCOMPARE(probeTexts(DeviceSearch::probeOrder(plan)), expected);
    }

    // Every setting and address of the window's default plan exactly once, wherever the left
    // panel points.
    void everyProbeOfThePlanGoesOutOnce_data()
    {
        QTest::addColumn<int>("likelySpeed");
        QTest::addColumn<int>("likelyParity");
        QTest::addColumn<int>("likelyAddress");
        QTest::newRow("9600, none, 1: the defaults") << 3 << 0 << 1;
        QTest::newRow("115200, odd, 200: in the full sweep") << 7 << 2 << 200;
        QTest::newRow("1200, even, 16: the last low address") << 0 << 1 << 16;
    }

    void everyProbeOfThePlanGoesOutOnce()
    {
        QFETCH(int, likelySpeed);
        QFETCH(int, likelyParity);
        QFETCH(int, likelyAddress);
        DeviceSearch::Plan plan;
        plan.speeds = {0, 1, 2, 3, 4, 5, 6, 7};
        plan.parities = {0, 1, 2};
        plan.likely = {quint8(likelySpeed), quint8(likelyParity)};
        plan.likelyAddress = likelyAddress;
        const QStringList probes = probeTexts(DeviceSearch::probeOrder(plan));
        const qsizetype settings = plan.speeds.size() * plan.parities.size();
        QCOMPARE(probes.size(), settings * DeviceSearch::kLastAddress);
        QCOMPARE(QSet<QString>(probes.begin(), probes.end()).size(), probes.size());
        QCOMPARE(probes.first(), QStringLiteral("%1/%2:%3").arg(likelySpeed).arg(likelyParity).arg(likelyAddress));
    }

    // The wire time of an 8-byte request and a 7-byte reply, 11 bits a character, plus the allowance.
    void probeBudgetFollowsTheSpeed_data()
    {
        QTest::addColumn<int>("speedNumber");
        QTest::addColumn<int>("allowance");
        QTest::addColumn<int>("budget");
        QTest::newRow("1200: 137.5 ms on the wire") << 0 << 40 << 178;
        QTest::newRow("19200: 8.6 ms on the wire") << 4 << 40 << 49;
        QTest::newRow("115200: 1.4 ms, no allowance") << 7 << 0 << 2;
    }

    void probeBudgetFollowsTheSpeed()
    {
        QFETCH(int, speedNumber);
        QFETCH(int, allowance);
        QFETCH(int, budget);
        QCOMPARE(DeviceSearch::probeBudgetMs(quint8(speedNumber), allowance), budget);
    }

    // The sum of the probe budgets, rounded up to the second, beside the progress bar as the
    // search starts; gone once it ends.
    void timeLeftIsShownBesideTheProgressBar_data()
    {
        QTest::addColumn<QList<int>>("speeds");
        QTest::addColumn<QList<int>>("parities");
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("allowance");
        QTest::addColumn<QString>("timeLeft");
        // 10 probes of 58 ms: 0.58 s.
        QTest::newRow("under a second reads one") << QList<int>{3} << QList<int>{0} << 10 << 40
                                                  << QStringLiteral("осталось не более 1 с");
        // 741 probes of 178 ms: 131.9 s.
        QTest::newRow("minutes and seconds") << QList<int>{0} << QList<int>{0, 1, 2} << 247 << 40
                                             << QStringLiteral("осталось не более 2 мин 12 с");
        // 120 probes of 2 + 998 ms.
        QTest::newRow("whole minutes") << QList<int>{7} << QList<int>{0} << 120 << 998
                                       << QStringLiteral("осталось не более 2 мин");
        // 247 addresses of 24 settings, 8279 ms for the eight speeds at one parity: 6134.7 s.
        QTest::newRow("hours") << QList<int>{0, 1, 2, 3, 4, 5, 6, 7} << QList<int>{0, 1, 2} << 247 << 1000
                               << QStringLiteral("осталось не более 1 ч 42 мин 15 с");
    }

    void timeLeftIsShownBesideTheProgressBar()
    {
        QFETCH(QList<int>, speeds);
        QFETCH(QList<int>, parities);
        QFETCH(int, last);
        QFETCH(int, allowance);
        QFETCH(QString, timeLeft);
        ConfigWindow config("[PORTS]\nCOM2=%PTY%\n");
        Search search(config);
        search.tickOnly(speeds, parities);
        search.addresses(1, last);
        search.find<QSpinBox>(QStringLiteral("spinSearchAllowance"))->setValue(allowance);
        // No turn of the event loop between the click and the look: no probe has gone out yet.
        search.find<QPushButton>(QStringLiteral("btnSearchStart"))->click();
        QCOMPARE(search.text("lblSearchTimeLeft"), timeLeft);
        search.find<QPushButton>(QStringLiteral("btnSearchCancel"))->click();
        QCOMPARE(search.text("lblSearchTimeLeft"), QString());
    }

    // Device number 3 in the left panel, addresses 1..4 at 9600 with no and with odd parity.
    void onlyReadsOfTheAddressRegisterGoOnTheLine()
    {
        ScriptedPipe device;
        ConfigWindow config("[PORTS]\nCOM2=" + device.devicePath().toLatin1() + "\n[DEVS]\nDeviceNumber=3\n");
        device.queueReply(ScriptedPipe::Reply{});                    // 3: silence
        device.queueReply(readReply(1, {7}));                        // 1: a device with another value
        device.queueReply(hex("0203020002ffff"));                    // 2: wrong CRC
        device.queueReply(readReply(4, {4}));                        // 4: an indicator
        device.queueReply(readReply(4, textRegisters("Котёл 4")));  // its name
        device.queueReply(readReply(4, textRegisters("v2.01")));     // its version

        Search search(config);
        search.tickOnly({3}, {0, 2});
        search.addresses(1, 4);
        QVERIFY(search.run());

        QList<QByteArray> expected{readRequest(3, kAddressRegister, 1), readRequest(1, kAddressRegister, 1),
                                   readRequest(2, kAddressRegister, 1), readRequest(4, kAddressRegister, 1),
                                   readRequest(4, kNameRegister, kTextRegisters),
                                   readRequest(4, kVersionRegister, kTextRegisters)};
        for (quint8 address = 1; address <= 4; ++address)
            expected << readRequest(address, kAddressRegister, 1);
        QCOMPARE(device.requests(), expected);
        QCOMPARE(search.rows(), (QStringList{"1 | 9600 | Нет | другое устройство | ", "4 | 9600 | Нет | Котёл 4 | v2.01"}));
        QCOMPARE(search.text("lblSearchNoise"), QStringLiteral("помехи на 9600/Нет (1)"));
        QCOMPARE(search.text("lblSearchProgress"), QStringLiteral("Поиск закончен, найдено: 2"));
        // Only an indicator can be taken over.
        auto *table = search.find<QTableWidget>(QStringLiteral("tblSearchFound"));
        auto *apply = search.find<QPushButton>(QStringLiteral("btnSearchApply"));
        table->selectRow(0);
        QVERIFY(!apply->isEnabled());
        table->selectRow(1);
        QVERIFY(apply->isEnabled());
    }

    // %PIPE% stands for the scripted device's name.
    void searchEndsWithItsReason_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<int>("requests");
        const QByteArray onCom2("[PORTS]\nCOM2=%PIPE%\n");
        QTest::newRow("no such port") << QByteArray("[PORTS]\nCOM2=/nonexistent/tty\n") << "none"
                                      << "Ошибка! Порт COM2 не открыт (/nonexistent/tty)" << 0;
        // The probe, then the indicator's name and version.
        QTest::newRow("stop at the first indicator") << onCom2 << "indicator at 1" << "Поиск закончен, найдено: 1" << 3;
        QTest::newRow("adapter unplugged") << onCom2 << "hang-up after one probe"
                                           << "Ошибка! Порт COM2 не отвечает (%PIPE%)" << 1;
    }

    void searchEndsWithItsReason()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QString, event);
        QFETCH(QString, outcome);
        QFETCH(int, requests);
        ScriptedPipe device;
        ConfigWindow config(settings.replace("%PIPE%", device.devicePath().toLatin1()));
        if (event == QLatin1String("indicator at 1")) {
            device.queueReply(readReply(1, {1}));
            device.queueReply(readReply(1, textRegisters("A")));
            device.queueReply(readReply(1, textRegisters("B")));
        }
        if (event.startsWith(QLatin1String("hang-up")))
            device.hangUpAfter(1);
        Search search(config);
        search.find<QCheckBox>(QStringLiteral("checkSearchStopAtFirst"))->setChecked(true);
        QVERIFY(search.run());
        QCOMPARE(search.text("lblSearchProgress"), outcome.replace(QLatin1String("%PIPE%"), device.devicePath()));
        QCOMPARE(device.requests().size(), requests);
        QTRY_VERIFY(!device.isHeld()); // the search has let go of the port
    }

    // The left panel at 9600, no parity, one stop bit; the indicator at 42, 38400, odd parity.
    void foundIndicatorIsTakenOverAndStartReadsIt()
    {
        SimProcess sim({"--slave", "42", "--baud", "38400", "--parity", "odd", "--mismatch-noise"});
        QVERIFY2(sim.started(), "indicator-sim did not come up");
        ConfigWindow config("[PORTS]\nCOM2=" + sim.devicePath().toLocal8Bit() + "\n");

        Search search(config);
        search.patient();
        search.tickOnly({3, 4, 5}, {0, 1, 2});
        search.addresses(40, 44);
        QVERIFY(search.run());
        QCOMPARE(search.rows(), QStringList{"42 | 38400 | Нечет | Индикатор DI-4 sim | v1.07 сборка 12"});
        // The simulator answers every other setting with garbage.
        QVERIFY2(search.text("lblSearchNoise").contains(QStringLiteral("помехи на 9600/Нет")),
                 qPrintable(search.text("lblSearchNoise")));

        search.find<QTableWidget>(QStringLiteral("tblSearchFound"))->selectRow(0);
        search.click("btnSearchApply");
        QTRY_VERIFY(!config.window().findChild<QDialog *>(QStringLiteral("frmSearch")));
        QCOMPARE(config.find<QComboBox>("cmbSpeed")->currentText(), QStringLiteral("38400"));
        QCOMPARE(config.find<QComboBox>("cmbParity")->currentText(), QStringLiteral("Нечет"));
        QCOMPARE(config.find<QLineEdit>("edtDevNumber")->text(), QStringLiteral("42"));

        QVERIFY(config.start());
        QVERIFY(!config.find<QAction>("mnuSearch")->isEnabled());
        config.click("sbInformation");
        QCOMPARE(config.find<QLineEdit>("edtInformationDevName")->text(), QStringLiteral("Индикатор DI-4 sim"));
        config.stop();
        QVERIFY(config.find<QAction>("mnuSearch")->isEnabled());

        config.window().close();
        const QByteArray settings = config.settingsFile();
        for (const char *line : {"SpeedNumber=5", "Parity=2", "DeviceNumber=42"})
            QVERIFY2(settings.contains(line), settings.constData());
    }

    // Behind a serial device server the line's settings are the server's: the window says so,
    // and the search goes through the addresses alone, at the left panel's setting.
    void aServerIsSearchedByAddressOnly()
    {
        SimProcess sim({"--tcp", "0", "--slave", "5"});
        QVERIFY2(sim.started(), "indicator-sim did not come up");
        ConfigWindow config("[PORTS]\nCOM2=" + sim.devicePath().toLocal8Bit() + "\nCOM3=%PTY%\n");
        Search search(config);
        const auto choicesOpen = [&search] {
            return search.find(QStringLiteral("gbSearchSpeeds"))->isEnabled()
                   && search.find(QStringLiteral("gbSearchParities"))->isEnabled();
        };
        QVERIFY(!choicesOpen());
        QCOMPARE(search.text("lblSearchServerLine"),
                 QStringLiteral("Скорость, паритет и стоп-биты линии задаёт сервер %1: ищутся только адреса.")
                     .arg(sim.devicePath()));

        search.addresses(1, 8);
        QVERIFY(search.run());
        QCOMPARE(search.find<QProgressBar>(QStringLiteral("pbSearch"))->maximum(), 8);
        QCOMPARE(search.rows(), QStringList{"5 | 9600 | Нет | Индикатор DI-4 sim | v1.07 сборка 12"});

        search.find<QComboBox>(QStringLiteral("cmbSearchPort"))->setCurrentIndex(2); // COM3, a serial line
        QVERIFY(choicesOpen());
        QVERIFY(!search.find(QStringLiteral("lblSearchServerLine"))->isVisible());
    }

    void cancelFreesThePortWithinOneProbe_data()
    {
        QTest::addColumn<QByteArray>("speedNumber");
        QTest::newRow("9600") << QByteArray("3");
        QTest::newRow("1200, the longest probe") << QByteArray("0");
    }

    void cancelFreesThePortWithinOneProbe()
    {
        QFETCH(QByteArray, speedNumber);
        ConfigWindow config("[PORTS]\nCOM2=%PTY%\n[COMP]\nSpeedNumber=" + speedNumber + "\n");
        const QString device = config.peer().devicePath();
        const int idle = openCount(device);
        Search search(config);
        search.click("btnSearchStart");
        auto *progress = search.find<QProgressBar>(QStringLiteral("pbSearch"));
        QTRY_VERIFY_WITH_TIMEOUT(progress->value() >= 2, 5000);
        QVERIFY(openCount(device) > idle);
        QVERIFY(search.text("lblSearchProgress").startsWith(QString::fromUtf8(speedNumber == "3" ? "9600/Нет" : "1200/Нет")));

        // The click comes through the platform's queue, as a user's does, and gives up the
        // probe under way: one probe takes 177 ms at most, and the search holds the port for
        // minutes. The bound leaves a loaded machine room.
        QElapsedTimer elapsed;
        elapsed.start();
        platformClick(search.find<QPushButton>(QStringLiteral("btnSearchCancel")));
        while (openCount(device) > idle && elapsed.elapsed() < 2000)
            QTest::qWait(1);
        QVERIFY2(elapsed.elapsed() < 500, qPrintable(QString::number(elapsed.elapsed())));
        QVERIFY(search.text("lblSearchProgress").startsWith(QStringLiteral("Поиск отменён")));
        QVERIFY(progress->value() < progress->maximum());
        QVERIFY(search.find<QPushButton>(QStringLiteral("btnSearchStart"))->isEnabled());
    }
};

QTEST_MAIN(TestSearch)
#include "tst_search.moc"
