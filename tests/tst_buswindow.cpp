// «Приборы на линии» against five units of the simulator, one of which stops answering: the
// units found and polled, the silent one greyed, a bench test's verdicts and report, and a
// unit opened in the main window.
#include "blocking.h"
#include "catalogue.h"
#include "modalbox.h"
#include "profile.h"
#include "profilereader.h"
#include "session.h"
#include "support/configwindow.h"
#include "support/platformclick.h"
#include "support/simprocess.h"

#include <QAction>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

constexpr int kFindTimeoutMs = 20000;
// A turnaround that a loaded machine keeps to: at the window's 40 ms a pseudo-terminal's reply
// can come after its probe has given up, and the unit is not listed.
constexpr int kLoadedMachineAllowanceMs = 200;
constexpr int kSilentTimeoutMs = 30000;
// Unit 3 stops answering this long after the simulator starts: after the sweep has found it
// (six probes and ten texts, well under a second on a pseudo-terminal), with room for a loaded
// machine.
constexpr char kFallsSilentAfterS[] = "4";
enum Column { AddressColumn = 0, ValueColumn = 3, DisplayColumn = 5, ResultColumn = 8, VerdictColumn = 10 };

QString cellText(const QTableView *table, int row, int column)
{
    return table->model()->index(row, column).data().toString();
}

QColor cellColour(const QTableView *table, int row, int column)
{
    return table->model()->index(row, column).data(Qt::ForegroundRole).value<QBrush>().color();
}

} // namespace

