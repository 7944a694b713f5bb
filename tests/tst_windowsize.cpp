// The window that fits its pages: on a first start as large as its largest page asks for, the
// Readings page's trend with a plot that can be read, within the screen's free area at any
// scale factor; scrolling rather than clipping a control where the screen is too small; and the
// size and the splitter the user left, back at the next start.
#include "datapage.h"
#include "mainform.h"
#include "support/configwindow.h"
#include "trendpanel.h"

#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QScopeGuard>
#include <QSplitter>
#include <QTest>
#include <qpa/qplatformnativeinterface.h>
#include <qpa/qwindowsysteminterface.h>

namespace {

const QSize kOffscreenDefault(800, 800);

// The offscreen platform's screen made this size, in the window's own pixels: a scale factor of
// 2 on a 1366 × 768 screen leaves 683 × 384 of them. False where the platform cannot.
bool setScreen(QSize size)
{
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    using SetConfiguration = void (*)(const QJsonObject &, QPlatformNativeInterface *);
    const auto set = native ? reinterpret_cast<SetConfiguration>(native->nativeResourceForIntegration("setConfiguration"))
                            : nullptr;
    if (!set)
        return false;
    const QJsonObject screen{{"name", ""}, {"x", 0}, {"y", 0}, {"width", size.width()}, {"height", size.height()}};
    set(QJsonObject{{"screens", QJsonArray{screen}}}, native);
    QWindowSystemInterface::flushWindowSystemEvents();
    return QGuiApplication::primaryScreen()->availableGeometry().size() == size;
}

bool covers(QSize outer, QSize inner)
{
    return outer.width() >= inner.width() && outer.height() >= inner.height();
}

QString shown(QSize size)
{
    return QStringLiteral("%1 × %2").arg(size.width()).arg(size.height());
}

TrendPanel *readingsTrend(ConfigWindow &config)
{
    return config.window().findChild<DataPage *>()->trend();
}

} // namespace

class TestWindowSize : public QObject
{
    Q_OBJECT

private slots:
    void theFirstStartFitsThePagesWithinTheScreen_data()
    {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<bool>("roomy"); // room for every page at the size it asks for
        QTest::newRow("1366 × 768") << QSize(1366, 768) << true;
        QTest::newRow("1920 × 1080") << QSize(1920, 1080) << true;
        QTest::newRow("1920 × 1080 at a scale of 2") << QSize(960, 540) << false;
        QTest::newRow("1366 × 768 at a scale of 2") << QSize(683, 384) << false;
    }

    void theFirstStartFitsThePagesWithinTheScreen()
    {
        QFETCH(QSize, screen);
        QFETCH(bool, roomy);
        if (!setScreen(screen))
            QSKIP("the platform's screen cannot be sized");
        const auto restore = qScopeGuard([] { setScreen(kOffscreenDefault); });
        ConfigWindow config;
        TfrmMain &window = config.window();
        QVERIFY2(covers(screen, window.frameGeometry().size()), qPrintable(shown(window.frameGeometry().size())));

        // Every control of every page within reach: in the page area, which scrolls with the
        // rest of the window where the window is smaller.
        QWidget *client = config.find("ClientArea");
        QWidget *pageArea = config.find("pnlPages");
        QVERIFY(covers(client->size(), client->minimumSizeHint()));
        for (const DevicePage *page : window.findChildren<DevicePage *>()) {
            QVERIFY2(covers(pageArea->size(), page->minimumSizeHint()), qPrintable(page->objectName()));
            if (roomy)
                QVERIFY2(covers(pageArea->size(), page->sizeHint()), qPrintable(page->objectName()));
        }
        QVERIFY(config.start());
        config.click("sbData");
        TrendPanel *trend = readingsTrend(config);
        QTRY_VERIFY(trend->isVisible());
        QTRY_VERIFY(trend->height() >= trend->minimumHeight());
        if (roomy) {
            QTRY_VERIFY2(trend->height() >= trend->sizeHint().height(), qPrintable(QString::number(trend->height())));
            if (QWidget *plot = trend->findChild<QWidget *>(QStringLiteral("plotTrend")))
                QVERIFY2(plot->height() >= TrendPanel::kWantedPlotHeight, qPrintable(QString::number(plot->height())));
        }
    }

    // The user's size and splitter are in the file at close, the connection's keys as they were,
    // and the window takes them at the next start.
    void theSizeAndTheSplitterSurviveARestart()
    {
        QByteArray kept;
        int split = 0;
        {
            ConfigWindow config;
            QVERIFY(config.start());
            config.click("sbData");
            config.window().resize(780, 640);
            auto *splitter = config.window().findChild<DataPage *>()->findChild<QSplitter *>(QStringLiteral("splitterLive"));
            QTRY_VERIFY(splitter->isVisible());
            QWidget *handle = splitter->handle(1);
            const QPoint from = handle->rect().center();
            QTest::mousePress(handle, Qt::LeftButton, {}, from);
            QTest::mouseMove(handle, from + QPoint(0, 30));
            QTest::mouseRelease(handle, Qt::LeftButton, {}, from + QPoint(0, 30));
            split = splitter->sizes().constFirst();
            config.window().close();
            kept = config.settingsFile();
            QVERIFY2(kept.startsWith("[PORTS]\nCOM2=" + config.peer().devicePath().toLocal8Bit()
                                     + "\n[COMP]\nPortNumber=1\nSpeedNumber=3\nParity=0\nStopBits=0\nTimeOut=0\n"
                                       "[DEVS]\nDeviceNumber=1\n"),
                     kept.constData());
            QVERIFY2(kept.endsWith(QStringLiteral("[WINDOW]\nWidth=780\nHeight=640\nDataSplit=%1\n").arg(split).toLatin1()),
                     kept.constData());
            kept.replace(config.peer().devicePath().toLocal8Bit(), "%PTY%");
        }
        ConfigWindow again(kept);
        QCOMPARE(again.window().size(), QSize(780, 640));
        QVERIFY(again.start());
        again.click("sbData");
        auto *splitter = again.window().findChild<DataPage *>()->findChild<QSplitter *>(QStringLiteral("splitterLive"));
        QTRY_COMPARE(splitter->sizes().constFirst(), split);
        again.window().close();
        QCOMPARE(again.settingsFile(), QByteArray(kept).replace("%PTY%", again.peer().devicePath().toLocal8Bit()));
    }

    // A smaller screen bounds the window, and the size kept for a larger one stays in the file.
    void aSmallerScreenLeavesTheKeptSizeAsItWas()
    {
        const QSize screen(683, 384);
        if (!setScreen(screen))
            QSKIP("the platform's screen cannot be sized");
        const auto restore = qScopeGuard([] { setScreen(kOffscreenDefault); });
        ConfigWindow config(ConfigWindow::deviceOnCom2() + "[WINDOW]\nWidth=780\nHeight=640\n");
        QVERIFY2(covers(screen, config.window().frameGeometry().size()), qPrintable(shown(config.window().frameGeometry().size())));
        config.window().close();
        QVERIFY2(config.settingsFile().contains("[WINDOW]\nWidth=780\nHeight=640\n"), config.settingsFile().constData());
    }
};

QTEST_MAIN(TestWindowSize)
#include "tst_windowsize.moc"
