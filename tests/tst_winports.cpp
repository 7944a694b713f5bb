// What differs on Windows: COM ports by their own names (COM10 up only in the device
// namespace), a settings file that maps a port only to a server, a port that is not there,
// and a device name where a file should be.
#include "fileguard.h"
#include "portdevices.h"
#include "winserialtransport.h"

#include <QTemporaryDir>
#include <QTest>

class TestWinPorts : public QObject
{
    Q_OBJECT

private slots:
    void portsFromCom10UpOpenInTheDeviceNamespace_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("device");
        QTest::newRow("COM1") << "COM1" << "COM1";
        QTest::newRow("COM9") << "COM9" << "COM9";
        QTest::newRow("COM10") << "COM10" << "\\\\.\\COM10";
        QTest::newRow("com256") << "com256" << "\\\\.\\com256";
        QTest::newRow("not a COM name") << "COM1x0" << "COM1x0";
    }

    void portsFromCom10UpOpenInTheDeviceNamespace()
    {
        QFETCH(QString, port);
        QFETCH(QString, device);
        QCOMPARE(WinSerialTransport::deviceName(port), device);
    }

    // A settings file copied from Linux maps COM ports to device files, which Windows lacks.
    void aPortIsItsOwnNameUnlessMappedToAServer_data()
    {
        QTest::addColumn<int>("portNumber");
        QTest::addColumn<QString>("mapped");
        QTest::addColumn<QString>("device");
        QTest::newRow("unmapped") << 2 << "" << "COM3";
        QTest::newRow("COM12") << 11 << "" << "COM12";
        QTest::newRow("device file ignored") << 2 << "/dev/ttyUSB0" << "COM3";
        QTest::newRow("server") << 2 << "tcp://127.0.0.1:4001" << "tcp://127.0.0.1:4001";
    }

    void aPortIsItsOwnNameUnlessMappedToAServer()
    {
        QFETCH(int, portNumber);
        QFETCH(QString, mapped);
        QFETCH(QString, device);
        // The system's list does not shift the names: COM3 is COM3 whatever else is plugged in.
        const QStringList system{QStringLiteral("COM7"), QStringLiteral("COM1")};
        QCOMPARE(PortDevices::resolve(quint8(portNumber), mapped, system), device);
        QCOMPARE(PortDevices::stableName(device), device);
    }

    void aMissingPortFailsToOpenAsNoDevice()
    {
        WinSerialTransport port(QStringLiteral("COM199"), {});
        QString systemText;
        QCOMPARE(port.open(&systemText), OpenFailure::NoDevice);
        QVERIFY(!systemText.isEmpty());
        QVERIFY(!port.isOpen());
        QVERIFY(!port.lost());
        QVERIFY(!PortDevices::present(QStringLiteral("COM199")));
    }

    // A device opens at once but a read of it may never end (CON waits for the keyboard).
    void devicesAndFoldersAreRefusedAsSettingsFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<FileGuard::Verdict>("verdict");
        QTest::newRow("NUL") << "NUL" << FileGuard::Verdict::Refused;
        QTest::newRow("folder") << "%DIR%" << FileGuard::Verdict::Unreadable;
        QTest::newRow("missing") << "%DIR%/missing.ini" << FileGuard::Verdict::Missing;
    }

    void devicesAndFoldersAreRefusedAsSettingsFiles()
    {
        QFETCH(QString, path);
        QFETCH(FileGuard::Verdict, verdict);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const FileGuard::Content content = FileGuard::read(path.replace(QStringLiteral("%DIR%"), folder.path()));
        QCOMPARE(content.verdict, verdict);
        QVERIFY(!content.reason.isEmpty());
    }

    void aFileIsReadWhole()
    {
        QTemporaryDir folder;
        QFile file(folder.filePath(QStringLiteral("indicator-config.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[COMP]\r\nPortNumber=2\r\n");
        file.close();
        const FileGuard::Content content = FileGuard::read(file.fileName());
        QCOMPARE(content.verdict, FileGuard::Verdict::Readable);
        QCOMPARE(content.bytes, QByteArray("[COMP]\r\nPortNumber=2\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestWinPorts)
#include "tst_winports.moc"
