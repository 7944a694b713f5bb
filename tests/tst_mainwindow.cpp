// The configurator's window as a user meets it: the settings file before and after a run, the
// connection controls, Start and Stop, moving between pages, and how the exchanges behind every
// page report their outcome. The device is a scripted peer on a pseudo-terminal.
#include "aboutform.h"
#include "blocking.h"
#include "catalogue.h"
#include "handlers.h"
#include "iniprofile.h"
#include "mainform.h"
#include "modalbox.h"
#include "portdevices.h"
#include "resultcodes.h"
#include "session.h"
#include "settingsfile.h"
#include "toolkittexts.h"
#include "support/configwindow.h"
#include "support/frames.h"
#include "support/platformclick.h"
#include "updown.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace Frames;

namespace {

const char *const kPageButtons[] = {"sbMode", "sbPort", "sbCalibration", "sbInformation", "sbData"};
const char *const kPages[] = {"gbMode", "gbPort", "gbCalibration", "gbInformation", "gbData"};

QByteArray savedSettings(int port, int speed, int parity, int stopBits, int device)
{
    return QStringLiteral("[COMP]\nPortNumber=%1\nSpeedNumber=%2\nParity=%3\nStopBits=%4\nTimeOut=0\n"
                          "[DEVS]\nDeviceNumber=%5\n")
        .arg(port).arg(speed).arg(parity).arg(stopBits).arg(device)
        .toLatin1();
}

// The page shown, or an empty name.
QByteArray shownPage(ConfigWindow &config)
{
    QByteArray shown;
    for (const char *page : kPages)
        if (config.find<QGroupBox>(page)->isVisible())
            shown += page;
    return shown;
}

// Runs work with the rights of an ordinary user, so that folder and file permissions count also
// when the tests run as root.
void asUnprivilegedUser(const std::function<void()> &work)
{
    constexpr uid_t kNobody = 65534;
    const bool root = geteuid() == 0;
    if (root && seteuid(kNobody) != 0)
        qFatal("cannot take an ordinary user's rights");
    work();
    if (root && seteuid(0) != 0)
        qFatal("cannot take root's rights back");
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void startupTakesTheSettingsFileAndCloseWritesItBack_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QList<int>>("rows"); // cmbPort, cmbSpeed, cmbParity, cmbStopBit
        QTest::addColumn<QString>("deviceNumber");
        QTest::addColumn<QList<int>>("saved"); // PortNumber .. StopBits, DeviceNumber

        QTest::newRow("no file") << QByteArray() << QList<int>{1, 3, 0, 0} << "1" << QList<int>{1, 3, 0, 0, 1};
        QTest::newRow("PortNumber 7 is COM8") << QByteArray("[COMP]\nPortNumber=7\n") << QList<int>{7, 3, 0, 0}
                                              << "1" << QList<int>{7, 3, 0, 0, 1};
        QTest::newRow("PortNumber 8 is no port") << QByteArray("[COMP]\nPortNumber=8\n") << QList<int>{-1, 3, 0, 0}
                                                 << "1" << QList<int>{255, 3, 0, 0, 1};
        QTest::newRow("SpeedNumber 0x7 is 115200") << QByteArray("[COMP]\nSpeedNumber=0x7\n")
                                                   << QList<int>{1, 7, 0, 0} << "1" << QList<int>{1, 7, 0, 0, 1};
        QTest::newRow("SpeedNumber -1 is no speed") << QByteArray("[COMP]\nSpeedNumber=-1\n")
                                                    << QList<int>{1, -1, 0, 0} << "1" << QList<int>{1, 255, 0, 0, 1};
        QTest::newRow("Parity 2 is odd") << QByteArray("[COMP]\nParity=2\n") << QList<int>{1, 3, 2, 0} << "1"
                                         << QList<int>{1, 3, 2, 0, 1};
        QTest::newRow("Parity 3 is none of the rows") << QByteArray("[COMP]\nParity=3\n") << QList<int>{1, 3, -1, 0}
                                                      << "1" << QList<int>{1, 3, 255, 0, 1};
        QTest::newRow("StopBits $2") << QByteArray("[COMP]\nStopBits=$2\n") << QList<int>{1, 3, 0, 2} << "1"
                                     << QList<int>{1, 3, 0, 2, 1};
        QTest::newRow("TimeOut 500 ignored, written as 0") << QByteArray("[COMP]\nTimeOut=500\n")
                                                           << QList<int>{1, 3, 0, 0} << "1" << QList<int>{1, 3, 0, 0, 1};
        QTest::newRow("letters give the default") << QByteArray("[COMP]\nPortNumber=two\n[DEVS]\nDeviceNumber=x\n")
                                                  << QList<int>{1, 3, 0, 0} << "1" << QList<int>{1, 3, 0, 0, 1};
        for (const auto &[stored, shown] : {std::pair{"0", 0}, {"255", 255}, {"256", 255}, {"-1", 255}, {"0x10", 16}})
            QTest::addRow("DeviceNumber %s", stored)
                << QByteArray("[DEVS]\nDeviceNumber=") + stored + "\n" << QList<int>{1, 3, 0, 0}
                << QString::number(shown) << QList<int>{1, 3, 0, 0, shown};
    }

