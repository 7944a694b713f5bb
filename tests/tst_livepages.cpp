// The two live pages, Readings and Calibration, polling a scripted device: what the display,
// the lamps, the labels and the error area show, and what goes on the line.
#include "session.h"
#include "support/configwindow.h"
#include "support/frames.h"

#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace Frames;

namespace {

const QString kNoAnswer = QStringLiteral("Ошибка! Нет овета!");
constexpr int kPollMs = 100;
// Replies enough for every poll of a test, so that the state shown stays that of the script.
constexpr int kScriptedPolls = 100;

// The seven cells as the page lays them out: self-diagnostic word bits 0..2, EEPROM word bits 0..3.
struct Cell
{
    const char *label;
    const char *lamps[3]; // red, green, grey
};
const Cell kCells[] = {
    {"lblDataPZUerr", {"imgDataPZUerr", "imgDataPZUnoerr", "imgDataPZUna"}},
    {"lblDataOZUerr", {"imgDataOZUerr", "imgDataOZUnoerr", "imgDataOZUna"}},
    {"lblDataEEPROMerr", {"imgDataEEPROMerr", "imgDataEEPROMnoerr", "imgDataEEPROMna"}},
    {"lblDataSysParamErr", {"imgDataSysParamERR", "imgDataSysParamNOERR", "imgDataSysParamNA"}},
    {"lblDataClbrParamErr", {"imgDataClbrParamERR", "imgDataClbrParamNOERR", "imgDataClbrParamNA"}},
    {"lblDataIndParamErr", {"imgDataIndParamERR", "imgDataIndParamNOERR", "imgDataIndParamNA"}},
    {"lblDataDevNameErr", {"imgDataDevNameERR", "imgDataDevNameNOERR", "imgDataDevNameNA"}},
};

QList<QByteArray> pollRequests(quint8 slave = 1)
{
    return {readRequest(slave, 0x0007, 3), readRequest(slave, 0x0005, 1), readRequest(slave, 0x0006, 1)};
}

// Each cell's lamps as letters: R red, G green, g grey, - none, ? more than one.
QString lampsShown(ConfigWindow &config)
{
    QString shown;
    for (const Cell &cell : kCells) {
        QString visible;
        for (int kind = 0; kind < 3; ++kind)
            if (!config.find<QLabel>(cell.lamps[kind])->isHidden())
                visible += QStringLiteral("RGg").at(kind);
        shown += visible.isEmpty() ? QStringLiteral("-") : visible.size() > 1 ? QStringLiteral("?") : visible;
    }
    return shown;
}

// Each label: r red, b button text, x greyed (disabled).
QString labelsShown(ConfigWindow &config)
{
    QString shown;
    for (const Cell &cell : kCells) {
        auto *label = config.find<QLabel>(cell.label);
        const QColor colour = label->palette().color(QPalette::Active, QPalette::WindowText);
        shown += !label->isEnabled()                                               ? u'x'
                 : colour == ConfigWindow::failureColour()                         ? u'r'
                 : colour == QApplication::palette().color(QPalette::ButtonText) ? u'b'
                                                                                   : u'?';
    }
    return shown;
}

// Everything a poll leaves on the Readings page, taken at one moment: on a loaded machine one
// read of a poll may time out while the others answer, and such a poll must not pass for the
// one a test waits for.
QString readingsShown(ConfigWindow &config)
{
    return QStringList{lampsShown(config), labelsShown(config), config.errorText(),
                       config.find<QLineEdit>("edtDataCur")->text()}
        .join(u'|');
}

QString readings(const QString &lamps, const QString &labels, const QString &message, const QString &display)
{
    return QStringList{lamps, labels, message, display}.join(u'|');
}

QColor buttonColour(ConfigWindow &config, const char *name)
{
    return config.find<QPushButton>(name)->palette().color(QPalette::ButtonText);
}

} // namespace

class TestLivePages : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ConfigWindow> config;

    // Every poll of the Readings page answered with these replies, the empty one as silence.
    void scriptReadings(const QByteArray &text, const QByteArray &selfDiag, const QByteArray &eeprom)
    {
        for (int poll = 0; poll < kScriptedPolls; ++poll)
            for (const QByteArray &reply : {text, selfDiag, eeprom})
                config->peer().queueReply(reply.isEmpty() ? PtyPeer::Reply{} : PtyPeer::Reply{{0, reply}});
    }

    void waitForPolls(int polls, int perPoll = 3)
    {
        QTRY_VERIFY_WITH_TIMEOUT(config->peer().requests().size() >= polls * perPoll, 10000);
    }

    // The calibration buttons with no poll beside them, which would take their scripted
    // replies: on a loaded machine the first tick may come before the click.
    void enterCalibrationWithoutPolls()
    {
        config->click("sbCalibration");
        config->find<QTimer>("Timer")->stop();
    }