class TestBusWindow : public QObject
{
    Q_OBJECT

private:
    // The profile of the unit at address 1, its brightness made 2.
    void saveProfileOfUnit1(const QString &device, const QString &profilePath)
    {
        Session session;
        LineSetup line;
        line.speedNumber = 4;
        line.portName = device;
        QVERIFY(Blocking::start(session, line));
        session.setDeviceNumber(1);
        ProfileReader reader(session, {QStringLiteral("COM2"), line, 1});
        Blocking::runToEnd(reader);
        QVERIFY(reader.complete());
        Profiles::DeviceProfile profile = reader.profile();
        profile.values.insert(QStringLiteral("mode.brightness"), 2);
        QString error;
        QVERIFY2(Profiles::save(profile, profilePath, &error), qPrintable(error));
    }

private slots:
    void unitsOfTheLineArePolledJudgedAndOpened()
    {
        SimProcess sim({"--slave", "1-5", "--reading", "12", "--noise", "0.004", "--reading-at", "4=1234.5",
                        "--fall-silent", QStringLiteral("3=%1").arg(QLatin1String(kFallsSilentAfterS))});
        QVERIFY2(sim.started(), "no indicator-sim");
        ConfigWindow config("[PORTS]\nCOM2=" + sim.devicePath().toLocal8Bit() + "\n[COMP]\nSpeedNumber=4\n");
        QTemporaryDir files;
        QString chosenFile;
        int warnings = 0;
        ModalBox::setInterceptor([&](QDialog &dialog) {
            if (auto *fileDialog = qobject_cast<QFileDialog *>(&dialog)) {
                fileDialog->selectFile(chosenFile);
                return int(QDialog::Accepted);
            }
            warnings += qobject_cast<QMessageBox *>(&dialog) ? 1 : 0;
            return int(QMessageBox::Ok);
        });

        config.trigger("mnuBus");
        const QPointer<QDialog> window = config.window().findChild<QDialog *>(QStringLiteral("frmBus"));
        QVERIFY(window);
        const auto find = [window](const char *name) { return window->findChild<QWidget *>(QString::fromLatin1(name)); };
        auto *table = window->findChild<QTableView *>(QStringLiteral("tblBus"));
        qobject_cast<QLineEdit *>(find("edtBusAddresses"))->setText(QStringLiteral("1-6"));
        qobject_cast<QSpinBox *>(find("spinBusAllowance"))->setValue(kLoadedMachineAllowanceMs);
        QTest::mouseClick(find("btnBusFind"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(table->model()->rowCount(), 5, kFindTimeoutMs);
        for (int row = 0; row < 5; ++row)
            QCOMPARE(cellText(table, row, AddressColumn), QString::number(row + 1));
        QTRY_COMPARE_WITH_TIMEOUT(cellText(table, 4, DisplayColumn).trimmed(), QStringLiteral("12.0"), kFindTimeoutMs);
        QCOMPARE(cellText(table, 0, ResultColumn), QStringLiteral("ответ"));

        // The unit that went quiet turns grey and keeps its row; the others go on.
        QTRY_COMPARE_WITH_TIMEOUT(cellText(table, 2, ResultColumn), QStringLiteral("Ошибка! Нет овета!"), kSilentTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(cellColour(table, 2, AddressColumn), QColor(128, 128, 128), kSilentTimeoutMs);
        QCOMPARE(cellColour(table, 0, AddressColumn), window->palette().color(QPalette::WindowText));

        // On a German desktop the point groups digits: "0.050" is refused, never read as 50.
        const QLocale desktop;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        auto *status = window->findChild<QLabel *>(QStringLiteral("lblBusStatus"));
        qobject_cast<QLineEdit *>(find("edtBusExpected"))->setText(QStringLiteral("12,000"));
        qobject_cast<QLineEdit *>(find("edtBusTolerance"))->setText(QStringLiteral("0.050"));
        qobject_cast<QLineEdit *>(find("edtBusSigma"))->setText(QStringLiteral("0,020"));
        qobject_cast<QSpinBox *>(find("spinBusSeconds"))->setValue(2);
        qobject_cast<QSpinBox *>(find("spinBusReadings"))->setValue(3); // what two seconds give on a loaded machine
        QTest::mouseClick(find("btnBusTest"), Qt::LeftButton);
        QCOMPARE(status->text(), QStringLiteral("Эталон, допуск и σ: числа с разделителем «,», допуск и σ не меньше нуля."));
        qobject_cast<QLineEdit *>(find("edtBusTolerance"))->setText(QStringLiteral("0,050"));
        QTest::mouseClick(find("btnBusTest"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(find("btnBusReport")->isEnabled(), kFindTimeoutMs);
        const QStringList verdicts = [&] {
            QStringList texts;
            for (int row = 0; row < table->model()->rowCount(); ++row)
                texts << cellText(table, row, VerdictColumn).section(u':', 0, 0);
            return texts;
        }();
        QCOMPARE(verdicts, (QStringList{"годен", "годен", "не годен", "не годен", "годен"}));
        QVERIFY(cellText(table, 2, VerdictColumn).contains(QStringLiteral("нет показаний")));
        QCOMPARE(status->text(), QStringLiteral("Проверено: 5, годных 3, не годных 2."));

        chosenFile = files.filePath(QStringLiteral("batch.html"));
        QTest::mouseClick(find("btnBusReport"), Qt::LeftButton);
        QFile page(chosenFile);
        QVERIFY(page.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(page.readAll());
        QCOMPARE(html.count(QStringLiteral("<tr><td")), 5);
        QVERIFY(html.contains(QStringLiteral("Индикатор DI-4 sim")));
        QFile csv(files.filePath(QStringLiteral("batch.csv")));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QCOMPARE(csv.readAll().count('\n'), 6);
        // The same report printed, beside the same CSV; a folder it cannot go to is said so, and
        // no report claimed.
        chosenFile = files.filePath(QStringLiteral("printed.PDF"));
        QTest::mouseClick(find("btnBusReport"), Qt::LeftButton);
        QFile printed(chosenFile);
        QVERIFY(printed.open(QIODevice::ReadOnly));
        QCOMPARE(printed.read(5), QByteArray("%PDF-"));
        QVERIFY(QFile::exists(files.filePath(QStringLiteral("printed.csv"))));
        chosenFile = files.filePath(QStringLiteral("gone/report.pdf"));
        const int warned = warnings;
        const QString shown = status->text();
        QTest::mouseClick(find("btnBusReport"), Qt::LeftButton);
        QCOMPARE(warnings, warned + 1);
        QCOMPARE(status->text(), shown);
        QVERIFY(!QFile::exists(files.filePath(QStringLiteral("gone/report.csv"))));
        // The table for a spreadsheet: the reading in the desktop's decimal comma, never grouped.
        chosenFile = files.filePath(QStringLiteral("table.csv"));
        QTest::mouseClick(find("btnBusSave"), Qt::LeftButton);
        QFile saved(chosenFile);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = saved.readAll().split('\n');
        QVERIFY(rows[0].startsWith("\xEF\xBB\xBF" "Адрес;Имя;"));
        QVERIFY2(QString::fromUtf8(rows[4]).contains(QRegularExpression(QStringLiteral("^4;[^;]*;[^;]*;1234,\\d{3};"))),
                 rows[4].constData());
        QLocale::setDefault(desktop);

        // The unit opened in the main window: its address, and its readings page polling.
        const QPoint unit2 = table->visualRect(table->model()->index(1, ValueColumn)).center();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, unit2); // a double click's first press
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, unit2);
        QTRY_VERIFY(!window || !window->isVisible());
        QCOMPARE(config.find<QLineEdit>("edtDevNumber")->text(), QStringLiteral("2"));
        QTRY_VERIFY(config.find<QAction>("ActionStop")->isEnabled());
        QTRY_COMPARE(config.find<QLineEdit>("edtDataCur")->text().trimmed(), QStringLiteral("12.0"));
        ModalBox::setInterceptor({});
    }

    // A profile written to every unit, then the test of them all: one report that names it.
    void theProfileGoesToAllThenTheyAreTested()
    {
        QTemporaryDir files;
        qputenv("XDG_DATA_HOME", files.filePath(QStringLiteral("data")).toLocal8Bit()); // the backups
        SimProcess sim({"--slave", "1-3", "--reading", "12", "--noise", "0.004"});
        QVERIFY2(sim.started(), "no indicator-sim");
        const QString profilePath = files.filePath(QStringLiteral("партия.json"));
        saveProfileOfUnit1(sim.devicePath(), profilePath);
        if (QTest::currentTestFailed())
            return;
        ConfigWindow config("[PORTS]\nCOM2=" + sim.devicePath().toLocal8Bit() + "\n[COMP]\nSpeedNumber=4\n");
        QString chosenFile = profilePath;
        ModalBox::setInterceptor([&](QDialog &dialog) {
            if (auto *fileDialog = qobject_cast<QFileDialog *>(&dialog)) {
                fileDialog->selectFile(chosenFile);
                return int(QDialog::Accepted);
            }
            return int(QMessageBox::Yes);
        });
        config.trigger("mnuBus");
        const QPointer<QDialog> window = config.window().findChild<QDialog *>(QStringLiteral("frmBus"));
        QVERIFY(window);
        const auto find = [&window](const char *name) { return window->findChild<QWidget *>(QString::fromLatin1(name)); };
        auto *table = window->findChild<QTableView *>(QStringLiteral("tblBus"));
        qobject_cast<QLineEdit *>(find("edtBusAddresses"))->setText(QStringLiteral("1-3"));
        qobject_cast<QSpinBox *>(find("spinBusAllowance"))->setValue(kLoadedMachineAllowanceMs);
        QTest::mouseClick(find("btnBusFind"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(find("btnBusProfileTest")->isEnabled(), kFindTimeoutMs);
        QCOMPARE(table->model()->rowCount(), 3);
        qobject_cast<QLineEdit *>(find("edtBusExpected"))->setText(QStringLiteral("12"));
        qobject_cast<QLineEdit *>(find("edtBusTolerance"))->setText(QStringLiteral("0.05"));
        qobject_cast<QLineEdit *>(find("edtBusSigma"))->setText(QStringLiteral("0.02"));
        qobject_cast<QSpinBox *>(find("spinBusSeconds"))->setValue(1);
        qobject_cast<QSpinBox *>(find("spinBusReadings"))->setValue(3);
        QTest::mouseClick(find("btnBusProfileTest"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(find("btnBusReport")->isEnabled(), kFindTimeoutMs);
        for (int row = 0; row < 3; ++row)
            QVERIFY2(cellText(table, row, VerdictColumn).startsWith(QStringLiteral("годен")),
                     qPrintable(cellText(table, row, VerdictColumn)));
        chosenFile = files.filePath(QStringLiteral("report.html"));
        QTest::mouseClick(find("btnBusReport"), Qt::LeftButton);
        QFile page(chosenFile);
        QVERIFY(page.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(page.readAll()).contains(QStringLiteral("Профиль: партия.json")));
        window->close();
        QTRY_VERIFY(config.window().session().isIdle()); // the port let go of

        // Each unit holds the profile's value now.
        Session session;
        LineSetup line;
        line.speedNumber = 4;
        line.portName = sim.devicePath();
        QVERIFY(Blocking::start(session, line));
        session.setDeviceNumber(3);
        const std::optional<Session::Reading> brightness = Blocking::readValue(session, Catalogue::of(prmModeBrightness));
        QVERIFY(brightness && brightness->code == 0);
        QCOMPARE(brightness->value.toInt(), 2);
        ModalBox::setInterceptor({});
    }

    // Limits spoilt while the profile goes in: no test, said so, and the window may test or
    // find again.
    void limitsSpoiltDuringTheProfileLeaveTheWindowFree()
    {
        QTemporaryDir files;
        qputenv("XDG_DATA_HOME", files.filePath(QStringLiteral("data")).toLocal8Bit()); // the backups
        SimProcess sim({"--slave", "1", "--reading", "12"});
        QVERIFY2(sim.started(), "no indicator-sim");
        const QString profilePath = files.filePath(QStringLiteral("unit.json"));
        saveProfileOfUnit1(sim.devicePath(), profilePath);
        if (QTest::currentTestFailed())
            return;
        ConfigWindow config("[PORTS]\nCOM2=" + sim.devicePath().toLocal8Bit() + "\n[COMP]\nSpeedNumber=4\n");
        config.trigger("mnuBus");
        const QPointer<QDialog> window = config.window().findChild<QDialog *>(QStringLiteral("frmBus"));
        QVERIFY(window);
        const auto find = [&window](const char *name) { return window->findChild<QWidget *>(QString::fromLatin1(name)); };
        auto *expected = qobject_cast<QLineEdit *>(find("edtBusExpected"));
        ModalBox::setInterceptor([&](QDialog &dialog) {
            if (auto *fileDialog = qobject_cast<QFileDialog *>(&dialog)) {
                fileDialog->selectFile(profilePath);
                expected->clear(); // as the engineer might while the profile goes in
                return int(QDialog::Accepted);
            }
            return int(QMessageBox::Yes);
        });
        qobject_cast<QLineEdit *>(find("edtBusAddresses"))->setText(QStringLiteral("1"));
        qobject_cast<QSpinBox *>(find("spinBusAllowance"))->setValue(kLoadedMachineAllowanceMs);
        QTest::mouseClick(find("btnBusFind"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(find("btnBusProfileTest")->isEnabled(), kFindTimeoutMs);
        expected->setText(QStringLiteral("12"));
        qobject_cast<QLineEdit *>(find("edtBusTolerance"))->setText(QStringLiteral("1"));
        qobject_cast<QLineEdit *>(find("edtBusSigma"))->setText(QStringLiteral("1"));
        QTest::mouseClick(find("btnBusProfileTest"), Qt::LeftButton);
        auto *status = window->findChild<QLabel *>(QStringLiteral("lblBusStatus"));
        QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(QStringLiteral("Эталон, допуск и σ")), kFindTimeoutMs);
        for (const char *button : {"btnBusTest", "btnBusProfileTest", "btnBusFind"})
            QVERIFY2(find(button)->isEnabled(), button);
        QVERIFY(!find("btnBusReport")->isEnabled());
        window->close();
        ModalBox::setInterceptor({});
    }

    // The adapter pulled out during a test: no unit is judged on what it gave before, and the
    // window says which adapter went.
    void aLostPortLeavesEveryUnitUntested()
    {
        auto sim = std::make_unique<SimProcess>(QStringList{"--slave", "1-2", "--reading", "12"});
        QVERIFY2(sim->started(), "no indicator-sim");
        const QString device = sim->devicePath();
        ConfigWindow config("[PORTS]\nCOM2=" + device.toLocal8Bit() + "\n[COMP]\nSpeedNumber=4\n");
        config.trigger("mnuBus");
        const QPointer<QDialog> window = config.window().findChild<QDialog *>(QStringLiteral("frmBus"));
        QVERIFY(window);
        const auto find = [&window](const char *name) { return window->findChild<QWidget *>(QString::fromLatin1(name)); };
        auto *table = window->findChild<QTableView *>(QStringLiteral("tblBus"));
        qobject_cast<QLineEdit *>(find("edtBusAddresses"))->setText(QStringLiteral("1-2"));
        qobject_cast<QSpinBox *>(find("spinBusAllowance"))->setValue(kLoadedMachineAllowanceMs);
        QTest::mouseClick(find("btnBusFind"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(find("btnBusTest")->isEnabled(), kFindTimeoutMs);
        QCOMPARE(table->model()->rowCount(), 2);
        const QString decimals = QLocale().decimalPoint();
        qobject_cast<QLineEdit *>(find("edtBusExpected"))->setText(QStringLiteral("12"));
        qobject_cast<QLineEdit *>(find("edtBusTolerance"))->setText(QStringLiteral("0") + decimals + QStringLiteral("05"));
        qobject_cast<QLineEdit *>(find("edtBusSigma"))->setText(QStringLiteral("0") + decimals + QStringLiteral("02"));
        qobject_cast<QSpinBox *>(find("spinBusSeconds"))->setValue(60);
        QTest::mouseClick(find("btnBusTest"), Qt::LeftButton);
        QVERIFY(!find("btnBusTest")->isEnabled());
        QTest::qWait(300); // a few readings each
        // How far each unit is: its readings so far of the twenty it needs.
        QTRY_VERIFY2(QRegularExpression(QStringLiteral("^([1-9]\\d*)/20$")).match(cellText(table, 1, VerdictColumn)).hasMatch(),
                     qPrintable(cellText(table, 1, VerdictColumn)));
        sim.reset();
        auto *status = window->findChild<QLabel *>(QStringLiteral("lblBusStatus"));
        QTRY_COMPARE_WITH_TIMEOUT(status->text(),
                                  QStringLiteral("Ошибка! Адаптер COM2 отключён (%1). Проверка прервана: приборы не проверены.")
                                      .arg(device),
                                  kFindTimeoutMs);
        for (int row = 0; row < 2; ++row)
            QVERIFY2(cellText(table, row, VerdictColumn).startsWith(QStringLiteral("не проверен: ")),
                     qPrintable(cellText(table, row, VerdictColumn)));
        QVERIFY(find("btnBusReport")->isEnabled());
        window->close();
    }

    // Closed by the desktop while a poll waits on a slow unit: the poll ends, the port is let
    // go, and the main window may start on it.
    void closedWhileAPollWaits()
    {
        SimProcess sim({"--slave", "1", "--delay", "60"});
        QVERIFY2(sim.started(), "no indicator-sim");
        ConfigWindow config("[PORTS]\nCOM2=" + sim.devicePath().toLocal8Bit() + "\n[COMP]\nSpeedNumber=4\n");
        config.trigger("mnuBus");
        const QPointer<QDialog> window = config.window().findChild<QDialog *>(QStringLiteral("frmBus"));
        QVERIFY(window);
        auto *table = window->findChild<QTableView *>(QStringLiteral("tblBus"));
        window->findChild<QLineEdit *>(QStringLiteral("edtBusAddresses"))->setText(QStringLiteral("1"));
        window->findChild<QSpinBox *>(QStringLiteral("spinBusAllowance"))->setValue(kLoadedMachineAllowanceMs);
        QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("btnBusFind")), Qt::LeftButton);
        QTRY_VERIFY2_WITH_TIMEOUT(table->model()->rowCount() == 1 && !cellText(table, 0, ResultColumn).isEmpty(),
                                  qPrintable(window->findChild<QLabel *>(QStringLiteral("lblBusStatus"))->text()), kFindTimeoutMs);
        // A timer is served while an exchange waits; a close from it lands in the middle of a poll.
        QTimer::singleShot(30, window, [window] { window->close(); });
        QTRY_VERIFY(!window);
        QVERIFY(config.start());
    }

    // Five units polled at 1200 baud, one of them silent: «Закрыть» acts at once, whatever the
    // poll under way is waiting for, and the main window may start on the port.
    void closeActsAtOnceWhileTheUnitsArePolled()
    {
        constexpr qint64 kActsWithinMs = 500; // the aim is 100 ms; a loaded machine gets room
        SimProcess sim({"--slave", "1-5", "--baud", "1200", "--wire-timing", "--fall-silent", "3=0"});
        QVERIFY2(sim.started(), "no indicator-sim");
        ConfigWindow config("[PORTS]\nCOM2=" + sim.devicePath().toLocal8Bit() + "\n[COMP]\nSpeedNumber=0\n");
        config.trigger("mnuBus");
        const QPointer<QDialog> window = config.window().findChild<QDialog *>(QStringLiteral("frmBus"));
        QVERIFY(window);
        auto *table = window->findChild<QTableView *>(QStringLiteral("tblBus"));
        window->findChild<QLineEdit *>(QStringLiteral("edtBusAddresses"))->setText(QStringLiteral("1-5"));
        QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("btnBusFind")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(table->model()->rowCount() == 4 && !cellText(table, 3, ResultColumn).isEmpty(),
                                 kFindTimeoutMs);
        QElapsedTimer clicked;
        clicked.start();
        platformClick(window->findChild<QPushButton *>(QStringLiteral("btnBusClose")));
        QTRY_VERIFY_WITH_TIMEOUT(!window || !window->isVisible(), 5000);
        QVERIFY2(clicked.elapsed() < kActsWithinMs, qPrintable(QString::number(clicked.elapsed())));
        QVERIFY(config.start());
    }

    void theWindowIsForALineNotInUse()
    {
        ConfigWindow config;
        QVERIFY(config.find<QAction>("mnuBus")->isEnabled());
        QVERIFY(config.start());
        QVERIFY(!config.find<QAction>("mnuBus")->isEnabled());
    }
};

QTEST_MAIN(TestBusWindow)
#include "tst_buswindow.moc"
