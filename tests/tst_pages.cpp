// The System parameters and Information pages driven through their own buttons against a
// scripted device: what goes on the line and what the page shows.
#include "catalogue.h"
#include "support/configwindow.h"
#include "support/frames.h"
#include "updown.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QLocale>
#include <QTest>

using namespace Frames;

namespace {

const QList<quint16> kNoText(10, 0);

QList<QByteArray> portReads()
{
    return {readRequest(1, 0x0800, 1), readRequest(1, 0x0801, 1), readRequest(1, 0x0802, 1), readRequest(1, 0x0803, 1)};
}

// Puts "control=value" into the control as a user would leave it: a text, a row, a position, a check.
void setControl(ConfigWindow &config, const QString &entry)
{
    const QString value = entry.section(u'=', 1);
    auto *control = config.find<QWidget>(qPrintable(entry.section(u'=', 0, 0)));
    if (auto *edit = qobject_cast<QLineEdit *>(control))
        edit->setText(value);
    else if (auto *list = qobject_cast<QComboBox *>(control))
        list->setCurrentIndex(list->findText(value));
    else if (auto *slider = qobject_cast<QAbstractSlider *>(control))
        slider->setValue(value.toInt());
    else
        qobject_cast<QAbstractButton *>(control)->setChecked(true);
}

QString listText(ConfigWindow &config, const char *name)
{
    return config.find<QComboBox>(name)->currentText();
}

} // namespace

class TestPages : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ConfigWindow> config;

    // Connected, on the page of pageButton, whose read-all was answered with replies.
    void enter(const char *pageButton, const QList<QByteArray> &replies)
    {
        QVERIFY(config->start());
        for (const QByteArray &reply : replies)
            config->peer().queueReply(reply);
        config->click(pageButton);
        QVERIFY(config->peer().settle(3000));
    }

    void enterPortPage(quint16 address = 17, quint16 speed = 3, quint16 stopBits = 1, quint16 parity = 2)
    {
        enter("sbPort", {readReply(1, {address}), readReply(1, {speed}), readReply(1, {stopBits}),
                         readReply(1, {parity})});
    }

    QList<QByteArray> requestsAfter(int count)
    {
        return config->requests().mid(count);
    }

