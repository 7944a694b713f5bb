// The profile windows of the menu «Сервис» against indicator-sim, driven as an engineer would:
// save a device, edit the file, compare, and write only what differs, each value read back.
#include "modalbox.h"
#include "profilewindows.h"
#include "support/configwindow.h"
#include "support/frames.h"
#include "support/platformclick.h"
#include "support/simprocess.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

namespace {

constexpr int kWindowWorkMs = 20000; // a reading is 16 exchanges, a write two per value
// A click that acts at once takes well under 100 ms; this leaves a loaded machine its margin,
// and is still far below what a click held back until the line is free would wait.
constexpr qint64 kActsAtOnceMs = 500;

} // namespace

class TestProfileWindows : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<ConfigWindow> config;
    QTemporaryDir dir;
    QString chosenFile;       // what every file dialog chooses
    bool answerYes = false;   // to every question
    QStringList boxes;        // the texts of the message boxes shown

    QString profilePath() const { return dir.filePath(QStringLiteral("unit.json")); }

    template <typename T = QWidget>
    T *inWindow(const char *window, const char *name)
    {
        auto *found = config->window().findChild<QWidget *>(QString::fromLatin1(window));
        if (!found)
            qFatal("no window %s", window);
        return found->findChild<T *>(QString::fromLatin1(name));
    }

    QString status(const char *window) { return inWindow<QLabel>(window, "lblProfileStatus")->text(); }

    // The row of a parameter in the comparison, by its caption.
    QStringList comparisonRow(const QString &caption)
    {
        auto *table = inWindow<QTableWidget>("frmProfileCompare", "tblProfile");
        for (int row = 0; row < table->rowCount(); ++row) {
            if (table->item(row, 0)->text() == caption) {
                QStringList cells;
                for (int column = 1; column < table->columnCount(); ++column)
                    cells << table->item(row, column)->text();
                return cells;
            }
        }
        return {};
    }

    void saveProfile()
    {
        config->trigger("mnuProfileSave");
        QTRY_VERIFY_WITH_TIMEOUT(status("frmProfileSave").startsWith(QStringLiteral("Сохранено")), kWindowWorkMs);
        inWindow<QPushButton>("frmProfileSave", "btnProfileClose")->click();
    }

    void editProfile(const std::function<void(QJsonObject &)> &edit)
    {
        QFile file(profilePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QJsonObject profile = QJsonDocument::fromJson(file.readAll()).object();
        file.close();
        edit(profile);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QJsonDocument(profile).toJson());
    }

    static void setValue(QJsonObject &profile, const char *key, const QJsonValue &value)
    {
        QJsonObject values = profile.value(QStringLiteral("values")).toObject();
        values.insert(QString::fromLatin1(key), value);
        profile.insert(QStringLiteral("values"), values);
    }

    void compare(const QString &expectedStatus)
    {
        config->trigger("mnuProfileCompare");
        QTRY_COMPARE_WITH_TIMEOUT(status("frmProfileCompare"), expectedStatus, kWindowWorkMs);
    }

    // Every file dialog chooses chosenFile; questions are answered by answerYes.
    void interceptBoxes()
    {
        ModalBox::setInterceptor([this](QDialog &dialog) {
            if (auto *files = qobject_cast<QFileDialog *>(&dialog)) {
                files->selectFile(chosenFile);
                return int(QDialog::Accepted);
            }
            if (auto *box = qobject_cast<QMessageBox *>(&dialog)) {
                boxes << box->text();
                return int(box->icon() == QMessageBox::Question && !answerYes ? QMessageBox::No : QMessageBox::Yes);
            }
            return int(QDialog::Accepted);
        });
    }

