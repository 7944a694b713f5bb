// The Mode page against a scripted device: what its reads show, what its writes put on the line,
// and what the value fields do while the user types into them.
#include "modepage.h"
#include "support/configwindow.h"
#include "support/frames.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

#include <cstring>

using namespace Frames;

namespace {

const QByteArray kDeviceRefuses = withCrc(hex("018302"));
const QByteArray kWriteRefused = withCrc(hex("019004"));
const QString kBadParameters = QStringLiteral("Ошибка! Неправильные параметры!");

// A register float written out again: the low-order half of the single first.
QList<quint16> floatRegisters(float value)
{
    quint32 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return {quint16(bits & 0xFFFF), quint16(bits >> 16)};
}

// The page's reads in the order the page makes them, with their first register and count.
const QList<QPair<quint16, quint16>> kReadAll{{0x0A00, 2}, {0x0A0D, 1}, {0x0A08, 2}, {0x0A0A, 2},
                                             {0x0A0C, 1}, {0x0A02, 2}, {0x0A04, 2}, {0x0A06, 2},
                                             {0x0A0E, 3}, {0x0A11, 1}, {0x0A12, 1}};

struct Device
{
    float deadSpace = 0.5f, signalBottom = 4, signalTop = 20;
    quint16 decimalPoint = 1, brightness = 1;
    float setPoint = 80, bottom = 0, top = 100;
    QList<quint16> unit{0x43B0, 0x2020, 0x2020};
    quint16 scaleType = 0, blink = 1;

    QList<QByteArray> replies() const
    {
        return {readReply(1, floatRegisters(deadSpace)), readReply(1, {brightness}),
                readReply(1, floatRegisters(signalBottom)), readReply(1, floatRegisters(signalTop)),
                readReply(1, {decimalPoint}), readReply(1, floatRegisters(setPoint)),
                readReply(1, floatRegisters(bottom)), readReply(1, floatRegisters(top)),
                readReply(1, unit), readReply(1, {scaleType}), readReply(1, {blink})};
    }
};

QLocale russian() { return QLocale(QLocale::Russian, QLocale::Russia); }

} // namespace

class TestModePage : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ConfigWindow> config;

    // The window in the given locale, connected and on the Mode page as the device replied.
    void open(const QList<QByteArray> &replies, const QLocale &locale = russian())
    {
        QLocale::setDefault(locale);
        config = std::make_unique<ConfigWindow>();
        config->window().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&config->window()));
        QVERIFY(config->start());
        for (const QByteArray &reply : replies)
            config->peer().queueReply(reply);
        config->click("sbMode");
        QVERIFY(config->peer().settle(5000));
    }

    QLineEdit *edit(const QString &name) { return config->find<QLineEdit>(qPrintable(name)); }
    QRadioButton *point(int number) { return config->find<QRadioButton>(qPrintable(QStringLiteral("radioModeDecimalPointPos%1").arg(number))); }
    QList<QByteArray> requestsAfterEntry() { return config->requests().mid(kReadAll.size()); }

    // Which decimal-point buttons are checked and enabled, from 1 to 4: "1e 2e 3- 4-" style.
    QString decimalPoints()
    {
        QStringList states;
        for (int i = 1; i <= 4; ++i)
            states << QStringLiteral("%1%2%3").arg(i).arg(point(i)->isChecked() ? "*" : "").arg(point(i)->isEnabled() ? "" : "-");
        return states.join(u' ');
    }

    // Puts a text as a read would, with the focus elsewhere.
    void put(const QString &field, const QString &text)
    {
        config->find<QWidget>("btnModeBlinkRd")->setFocus();
        edit(field)->setText(text);
    }

