// The window «Слушать линию»: each exchange it hears decoded, the counts of each address, the
// capture it saves, that it sends nothing, and that it opens only while not connected; and a
// line of five simulated units heard whole through the simulator's tap.
#include "adapter.h"
#include "heardlog.h"
#include "modalbox.h"
#include "resultcodes.h"
#include "support/configwindow.h"
#include "support/frames.h"
#include "support/simprocess.h"

#include <QAction>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace Frames;

namespace {

// A request without reply is given up after 646 ms at 19200 baud; bytes that are no frame
// after 200 ms of silence. Both well inside this on a loaded machine.
constexpr int kHeardWithinMs = 5000;
constexpr quint16 kTopRange = 0x0A06;
constexpr quint16 kName = 0x0B00;
const QList<quint16> k150 = {0x0000, 0x4316}; // register floats, low-order half first
const QList<quint16> k250 = {0x0000, 0x437A};

QByteArray exception(quint8 slave, quint8 function, quint8 code)
{
    return withCrc(QByteArray().append(char(slave)).append(char(function | 0x80)).append(char(code)));
}

const QString kReadTop = QStringLiteral("адрес %1: чтение: верхняя граница (0x0A06, 2 рег.) → %2");

// The listen window of a configurator window, driven by the names of its controls.
class Listen
{
public:
    explicit Listen(ConfigWindow &config)
    {
        config.trigger("mnuListen");
        m_window = config.window().findChild<QDialog *>(QStringLiteral("frmListen"));
        if (!m_window)
            qFatal("the listen window does not open");
    }

    template <typename T = QWidget>
    T *find(const char *name) const
    {
        T *widget = m_window->findChild<T *>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no %s in the listen window", name);
        return widget;
    }

    bool start()
    {
        QTest::mouseClick(find<QPushButton>("btnListenStart"), Qt::LeftButton);
        return QTest::qWaitFor([this] { return state() == QStringLiteral("Слушает линию"); }, kHeardWithinMs);
    }
    QString state() const { return find<QLabel>("lblListenState")->text(); }

    int rows() const { return table()->model()->rowCount(); }
    bool waitForRows(int count) const
    {
        return QTest::qWaitFor([this, count] { return rows() >= count; }, kHeardWithinMs);
    }
    QString cell(int row, int column) const { return table()->model()->index(row, column).data().toString(); }
    QStringList exchanges() const
    {
        QStringList texts;
        for (int row = 0; row < rows(); ++row)
            texts << cell(row, HeardLog::Exchange);
        return texts;
    }
    bool isRed(int row) const
    {
        return table()->model()->index(row, HeardLog::Exchange).data(Qt::ForegroundRole).value<QBrush>().color()
               == ConfigWindow::failureColour();
    }

    // "address: requests replies time-outs CRC-errors" for each row of the counts.
    QStringList counts() const
    {
        const QTableWidget *counts = find<QTableWidget>("tblListenCounts");
        QStringList rows;
        for (int row = 0; row < counts->rowCount(); ++row) {
            QStringList cells;
            for (int column = 1; column < 5; ++column)
                cells << counts->item(row, column)->text();
            rows << counts->item(row, 0)->text() + QStringLiteral(": ") + cells.join(u' ');
        }
        return rows;
    }

private:
    QTableView *table() const { return find<QTableView>("tblListenExchanges"); }

    QDialog *m_window;
};

} // namespace