private slots:
    void init() { config = std::make_unique<ConfigWindow>(); }
    void cleanup() { config.reset(); }

    // Every control that a page writes from, with the parameter it is bound to: a typical value
    // left in it (after the other end of its range) and the write as the device receives it.
    // Every control that a page writes from, with the parameter it is bound to: a typical value
    // left in it (after the other end of its range) and the write as the device receives it.
    void eachBoundControlWritesItsParameter_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("request");
        const QString half = QLatin1Char('1') + QLocale().decimalPoint() + QLatin1Char('5');
        const auto row = [](const char *button, const QStringList &entries, const char *key, const QByteArray &request) {
            QTest::newRow(key) << entries << QString::fromLatin1(button) << QString::fromLatin1(key) << request;
        };
        row("btnModeDeadSpaceWr", {"edtModeDeadSpace=" + half}, "mode.dead_space", writeRequest(1, 0x0A00, {0, 0x3FC0}));
        row("btnModeBrightnessWr", {"TrackBarBrightness=2"}, "mode.brightness", writeRequest(1, 0x0A0D, {2}));
        row("btnModeRElSignalBottomRangeWr", {"edtModeRElSignalTopRange=20", "edtModeRElSignalBottomRange=4"},
            "mode.signal_bottom", writeRequest(1, 0x0A08, {0, 0x4080}));
        row("btnModeRElSignalTopRangeWr", {"edtModeRElSignalBottomRange=4", "edtModeRElSignalTopRange=20"},
            "mode.signal_top", writeRequest(1, 0x0A0A, {0, 0x41A0}));
        row("btnModeDecimalPointPosWr", {"radioModeDecimalPointPos3"}, "mode.decimal_point", writeRequest(1, 0x0A0C, {2}));
        row("btnModeRangeSetWr", {"edtModeRangeSet=80"}, "mode.set_point", writeRequest(1, 0x0A02, {0, 0x42A0}));
        row("btnModeBottomRangeWr", {"edtModeTopRange=100", "edtModeBottomRange=-50"}, "mode.bottom_range",
            writeRequest(1, 0x0A04, {0, 0xC248}));
        row("btnModeTopRangeWr", {"edtModeBottomRange=0", "edtModeTopRange=100"}, "mode.top_range",
            writeRequest(1, 0x0A06, {0, 0x42C8}));
        row("btnModeUnitWr", {"edtModeUnit=mA"}, "mode.unit", writeRequest(1, 0x0A0E, {0x416D, 0x2020, 0x2020}));
        row("btnModeScaleTypeWr", {"rgModeScaleTypeItem2"}, "mode.scale_type", writeRequest(1, 0x0A11, {2}));
        row("btnModeBlinkWr", {"checkModeBlink"}, "mode.blink", writeRequest(1, 0x0A12, {1}));
        row("btnPortNetAddrWr", {"edtPortNetAddr=17"}, "port.address", writeRequest(1, 0x0800, {17}));
        row("btnPortSpeedWr", {"cmbPortSpeed=19200"}, "port.speed", writeRequest(1, 0x0801, {4}));
        row("btnPortStopBitWr", {"cmbPortStopBit=2"}, "port.stop_bits", writeRequest(1, 0x0802, {1}));
        row("btnPortParityWr", {"cmbPortParity=Чет"}, "port.parity", writeRequest(1, 0x0803, {1}));
        row("btnInformationDevNameWr", {"edtInformationDevName=Насос"}, "info.name",
            writeRequest(1, 0x0B00, {0xE0CD, 0xEEF1, 0x00F1, 0, 0, 0, 0, 0, 0, 0}));
    }

    void eachBoundControlWritesItsParameter()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, button);
        QFETCH(QString, key);
        QFETCH(QByteArray, request);
        QVERIFY(config->start());
        for (const QString &entry : entries)
            setControl(*config, entry);
        const Catalogue::Parameter *parameter = Catalogue::find(key);
        config->peer().queueReply(writeEcho(1, parameter->firstRegister(), parameter->registerCount()));
        config->click(qPrintable(button));
        QCOMPARE(config->requests(), QList<QByteArray>{request});
        QCOMPARE(config->errorText(), QString());
        QVERIFY(config->boxes().isEmpty());
    }

    void enteringThePortPageReadsAddressSpeedStopBitsParity()
    {
        enterPortPage();
        QCOMPARE(config->requests(), portReads());
        QCOMPARE(config->find<QGroupBox>("gbPort")->title(), QStringLiteral("Порт"));
        QCOMPARE(config->find<QLineEdit>("edtPortNetAddr")->text(), QStringLiteral("17"));
        QCOMPARE(config->find<UpDown>("UpDownPortNetAddr")->position(), 17);
        QCOMPARE(listText(*config, "cmbPortSpeed"), QStringLiteral("9600"));
        QCOMPARE(listText(*config, "cmbPortStopBit"), QStringLiteral("2"));
        QCOMPARE(listText(*config, "cmbPortParity"), QStringLiteral("Нечет"));
        for (const char *control : {"edtPortNetAddr", "cmbPortSpeed", "cmbPortStopBit", "cmbPortParity"})
            QCOMPARE(config->textColour(control), ConfigWindow::windowTextColour());
        QCOMPARE(config->errorText(), QString());
    }

    void theDeviceListsStartWithoutARow()
    {
        QCOMPARE(config->find<QComboBox>("cmbPortSpeed")->count(), 8);
        QCOMPARE(config->find<QComboBox>("cmbPortSpeed")->itemText(7), QStringLiteral("115200"));
        for (const char *list : {"cmbPortSpeed", "cmbPortStopBit", "cmbPortParity"})
            QCOMPARE(config->find<QComboBox>(list)->currentIndex(), -1);
    }

    void stoppedPageButtonsDoNothing()
    {
        enterPortPage();
        config->click("sbInformation");
        config->stop();
        const int before = int(config->requests().size());
        const QString shownAddress = config->find<QLineEdit>("edtPortNetAddr")->text();
        for (const char *button : {"btnPortNetAddrRd", "btnPortNetAddrWr", "btnPortSpeedRd", "btnPortSpeedWr",
                                   "btnPortStopBitRd", "btnPortStopBitWr", "btnPortParityRd", "btnPortParityWr",
                                   "btnInformationProgVerRd", "btnInformationDevNameRd", "btnInformationDevNameWr",
                                   "btnClbrBottom", "btnClbrTop"})
            config->click(button);
        QCOMPARE(requestsAfter(before), QList<QByteArray>());
        QCOMPARE(config->find<QLineEdit>("edtPortNetAddr")->text(), shownAddress);
        QCOMPARE(config->errorText(), QStringLiteral("Ошибка! Нет овета!")); // from the Information page
    }

    void codesOutOfRangeShowAsTheListsAndBoundsAllow_data()
    {
        QTest::addColumn<QList<quint16>>("codes"); // address, speed, stop bits, parity
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("address 0, speed 8") << QList<quint16>{0, 8, 0, 0} << QStringList{"1", "", "1", "Нет"};
        QTest::newRow("address 300, stop bits 2") << QList<quint16>{300, 7, 2, 1}
                                                  << QStringList{"247", "115200", "", "Чет"};
        QTest::newRow("parity 3") << QList<quint16>{247, 0, 1, 3} << QStringList{"247", "1200", "2", ""};
        QTest::newRow("parity 65535") << QList<quint16>{1, 0, 0, 65535} << QStringList{"1", "1200", "1", ""};
    }

    void codesOutOfRangeShowAsTheListsAndBoundsAllow()
    {
        QFETCH(QList<quint16>, codes);
        QFETCH(QStringList, shown);
        enterPortPage(codes[0], codes[1], codes[2], codes[3]);
        QCOMPARE(config->find<QLineEdit>("edtPortNetAddr")->text(), shown[0]);
        QCOMPARE(listText(*config, "cmbPortSpeed"), shown[1]);
        QCOMPARE(listText(*config, "cmbPortStopBit"), shown[2]);
        QCOMPARE(listText(*config, "cmbPortParity"), shown[3]);

        // The address shown is the address written.
        config->peer().queueReply(writeEcho(1, 0x0800, 1));
        config->click("btnPortNetAddrWr");
        QCOMPARE(requestsAfter(4), QList<QByteArray>{writeRequest(1, 0x0800, {shown[0].toUShort()})});
    }

    void writesSendTheSelectedRowsCode_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("button");
        QTest::addColumn<quint16>("firstRegister");
        QTest::addColumn<quint16>("code");
        QTest::newRow("speed 9600") << "cmbPortSpeed" << "9600" << "btnPortSpeedWr" << quint16(0x0801) << quint16(3);
        QTest::newRow("speed 115200") << "cmbPortSpeed" << "115200" << "btnPortSpeedWr" << quint16(0x0801) << quint16(7);
        QTest::newRow("stop bits 2") << "cmbPortStopBit" << "2" << "btnPortStopBitWr" << quint16(0x0802) << quint16(1);
        QTest::newRow("odd parity") << "cmbPortParity" << "Нечет" << "btnPortParityWr" << quint16(0x0803) << quint16(2);
    }

    void writesSendTheSelectedRowsCode()
    {
        QFETCH(QString, list);
        QFETCH(QString, row);
        QFETCH(QString, button);
        QFETCH(quint16, firstRegister);
        QFETCH(quint16, code);

        enterPortPage(1, 0, 0, 0);
        auto *combo = config->find<QComboBox>(qPrintable(list));
        combo->setCurrentIndex(combo->findText(row));
        config->peer().queueReply(writeEcho(1, firstRegister, 1));
        config->click(qPrintable(button));
        QCOMPARE(requestsAfter(4), QList<QByteArray>{writeRequest(1, firstRegister, {code})});
        QCOMPARE(combo->currentText(), row);
        QCOMPARE(config->textColour(qPrintable(list)), ConfigWindow::windowTextColour());
        QCOMPARE(config->errorText(), QString());
    }

    void writingFromAListWithoutARowSendsNothing_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("button");
        QTest::newRow("speed") << "cmbPortSpeed" << "btnPortSpeedWr";
        QTest::newRow("stop bits") << "cmbPortStopBit" << "btnPortStopBitWr";
        QTest::newRow("parity") << "cmbPortParity" << "btnPortParityWr";
    }

    void writingFromAListWithoutARowSendsNothing()
    {
        QFETCH(QString, list);
        QFETCH(QString, button);
        enterPortPage(1, 8, 2, 3); // no row for any of the codes
        config->click(qPrintable(button));
        QCOMPARE(requestsAfter(4), QList<QByteArray>());
        QCOMPARE(config->errorText(), QStringLiteral("Ошибка! Неправильные параметры!"));
        QCOMPARE(config->textColour(qPrintable(list)), ConfigWindow::failureColour());
    }

    void writingTheDevicesAddressKeepsTalkingToTheSameDevice()
    {
        enterPortPage();
        auto *address = config->find<QLineEdit>("edtPortNetAddr");
        address->selectAll();
        address->insert(QStringLiteral("5"));
        config->peer().queueReply(writeEcho(1, 0x0800, 1));
        config->click("btnPortNetAddrWr");
        config->peer().queueReply(readReply(1, {5}));
        config->click("btnPortNetAddrRd");
        QCOMPARE(requestsAfter(4), (QList<QByteArray>{writeRequest(1, 0x0800, {5}), readRequest(1, 0x0800, 1)}));
        QCOMPARE(address->text(), QStringLiteral("5"));
        QCOMPARE(config->find<QLineEdit>("edtDevNumber")->text(), QStringLiteral("1"));
    }

    void aFailedFirstReadStaysRedAfterTheOthersSucceed()
    {
        enter("sbPort", {withCrc(hex("018302")), readReply(1, {3}), readReply(1, {1}), readReply(1, {2})});
        QCOMPARE(config->textColour("edtPortNetAddr"), ConfigWindow::failureColour());
        for (const char *list : {"cmbPortSpeed", "cmbPortStopBit", "cmbPortParity"})
            QCOMPARE(config->textColour(list), ConfigWindow::windowTextColour());
        QCOMPARE(config->errorText(), QString());
        QCOMPARE(config->find<QLineEdit>("edtPortNetAddr")->text(), QStringLiteral("1")); // as it was
    }

    // Red after the failure and back to the window's text colour after the next success: the
    // colour must really change both ways, not stay black all along.
    void aFailureThenASuccessTurnsTheValueRedAndBack_data()
    {
        QTest::addColumn<QByteArray>("control");
        QTest::addColumn<QByteArray>("readButton");
        QTest::newRow("edit") << QByteArray("edtPortNetAddr") << QByteArray("btnPortNetAddrRd");
        QTest::newRow("list") << QByteArray("cmbPortSpeed") << QByteArray("btnPortSpeedRd");
    }

    void aFailureThenASuccessTurnsTheValueRedAndBack()
    {
        QFETCH(QByteArray, control);
        QFETCH(QByteArray, readButton);
        enterPortPage();
        config->peer().queueReply(withCrc(hex("018302")));
        config->click(readButton);
        QCOMPARE(config->textColour(control), ConfigWindow::failureColour());
        QVERIFY(config->peer().settle(3000));
        config->peer().queueReply(readReply(1, {4}));
        config->click(readButton);
        QCOMPARE(config->textColour(control), ConfigWindow::windowTextColour());
        QVERIFY(ConfigWindow::windowTextColour() != ConfigWindow::failureColour());
    }

    void addressEditKeepsAWholeNumberFrom1To247_data()
    {
        QTest::addColumn<QString>("how"); // as ConfigWindow::enterText takes it
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("shown");
        QTest::newRow("0") << "paste" << "0" << "1";
        QTest::newRow("999") << "paste" << "999" << "247";
        QTest::newRow("999 typed") << "type" << "999" << "247";
        QTest::newRow("letters") << "paste" << "abc" << "17";
        QTest::newRow("cleared") << "clear" << "" << "17";
        QTest::newRow("up arrow key") << "key" << "Up" << "18";
    }

    void addressEditKeepsAWholeNumberFrom1To247()
    {
        QFETCH(QString, how);
        QFETCH(QString, entry);
        QFETCH(QString, shown);
        enterPortPage(17);
        auto *edit = config->find<QLineEdit>("edtPortNetAddr");
        ConfigWindow::enterText(edit, how, entry);
        QCOMPARE(edit->text(), shown);
        QCOMPARE(config->find<UpDown>("UpDownPortNetAddr")->position(), shown.toInt());
    }

    void enteringTheInformationPageReadsVersionThenName()
    {
        enter("sbInformation", {readReply(1, {0x2E31, 0x0030, 0, 0, 0, 0, 0, 0, 0, 0}),
                                readReply(1, {0x4241, 0x0043, 0, 0, 0, 0, 0, 0, 0, 0})});
        QCOMPARE(config->requests(), (QList<QByteArray>{readRequest(1, 0x0100, 10), readRequest(1, 0x0B00, 10)}));
        QCOMPARE(config->find<QLineEdit>("edtInformationProgVer")->text(), QStringLiteral("1.0"));
        QCOMPARE(config->find<QLineEdit>("edtInformationDevName")->text(), QStringLiteral("ABC"));
    }

    void namesReadAsRegisterTexts_data()
    {
        QTest::addColumn<QList<quint16>>("registers");
        QTest::addColumn<QString>("name");
        QTest::newRow("ABC") << QList<quint16>{0x4241, 0x0043, 0, 0, 0, 0, 0, 0, 0, 0} << "ABC";
        QTest::newRow("zero low byte first") << QList<quint16>{0x4100, 0x4343, 0, 0, 0, 0, 0, 0, 0, 0} << "";
        QTest::newRow("20 bytes, no zero") << QList<quint16>(10, 0x4241) << "ABABABABABABABABABAB";
        QTest::newRow("Cyrillic") << QList<quint16>{0xF0CF, 0xE1E8, 0xF0EE, 0, 0, 0, 0, 0, 0, 0} << "Прибор";
        QTest::newRow("spaces kept") << QList<quint16>{0x4120, 0x0020, 0, 0, 0, 0, 0, 0, 0, 0} << " A ";
    }

    void namesReadAsRegisterTexts()
    {
        QFETCH(QList<quint16>, registers);
        QFETCH(QString, name);
        enter("sbInformation", {readReply(1, kNoText), readReply(1, kNoText)});
        config->peer().queueReply(readReply(1, registers));
        config->click("btnInformationDevNameRd");
        QCOMPARE(config->find<QLineEdit>("edtInformationDevName")->text(), name);
    }

    void namesWriteAsRegisterTexts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QList<quint16>>("registers");
        QTest::addColumn<QString>("shown"); // after the write

        QTest::newRow("ABC: 42 41 00 43, then zeros") << "ABC" << QList<quint16>{0x4241, 0x0043, 0, 0, 0, 0, 0, 0, 0, 0}
                                                      << "ABC";
        QTest::newRow("empty") << "" << kNoText << "";
        QTest::newRow("25 characters: the 20 the edit holds are sent and shown")
            << "ABCDEFGHIJKLMNOPQRSTUVWXY"
            << QList<quint16>{0x4241, 0x4443, 0x4645, 0x4847, 0x4A49, 0x4C4B, 0x4E4D, 0x504F, 0x5251, 0x5453}
            << "ABCDEFGHIJKLMNOPQRST";
        QTest::newRow("Cyrillic: П is 0xCF") << "Прибор" << QList<quint16>{0xF0CF, 0xE1E8, 0xF0EE, 0, 0, 0, 0, 0, 0, 0}
                                            << "Прибор";
        QTest::newRow("spaces kept") << " A " << QList<quint16>{0x4120, 0x0020, 0, 0, 0, 0, 0, 0, 0, 0} << " A ";
    }

    void namesWriteAsRegisterTexts()
    {
        QFETCH(QString, name);
        QFETCH(QList<quint16>, registers);
        QFETCH(QString, shown);
        enter("sbInformation", {readReply(1, kNoText), readReply(1, kNoText)});
        auto *edit = config->find<QLineEdit>("edtInformationDevName");
        edit->setText(name);
        config->peer().queueReply(writeEcho(1, 0x0B00, 10));
        config->click("btnInformationDevNameWr");
        QCOMPARE(requestsAfter(2), QList<QByteArray>{writeRequest(1, 0x0B00, registers)});
        QCOMPARE(edit->text(), shown);
        QCOMPARE(config->textColour("edtInformationDevName"), ConfigWindow::windowTextColour());
    }

    // The device holds Windows-1251 alone: a name it cannot hold is refused, not sent with a "?"
    // that the edit would never show.
    void aNameOutsideTheDevicesCodePageIsRefused()
    {
        enter("sbInformation", {readReply(1, kNoText), readReply(1, kNoText)});
        auto *edit = config->find<QLineEdit>("edtInformationDevName");
        ConfigWindow::enterText(edit, QStringLiteral("paste"), QStringLiteral("Насос ✓"));
        config->click("btnInformationDevNameWr");
        QCOMPARE(requestsAfter(2), QList<QByteArray>());
        QCOMPARE(config->errorText(), QStringLiteral("Ошибка! Неправильные параметры!"));
        QCOMPARE(config->textColour("edtInformationDevName"), ConfigWindow::failureColour());
        QCOMPARE(edit->text(), QStringLiteral("Насос ✓"));
    }

    void aFailedNameWriteKeepsWhatWasTyped()
    {
        enter("sbInformation", {readReply(1, kNoText), readReply(1, kNoText)});
        auto *edit = config->find<QLineEdit>("edtInformationDevName");
        edit->setText(QStringLiteral("Насос 3"));
        config->click("btnInformationDevNameWr"); // no answer
        QCOMPARE(edit->text(), QStringLiteral("Насос 3"));
        QCOMPARE(config->textColour("edtInformationDevName"), ConfigWindow::failureColour());
        QCOMPARE(config->errorText(), QStringLiteral("Ошибка! Нет овета!"));
    }

    void aFailedVersionReadStaysRedAfterTheNameSucceeds()
    {
        enter("sbInformation", {withCrc(hex("018302")), readReply(1, {0x4241, 0, 0, 0, 0, 0, 0, 0, 0, 0})});
        QCOMPARE(config->textColour("edtInformationProgVer"), ConfigWindow::failureColour());
        QCOMPARE(config->textColour("edtInformationDevName"), ConfigWindow::windowTextColour());
        QCOMPARE(config->errorText(), QString());
    }

    void informationEditsKeepTheirTextUnselectedOnEntry()
    {
        for (const char *name : {"edtInformationDevName", "edtInformationProgVer"}) {
            auto *edit = config->find<QLineEdit>(name);
            edit->setText(QStringLiteral("Имя"));
            QFocusEvent tabbedInto(QEvent::FocusIn, Qt::TabFocusReason);
            QApplication::sendEvent(edit, &tabbedInto);
            QVERIFY(!edit->hasSelectedText());
        }
    }
};

QTEST_MAIN(TestPages)
#include "tst_pages.moc"
