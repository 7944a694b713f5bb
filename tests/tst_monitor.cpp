// The exchange monitor: what the adapter reports of each exchange against a scripted device, that
// an unobserved exchange is left as it was, the bounded history, and the monitor window as the
// user drives it over the pages.
#include "adapter.h"
#include "exchangelog.h"
#include "modalbox.h"
#include "resultcodes.h"
#include "session.h"
#include "support/configwindow.h"
#include "support/frames.h"
#include "support/scriptedpipe.h"
#include "windowplacement.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <array>

using namespace Frames;

namespace {

QString shownHex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// The time-outs of a read at 19200 baud: its first stage, 100 ms and 3 bytes of 1 ms; its
// second after a 3-byte header announcing 4 data bytes, 100 ms and 6 bytes.
constexpr int kSilentReadMs = 103;
constexpr int kSilentRestMs = 106;

ExchangeRecord readExchange(quint16 firstRegister)
{
    ExchangeRecord record;
    record.request = readRequest(1, firstRegister, 1);
    record.reply = readReply(1, {firstRegister});
    record.sent = QDateTime::currentDateTime();
    record.ended = record.sent.addMSecs(3);
    return record;
}

QStringList columnTexts(const ExchangeLog &log, int row)
{
    return log.line(row).split(QLatin1Char('\t'));
}

} // namespace

class TestMonitor : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ScriptedPipe> pipe;
    std::unique_ptr<CAdapter> adapter;
    QList<ExchangeRecord> reports;

    void connectAdapter(bool observed)
    {
        adapter = std::make_unique<CAdapter>();
        adapter->PortName = pipe->devicePath();
        QCOMPARE(adapter->Open(), 0);
        adapter->Connected = true;
        if (observed)
            adapter->setObserver([this](const ExchangeRecord &record) { reports << record; });
    }