class TestListenWindow : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { ModalBox::setInterceptor({}); }

    // The peer writes what another master and its device would put on the line; whatever
    // the window sent would arrive there as requests.
    void linesHeardAreShownDecoded_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("red");
        const QByteArray read150 = readRequest(3, kTopRange, 2) + readReply(3, k150);
        QTest::newRow("read") << read150 << kReadTop.arg(3).arg(150) << false;
        QTest::newRow("write after a read")
            << read150 + writeRequest(3, kTopRange, k250) + writeEcho(3, kTopRange, 2)
            << QStringLiteral("адрес 3: запись: верхняя граница (0x0A06, 2 рег.) 150 → 250") << false;
        QTest::newRow("no reply") << readRequest(3, kTopRange, 2) << kReadTop.arg(3).arg("Ошибка! Нет овета!") << true;
        QTest::newRow("exception") << readRequest(3, kTopRange, 2) + exception(3, 0x03, 0x02)
                                   << kReadTop.arg(3).arg("исключение 02 — неверный адрес") << true;
        QTest::newRow("reply without request")
            << readReply(4, {1}) << QStringLiteral("адрес 4: ответ без запроса, функция 0x03") << true;
        QTest::newRow("bytes that are no frame") << hex("FF00") << QStringLiteral("не кадр, байт: 2") << true;
        // A name whose escape sequence would act on a terminal, and whose line feed would break
        // its row, shows as text.
        QTest::newRow("device text") << readRequest(3, kName, 10)
                                            + readReply(3, {0x1B41, 0x325B, 0x0A4A, 0, 0, 0, 0, 0, 0, 0})
                                     << QStringLiteral("адрес 3: чтение: имя прибора (0x0B00, 10 рег.) → \"A\\x1b[2J\\n\"")
                                     << false;
    }

    void linesHeardAreShownDecoded()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, shown);
        QFETCH(bool, red);
        ConfigWindow config;
        Listen listen(config);
        QVERIFY(listen.start());
        config.peer().writeNow(line);
        QVERIFY(QTest::qWaitFor([&] { return listen.exchanges().contains(shown); }, kHeardWithinMs));
        const int row = int(listen.exchanges().indexOf(shown));
        QCOMPARE(listen.isRed(row), red);
        QVERIFY(config.peer().requests().isEmpty());
    }

    void countsAreOfEachAddress()
    {
        ConfigWindow config;
        Listen listen(config);
        QVERIFY(listen.start());
        QByteArray broken = readReply(2, k150);
        broken.back() = char(broken.back() ^ 0x01);
        config.peer().writeNow(readRequest(1, kTopRange, 2) + readReply(1, k150) + readRequest(2, kTopRange, 2)
                               + broken + readRequest(1, kTopRange, 2) + readReply(1, k250)
                               + readRequest(3, kTopRange, 2));
        const QStringList expected = {"1: 2 2 0 0", "2: 1 0 0 1", "3: 1 0 1 0"};
        QVERIFY2(QTest::qWaitFor([&] { return listen.counts() == expected; }, kHeardWithinMs),
                 qPrintable(listen.counts().join(QStringLiteral(", "))));
        QVERIFY(config.peer().requests().isEmpty());
    }

    void captureIsSavedAsTheFilterSays_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("pcap");
        QTest::newRow("pcap") << QStringLiteral("Wireshark, pcap (*.pcap)") << true;
        QTest::newRow("json lines") << QStringLiteral("Строки JSON (*.jsonl)") << false;
    }

    void captureIsSavedAsTheFilterSays()
    {
        QFETCH(QString, filter);
        QFETCH(bool, pcap);
        ConfigWindow config;
        Listen listen(config);
        QVERIFY(listen.start());
        const QByteArray request = readRequest(1, kTopRange, 2);
        config.peer().writeNow(request + readReply(1, k150));
        QVERIFY(listen.waitForRows(1));
        QTest::mouseClick(listen.find<QPushButton>("btnListenStop"), Qt::LeftButton);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("line")); // the filter gives the suffix
        ModalBox::setInterceptor([&](QDialog &box) {
            auto *files = qobject_cast<QFileDialog *>(&box);
            files->selectNameFilter(filter);
            emit files->filterSelected(filter);
            files->selectFile(path);
            return int(QDialog::Accepted);
        });
        QTest::mouseClick(listen.find<QPushButton>("btnListenSave"), Qt::LeftButton);
        QFile saved(path + (pcap ? ".pcap" : ".jsonl"));
        QVERIFY2(saved.open(QIODevice::ReadOnly), qPrintable(saved.fileName()));
        const QByteArray bytes = saved.readAll();
        if (pcap) {
            QCOMPARE(qFromLittleEndian<quint32>(bytes.constData()), 0xA1B2C3D4u);
            QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 20), 147u);
            QCOMPARE(bytes.mid(24 + 16, request.size()).toHex(), request.toHex());
        } else {
            const QJsonObject first = QJsonDocument::fromJson(bytes.split('\n').constFirst()).object();
            QCOMPARE(first.value("direction").toString(), QStringLiteral("request"));
            QCOMPARE(first.value("bytes").toString(), QString::fromLatin1(request.toHex(' ').toUpper()));
        }
    }

    // An adapter unplugged while listening ends the hearing, said in red, and frees the port.
    void anUnpluggedAdapterEndsTheHearing()
    {
        ConfigWindow config;
        Listen listen(config);
        QVERIFY(listen.start());
        config.peer().hangUp();
        const QString lost = QStringLiteral("Ошибка! Адаптер COM2 отключён (%1)").arg(config.peer().devicePath());
        QVERIFY2(QTest::qWaitFor([&] { return listen.state() == lost; }, kHeardWithinMs), qPrintable(listen.state()));
        QVERIFY(listen.find<QPushButton>("btnListenStart")->isEnabled());
    }

    // A listener beside our own exchanges would hear only them, and the port is ours.
    void listeningOpensOnlyWhileNotConnected()
    {
        ConfigWindow config;
        QAction *listen = config.find<QAction>("mnuListen");
        QVERIFY(listen->isEnabled());
        QVERIFY(config.start());
        QVERIFY(!listen->isEnabled());
        config.stop();
        QVERIFY(listen->isEnabled());
    }

    // A Modbus TCP gateway passes on only the replies to its own requests: the window says so in
    // red and offers no hearing.
    void aModbusTcpGatewayIsNotOffered()
    {
        ConfigWindow config("[PORTS]\nCOM2=modbus-tcp://127.0.0.1:1502\n");
        Listen listen(config);
        QCOMPARE(listen.state(),
                 QStringLiteral("Ошибка! Порт COM2 ведёт к шлюзу Modbus TCP (modbus-tcp://127.0.0.1:1502): шлюз передаёт "
                                "только ответы на свои запросы, а не обмен на линии. Слушать нечего."));
        QCOMPARE(listen.find<QLabel>("lblListenState")->palette().color(QPalette::WindowText),
                 ConfigWindow::failureColour());
        QVERIFY(!listen.find<QPushButton>("btnListenStart")->isEnabled());
    }

    void logKeepsTheNewestRowsAndFrames()
    {
        HeardLog log(nullptr, 3, 4);
        QList<LineListener::Event> events;
        QList<LineListener::Record> records;
        for (int i = 0; i < 5; ++i) {
            events.append({LineListener::EventKind::Unframed, i, 0, {}, QByteArray(1, char(i)), 0, QString::number(i)});
            records.append({i, LineListener::Direction::Unframed, QByteArray(1, char(i)), {}});
        }
        log.add(events.mid(0, 2), records.mid(0, 2));
        log.add(events.mid(2), records.mid(2));
        QCOMPARE(log.rowCount(), 3);
        QCOMPARE(log.index(0, HeardLog::Exchange).data().toString(), QStringLiteral("2"));
        QCOMPARE(log.captureSize(), 4);
        QCOMPARE(log.capture().constFirst().timeUs, 1);
        QVERIFY(log.captureCut());
    }

    // As a new user would try it: five units, a master polling them, the window on the tap,
    // which hands the bytes over in random pieces as a USB adapter does.
    void aLineOfFiveUnitsIsHeardWhole()
    {
        QTemporaryDir dir;
        const QString tapPath = dir.filePath(QStringLiteral("tap"));
        SimProcess sim({"--slave", "1-5", "--tap", tapPath, "--tap-pieces", "20261209"});
        QVERIFY2(sim.started(), "indicator-sim did not come up");
        ConfigWindow config("[PORTS]\nCOM2=" + tapPath.toLocal8Bit() + "\n");
        Listen listen(config);
        QVERIFY(listen.start());

        CAdapter master;
        master.PortName = sim.devicePath();
        master.Parity = 0; // the simulator's: none
        // A simulator slowed by a busy machine must not be taken for a silent one: a master
        // that gave up would send its next request before the late reply, a line that
        // pairs otherwise.
        master.ReadTimeoutMs = 1000;
        QCOMPARE(master.Open(), 0);
        master.Connected = true;
        std::array<quint16, Rtu::maxReadRegisters> buffer{};
        QStringList expected;
        const auto readTop = [&](quint8 address, const QString &shown) {
            master.ReadRegisters(address, kTopRange, 2, buffer.data());
            expected << kReadTop.arg(address).arg(shown);
        };
        for (quint8 address = 1; address <= 5; ++address)
            readTop(address, QStringLiteral("100"));
        const std::array<quint16, 2> top250 = {k250[0], k250[1]};
        QCOMPARE(master.WriteRegisters(2, kTopRange, 2, top250.data()), qint16(lrOk));
        expected << QStringLiteral("адрес 2: запись: верхняя граница (0x0A06, 2 рег.) 100 → 250");
        for (quint8 address = 1; address <= 5; ++address)
            readTop(address, address == 2 ? QStringLiteral("250") : QStringLiteral("100"));
        readTop(6, QStringLiteral("Ошибка! Нет овета!"));

        QVERIFY(listen.waitForRows(int(expected.size())));
        QCOMPARE(listen.exchanges(), expected);
        const QStringList counts = {"1: 2 2 0 0", "2: 3 3 0 0", "3: 2 2 0 0", "4: 2 2 0 0", "5: 2 2 0 0", "6: 1 0 1 0"};
        QVERIFY2(QTest::qWaitFor([&] { return listen.counts() == counts; }, kHeardWithinMs),
                 qPrintable(listen.counts().join(QStringLiteral(", "))));
        QVERIFY(listen.find<QLabel>("lblListenTotals")->text().startsWith(QStringLiteral("Байт вне кадров: 0.")));
    }
};

QTEST_MAIN(TestListenWindow)
#include "tst_listenwindow.moc"