private slots:
    void init() { config = std::make_unique<ConfigWindow>(); }
    void cleanup() { config.reset(); }

    void lampsAreRedGreenAndGreyOnATransparentGround()
    {
        const QColor centres[] = {
            config->find<QLabel>("imgDataPZUerr")->pixmap().toImage().pixelColor(8, 8),
            config->find<QLabel>("imgDataPZUnoerr")->pixmap().toImage().pixelColor(8, 8),
            config->find<QLabel>("imgDataPZUna")->pixmap().toImage().pixelColor(8, 8),
        };
        QVERIFY2(centres[0].red() > 2 * centres[0].green() && centres[0].red() > 2 * centres[0].blue(), "red lamp");
        QVERIFY2(centres[1].green() > 2 * centres[1].red() && centres[1].green() > 2 * centres[1].blue(), "green lamp");
        QVERIFY2(qAbs(centres[2].red() - centres[2].green()) < 10 && qAbs(centres[2].red() - centres[2].blue()) < 10,
                 "grey lamp");
        for (const Cell &cell : kCells)
            for (const char *lamp : cell.lamps) {
                const QImage picture = config->find<QLabel>(lamp)->pixmap().toImage();
                QCOMPARE(picture.size(), QSize(16, 16));
                QCOMPARE(picture.pixelColor(0, 0).alpha(), 0);
            }
    }

    void enteringWithoutAConnectionChangesNothing()
    {
        config->click("sbData");
        QTest::qWait(3 * kPollMs);
        QCOMPARE(config->peer().requests(), QList<QByteArray>());
        QCOMPARE(lampsShown(*config), QStringLiteral("-------"));
        QCOMPARE(config->find<QLineEdit>("edtDataCur")->text(), QString());
        QCOMPARE(config->find<QLabel>("lblDataPZUerr")->palette().color(QPalette::WindowText),
                 ConfigWindow::failureColour());
        QCOMPARE(config->find<QLabel>("lblDataSysParamErr")->palette().color(QPalette::WindowText),
                 ConfigWindow::failureColour());
        QCOMPARE(config->find<QLabel>("lblDataOZUerr")->palette().color(QPalette::WindowText),
                 QApplication::palette().color(QPalette::WindowText));
    }

    void displayTextShowsTheRegisterText_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QByteArray>("wireData"); // the reply's data bytes
        QTest::addColumn<QString>("shown");
        for (const auto &[page, display] : {std::pair("sbData", "edtDataCur"), std::pair("sbCalibration", "edtClbrData")}) {
            const auto row = [&](const char *name) -> QTestData & { return QTest::addRow("%s: %s", page, name) << page << display; };
            row("-12.34 as 1 - . 2 4 3") << hex("312D2E323433") << "-12.34";
            row("12.5 then zeros") << hex("3231352E0000") << "12.5";
            row("three characters then zeros") << hex("203100370000") << "1 7";
            row("zero first byte") << hex("410000000000") << "";
            row("Cyrillic, byte for byte") << hex("D0CFC1C8D0CE") << "ПРИБОР";
        }
    }

    void displayTextShowsTheRegisterText()
    {
        QFETCH(QString, page);
        QFETCH(QString, display);
        QFETCH(QByteArray, wireData);
        QFETCH(QString, shown);
        QVERIFY(config->start());
        const QByteArray reply = withCrc(hex("0103") + char(wireData.size()) + wireData);
        if (page == QLatin1String("sbData"))
            scriptReadings(reply, readReply(1, {0}), readReply(1, {0}));
        else
            for (int poll = 0; poll < kScriptedPolls; ++poll)
                config->peer().queueReply(reply);
        auto *edit = config->find<QLineEdit>(qPrintable(display));
        edit->setText(QStringLiteral("typed"));
        config->click(qPrintable(page));
        QTRY_COMPARE_WITH_TIMEOUT(edit->text(), shown, 5000);
        QCOMPARE(config->textColour(qPrintable(display)), ConfigWindow::windowTextColour());
        QCOMPARE(config->errorText(), QString());
        config->trigger("ActionStop");
        QCOMPARE(config->requests().first(), readRequest(1, 0x0007, 3));
    }

    void flagWordsLightOneLampPerCell_data()
    {
        QTest::addColumn<quint16>("selfDiag");
        QTest::addColumn<quint16>("eeprom");
        QTest::addColumn<QString>("lamps");
        QTest::addColumn<QString>("labels");
        QTest::newRow("no faults") << quint16(0) << quint16(0) << "GGGGGGG" << "bbbbbbb";
        QTest::newRow("self-diagnostic 5: ROM and EEPROM") << quint16(5) << quint16(0) << "RGRGGGG" << "rbrbbbb";
        QTest::newRow("self-diagnostic 0x0008: beyond the cells") << quint16(0x0008) << quint16(0) << "GGGGGGG"
                                                                  << "bbbbbbb";
        QTest::newRow("EEPROM 0x0010: beyond the cells") << quint16(0) << quint16(0x0010) << "GGGGGGG" << "bbbbbbb";
        QTest::newRow("EEPROM 0x000A: calibration and name") << quint16(0) << quint16(0x000A) << "GGGGRGR"
                                                             << "bbbbrbr";
        QTest::newRow("every bit") << quint16(0xFFFF) << quint16(0xFFFF) << "RRRRRRR" << "rrrrrrr";
    }

    void flagWordsLightOneLampPerCell()
    {
        QFETCH(quint16, selfDiag);
        QFETCH(quint16, eeprom);
        QFETCH(QString, lamps);
        QFETCH(QString, labels);
        QVERIFY(config->start());
        scriptReadings(readReply(1, {0x3130, 0, 0}), readReply(1, {selfDiag}), readReply(1, {eeprom}));
        config->click("sbData");
        QTRY_COMPARE_WITH_TIMEOUT(readingsShown(*config), readings(lamps, labels, {}, QStringLiteral("01")), 5000);
        config->trigger("ActionStop");
        QCOMPARE(config->requests().mid(0, 3), pollRequests());
    }

    void aSilentDeviceGreysEveryCellAndGivesThreeMessages()
    {
        QVERIFY(config->start());
        for (const QByteArray &reply : {readReply(1, {0x3231, 0, 0}), readReply(1, {1}), readReply(1, {1})})
            config->peer().queueReply(reply);
        config->click("sbData");
        waitForPolls(2); // the first answered, the second met silence
        QTRY_COMPARE_WITH_TIMEOUT(lampsShown(*config), QStringLiteral("ggggggg"), 5000);
        QCOMPARE(labelsShown(*config), QStringLiteral("xxxxxxx"));
        QCOMPARE(config->errorText(), kNoAnswer + "\r\n" + kNoAnswer + "\r\n" + kNoAnswer);
        QCOMPARE(config->find<QLineEdit>("edtDataCur")->text(), QStringLiteral("12"));
        QCOMPARE(config->textColour("edtDataCur"), ConfigWindow::failureColour());
        // Greyed, the labels keep the colour of the last poll that reached the device.
        QCOMPARE(config->find<QLabel>("lblDataPZUerr")->palette().color(QPalette::Active, QPalette::WindowText),
                 ConfigWindow::failureColour());
    }

    // Each read of a poll reports on its own: the first two messages end with a line break, the
    // last does not, and a failed flag read greys only its own word's cells.
    void aPollGathersTheMessagesOfItsFailedReads_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("selfDiag");
        QTest::addColumn<QByteArray>("eeprom");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("lamps");
        QTest::addColumn<QString>("labels");
        QTest::addColumn<QString>("display");
        QTest::newRow("only the EEPROM word failing")
            << readReply(1, {0x3235, 0, 0}) << readReply(1, {2}) << QByteArray() << kNoAnswer << "GRGgggg"
            << "brbxxxx" << "52";
        QTest::newRow("only the display text refused")
            << withCrc(hex("018302")) << readReply(1, {0}) << readReply(1, {0})
            << "Ошибка! Прибор отклонил запрос!\r\n" << "GGGGGGG" << "bbbbbbb" << "";
    }

    void aPollGathersTheMessagesOfItsFailedReads()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, selfDiag);
        QFETCH(QByteArray, eeprom);
        QFETCH(QString, message);
        QFETCH(QString, lamps);
        QFETCH(QString, labels);
        QFETCH(QString, display);
        QVERIFY(config->start());
        scriptReadings(text, selfDiag, eeprom);
        config->click("sbData");
        QTRY_COMPARE_WITH_TIMEOUT(readingsShown(*config), readings(lamps, labels, message, display), 5000);
        QCOMPARE(config->textColour("edtDataCur"),
                 display.isEmpty() ? ConfigWindow::failureColour() : ConfigWindow::windowTextColour());
    }

    void stopKeepsTheLastPollsStateAndEndsPolling()
    {
        QVERIFY(config->start());
        scriptReadings(readReply(1, {0x3139, 0, 0}), readReply(1, {1}), QByteArray());
        config->click("sbData");
        QTRY_COMPARE_WITH_TIMEOUT(readingsShown(*config), readings("RGGgggg", "rbbxxxx", kNoAnswer, "91"), 5000);
        config->stop();
        const int requests = int(config->requests().size());
        QTest::qWait(3 * kPollMs);
        QCOMPARE(config->peer().requests().size(), requests);
        QCOMPARE(requests % 3, 0);
        QCOMPARE(lampsShown(*config), QStringLiteral("RGGgggg"));
        QCOMPARE(labelsShown(*config), QStringLiteral("rbbxxxx"));
        QCOMPARE(config->find<QLineEdit>("edtDataCur")->text(), QStringLiteral("91"));
        QCOMPARE(config->errorText(), kNoAnswer);
    }

    void aNewDeviceNumberCountsFromTheNextPoll()
    {
        QVERIFY(config->start());
        scriptReadings(readReply(1, {0x3130, 0, 0}), readReply(1, {0}), readReply(1, {0}));
        config->click("sbData");
        waitForPolls(1);
        ConfigWindow::enterText(config->find<QLineEdit>("edtDevNumber"), "paste", "2");
        // Between two polls: the window's replies come as events, so its line is idle only
        // once the poll under way has had all three.
        QTRY_VERIFY_WITH_TIMEOUT(config->window().session().isIdle(), 3000);
        const int before = int(config->peer().requests().size());
        QTRY_VERIFY_WITH_TIMEOUT(config->peer().requests().size() >= before + 3, 5000);
        config->trigger("ActionStop");
        const QList<QByteArray> requests = config->requests();
        QCOMPARE(before % 3, 0); // a poll runs whole, between two events
        QCOMPARE(requests.mid(before, 3), pollRequests(2));
        QCOMPARE(requests.first(), readRequest(1, 0x0007, 3));
    }

    // A slow device holds the window up, but the ticks that fell due meanwhile do not run in a
    // burst afterwards: one poll may follow at once, the next ones keep their interval.
    void ticksDoNotPileUpBehindASilentDevice()
    {
        QVERIFY(config->start());
        config->click("sbData");
        waitForPolls(3); // each read timed out: the window was held for more than 9 intervals
        const int before = int(config->peer().requests().size());
        scriptReadings(readReply(1, {0x3130, 0, 0}), readReply(1, {0}), readReply(1, {0}));
        QElapsedTimer answered;
        answered.start();
        QTRY_VERIFY_WITH_TIMEOUT(config->peer().requests().size() >= before + 6 * 3, 10000);
        // Six polls: at most two at once, the other four each an interval later.
        QVERIFY2(answered.elapsed() >= 3 * kPollMs, qPrintable(QString::number(answered.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(lampsShown(*config), QStringLiteral("GGGGGGG"), 3000); // the last reply's event
    }

    // A click's exchanges leave the window's events served: its timers go on ticking, and a
    // poll that falls due meanwhile comes after the click's exchanges, never between them.
    void aTickDuringAClicksExchangesPollsAfterThem()
    {
        constexpr int kSlowReplyMs = 70; // within the read time-out
        QVERIFY(config->start());
        enterCalibrationWithoutPolls();
        config->peer().queueReply(readReply(1, {0x1234}), kSlowReplyMs);
        config->peer().queueReply(writeEcho(1, 0x0900, 1), kSlowReplyMs);
        int ticksWhileBusy = 0;
        QTimer beat;
        connect(&beat, &QTimer::timeout, [&] { ticksWhileBusy += config->window().session().isIdle() ? 0 : 1; });
        beat.start(10);
        config->find<QTimer>("Timer")->start(10);
        config->click("btnClbrBottom");
        // A poll goes on the line only once the exchanges before it have been answered.
        QTRY_VERIFY_WITH_TIMEOUT(config->peer().requests().size() >= 3, 5000);
        config->trigger("ActionStop");
        QCOMPARE(config->requests().mid(0, 2),
                 (QList<QByteArray>{readRequest(1, 0x0004, 1), writeRequest(1, 0x0900, {0x1234})}));
        QCOMPARE(buttonColour(*config, "btnClbrBottom"), ConfigWindow::windowTextColour());
        QVERIFY2(ticksWhileBusy >= 5, qPrintable(QString::number(ticksWhileBusy)));
    }

    void calibrationCaptureCopiesTheValueToItsEnd_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<quint16>("target");
        QTest::newRow("bottom") << "btnClbrBottom" << quint16(0x0900);
        QTest::newRow("top") << "btnClbrTop" << quint16(0x0901);
    }

    void calibrationCaptureCopiesTheValueToItsEnd()
    {
        QFETCH(QString, button);
        QFETCH(quint16, target);
        QVERIFY(config->start());
        enterCalibrationWithoutPolls();
        config->peer().queueReply(readReply(1, {0x1234}));
        config->peer().queueReply(writeEcho(1, target, 1));
        config->click(qPrintable(button));
        config->trigger("ActionStop");
        QCOMPARE(config->requests().mid(0, 2),
                 (QList<QByteArray>{readRequest(1, 0x0004, 1), writeRequest(1, target, {0x1234})}));
        QCOMPARE(buttonColour(*config, qPrintable(button)), ConfigWindow::windowTextColour());
        QCOMPARE(config->errorText(), QString());
    }

    void aCalibrationReadThatTimesOutWritesNothing_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("other");
        QTest::newRow("bottom") << "btnClbrBottom" << "btnClbrTop";
        QTest::newRow("top") << "btnClbrTop" << "btnClbrBottom";
    }

    void aCalibrationReadThatTimesOutWritesNothing()
    {
        QFETCH(QString, failing);
        QFETCH(QString, other);
        QVERIFY(config->start());
        enterCalibrationWithoutPolls();
        config->peer().queueReply(readReply(1, {0x0042}));
        config->peer().queueReply(writeEcho(1, other == QLatin1String("btnClbrTop") ? 0x0901 : 0x0900, 1));
        config->click(qPrintable(other));
        config->click(qPrintable(failing)); // no answer
        QCOMPARE(config->errorText(), kNoAnswer);
        config->trigger("ActionStop");
        const QList<QByteArray> requests = config->requests();
        QCOMPARE(requests.at(2), readRequest(1, 0x0004, 1));
        for (qsizetype i = 2; i < requests.size(); ++i)
            QCOMPARE(requests.at(i).at(1), '\x03');
        QCOMPARE(buttonColour(*config, qPrintable(failing)), ConfigWindow::failureColour());
        QCOMPARE(buttonColour(*config, qPrintable(other)), ConfigWindow::windowTextColour());
    }

    // The caption turns red and back: a colour that never changes could not tell the two apart.
    void aRejectedCalibrationWriteRedsItsButtonUntilTheNextSuccess()
    {
        QVERIFY(config->start());
        enterCalibrationWithoutPolls();
        config->peer().queueReply(readReply(1, {7}));
        config->peer().queueReply(withCrc(hex("019002")));
        config->click("btnClbrTop");
        QCOMPARE(buttonColour(*config, "btnClbrTop"), ConfigWindow::failureColour());
        QCOMPARE(config->errorText(), QStringLiteral("Ошибка! Прибор отклонил запрос!"));
        QVERIFY(config->peer().settle(3000));
        config->peer().queueReply(readReply(1, {7}));
        config->peer().queueReply(writeEcho(1, 0x0901, 1));
        config->click("btnClbrTop");
        QCOMPARE(buttonColour(*config, "btnClbrTop"), ConfigWindow::windowTextColour());
        QCOMPARE(config->errorText(), QString());
    }

    void aFailedCalibrationPollRedsTheDisplayUntilTheNextGoodOne()
    {
        QVERIFY(config->start());
        config->peer().queueReply(readReply(1, {0x3231, 0, 0}));
        config->peer().queueReply(PtyPeer::Reply{});
        config->peer().queueReply(PtyPeer::Reply{});
        for (int poll = 0; poll < kScriptedPolls; ++poll)
            config->peer().queueReply(readReply(1, {0x3433, 0, 0}));
        config->click("sbCalibration");
        QTRY_COMPARE_WITH_TIMEOUT(config->errorText(), kNoAnswer, 5000);
        QCOMPARE(config->find<QLineEdit>("edtClbrData")->text(), QStringLiteral("12"));
        QCOMPARE(config->textColour("edtClbrData"), ConfigWindow::failureColour());
        QTRY_COMPARE_WITH_TIMEOUT(config->find<QLineEdit>("edtClbrData")->text(), QStringLiteral("34"), 5000);
        QCOMPARE(config->textColour("edtClbrData"), ConfigWindow::windowTextColour());
        QCOMPARE(config->errorText(), QString());
    }
};

QTEST_MAIN(TestLivePages)
#include "tst_livepages.moc"