private slots:
    void cleanup()
    {
        config.reset();
        QLocale::setDefault(QLocale::c());
    }

    void enteringThePageReadsEveryValueInOrder_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QStringList>("texts"); // dead space, signal bottom and top, set point, bottom, top
        QTest::newRow("Russian") << russian() << QStringList{"0,5", "4,000", "20,000", "80,000", "0,000", "100,000"};
        QTest::newRow("English") << QLocale(QLocale::English, QLocale::UnitedStates)
                                 << QStringList{"0.5", "4.000", "20.000", "80.000", "0.000", "100.000"};
    }

    void enteringThePageReadsEveryValueInOrder()
    {
        QFETCH(QLocale, locale);
        QFETCH(QStringList, texts);
        open(Device().replies(), locale);
        QList<QByteArray> reads;
        for (const auto &[first, count] : kReadAll)
            reads << readRequest(1, first, count);
        QCOMPARE(config->requests(), reads);
        const char *fields[] = {"edtModeDeadSpace", "edtModeRElSignalBottomRange", "edtModeRElSignalTopRange",
                                "edtModeRangeSet", "edtModeBottomRange", "edtModeTopRange"};
        for (int i = 0; i < texts.size(); ++i)
            QCOMPARE(edit(fields[i])->displayText(), texts[i]);
        QCOMPARE(edit("edtModeUnit")->displayText(), QStringLiteral("°C    "));
        QCOMPARE(config->find<QSlider>("TrackBarBrightness")->value(), 1);
        QCOMPARE(decimalPoints(), QStringLiteral("1 2* 3- 4-")); // a top of 100 leaves no room for two decimals
        QVERIFY(config->find<QRadioButton>("rgModeScaleTypeItem0")->isChecked());
        QVERIFY(config->find<QCheckBox>("checkModeBlink")->isChecked());
        QCOMPARE(config->errorText(), QString());
    }

    void readAllWithOnlyTheLastAnsweredShowsEachFailure()
    {
        QList<QByteArray> replies(kReadAll.size() - 1, kDeviceRefuses);
        open(replies << readReply(1, {0}));
        QCOMPARE(config->errorText(), QString());
        for (const char *field : {"edtModeDeadSpace", "edtModeRangeSet", "edtModeBottomRange", "edtModeTopRange",
                                  "edtModeRElSignalBottomRange", "edtModeRElSignalTopRange", "edtModeUnit",
                                  "rgModeScaleType"})
            QCOMPARE(config->textColour(field), ConfigWindow::failureColour());
        QCOMPARE(config->textColour("checkModeBlink"), ConfigWindow::windowTextColour());
        QCOMPARE(decimalPoints(), QStringLiteral("1 2 3 4"));
        QCOMPARE(config->find<QSlider>("TrackBarBrightness")->value(), 0);
        QCOMPARE(edit("edtModeTopRange")->text(), QString());
    }

    void floatWritesPutTheValueOnTheLine_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("partner");
        QTest::addColumn<QString>("partnerText");
        QTest::addColumn<quint16>("first");
        QTest::addColumn<float>("sent");
        QTest::addColumn<QString>("shown");
        QTest::newRow("dead space 1,5") << "edtModeDeadSpace" << "1,5" << "" << "" << quint16(0x0A00) << 1.5f << "1,5";
        QTest::newRow("set point above the top") << "edtModeRangeSet" << "500" << "edtModeTopRange" << "100"
                                                 << quint16(0x0A02) << 500.0f << "500,000";
        QTest::newRow("bottom above the top") << "edtModeBottomRange" << "30" << "edtModeTopRange" << "20"
                                              << quint16(0x0A04) << 20.0f << "20,000";
        QTest::newRow("bottom equal to the top") << "edtModeBottomRange" << "20" << "edtModeTopRange" << "20"
                                                 << quint16(0x0A04) << 20.0f << "20,000";
        QTest::newRow("top below the bottom") << "edtModeTopRange" << "5" << "edtModeBottomRange" << "10"
                                              << quint16(0x0A06) << 10.0f << "10,000";
        QTest::newRow("top beyond the decimal point's limit") << "edtModeTopRange" << "5000" << "edtModeBottomRange"
                                                              << "0" << quint16(0x0A06) << 5000.0f << "5000,000";
        QTest::newRow("signal bottom above its top") << "edtModeRElSignalBottomRange" << "30"
                                                     << "edtModeRElSignalTopRange" << "20" << quint16(0x0A08)
                                                     << 20.0f << "20,000";
        QTest::newRow("signal top 4,2") << "edtModeRElSignalTopRange" << "4,2" << "edtModeRElSignalBottomRange"
                                        << "-1" << quint16(0x0A0A) << 4.2f << "4,200";
        QTest::newRow("signal top below its bottom") << "edtModeRElSignalTopRange" << "-5"
                                                     << "edtModeRElSignalBottomRange" << "-1,5" << quint16(0x0A0A)
                                                     << -1.5f << "-1,500";
    }

    void floatWritesPutTheValueOnTheLine()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, partner);
        QFETCH(QString, partnerText);
        QFETCH(quint16, first);
        QFETCH(float, sent);
        QFETCH(QString, shown);
        open(Device().replies());
        if (!partner.isEmpty())
            put(partner, partnerText);
        put(field, text);
        config->peer().queueReply(writeEcho(1, first, 2));
        config->click(qPrintable(QString(field).replace("edt", "btn") + "Wr"));
        QCOMPARE(requestsAfterEntry(), QList<QByteArray>{writeRequest(1, first, floatRegisters(sent))});
        QCOMPARE(edit(field)->displayText(), shown);
        QCOMPARE(config->textColour(qPrintable(field)), ConfigWindow::windowTextColour());
        QCOMPARE(config->errorText(), QString());
    }

    void aWriteRefusesAFieldThatIsNoNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("letters") << "abc";
        QTest::newRow("a lone minus") << "-";
        QTest::newRow("beyond a single") << "1e39";
    }

    void aWriteRefusesAFieldThatIsNoNumber()
    {
        QFETCH(QString, text);
        open(Device().replies());
        for (const char *field : {"edtModeRangeSet", "edtModeTopRange", "edtModeRElSignalBottomRange"}) {
            put(field, text);
            config->click(qPrintable(QString::fromLatin1(field).replace("edt", "btn") + "Wr"));
            QCOMPARE(config->textColour(field), ConfigWindow::failureColour());
        }
        QCOMPARE(requestsAfterEntry(), QList<QByteArray>());
        QCOMPARE(config->errorText(), kBadParameters);
        QVERIFY(config->boxes().isEmpty());
    }

    void aWriteWhosePartnerIsNoNumberShowsTheBoxAndSendsNothing()
    {
        open(Device().replies());
        put("edtModeTopRange", "");
        put("edtModeBottomRange", "5");
        config->click("btnModeBottomRangeWr");
        QCOMPARE(requestsAfterEntry(), QList<QByteArray>());
        QCOMPARE(config->boxes().size(), 1);
        QCOMPARE(config->boxes().first().text, QStringLiteral("'' is not a valid floating point value."));
        QCOMPARE(config->textColour("edtModeBottomRange"), ConfigWindow::windowTextColour());
        QCOMPARE(edit("edtModeBottomRange")->text(), QStringLiteral("5"));
    }

    void typingIsCheckedWhileTheFieldHasTheFocus_data()
    {
        QTest::addColumn<float>("bottom");
        QTest::addColumn<float>("top");
        QTest::addColumn<int>("decimalPoint"); // the button clicked first; 0 for the device's code 1
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("points");
        QTest::newRow("top below the bottom") << 10.0f << 100.0f << 0 << "edtModeTopRange" << "5" << "10,000"
                                              << "1 2* 3 4-";
        QTest::newRow("top above one decimal's limit") << 0.0f << 100.0f << 0 << "edtModeTopRange" << "5000"
                                                       << "999,900" << "1 2* 3- 4-";
        QTest::newRow("top above two decimals' limit") << 0.0f << 50.0f << 3 << "edtModeTopRange" << "500"
                                                       << "99,990" << "1 2 3* 4-";
        QTest::newRow("top within no decimals' limit") << 0.0f << 100.0f << 1 << "edtModeTopRange" << "1500"
                                                       << "1500" << "1* 2- 3- 4-";
        QTest::newRow("negative top") << -100.0f << 100.0f << 0 << "edtModeTopRange" << "-5" << "-5" << "1 2* 3 4";
        QTest::newRow("set point above 120 % of the top") << 0.0f << 100.0f << 0 << "edtModeRangeSet" << "130"
                                                          << "120,000" << "";
        QTest::newRow("set point at 120 % of the top") << 0.0f << 100.0f << 0 << "edtModeRangeSet" << "120" << "120"
                                                       << "";
        QTest::newRow("negative set point") << 0.0f << 100.0f << 0 << "edtModeRangeSet" << "-5" << "-5" << "";
        QTest::newRow("bottom above the top") << 0.0f << 100.0f << 0 << "edtModeBottomRange" << "150" << "100,000"
                                              << "";
        QTest::newRow("signal top below its bottom") << 0.0f << 100.0f << 0 << "edtModeRElSignalTopRange" << "3"
                                                     << "4,000" << "";
        QTest::newRow("dead space above 2") << 0.0f << 100.0f << 0 << "edtModeDeadSpace" << "5" << "2,0" << "";
        QTest::newRow("dead space 1,9") << 0.0f << 100.0f << 0 << "edtModeDeadSpace" << "19" << "1,9" << "";
    }

    void typingIsCheckedWhileTheFieldHasTheFocus()
    {
        QFETCH(float, bottom);
        QFETCH(float, top);
        QFETCH(int, decimalPoint);
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QString, points);
        Device device;
        device.bottom = bottom;
        device.top = top;
        open(device.replies());
        if (decimalPoint)
            QTest::mouseClick(point(decimalPoint), Qt::LeftButton);
        ConfigWindow::enterText(edit(field), QStringLiteral("type"), typed);
        QCOMPARE(edit(field)->displayText(), shown);
        if (!points.isEmpty())
            QCOMPARE(decimalPoints(), points);
        QVERIFY(config->boxes().isEmpty());
    }

    void textsPutByTheProgramAreCheckedOnlyOnEntry()
    {
        open(Device().replies()); // decimal point code 1, top 100
        put("edtModeRangeSet", "9000");
        put("edtModeBottomRange", "9000");
        QCOMPARE(edit("edtModeRangeSet")->text(), QStringLiteral("9000"));
        QCOMPARE(edit("edtModeBottomRange")->text(), QStringLiteral("9000"));
        put("edtModeTopRange", "5000"); // beyond the limit: the decimal point moves, the text stays
        QCOMPARE(edit("edtModeTopRange")->text(), QStringLiteral("5000"));
        QCOMPARE(decimalPoints(), QStringLiteral("1* 2- 3- 4-"));

        edit("edtModeRangeSet")->setFocus();
        QCOMPARE(edit("edtModeRangeSet")->text(), QStringLiteral("6000,000"));
        edit("edtModeBottomRange")->setFocus(); // no check on entry
        QCOMPARE(edit("edtModeBottomRange")->text(), QStringLiteral("9000"));
        edit("edtModeTopRange")->setFocus();
        QCOMPARE(edit("edtModeTopRange")->text(), QStringLiteral("9000,000"));
        QVERIFY(config->boxes().isEmpty());
    }

    void theDeadSpaceFieldChecksReadsUntilItFirstLosesTheFocus()
    {
        Device device;
        device.deadSpace = 1.8f;
        open(device.replies());
        put("edtModeDeadSpace", "5,5");
        QCOMPARE(edit("edtModeDeadSpace")->displayText(), QStringLiteral("2,0"));
        edit("edtModeDeadSpace")->setFocus();
        put("edtModeDeadSpace", "5,5"); // put() moved the focus away
        QCOMPARE(edit("edtModeDeadSpace")->displayText(), QStringLiteral("5,5"));

        // The write still keeps the device within 0..2.
        config->peer().queueReply(writeEcho(1, 0x0A00, 2));
        config->click("btnModeDeadSpaceWr");
        QCOMPARE(requestsAfterEntry(), QList<QByteArray>{writeRequest(1, 0x0A00, floatRegisters(2))});
        QCOMPARE(edit("edtModeDeadSpace")->displayText(), QStringLiteral("2,0"));
    }

    void theTopRangeMovesTheDecimalPoint_data()
    {
        QTest::addColumn<quint16>("code");
        QTest::addColumn<float>("top");
        QTest::addColumn<QString>("points");
        QTest::addColumn<double>("limit");
        QTest::newRow("2000 with three decimals") << quint16(3) << 2000.0f << "1* 2- 3- 4-" << 9999.0;
        QTest::newRow("1000 with one decimal") << quint16(1) << 1000.0f << "1* 2- 3- 4-" << 9999.0;
        QTest::newRow("999,9 with three decimals") << quint16(3) << 999.9f << "1 2* 3- 4-" << 999.9;
        QTest::newRow("100 with two decimals") << quint16(2) << 100.0f << "1 2* 3- 4-" << 999.9;
        QTest::newRow("50 with three decimals") << quint16(3) << 50.0f << "1 2 3* 4-" << 99.99;
        QTest::newRow("10 with three decimals") << quint16(3) << 10.0f << "1 2 3* 4-" << 99.99;
        QTest::newRow("9,999 with three decimals") << quint16(3) << 9.999f << "1 2 3 4*" << 9.999;
        QTest::newRow("5 with none") << quint16(0) << 5.0f << "1* 2 3 4" << 9999.0;
        QTest::newRow("negative with two decimals") << quint16(2) << -20.0f << "1 2 3* 4" << 99.99;
        QTest::newRow("code 4 leaves no button checked") << quint16(4) << 5.0f << "1 2 3 4" << 9999.0;
    }

    void theTopRangeMovesTheDecimalPoint()
    {
        QFETCH(quint16, code);
        QFETCH(float, top);
        QFETCH(QString, points);
        QFETCH(double, limit);
        Device device;
        device.decimalPoint = code;
        device.top = top;
        device.bottom = -100;
        open(device.replies());
        QCOMPARE(decimalPoints(), points);
        QCOMPARE(config->find<ModePage>("gbMode")->TopRangeLimit, limit);
        QCOMPARE(config->errorText(), QString());
    }

    void withoutADecimalPointTheTopIsNotCut()
    {
        QList<QByteArray> replies = Device().replies();
        replies[4] = kDeviceRefuses; // no decimal point
        open(replies);
        edit("edtModeTopRange")->setFocus();
        QCOMPARE(edit("edtModeTopRange")->text(), QStringLiteral("100,000"));
        QCOMPARE(decimalPoints(), QStringLiteral("1 2 3- 4-"));

        // Nothing to write until a decimal point is chosen or read.
        config->click("btnModeDecimalPointPosWr");
        QCOMPARE(requestsAfterEntry(), QList<QByteArray>());
        QCOMPARE(config->errorText(), kBadParameters);
    }

    void aDeadSpaceTheFieldCannotHoldShowsRedWithTheDevicesValue_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("tip");
        QTest::newRow("12,5") << 12.5f << "2,0" << "12,500";
        QTest::newRow("9,96 rounds to 10") << 9.96f << "2,0" << "9,960";
        QTest::newRow("negative") << -1.0f << "0,0" << "-1,000";
        QTest::newRow("1,5 fits") << 1.5f << "1,5" << "";
    }

    void aDeadSpaceTheFieldCannotHoldShowsRedWithTheDevicesValue()
    {
        QFETCH(float, value);
        QFETCH(QString, shown);
        QFETCH(QString, tip);
        Device device;
        device.deadSpace = value;
        open(device.replies());
        QCOMPARE(edit("edtModeDeadSpace")->displayText(), shown);
        QCOMPARE(edit("edtModeDeadSpace")->toolTip(), tip);
        QCOMPARE(config->textColour("edtModeDeadSpace"),
                 tip.isEmpty() ? ConfigWindow::windowTextColour() : ConfigWindow::failureColour());
    }

    void codesShowAsTheControlsAllow()
    {
        Device device;
        device.brightness = 3;
        device.scaleType = 7;
        device.unit = {0, 0, 0};
        open(device.replies());
        QCOMPARE(config->find<QSlider>("TrackBarBrightness")->value(), 2);
        QVERIFY(config->find<QRadioButton>("rgModeScaleTypeItem3")->isChecked());
        QCOMPARE(edit("edtModeUnit")->displayText(), QStringLiteral("      "));

        config->peer().queueReply(writeEcho(1, 0x0A0D, 1));
        config->click("btnModeBrightnessWr");
        QCOMPARE(requestsAfterEntry(), QList<QByteArray>{writeRequest(1, 0x0A0D, {2})});
    }

    void theUnitGoesOutInCodePage1251PaddedWithBlanks()
    {
        Device device;
        device.unit = {0, 0, 0};
        open(device.replies());
        ConfigWindow::enterText(edit("edtModeUnit"), QStringLiteral("type"), QStringLiteral("°C"));
        config->peer().queueReply(writeEcho(1, 0x0A0E, 3));
        config->click("btnModeUnitWr");
        QCOMPARE(requestsAfterEntry(), QList<QByteArray>{writeRequest(1, 0x0A0E, {0x43B0, 0x2020, 0x2020})});
        QCOMPARE(edit("edtModeUnit")->displayText(), QStringLiteral("°C    "));
    }

    void aFailedScaleTypeWriteClearsTheChoice()
    {
        open(Device().replies());
        config->peer().queueReply(kWriteRefused);
        config->click("btnModeScaleTypeWr");
        QCOMPARE(config->textColour("rgModeScaleType"), ConfigWindow::failureColour());
        QVERIFY(!config->find<QRadioButton>("rgModeScaleTypeItem0")->isChecked());
        config->click("btnModeScaleTypeWr"); // nothing chosen: nothing happens
        QCOMPARE(requestsAfterEntry(), QList<QByteArray>{writeRequest(1, 0x0A11, {0})});
    }

    void theBlinkWriteColoursTheBackgroundUntilAWriteSucceeds()
    {
        open(Device().replies());
        auto *blink = config->find<QCheckBox>("checkModeBlink");
        const auto background = [blink] { return blink->palette().color(QPalette::Window); };
        config->peer().queueReply(kWriteRefused);
        config->click("btnModeBlinkWr");
        QCOMPARE(background(), ConfigWindow::failureColour());
        config->peer().queueReply(readReply(1, {0}));
        config->click("btnModeBlinkRd");
        QCOMPARE(background(), ConfigWindow::failureColour());
        QVERIFY(!blink->isChecked());
        config->peer().queueReply(writeEcho(1, 0x0A12, 1));
        config->click("btnModeBlinkWr");
        QCOMPARE(background(), QApplication::palette().color(QPalette::Button));
        QCOMPARE(requestsAfterEntry(), (QList<QByteArray>{writeRequest(1, 0x0A12, {1}), readRequest(1, 0x0A12, 1),
                                                          writeRequest(1, 0x0A12, {0})}));
    }

    // The decimal point's two buttons show only a glyph: assistive tools tell them apart by name.
    void theDecimalPointsGlyphButtonsSayWhatTheyDo()
    {
        open(Device().replies());
        for (const auto &[name, action] : {std::pair{"btnModeDecimalPointPosRd", "Прочитать"},
                                           std::pair{"btnModeDecimalPointPosWr", "Записать"}}) {
            auto *button = config->find<QPushButton>(name);
            QCOMPARE(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name), QString::fromUtf8(action));
            QCOMPARE(button->toolTip(), QString::fromUtf8(action));
        }
    }
};

QTEST_MAIN(TestModePage)
#include "tst_modepage.moc"