    void startupTakesTheSettingsFileAndCloseWritesItBack()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QList<int>, rows);
        QFETCH(QString, deviceNumber);
        QFETCH(QList<int>, saved);

        ConfigWindow config(settings);
        const char *lists[] = {"cmbPort", "cmbSpeed", "cmbParity", "cmbStopBit"};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(config.find<QComboBox>(lists[i])->currentIndex(), rows[i]);
        QCOMPARE(config.find<QLineEdit>("edtDevNumber")->text(), deviceNumber);
        QCOMPARE(config.settingsFile(), settings.isNull() ? QByteArray("<none>") : settings);

        config.window().close();
        const IniProfile file(config.settingsPath());
        const char *keys[] = {"PortNumber", "SpeedNumber", "Parity", "StopBits"};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(file.readInteger("COMP", keys[i], -1000), qint64(saved[i]));
        QCOMPARE(file.readInteger("COMP", "TimeOut", -1000), qint64(0));
        QCOMPARE(file.readInteger("DEVS", "DeviceNumber", -1000), qint64(saved[4]));
        if (settings.isNull())
            QCOMPARE(config.settingsFile(), savedSettings(1, 3, 0, 0, 1));
        QVERIFY(config.boxes().isEmpty());
    }

    void closingWhilePollingStopsTheTimerAndKeepsOtherLines()
    {
        const QByteArray before = "; indicator-config\n[DEVS]\nDeviceNumber=7\nSerial=A17\n\n"
                                  "[PORTS]\nCOM2=%PTY%\n; USB adapter\nCOM3=/dev/ttyUSB0\n\n"
                                  "[COMP]\nStopBits=1\nTimeOut=500\nPortNumber=1\n";
        ConfigWindow config(before);
        QVERIFY(config.start());
        config.click("sbData");
        auto *timer = config.find<QTimer>("Timer");
        QVERIFY(timer->isActive());

        config.window().close();
        QVERIFY(!timer->isActive());
        QByteArray after = "; indicator-config\n[DEVS]\nDeviceNumber=7\nSerial=A17\n\n"
                           "[PORTS]\nCOM2=%PTY%\n; USB adapter\nCOM3=/dev/ttyUSB0\n\n"
                           "[COMP]\nStopBits=1\nTimeOut=0\nPortNumber=1\nSpeedNumber=3\nParity=0\n";
        after.replace("%PTY%", config.peer().devicePath().toLocal8Bit());
        QCOMPARE(config.settingsFile(), after);
    }

    // A settings file that is none (a device, a FIFO, a file no settings grow to) is named in a
    // box, one that cannot be read (a folder) in the status bar; either way the window comes up
    // on its defaults and leaves the file as it found it.
    void aSettingsFileThatIsNoFileLeavesTheWindowOnItsDefaults_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("inABox");
        QTest::addColumn<QString>("said");
        QTest::newRow("a link to /dev/zero") << "zero" << true << "не обычный файл";
        QTest::newRow("a FIFO") << "fifo" << true << "не обычный файл";
        QTest::newRow("larger than 1 MiB") << "large" << true << "файл больше 1048576 байт";
        QTest::newRow("a folder") << "folder" << false << "это папка, а не файл";
    }

    void aSettingsFileThatIsNoFileLeavesTheWindowOnItsDefaults()
    {
        QFETCH(QString, kind);
        QFETCH(bool, inABox);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("indicator-config.ini"));
        if (kind == QLatin1String("zero"))
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        else if (kind == QLatin1String("fifo"))
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(path));
        else {
            QFile large(path);
            QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(1024 * 1024 + 1));
        }
        const QFileInfo before(path);

        ConfigWindow config(QByteArray(), path);
        const char *lists[] = {"cmbPort", "cmbSpeed", "cmbParity", "cmbStopBit"};
        const int defaults[] = {1, 3, 0, 0};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(config.find<QComboBox>(lists[i])->currentIndex(), defaults[i]);
        QCOMPARE(config.find<QLineEdit>("edtDevNumber")->text(), QStringLiteral("1"));
        const QString told = inABox ? config.boxes().value(0).text : config.statusText();
        QCOMPARE(config.boxes().size(), inABox ? 1 : 0);
        QVERIFY2(told.contains(path) && told.contains(said), qPrintable(told));

        config.window().close(); // and says that nothing was saved
        const QFileInfo after(path);
        QCOMPARE(after.isSymLink(), before.isSymLink());
        QCOMPARE(after.isFile(), before.isFile());
        QCOMPARE(after.size(), before.size());
        QVERIFY2(config.boxes().last().text.contains(path), qPrintable(config.boxes().last().text));
    }

    void unwritableSettingsAreReportedAndTheWindowStillCloses()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("gone/indicator-config.ini"));
        ConfigWindow config(QByteArray(), path);
        config.window().close();
        QVERIFY(!config.window().isVisible());
        QCOMPARE(config.boxes().size(), 1);
        const ConfigWindow::Box box = config.boxes().first();
        QCOMPARE(box.icon, QMessageBox::Warning);
        QVERIFY2(box.text.contains(path), qPrintable(box.text));
        QVERIFY2(!box.text.section(u'\n', 1).isEmpty(), qPrintable(box.text)); // the reason
    }

    // The folder takes no new file, the file itself may be written: it is written in place.
    void settingsAreWrittenInPlaceInAFolderThatIsLocked()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("indicator-config.ini"));
        ConfigWindow config("; kept\n[DEVS]\nDeviceNumber=9\n", path);
        using P = QFile::Permission;
        QVERIFY(QFile::setPermissions(path, P::ReadOwner | P::WriteOwner | P::ReadGroup | P::WriteGroup | P::ReadOther
                                                | P::WriteOther));
        QVERIFY(QFile::setPermissions(dir.path(), P::ReadOwner | P::ExeOwner | P::ReadGroup | P::ExeGroup | P::ReadOther
                                                      | P::ExeOther));
        asUnprivilegedUser([&] { config.window().close(); });
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY2(config.boxes().isEmpty(), qPrintable(config.boxes().value(0).text));
        QCOMPARE(config.settingsFile(), "; kept\n[DEVS]\nDeviceNumber=9\n[COMP]\nPortNumber=1\nSpeedNumber=3\n"
                                        "Parity=0\nStopBits=0\nTimeOut=0\n");
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"indicator-config.ini"});
    }

    void settingsFileLiesBesideTheExecutable_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("settings");
        QTest::newRow("no extension") << "/opt/tools/indicator-config" << "/opt/tools/indicator-config.ini";
        QTest::newRow("extension") << "/opt/tools/config.exe" << "/opt/tools/config.ini";
        QTest::newRow("two dots") << "/opt/tools/config.v1.bin" << "/opt/tools/config.v1.ini";
        QTest::newRow("dot in a folder") << "/opt/my.tools/config" << "/opt/my.tools/config.ini";
    }

    void settingsFileLiesBesideTheExecutable()
    {
        QFETCH(QString, executable);
        QFETCH(QString, settings);
        QCOMPARE(SettingsFile::fileName(executable), settings);
    }

    // Entries as ConfigWindow::enterText takes them.
    void deviceNumberEditKeepsAWholeNumberWithinRange_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("deviceNumber");

        QTest::newRow("300 refused") << "paste" << "300" << "1" << 1;
        QTest::newRow("256 refused") << "paste" << "256" << "1" << 1;
        QTest::newRow("-1 refused") << "paste" << "-1" << "1" << 1;
        QTest::newRow("letters refused") << "paste" << "abc" << "1" << 1;
        QTest::newRow("255 taken") << "paste" << "255" << "255" << 255;
        QTest::newRow("0 taken") << "paste" << "0" << "0" << 0;
        QTest::newRow("12 typed") << "type" << "12" << "12" << 12;
        QTest::newRow("007 typed") << "type" << "007" << "7" << 7;
        QTest::newRow("300 typed: the last key is refused") << "type" << "300" << "30" << 30;
        QTest::newRow("cleared") << "clear" << "" << "1" << 1;
    }

    void deviceNumberEditKeepsAWholeNumberWithinRange()
    {
        QFETCH(QString, how);
        QFETCH(QString, entry);
        QFETCH(QString, shown);
        QFETCH(int, deviceNumber);

        ConfigWindow config;
        auto *edit = config.find<QLineEdit>("edtDevNumber");
        ConfigWindow::enterText(edit, how, entry);
        QCOMPARE(edit->text(), shown);
        QCOMPARE(config.window().DeviceNumber(), quint16(deviceNumber));
        QCOMPARE(config.find<UpDown>("UpDownDevNumber")->position(), deviceNumber);
    }

    void deviceNumberSpinnerStopsAtItsBounds_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("arrow"); // a button of the spinner, or a key in the edit
        QTest::addColumn<int>("to");

        QTest::newRow("up at 255") << "255" << "upArrow" << 255;
        QTest::newRow("down at 0") << "0" << "downArrow" << 0;
        QTest::newRow("up at 254") << "254" << "upArrow" << 255;
        QTest::newRow("down at 1") << "1" << "downArrow" << 0;
        QTest::newRow("Up key") << "7" << "Up" << 8;
        QTest::newRow("Down key at 0") << "0" << "Down" << 0;
    }

    void deviceNumberSpinnerStopsAtItsBounds()
    {
        QFETCH(QString, from);
        QFETCH(QString, arrow);
        QFETCH(int, to);

        ConfigWindow config(QByteArray("[DEVS]\nDeviceNumber=") + from.toLatin1() + "\n");
        auto *edit = config.find<QLineEdit>("edtDevNumber");
        if (arrow.endsWith("Arrow"))
            QTest::mouseClick(config.find<UpDown>("UpDownDevNumber")->findChild<QToolButton *>(arrow), Qt::LeftButton);
        else
            ConfigWindow::enterText(edit, QStringLiteral("key"), arrow);
        QCOMPARE(edit->text(), QString::number(to));
        QCOMPARE(config.window().DeviceNumber(), quint16(to));
    }

    void startAndStopSwitchTheActions()
    {
        ConfigWindow config;
        const auto enabled = [&config] {
            QString states;
            for (const char *button : {"sbStart", "sbStop", "sbMode", "sbPort", "sbCalibration", "sbInformation",
                                       "sbData", "sbExit"})
                states += config.find<QToolButton>(button)->isEnabled() ? u'1' : u'0';
            return states;
        };
        QCOMPARE(enabled(), QStringLiteral("10000001"));
        QCOMPARE(config.find<QAction>("mnuPort")->isEnabled(), false);
        QCOMPARE(shownPage(config), QByteArray());

        QVERIFY(config.start());
        QCOMPARE(enabled(), QStringLiteral("01111111"));
        QCOMPARE(config.find<QAction>("mnuPort")->isEnabled(), true);
        QCOMPARE(config.statusText(), QStringLiteral("Старт"));
        QCOMPARE(shownPage(config), QByteArray());
        QVERIFY(!config.find<QTimer>("Timer")->isActive());
        const termios line = config.peer().lineSettings(); // 9600 baud, no parity, one stop bit
        QCOMPARE(cfgetospeed(&line), speed_t(B9600));
        QCOMPARE(line.c_cflag & (PARENB | CSTOPB), tcflag_t(0));

        config.stop();
        QCOMPARE(enabled(), QStringLiteral("10000001"));
        QCOMPARE(config.statusText(), QStringLiteral("Стоп"));
        QVERIFY(config.requests().isEmpty());
    }

    void failedStartSaysWhyAndStartCanBeRetried_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no device") << "missing" << "нет такого устройства";
        QTest::newRow("busy") << "busy" << "порт занят другой программой";
        QTest::newRow("no permission") << "locked"
                                       << "нет доступа к порту; выполните sudo adduser $USER dialout и войдите в систему заново";
    }

    void failedStartSaysWhyAndStartCanBeRetried()
    {
        QFETCH(QString, cause);
        QFETCH(QString, reason);
        const bool missing = cause == QLatin1String("missing");
        ConfigWindow config(missing ? "[PORTS]\nCOM2=%PTY%-missing\nCOM3=%PTY%\n" : "[PORTS]\nCOM2=%PTY%\nCOM3=%PTY%\n");
        const QString device = config.peer().devicePath();
        const QString path = device + (missing ? QStringLiteral("-missing") : QString());
        auto *ports = config.find<QComboBox>("cmbPort");
        QCOMPARE(ports->itemData(1, Qt::ToolTipRole).toString(), path);
        QCOMPARE(ports->itemData(2, Qt::ToolTipRole).toString(), device);
        QSerialPort otherProgram(device);
        if (cause == QLatin1String("busy"))
            QVERIFY(otherProgram.open(QIODevice::ReadWrite));
        // No rights to the device, also for a test that runs as root.
        const bool locked = cause == QLatin1String("locked");
        const QFile::Permissions granted = QFile::permissions(device);
        if (locked)
            QVERIFY(QFile::setPermissions(device, {}));

        for (int attempt = 0; attempt < 2; ++attempt) {
            if (locked)
                asUnprivilegedUser([&] { QVERIFY(!config.start()); });
            else
                QVERIFY(!config.start());
            QCOMPARE(config.statusText(), QStringLiteral("Ошибка! Порт COM2 не открыт (%1): %2").arg(path, reason));
            QVERIFY(config.find<QToolButton>("sbStart")->isEnabled());
            QVERIFY(!config.find<QToolButton>("sbPort")->isEnabled());
        }
        otherProgram.close();
        QVERIFY(QFile::setPermissions(device, granted));
        if (missing) {
            ports->setFocus();
            QTest::keyClick(ports, Qt::Key_Down); // COM3
        }
        QVERIFY(config.start());
        QCOMPARE(config.statusText(), QStringLiteral("Старт"));
    }

    // Unplugged while the Readings page polls, the adapter ends the connection with the reason
    // shown; once it is back under its name, one click connects again and re-enters the page.
    void anUnpluggedAdapterEndsTheConnectionAndCanBeConnectedAgain()
    {
        constexpr int kReplugWatchMs = 500;
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("adapter"));
        auto unplugged = std::make_unique<PtyPeer>();
        QVERIFY(QFile::link(unplugged->devicePath(), link));
        ConfigWindow config("[PORTS]\nCOM2=" + link.toLocal8Bit() + "\n");
        QVERIFY(config.start());
        config.click("sbData");
        QTRY_VERIFY_WITH_TIMEOUT(unplugged->requests().size() >= 3, 5000);
        unplugged->hangUp();
        QVERIFY(QFile::remove(link));

        QTRY_VERIFY_WITH_TIMEOUT(config.find<QToolButton>("sbStart")->isEnabled(), 5000);
        QCOMPARE(config.errorText(), QStringLiteral("Ошибка! Адаптер COM2 отключён (%1). Подключите его снова.").arg(link));
        QVERIFY(!config.find<QTimer>("Timer")->isActive());
        QVERIFY(!config.find<QToolButton>("sbData")->isEnabled());
        auto *again = config.find<QPushButton>("btnReconnect");
        QTest::qWait(2 * kReplugWatchMs);
        QVERIFY(!again->isVisible());

        PtyPeer pluggedIn;
        QVERIFY(QFile::link(pluggedIn.devicePath(), link));
        QTRY_VERIFY_WITH_TIMEOUT(again->isVisible(), 5000);
        QCOMPARE(config.errorText(), QStringLiteral("Адаптер COM2 снова подключён (%1).").arg(link));
        QTest::mouseClick(again, Qt::LeftButton);
        QTRY_VERIFY(config.find<QToolButton>("sbStop")->isEnabled());
        QVERIFY(!again->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(pluggedIn.requests().size() >= 3, 5000);
        QCOMPARE(pluggedIn.requests().first(), readRequest(1, 0x0007, 3));
    }

    // Another port picked in the list while connected is for the next Start: the adapter that
    // went, and its coming back, are told as the port it was connected as, and so is a failed
    // attempt to connect to it again.
    void anUnpluggedAdapterKeepsTheNameItWasConnectedAs()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("adapter"));
        auto unplugged = std::make_unique<PtyPeer>();
        QVERIFY(QFile::link(unplugged->devicePath(), link));
        ConfigWindow config("[PORTS]\nCOM2=" + link.toLocal8Bit() + "\n");
        QVERIFY(config.start());
        config.click("sbData");
        auto *ports = config.find<QComboBox>("cmbPort");
        ports->setFocus();
        QTest::keyClick(ports, Qt::Key_Down);
        QCOMPARE(ports->currentText(), QStringLiteral("COM3"));
        QTRY_VERIFY_WITH_TIMEOUT(unplugged->requests().size() >= 3, 5000);
        unplugged->hangUp();
        QVERIFY(QFile::remove(link));

        QTRY_VERIFY_WITH_TIMEOUT(config.find<QToolButton>("sbStart")->isEnabled(), 5000);
        QCOMPARE(config.errorText(), QStringLiteral("Ошибка! Адаптер COM2 отключён (%1). Подключите его снова.").arg(link));
        PtyPeer pluggedIn;
        QVERIFY(QFile::link(pluggedIn.devicePath(), link));
        auto *again = config.find<QPushButton>("btnReconnect");
        QTRY_VERIFY_WITH_TIMEOUT(again->isVisible(), 5000);
        QCOMPARE(config.errorText(), QStringLiteral("Адаптер COM2 снова подключён (%1).").arg(link));
        QVERIFY(QFile::remove(link)); // gone again before the click
        QTest::mouseClick(again, Qt::LeftButton);
        QTRY_COMPARE(config.statusText(), QStringLiteral("Ошибка! Порт COM2 не открыт (%1): нет такого устройства").arg(link));
    }

    void enteringAPageShowsItAndPollsOnlyTheLivePages_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("polls");
        QTest::newRow("Mode") << 0 << "Режим" << false;
        QTest::newRow("System parameters") << 1 << "Порт" << false;
        QTest::newRow("Calibration") << 2 << "Калибровка" << true;
        QTest::newRow("Information") << 3 << "Информация" << false;
        QTest::newRow("Readings") << 4 << "Показания" << true;
    }

    void enteringAPageShowsItAndPollsOnlyTheLivePages()
    {
        QFETCH(int, page);
        QFETCH(QString, caption);
        QFETCH(bool, polls);

        ConfigWindow config;
        QVERIFY(config.start());
        auto *timer = config.find<QTimer>("Timer");
        for (int round = 0; round < 2; ++round) { // the same page again is entered again
            config.click(kPageButtons[page]);
            QCOMPARE(shownPage(config), QByteArray(kPages[page]));
            QCOMPARE(config.find<QGroupBox>(kPages[page])->title(), caption);
            QCOMPARE(config.statusText(), caption);
            QCOMPARE(timer->isActive(), polls);
            QCOMPARE(timer->interval(), polls ? 100 : 0);
            QVERIFY(config.find<QToolButton>(kPageButtons[page])->isChecked());
        }
        config.click(page == 0 ? "sbPort" : "sbMode");
        QVERIFY(!timer->isActive());
        config.click(kPageButtons[page]);

        config.stop();
        QVERIFY(!timer->isActive());
        QCOMPARE(shownPage(config), QByteArray(kPages[page]));
        QVERIFY(config.find<QToolButton>(kPageButtons[page])->isChecked());
    }

    void startEntersThePressedButtonsPageNotTheMenusPage()
    {
        ConfigWindow config;
        QVERIFY(config.start());
        config.click("sbData");
        config.click("sbData"); // a pressed page button stays pressed
        QVERIFY(config.find<QToolButton>("sbData")->isChecked());

        config.trigger("mnuPort");
        QCOMPARE(shownPage(config), QByteArray("gbPort"));
        QVERIFY(config.find<QToolButton>("sbData")->isChecked());
        QVERIFY(!config.find<QToolButton>("sbPort")->isChecked());
        QVERIFY(!config.find<QTimer>("Timer")->isActive());

        config.stop();
        QVERIFY(config.start());
        QCOMPARE(shownPage(config), QByteArray("gbData"));
        QVERIFY(config.find<QTimer>("Timer")->isActive());
        QCOMPARE(config.statusText(), QStringLiteral("Старт"));
    }

    // A number that does not convert abandons the rest of its handler, shows the standard error
    // box, and the window goes on exchanging.
    void aFailedNumberConversionInAHandlerShowsTheErrorBoxAndTheWindowGoesOn()
    {
        ConfigWindow config;
        auto *button = new QPushButton(&config.window());
        bool abandoned = true;
        Handlers::connect(button, &QPushButton::clicked, &config.window(), [&] {
            RegionalNumber::read(QStringLiteral("12x"));
            abandoned = false;
        });
        button->show();
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(abandoned);
        QCOMPARE(config.boxes().size(), 1);
        QCOMPARE(config.boxes().first().icon, QMessageBox::Critical);
        QCOMPARE(config.boxes().first().title, QCoreApplication::applicationName());
        QCOMPARE(config.boxes().first().text, QStringLiteral("'12x' is not a valid floating point value."));

        QVERIFY(config.start());
        config.peer().queueReply(readReply(1, {0x0005}));
        config.click("btnPortNetAddrRd");
        QCOMPARE(config.requests(), QList<QByteArray>{readRequest(1, 0x0800, 1)});
        QCOMPARE(config.find<QLineEdit>("edtPortNetAddr")->text(), QStringLiteral("5"));
    }

    // At 1200 baud with no device answering, the Mode page's read-all holds the line for about
    // two seconds (eleven reads of 170 ms): a click on the window acts at once all the same.
    void clicksActAtOnceWhileTheLineIsBusy_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("Стоп") << "sbStop";
        QTest::newRow("another page") << "sbPort";
        QTest::newRow("Выход") << "sbExit";
    }

    void clicksActAtOnceWhileTheLineIsBusy()
    {
        // A tenth of a second is the aim; the bound leaves a loaded machine room, and is far
        // below the read-all that a waiting window would make the click wait for.
        constexpr qint64 kActsWithinMs = 500;
        QFETCH(QString, button);
        ConfigWindow config(ConfigWindow::deviceOnCom2() + "[COMP]\nSpeedNumber=0\n");
        QVERIFY(config.start());
        QTest::mouseClick(config.find<QToolButton>("sbMode"), Qt::LeftButton);
        QTRY_VERIFY(!config.peer().requests().isEmpty());
        const auto acted = [&] {
            if (button == QLatin1String("sbStop"))
                return config.find<QToolButton>("sbStart")->isEnabled();
            if (button == QLatin1String("sbPort"))
                return shownPage(config) == "gbPort";
            return !config.window().isVisible();
        };
        QElapsedTimer clicked;
        clicked.start();
        platformClick(config.find<QToolButton>(qPrintable(button)));
        QTRY_VERIFY_WITH_TIMEOUT(acted(), 5000);
        QVERIFY2(clicked.elapsed() < kActsWithinMs, qPrintable(QString::number(clicked.elapsed())));
        if (button == QLatin1String("sbExit"))
            QVERIFY(config.settingsFile().contains("DeviceNumber=")); // written as the window closed
    }

    void pageButtonsEnterTheirPageHoweverTheyArePressed_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("space key") << "key";
        QTest::newRow("assistive toggle") << "toggle";
        QTest::newRow("assistive press") << "press";
    }

    void pageButtonsEnterTheirPageHoweverTheyArePressed()
    {
        QFETCH(QString, how);
        ConfigWindow config;
        QVERIFY(config.start());
        auto *button = config.find<QToolButton>("sbInformation");
        for (int time = 0; time < 2; ++time) { // the second time on the button already pressed
            if (how == QLatin1String("key")) {
                button->setFocus();
                QTest::keyClick(button, Qt::Key_Space);
            } else {
                QAccessibleActionInterface *actions = QAccessible::queryAccessibleInterface(button)->actionInterface();
                QVERIFY(actions);
                actions->doAction(how == QLatin1String("toggle") ? QAccessibleActionInterface::toggleAction()
                                                                 : QAccessibleActionInterface::pressAction());
            }
            config.settle();
            QCOMPARE(shownPage(config), QByteArray("gbInformation"));
            QVERIFY(button->isChecked());
        }
        // A toggle cannot release the pressed button, so it enters the page only once.
        const int entries = how == QLatin1String("toggle") ? 1 : 2;
        QCOMPARE(config.requests().size(), 2 * entries);
    }

    void exitClosesTheWindow()
    {
        ConfigWindow config;
        config.click("sbExit");
        QVERIFY(!config.window().isVisible());
        QCOMPARE(config.settingsFile(), "[PORTS]\nCOM2=" + config.peer().devicePath().toLocal8Bit() + "\n"
                                            + savedSettings(1, 3, 0, 0, 1));
    }

    void stoppedExchangesDoNothingAtAll()
    {
        ConfigWindow config;
        auto *name = config.find<QLineEdit>("edtInformationDevName");
        name->setText(QStringLiteral("old"));
        config.find<QLabel>("lblErrors")->setText(QStringLiteral("earlier"));
        const QColor before = config.textColour("edtInformationDevName");
        for (const bool startedAndStopped : {false, true}) {
            if (startedAndStopped) {
                QVERIFY(config.start());
                config.stop();
            }
            config.click("btnInformationDevNameRd");
            config.click("btnInformationDevNameWr");
            Session &session = config.window().session();
            QVERIFY(!Blocking::readValue(session, Catalogue::of(prmInformationDevName)));
            QVERIFY(!Blocking::writeValue(session, Catalogue::of(prmInformationDevName), QStringLiteral("new")));
        }
        QVERIFY(config.requests().isEmpty());
        QCOMPARE(config.errorText(), QStringLiteral("earlier"));
        QCOMPARE(config.textColour("edtInformationDevName"), before);
        QCOMPARE(name->text(), QStringLiteral("old"));
    }

    void outcomeShowsInTheErrorAreaAndTheValueColour_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("message");

        const QByteArray name = readReply(1, {0x4241, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        QTest::newRow("value") << name << "";
        QTest::newRow("silence") << QByteArray() << "Ошибка! Нет овета!";
        QTest::newRow("header only") << hex("010314") << "Ошибка! Сообщение принято не полностью!";
        QTest::newRow("bad crc") << name.chopped(1) + '\0' << "Ошибка! Неверная контрольная сумма!";
        QTest::newRow("exception") << withCrc(hex("018302")) << "Ошибка! Прибор отклонил запрос!";
    }

    void outcomeShowsInTheErrorAreaAndTheValueColour()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, message);

        ConfigWindow config;
        auto *name = config.find<QLineEdit>("edtInformationDevName");
        QVERIFY(config.start());
        config.find<QLabel>("lblErrors")->setText(QStringLiteral("earlier"));
        name->setText(QStringLiteral("old"));
        if (!reply.isEmpty())
            config.peer().queueReply(reply);
        config.click("btnInformationDevNameRd");

        QCOMPARE(config.errorText(), message);
        QCOMPARE(name->text(), message.isEmpty() ? QStringLiteral("AB") : QStringLiteral("old"));
        QCOMPARE(config.textColour("edtInformationDevName"),
                 message.isEmpty() ? ConfigWindow::windowTextColour() : ConfigWindow::failureColour());
        QCOMPARE(config.requests(), QList<QByteArray>{readRequest(1, 0x0B00, 10)});

        config.stop(); // the message stays
        QCOMPARE(config.errorText(), message);
    }

    // A reply shorter than the one asked for is refused, and must not leave the earlier
    // reply's registers behind.
    void eachExchangeStartsFromAnEmptyBuffer()
    {
        ConfigWindow config;
        Session &session = config.window().session();
        QVERIFY(config.start());
        const Catalogue::Parameter &name = Catalogue::of(prmInformationDevName);
        config.peer().queueReply(readReply(1, QList<quint16>(10, 0x4241)));
        QCOMPARE(Blocking::readValue(session, name)->value, QVariant(QStringLiteral("ABABABABABABABABABAB")));
        QVERIFY(config.peer().settle(3000));
        config.peer().queueReply(readReply(1, {0x5958}));
        const std::optional<Session::Reading> shorter = Blocking::readValue(session, name);
        QCOMPARE(shorter->code, qint16(lrWrongReply));
        QVERIFY(!shorter->value.isValid());
        QCOMPARE(config.errorText(), ResultText(lrWrongReply));
        QVERIFY(config.peer().settle(3000));
        config.peer().queueReply(readReply(1, {0x0043, 0, 0}));
        QCOMPARE(Blocking::readValue(session, Catalogue::of(prmModeUnit))->value, QVariant(QStringLiteral("C")));
    }

    void deviceNumberCountsFromTheNextExchange()
    {
        ConfigWindow config;
        QVERIFY(config.start());
        auto *edit = config.find<QLineEdit>("edtDevNumber");
        for (const char *number : {"1", "5", "0"}) {
            edit->selectAll();
            edit->insert(QString::fromLatin1(number));
            Blocking::readValue(config.window().session(), Catalogue::of(prmPortNetAddr));
        }
        QCOMPARE(config.requests(), (QList<QByteArray>{readRequest(1, 0x0800, 1), readRequest(5, 0x0800, 1),
                                                       readRequest(0, 0x0800, 1)}));
    }

    void resultCodesHaveTheirMessages_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("not connected") << -1 << "Ошибка! Соединение не установлено!";
        QTest::newRow("write failed") << -2 << "Ошибка записи в ПОРТ";
        QTest::newRow("bad crc") << -3 << "Ошибка! Неверная контрольная сумма!";
        QTest::newRow("device error") << -4 << "Ошибка! Прибор отклонил запрос!";
        QTest::newRow("incomplete") << -5 << "Ошибка! Сообщение принято не полностью!";
        QTest::newRow("no answer") << -6 << "Ошибка! Нет овета!";
        QTest::newRow("wrong reply") << -7 << "Ошибка! Ответ не на запрос";
        QTest::newRow("gateway: no path") << -8 << "шлюз: нет пути к прибору";
        QTest::newRow("gateway: no answer") << -9 << "шлюз: прибор не ответил";
        QTest::newRow("bad parameters") << -100 << "Ошибка! Неправильные параметры!";
        QTest::newRow("ok") << 0 << "";
        QTest::newRow("-10") << -10 << "";
        QTest::newRow("5") << 5 << "";
    }

    void resultCodesHaveTheirMessages()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        QCOMPARE(ResultText(qint16(code)), text);
    }

    void comPortsResolveToDevices_data()
    {
        QTest::addColumn<int>("portNumber");
        QTest::addColumn<QString>("mapped");
        QTest::addColumn<QStringList>("system");
        QTest::addColumn<QString>("device");

        const QStringList system{"/dev/ttyACM0", "/dev/ttyUSB0"};
        QTest::newRow("mapped wins") << 0 << "/dev/ttyUSB3" << system << "/dev/ttyUSB3";
        QTest::newRow("second system port") << 1 << "" << system << "/dev/ttyUSB0";
        QTest::newRow("beyond the system's ports") << 2 << "" << system << "/dev/ttyS2";
        QTest::newRow("no port selected") << 255 << "" << system << "/dev/ttyS255";
    }

    void comPortsResolveToDevices()
    {
        QFETCH(int, portNumber);
        QFETCH(QString, mapped);
        QFETCH(QStringList, system);
        QFETCH(QString, device);
        QCOMPARE(PortDevices::resolve(quint8(portNumber), mapped, system), device);
    }

    void systemPortsKeepAStableOrder()
    {
        const QStringList found{"/dev/ttyUSB10", "/dev/ttyS2", "/dev/ttyUSB2", "/dev/ttyS10", "/dev/ttyACM0"};
        const QStringList ordered{"/dev/ttyACM0", "/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB2", "/dev/ttyUSB10"};
        QCOMPARE(PortDevices::stableOrder(found), ordered);
        QCOMPARE(PortDevices::stableOrder(ordered), ordered);
    }

    void aboutDialogShowsTheProductAndCloses_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Enter") << "Enter";
        QTest::newRow("Esc") << "Esc";
        QTest::newRow("OK") << "OK";
    }

    void aboutDialogShowsTheProductAndCloses()
    {
        QFETCH(QString, how);
        ConfigWindow config;
        int shown = 0;
        ModalBox::setInterceptor([&](QDialog &dialog) {
            ++shown;
            dialog.show();
            [&] {
                QVERIFY(qobject_cast<TfrmAbout *>(&dialog));
                QCOMPARE(dialog.windowTitle(), QStringLiteral("О программе"));
                QCOMPARE(dialog.size(), QSize(298, 173));
                QCOMPARE(dialog.findChild<QLabel *>("ProductName")->text(), QCoreApplication::applicationName());
                QCOMPARE(dialog.findChild<QLabel *>("Version")->text(), QStringLiteral("Версия 1.0 от 28.05.2008 г."));
                QVERIFY(!dialog.findChild<QLabel *>("Image1")->pixmap().isNull());
            }();
            if (how == "OK")
                QTest::mouseClick(dialog.findChild<QPushButton *>("OKButton"), Qt::LeftButton);
            else
                QTest::keyClick(&dialog, how == "Enter" ? Qt::Key_Return : Qt::Key_Escape);
            [&] { QCOMPARE(dialog.result(), int(QDialog::Accepted)); }();
            return dialog.result();
        });
        for (int click = 1; click <= 2; ++click) {
            config.trigger("mnuAbout");
            QCOMPARE(shown, click);
            QVERIFY(config.window().findChildren<TfrmAbout *>().isEmpty());
        }
    }

    void errorBoxEndsItsMessageWithAFullStop_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("without") << "'1,2.3' is not a valid floating point value" << "'1,2.3' is not a valid floating point value.";
        QTest::newRow("with") << "Done." << "Done.";
        QTest::newRow("empty") << "" << ".";
    }

    void errorBoxEndsItsMessageWithAFullStop()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        ConfigWindow config;
        ModalBox::error(&config.window(), message);
        QCOMPARE(config.boxes().size(), 1);
        QCOMPARE(config.boxes().first().icon, QMessageBox::Critical);
        QCOMPARE(config.boxes().first().title, QCoreApplication::applicationName());
        QCOMPARE(config.boxes().first().text, shown);
    }

    // What the toolkit draws itself speaks the window's language, whatever the desktop's.
    void toolkitTextsAreRussian()
    {
        QTranslator *translation = ToolkitTexts::installRussian();
        QVERIFY2(translation, "Qt's Russian translation (qtbase_ru.qm) is not installed");
        const auto uninstall = qScopeGuard([translation] { delete translation; });
        QStringList buttons;
        ModalBox::setInterceptor([&](QDialog &box) {
            for (QAbstractButton *button : qobject_cast<QMessageBox *>(&box)->buttons())
                buttons << button->text().remove(u'&');
            return int(QMessageBox::No);
        });
        const auto release = qScopeGuard([] { ModalBox::setInterceptor({}); });
        ModalBox::error(nullptr, QStringLiteral("Ошибка"));
        QVERIFY(buttons == QStringList{"OK"} || buttons == QStringList{"ОК"});
        buttons.clear();
        ModalBox::question(nullptr, QStringLiteral("Записать?"));
        buttons.sort();
        QCOMPARE(buttons, (QStringList{"Да", "Нет"}));

        QFileDialog files(nullptr, QStringLiteral("Профиль прибора"));
        files.setOption(QFileDialog::DontUseNativeDialog);
        files.setAcceptMode(QFileDialog::AcceptOpen);
        const QString open = files.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Open)->text().remove(u'&');
        QVERIFY2(open != QLatin1String("Open") && !open.isEmpty(), qPrintable(open));
        QCOMPARE(QCoreApplication::translate("QAbstractFileIconProvider", "Folder"), QStringLiteral("Папка"));

        QLineEdit edit;
        const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        QCOMPARE(menu->actions().first()->text().remove(u'&').section(u'\t', 0, 0), QStringLiteral("Отменить действие"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