private slots:
    void init()
    {
        reports.clear();
        pipe = std::make_unique<ScriptedPipe>();
    }

    void cleanup()
    {
        if (adapter)
            adapter->Close();
        adapter.reset();
        pipe.reset();
    }

    void observedExchangeReportsTheBytesOnTheLine_data()
    {
        QTest::addColumn<bool>("write");
        QTest::addColumn<QByteArray>("late");    // left on the line before the request
        QTest::addColumn<QByteArray>("foreign"); // another unit's frame, before the reply
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("outcome");

        const QByteArray none;
        QTest::newRow("good read") << false << none << none << readReply(1, {0x1234, 0x5678}) << int(lrOk) << "OK";
        QTest::newRow("good write") << true << none << none << writeEcho(1, 0x0A00, 2) << int(lrOk) << "OK";
        QTest::newRow("exception") << false << none << none << withCrc(hex("018302")) << int(lrDeviceError)
                                   << "02 — неверный адрес";
        QTest::newRow("write exception") << true << none << none << withCrc(hex("019004")) << int(lrDeviceError)
                                         << "04 — отказ прибора";
        QTest::newRow("bad crc") << false << none << none << withBadCrc(hex("01030400010002")) << int(lrBadCrc)
                                 << ResultText(lrBadCrc);
        QTest::newRow("silence") << false << none << none << none << int(lrNoAnswer) << "Ошибка! Нет овета!";
        QTest::newRow("header, then silence") << false << none << none << hex("010304") << int(lrIncomplete)
                                              << "Ошибка! Сообщение принято не полностью!";
        QTest::newRow("late garbage before a good reply")
            << false << hex("00ff13") << none << readReply(1, {0x1234, 0x5678}) << int(lrOk) << "OK";
        QTest::newRow("reply of another function")
            << false << none << none << withCrc(hex("01040400010002")) << int(lrWrongReply)
            << "Ошибка! Ответ не на запрос (адрес 1, функция 04)";
        QTest::newRow("write echo of another register")
            << true << none << none << writeEcho(1, 0x0A01, 2) << int(lrWrongReply)
            << "Ошибка! Ответ не на запрос (регистр 0x0A01 вместо 0x0A00)";
        QTest::newRow("another unit's late reply, then ours")
            << false << none << readReply(7, {0x0007}) << readReply(1, {0x1234, 0x5678}) << int(lrOk)
            << "OK";
    }

    void observedExchangeReportsTheBytesOnTheLine()
    {
        QFETCH(bool, write);
        QFETCH(QByteArray, late);
        QFETCH(QByteArray, foreign);
        QFETCH(QByteArray, reply);
        QFETCH(int, result);
        QFETCH(QString, outcome);
        connectAdapter(true);

        pipe->writeNow(late);
        if (!reply.isEmpty())
            pipe->queueReply(foreign + reply);
        std::array<quint16, 100> registers{0x0001, 0x0002};
        const qint16 code = write ? adapter->WriteRegisters(1, 0x0A00, 2, registers.data())
                                  : adapter->ReadRegisters(1, 0x0A00, 2, registers.data());
        QCOMPARE(code, result);

        QCOMPARE(reports.size(), 1);
        const ExchangeRecord &record = reports.first();
        const QByteArray request = write ? writeRequest(1, 0x0A00, {0x0001, 0x0002}) : readRequest(1, 0x0A00, 2);
        QCOMPARE(pipe->requests(), QList<QByteArray>{request});
        QCOMPARE(record.request, request);
        QCOMPARE(record.reply, reply);
        QCOMPARE(record.discarded, late);
        QCOMPARE(record.foreign, foreign.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{foreign});
        QCOMPARE(int(record.result), result);
        QVERIFY(record.sent.isValid());
        // A reply comes at once; for silence a whole stage's budget went by.
        const int endedMs = result == lrNoAnswer ? kSilentReadMs : result == lrIncomplete ? kSilentRestMs : 0;
        QCOMPARE(record.sent.msecsTo(record.ended), endedMs);

        // As the monitor shows it: late input and another unit's frame each in a row of its
        // own, then the exchange.
        ExchangeLog log;
        log.add(record);
        log.flush();
        const int exchangeRow = (late.isEmpty() ? 0 : 1) + (foreign.isEmpty() ? 0 : 1);
        QCOMPARE(log.rowCount(), exchangeRow + 1);
        if (!late.isEmpty()) {
            QCOMPARE(columnTexts(log, 0).at(ExchangeLog::Reply), shownHex(late));
            QVERIFY(log.isAnomaly(0));
        }
        if (!foreign.isEmpty()) {
            const QStringList texts = columnTexts(log, exchangeRow - 1);
            QCOMPARE(texts.at(ExchangeLog::Slave), QStringLiteral("7"));
            QCOMPARE(texts.at(ExchangeLog::What), QStringLiteral("ответ другого прибора, отброшен"));
            QCOMPARE(texts.at(ExchangeLog::Reply), shownHex(foreign));
            QCOMPARE(texts.at(ExchangeLog::Outcome), QStringLiteral("Ошибка! Ответ не на запрос (адрес 7, функция 03)"));
            QVERIFY(log.isAnomaly(exchangeRow - 1));
        }
        const QStringList texts = columnTexts(log, exchangeRow);
        QCOMPARE(texts.at(ExchangeLog::Slave), QStringLiteral("1"));
        QCOMPARE(texts.at(ExchangeLog::Function), write ? QStringLiteral("0x10") : QStringLiteral("0x03"));
        QCOMPARE(texts.at(ExchangeLog::What), write ? QStringLiteral("запись: зона нечувствительности, % (0x0A00, 2 рег.)")
                                                    : QStringLiteral("чтение: зона нечувствительности, % (0x0A00, 2 рег.)"));
        QCOMPARE(texts.at(ExchangeLog::Request), shownHex(request));
        QCOMPARE(texts.at(ExchangeLog::Reply), shownHex(reply));
        QCOMPARE(texts.at(ExchangeLog::Outcome), outcome);
        const QVariant colour = log.data(log.index(exchangeRow, ExchangeLog::Outcome), Qt::ForegroundRole);
        QCOMPARE(colour.isValid(), result != lrOk);
        if (colour.isValid())
            QCOMPARE(colour.value<QBrush>().color(), QColor(255, 0, 0));
    }

    // The same exchanges with and without an observer: the same bytes on the line, the same
    // result, and for silence the same read budget.
    void unobservedExchangeIsUnchanged_data()
    {
        QTest::addColumn<bool>("observed");
        QTest::newRow("without observer") << false;
        QTest::newRow("with observer") << true;
    }

    void unobservedExchangeIsUnchanged()
    {
        QFETCH(bool, observed);
        connectAdapter(observed);
        std::array<quint16, 100> registers{};

        pipe->queueReply(readReply(1, {0x0102}));
        QCOMPARE(adapter->ReadRegisters(1, 0x0800, 1, registers.data()), lrOk);
        QCOMPARE(registers[0], quint16(0x0102));
        const qint64 before = pipe->nowMs();
        QCOMPARE(adapter->ReadRegisters(1, 0x0801, 1, registers.data()), lrNoAnswer);
        QCOMPARE(pipe->nowMs() - before, kSilentReadMs);

        // Refused before the line: nothing sent, nothing reported.
        adapter->Connected = false;
        QCOMPARE(adapter->ReadRegisters(1, 0x0802, 1, registers.data()), lrNotConnected);

        QCOMPARE(pipe->requests(), (QList<QByteArray>{readRequest(1, 0x0800, 1), readRequest(1, 0x0801, 1)}));
        QCOMPARE(reports.size(), observed ? 2 : 0);
    }

    // A port that has gone away still shows what the program tried to send, and why it failed.
    void requestToAVanishedPortIsReported()
    {
        connectAdapter(true);
        pipe->hangUp();
        std::array<quint16, 100> registers{};
        QCOMPARE(adapter->ReadRegisters(1, 0x0800, 1, registers.data()), qint16(lrWriteFailed));
        QVERIFY(adapter->PortLost());
        QCOMPARE(reports.size(), 1);
        const ExchangeRecord &record = reports.last();
        QCOMPARE(record.request, readRequest(1, 0x0800, 1));
        QVERIFY(record.reply.isEmpty());
        QCOMPARE(record.result, qint16(lrWriteFailed));
    }

    // A run of registers that is a parameter is named as the window names it; any other run,
    // and any other function, only by its numbers.
    void requestsAreNamedFromTheCatalogue_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("what");

        QTest::newRow("read of a parameter") << readRequest(1, 0x0A06, 2) << "чтение: верхняя граница (0x0A06, 2 рег.)";
        QTest::newRow("write of a parameter")
            << writeRequest(1, 0x0A0E, {0x2020, 0x2020, 0x2020}) << "запись: единица измерения (0x0A0E, 3 рег.)";
        QTest::newRow("part of a parameter") << readRequest(1, 0x0A06, 1) << "чтение 0x0A06, 1 рег.";
        QTest::newRow("several parameters") << readRequest(1, 0x0A00, 19) << "чтение 0x0A00, 19 рег.";
        QTest::newRow("other function") << withCrc(hex("01060A0D0001")) << "функция 0x06";
    }

    void requestsAreNamedFromTheCatalogue()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, what);
        ExchangeRecord record = readExchange(0);
        record.request = request;
        ExchangeLog log;
        log.add(record);
        log.flush();
        QCOMPARE(columnTexts(log, 0).at(ExchangeLog::What), what);
    }

    void historyKeepsOnlyTheNewestRows_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<QList<int>>("batches"); // exchanges added before each flush
        QTest::addColumn<int>("firstKept");       // register of the oldest row left

        QTest::newRow("below capacity") << 5 << QList<int>{2, 2} << 0;
        QTest::newRow("overflow across batches") << 5 << QList<int>{3, 9} << 7;
        QTest::newRow("overflow within one batch") << 5 << QList<int>{12} << 7;
        QTest::newRow("default capacity") << ExchangeLog::kDefaultCapacity << QList<int>{6000, 4100} << 100;
    }

    void historyKeepsOnlyTheNewestRows()
    {
        QFETCH(int, capacity);
        QFETCH(QList<int>, batches);
        QFETCH(int, firstKept);

        ExchangeLog log(nullptr, capacity);
        quint16 next = 0;
        for (int batch : batches) {
            for (int i = 0; i < batch; ++i)
                log.add(readExchange(next++));
            log.flush();
        }
        const int kept = std::min<int>(next, capacity);
        QCOMPARE(log.rowCount(), kept);
        QVERIFY(log.line(0).contains(shownHex(readRequest(1, quint16(firstKept), 1))));
        QVERIFY(log.line(kept - 1).contains(shownHex(readRequest(1, quint16(next - 1), 1))));
    }

    // Frames are (left, top, width, height); the main window's tool bar ends at row 90.
    void theMonitorNeverHidesTheToolBar_data()
    {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QRect>("main");
        QTest::addColumn<QRect>("monitor");

        const QRect main(0, 0, 752, 490);
        QTest::newRow("1920x1080: to the right") << QRect(0, 0, 1920, 1050) << main.translated(100, 100)
                                                 << QRect(860, 100, 1000, 420);
        QTest::newRow("1920x1080, main on the right: to the left")
            << QRect(0, 0, 1920, 1050) << main.translated(1100, 100) << QRect(92, 100, 1000, 420);
        QTest::newRow("1280x1024: below") << QRect(0, 0, 1280, 994) << main << QRect(0, 498, 1000, 420);
        QTest::newRow("1366x768: beside, narrowed") << QRect(0, 0, 1366, 738) << main << QRect(760, 0, 606, 420);
        QTest::newRow("1024x768: below, shortened") << QRect(0, 0, 1024, 768) << main << QRect(0, 498, 1000, 270);
        QTest::newRow("800x600: below the tool bar") << QRect(0, 0, 800, 600) << main << QRect(0, 99, 800, 420);
    }

    void theMonitorNeverHidesTheToolBar()
    {
        QFETCH(QRect, screen);
        QFETCH(QRect, main);
        QFETCH(QRect, monitor);
        constexpr int kToolBarBottom = 90;
        QCOMPARE(toolWindowPlacement(screen, main, main.top() + kToolBarBottom, {1000, 420}, {480, 200}), monitor);
    }

    // Where the user left the monitor it opens again, in the next session too, and on the screen.
    void theMonitorOpensWhereItWasLeft()
    {
        auto config = std::make_unique<ConfigWindow>();
        config->trigger("mnuMonitor");
        auto *monitor = config->window().findChild<QWidget *>(QStringLiteral("frmMonitor"));
        QVERIFY(monitor);
        monitor->move(20, 300);
        monitor->resize(600, 250);
        const QRect left = monitor->frameGeometry(); // with the decorations
        monitor->close();
        config->trigger("mnuMonitor");
        monitor = config->window().findChild<QWidget *>(QStringLiteral("frmMonitor"));
        QTRY_COMPARE(monitor->frameGeometry(), left);

        config->window().close();
        const QByteArray saved = config->settingsFile();
        const QByteArray section = QStringLiteral("[MONITOR]\nLeft=20\nTop=300\nWidth=%1\nHeight=%2\n")
                                       .arg(left.width())
                                       .arg(left.height())
                                       .toLatin1();
        QVERIFY2(saved.endsWith(section), saved.constData());
        config = std::make_unique<ConfigWindow>(saved);
        config->trigger("mnuMonitor");
        monitor = config->window().findChild<QWidget *>(QStringLiteral("frmMonitor"));
        QTRY_COMPARE(monitor->frameGeometry(), left);

        const QRect screen(0, 0, 800, 600);
        QCOMPARE(keptOnScreen(QRect(700, -50, 600, 250), screen), QRect(200, 0, 600, 250));
        QCOMPARE(keptOnScreen(QRect(10, 10, 1200, 900), screen), screen);
    }

    // Opened before Start, the monitor hears the adapter that Start creates; the buttons act on
    // what it shows; closed, it hears nothing more; opened while connected, it hears at once.
    void monitorFollowsThePagesExchanges()
    {
        ScriptedPipe device;
        ConfigWindow config("[PORTS]\nCOM2=" + device.devicePath().toLatin1() + "\n");
        config.trigger("mnuMonitor");
        auto *monitor = config.window().findChild<QWidget *>(QStringLiteral("frmMonitor"));
        QVERIFY(monitor && monitor->isVisible());
        auto *table = monitor->findChild<QTableView *>(QStringLiteral("tblMonitor"));
        const auto button = [monitor](const char *name) {
            return monitor->findChild<QAbstractButton *>(QString::fromLatin1(name));
        };

        QVERIFY(config.start());
        device.queueReply(readReply(1, {17})); // the other three reads meet silence
        config.click("sbPort");
        QTRY_COMPARE_WITH_TIMEOUT(table->model()->rowCount(), 4, 5000);
        const auto cell = [&table](int row, int column) { return table->model()->index(row, column).data().toString(); };
        QCOMPARE(cell(0, ExchangeLog::What), QStringLiteral("чтение: сетевой адрес (0x0800, 1 рег.)"));
        QCOMPARE(cell(0, ExchangeLog::Request), shownHex(readRequest(1, 0x0800, 1)));
        QCOMPARE(cell(0, ExchangeLog::Reply), shownHex(readReply(1, {17})));
        QCOMPARE(cell(0, ExchangeLog::Outcome), QStringLiteral("OK"));
        QCOMPARE(cell(3, ExchangeLog::What), QStringLiteral("чтение: паритет (0x0803, 1 рег.)"));
        QCOMPARE(cell(3, ExchangeLog::Outcome), QStringLiteral("Ошибка! Нет овета!"));

        // Only the failures; copied, they are the lines of the shown rows.
        QTest::mouseClick(button("checkMonitorOnlyErrors"), Qt::LeftButton);
        QCOMPARE(table->model()->rowCount(), 3);
        table->selectAll();
        QTest::mouseClick(button("btnMonitorCopy"), Qt::LeftButton);
        const QStringList copied = QGuiApplication::clipboard()->text().split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(copied.size(), 3);
        QVERIFY(copied.first().contains(shownHex(readRequest(1, 0x0801, 1))));

        // Saved: every row held, one line each, the hex as shown.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("bus.txt"));
        ModalBox::setInterceptor([path](QDialog &box) {
            if (auto *files = qobject_cast<QFileDialog *>(&box))
                files->selectFile(path);
            return int(QDialog::Accepted);
        });
        QTest::mouseClick(button("btnMonitorSave"), Qt::LeftButton);
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = saved.readAll().split('\n');
        QCOMPARE(lines.size(), 5); // four lines, each ended
        QVERIFY(lines.last().isEmpty());
        QVERIFY(lines.at(0).contains(shownHex(readReply(1, {17})).toLatin1()));
        QVERIFY(QString::fromUtf8(lines.at(3)).contains(QStringLiteral("Ошибка! Нет овета!")));

        // Paused, nothing is recorded; cleared, nothing is left.
        QTest::mouseClick(button("checkMonitorOnlyErrors"), Qt::LeftButton);
        QTest::mouseClick(button("btnMonitorPause"), Qt::LeftButton);
        config.click("sbInformation");
        QTest::qWait(2 * ExchangeLog::kBatchIntervalMs);
        QCOMPARE(table->model()->rowCount(), 4);
        QTest::mouseClick(button("btnMonitorClear"), Qt::LeftButton);
        QCOMPARE(table->model()->rowCount(), 0);

        monitor->close();
        QTRY_VERIFY(!config.window().findChild<QWidget *>(QStringLiteral("frmMonitor")));
        config.click("sbPort"); // unobserved: must not reach the closed window

        config.trigger("mnuMonitor");
        monitor = config.window().findChild<QWidget *>(QStringLiteral("frmMonitor"));
        QVERIFY(monitor);
        table = monitor->findChild<QTableView *>(QStringLiteral("tblMonitor"));
        QCOMPARE(table->model()->rowCount(), 0);
        config.click("sbInformation");
        QTRY_COMPARE_WITH_TIMEOUT(table->model()->rowCount(), 2, 5000);
        QCOMPARE(cell(1, ExchangeLog::What), QStringLiteral("чтение: имя прибора (0x0B00, 10 рег.)"));
    }
};

QTEST_MAIN(TestMonitor)
#include "tst_monitor.moc"