private slots:
    void init()
    {
        sim = std::make_unique<SimProcess>(QStringList{"--slave", "1-5"}); // five units for cloning
        QVERIFY2(sim->started(), "indicator-sim did not come up");
        config = std::make_unique<ConfigWindow>("[PORTS]\nCOM2=" + sim->devicePath().toLocal8Bit()
                                                + "\n[COMP]\nSpeedNumber=4\n");
        chosenFile = profilePath();
        answerYes = false;
        boxes.clear();
        interceptBoxes();
        QVERIFY(config->start());
        qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toLocal8Bit()); // the backups
    }

    void cleanup()
    {
        config.reset();
        sim.reset();
        ModalBox::setInterceptor({});
    }

    void profileMenusAreForAConnection()
    {
        for (const char *entry : {"mnuProfileSave", "mnuProfileCompare", "mnuProfileClone"})
            QVERIFY(config->find<QAction>(entry)->isEnabled());
        config->stop();
        for (const char *entry : {"mnuProfileSave", "mnuProfileCompare", "mnuProfileClone"})
            QVERIFY(!config->find<QAction>(entry)->isEnabled());
    }

    // The engineer's round: save, change one value in the file, compare, write that value alone.
    void oneEditedValueIsFoundAndWrittenAlone()
    {
        saveProfile();
        editProfile([](QJsonObject &profile) { setValue(profile, "mode.top_range", 250); });

        compare(QStringLiteral("Отличий: 1"));
        QCOMPARE(comparisonRow(QStringLiteral("Верхняя граница")),
                 (QStringList{"100", "250", "отличается"}));
        QCOMPARE(comparisonRow(QStringLiteral("Нижняя граница")).last(), QString());
        inWindow<QPushButton>("frmProfileCompare", "btnProfileWrite")->click();
        QTRY_VERIFY_WITH_TIMEOUT(status("frmProfileCompare").startsWith(QStringLiteral("Записано и подтверждено: 1 из 1.")),
                                 kWindowWorkMs);
        QCOMPARE(comparisonRow(QStringLiteral("Верхняя граница")),
                 (QStringList{"250", "250", "записано и подтверждено"}));
        inWindow<QPushButton>("frmProfileCompare", "btnProfileClose")->click();
        QTRY_VERIFY(!config->window().findChild<QWidget *>(QStringLiteral("frmProfileCompare")));

        // The Mode page, entered again, shows what the device now holds.
        config->click("sbMode");
        QTRY_COMPARE(config->find<QLineEdit>("edtModeTopRange")->text(), QStringLiteral("250.000"));
        compare(QStringLiteral("Отличий: 0"));
    }

    void aValueTheWindowWouldRefuseWritesNothing()
    {
        saveProfile();
        editProfile([](QJsonObject &profile) {
            setValue(profile, "mode.top_range", 250);
            setValue(profile, "mode.dead_space", 5);
        });
        compare(QStringLiteral("Отличий: 2"));
        inWindow<QPushButton>("frmProfileCompare", "btnProfileWrite")->click();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.first().contains(QStringLiteral("mode.dead_space")), qPrintable(boxes.first()));
        QCOMPARE(comparisonRow(QStringLiteral("Верхняя граница")).last(), QStringLiteral("отличается"));
        QCOMPARE(status("frmProfileCompare"), QStringLiteral("Отличий: 2"));
    }

    // A set point the Mode page would have cut to 120 % of the top: a device may hold one, so the
    // engineer is asked, with the rule named, and it goes only on a yes.
    void aFileOnlyTheDisplayRulesRefuseAsksFirst()
    {
        saveProfile();
        editProfile([](QJsonObject &profile) { setValue(profile, "mode.set_point", 3.4e38); });
        compare(QStringLiteral("Отличий: 1"));
        auto *write = inWindow<QPushButton>("frmProfileCompare", "btnProfileWrite");
        write->click();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.first().contains(QStringLiteral("mode.set_point: выше 120 % верхней границы")),
                 qPrintable(boxes.first()));
        QCOMPARE(status("frmProfileCompare"), QStringLiteral("Отличий: 1"));
        answerYes = true;
        write->click();
        QTRY_VERIFY_WITH_TIMEOUT(status("frmProfileCompare").startsWith(QStringLiteral("Записано и подтверждено: 1 из 1.")),
                                 kWindowWorkMs);
    }

    // A file of another device is written only once the engineer says so, having read both names.
    void aFileOfAnotherDeviceAsksFirst()
    {
        saveProfile();
        editProfile([](QJsonObject &profile) {
            setValue(profile, "mode.top_range", 250);
            QJsonObject device = profile.value(QStringLiteral("device")).toObject();
            device.insert(QStringLiteral("version"), QStringLiteral("v9.99"));
            profile.insert(QStringLiteral("device"), device);
        });
        compare(QStringLiteral("Отличий: 1"));
        QVERIFY(inWindow<QLabel>("frmProfileCompare", "lblProfileIdentity")->text().contains(QStringLiteral("v9.99")));
        auto *write = inWindow<QPushButton>("frmProfileCompare", "btnProfileWrite");
        write->click();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.first().contains(QStringLiteral("v9.99")) && boxes.first().contains(QStringLiteral("v1.07")),
                 qPrintable(boxes.first()));
        QCOMPARE(status("frmProfileCompare"), QStringLiteral("Отличий: 1"));
        answerYes = true;
        write->click();
        QTRY_VERIFY_WITH_TIMEOUT(status("frmProfileCompare").startsWith(QStringLiteral("Записано и подтверждено: 1 из 1.")),
                                 kWindowWorkMs);
    }

    // The simulator holds units at addresses 1 to 5: each takes the profile, the one at 7 that
    // is not there gets a row that says so, and the table is saved as CSV.
    void cloningGivesARowPerUnit()
    {
        saveProfile();
        editProfile([](QJsonObject &profile) { setValue(profile, "mode.unit", QStringLiteral("кг")); });
        config->trigger("mnuProfileClone");
        inWindow<QLineEdit>("frmProfileClone", "edtCloneAddresses")->setText(QStringLiteral("1-5, 7"));
        inWindow<QPushButton>("frmProfileClone", "btnCloneAll")->click();
        QTRY_VERIFY_WITH_TIMEOUT(status("frmProfileClone").startsWith(QStringLiteral("Готово")), 3 * kWindowWorkMs);
        auto *table = inWindow<QTableWidget>("frmProfileClone", "tblClone");
        QCOMPARE(table->rowCount(), 6);
        for (int row = 0; row < 5; ++row) {
            QCOMPARE(table->item(row, 0)->text(), QString::number(row + 1));
            QCOMPARE(table->item(row, 3)->text(), QStringLiteral("записано и подтверждено: 1"));
        }
        QCOMPARE(table->item(5, 0)->text(), QStringLiteral("7"));
        QVERIFY2(table->item(5, 3)->text().contains(QStringLiteral("Нет овета")), qPrintable(table->item(5, 3)->text()));
        QCOMPARE(config->window().DeviceNumber(), quint16(1));

        chosenFile = dir.filePath(QStringLiteral("units.csv"));
        inWindow<QPushButton>("frmProfileClone", "btnCloneSave")->click();
        QFile csv(chosenFile);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csv.readAll().split('\n');
        QCOMPARE(lines.size(), 8); // header, six units, the last line's end
        QVERIFY(lines.at(1).startsWith("1;"));
    }

    // A profile of another firmware: a no leaves the one unit as it is and the next is asked
    // again; a yes holds for the rest of the batch.
    void anotherFirmwareIsAskedForUntilAYes()
    {
        saveProfile();
        editProfile([](QJsonObject &profile) {
            QJsonObject device = profile.value(QStringLiteral("device")).toObject();
            device.insert(QStringLiteral("version"), QStringLiteral("v9.99"));
            profile.insert(QStringLiteral("device"), device);
        });
        config->trigger("mnuProfileClone");
        QStringList questions;
        ModalBox::setInterceptor([&](QDialog &dialog) {
            auto *box = qobject_cast<QMessageBox *>(&dialog);
            if (!box)
                return int(QDialog::Accepted);
            questions << box->text();
            return int(questions.size() == 1 ? QMessageBox::No : QMessageBox::Yes);
        });
        inWindow<QLineEdit>("frmProfileClone", "edtCloneAddresses")->setText(QStringLiteral("1-3"));
        inWindow<QPushButton>("frmProfileClone", "btnCloneAll")->click();
        QTRY_VERIFY_WITH_TIMEOUT(status("frmProfileClone").startsWith(QStringLiteral("Готово")), 3 * kWindowWorkMs);
        QCOMPARE(questions.size(), 2);
        QVERIFY2(questions[0].contains(QStringLiteral("по адресу 1 ")) && questions[0].contains(QStringLiteral("v9.99")),
                 qPrintable(questions[0]));
        QVERIFY2(questions[1].contains(QStringLiteral("по адресу 2 ")), qPrintable(questions[1]));
        auto *table = inWindow<QTableWidget>("frmProfileClone", "tblClone");
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(table->item(0, 3)->text(), QStringLiteral("другая версия программы: не записано"));
        for (int row = 1; row < 3; ++row)
            QVERIFY2(!table->item(row, 3)->text().contains(QStringLiteral("не записано")), qPrintable(table->item(row, 3)->text()));
    }

    // A unit that does not answer keeps the line busy for a minute, each address of the list
    // waiting out its time-out in turn. «Закрыть» acts at once all the same, and what the line
    // brings after it reaches neither the window nor the error area.
    void closingTheCloneWindowActsAtOnceWhileTheLineIsBusy()
    {
        saveProfile();
        config = std::make_unique<ConfigWindow>(); // a silent unit behind COM2
        interceptBoxes();
        QVERIFY(config->start());
        config->trigger("mnuProfileClone");
        inWindow<QLineEdit>("frmProfileClone", "edtCloneAddresses")->setText(QStringLiteral("1-247"));
        inWindow<QPushButton>("frmProfileClone", "btnCloneAll")->click();
        QTRY_VERIFY_WITH_TIMEOUT(config->peer().requests().size() >= 2, kWindowWorkMs); // the second unit's turn
        const QString error = config->errorText();
        const qsizetype asked = config->peer().requests().size();

        QElapsedTimer clock;
        clock.start();
        platformClick(inWindow<QPushButton>("frmProfileClone", "btnProfileClose"));
        QTRY_VERIFY(!config->window().findChild<QWidget *>(QStringLiteral("frmProfileClone")));
        QVERIFY2(clock.elapsed() < kActsAtOnceMs, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));

        const QByteArray last = config->peer().requests().constLast(); // a read; answered now, too late
        config->peer().writeNow(Frames::readReply(quint8(last.at(0)), QList<quint16>(last.at(5), 0)));
        QTRY_VERIFY(config->window().session().isIdle());
        QVERIFY(config->requests().size() <= asked + 1); // at most the one under way when the click came
        QCOMPARE(config->errorText(), error);
    }
};

QTEST_MAIN(TestProfileWindows)
#include "tst_profilewindows.moc"
