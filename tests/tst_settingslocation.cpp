// Where the configurator keeps its settings file: beside the executable wherever it can write
// there, in the user's configuration folder where it cannot (an installed program in /usr/bin).
#include "support/configwindow.h"
#include "settingsfile.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

class TestSettingsLocation : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_programFolder;
    std::unique_ptr<QTemporaryDir> m_configHome;

    QString executable() const { return m_programFolder->filePath(QStringLiteral("indicator-config")); }
    QString besideFile() const { return m_programFolder->filePath(QStringLiteral("indicator-config.ini")); }
    QString configFile() const
    {
        return m_configHome->filePath(QStringLiteral("indicator-config/indicator-config.ini"));
    }

    static void makeReadOnly(const QString &path)
    {
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup
                                                | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    }

private slots:
    // Root writes into any folder whatever its permissions, so as root the suite runs as the
    // ordinary user nobody, as the program runs on a desktop.
    void initTestCase()
    {
        if (::geteuid() != 0)
            return;
        const passwd *user = ::getpwnam("nobody");
        QVERIFY2(user, "no user nobody to run as");
        QCOMPARE(::setgroups(0, nullptr), 0);
        QCOMPARE(::setgid(user->pw_gid), 0);
        QCOMPARE(::setuid(user->pw_uid), 0);
    }

    void init()
    {
        m_programFolder = std::make_unique<QTemporaryDir>();
        m_configHome = std::make_unique<QTemporaryDir>();
        QVERIFY(m_programFolder->isValid() && m_configHome->isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome->path()));
    }

    void cleanup()
    {
        QFile::setPermissions(m_programFolder->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void settingsFileFollowsWhereTheProgramMayWrite_data()
    {
        QTest::addColumn<bool>("folderWritable");
        QTest::addColumn<QString>("existingFile"); // none, writable or read-only
        QTest::addColumn<bool>("beside");

        QTest::newRow("writable folder, no file yet") << true << "none" << true;
        QTest::newRow("writable folder, read-only file") << true << "read-only" << true;
        QTest::newRow("read-only folder, writable file") << false << "writable" << true;
        QTest::newRow("read-only folder, no file") << false << "none" << false;
        QTest::newRow("read-only folder, read-only file") << false << "read-only" << false;
    }

    void settingsFileFollowsWhereTheProgramMayWrite()
    {
        QFETCH(bool, folderWritable);
        QFETCH(QString, existingFile);
        QFETCH(bool, beside);

        if (existingFile != QLatin1String("none")) {
            QFile file(besideFile());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.close();
            if (existingFile == QLatin1String("read-only"))
                makeReadOnly(besideFile());
        }
        if (!folderWritable)
            makeReadOnly(m_programFolder->path());

        // The command line looks the window's file up without making its folder.
        QCOMPARE(SettingsFile::path(executable(), false), beside ? besideFile() : configFile());
        QVERIFY(!QFileInfo::exists(QFileInfo(configFile()).path()));
        QCOMPARE(SettingsFile::path(executable()), beside ? besideFile() : configFile());
    }

    void firstCloseOfAnInstalledProgramWritesTheConfigFolder()
    {
        makeReadOnly(m_programFolder->path());
        const QString path = SettingsFile::path(executable());
        QCOMPARE(path, configFile());
        QVERIFY2(!QFile::exists(path), "the file appears only at close");

        ConfigWindow config(QByteArray(), path);
        config.window().close();
        QCOMPARE(config.boxes().size(), 0);
        QCOMPARE(config.settingsFile(), QByteArray("[COMP]\nPortNumber=1\nSpeedNumber=3\nParity=0\nStopBits=0\n"
                                                   "TimeOut=0\n[DEVS]\nDeviceNumber=1\n"));
    }
};

QTEST_MAIN(TestSettingsLocation)
#include "tst_settingslocation.moc"
