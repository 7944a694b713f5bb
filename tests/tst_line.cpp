// The one owner of the line: requests in the order given, each reply to its own receiver, and
// cancelling, closing and a lost port that take effect at once, on a scripted device with its own
// clock and on a pseudo-terminal where the time a close takes is the point.
#include "line.h"
#include "support/frames.h"
#include "support/ptypeer.h"
#include "support/scriptedpipe.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Frames;

namespace {

constexpr int kWaitMs = 5000;

// What came back for the requests of one receiver, in the order it came.
struct Heard : QObject
{
    QList<LineReply> replies;
    Line::Replied record()
    {
        return [this](const LineReply &reply) { replies.append(reply); };
    }
};

bool openOn(Line &line, const QString &device)
{
    LineSetup setup;
    setup.speedNumber = 4; // 19200 baud
    setup.portName = device;
    std::optional<bool> opened;
    Heard opener;
    line.open(setup, &opener, [&](const LineOpened &outcome) { opened = outcome.opened; });
    return QTest::qWaitFor([&] { return opened.has_value(); }, kWaitMs) && *opened;
}

} // namespace

class TestLine : public QObject
{
    Q_OBJECT

private slots:
    void requestsGoInOrderAndEachReplyReachesItsAsker()
    {
        ScriptedPipe device;
        Line line;
        QVERIFY(openOn(line, device.devicePath()));
        device.queueReply(readReply(1, {7}));
        device.queueReply(writeEcho(2, 0x0A0D, 1));
        device.queueReply(readReply(3, {0x4142, 0x4344}));
        Heard first;
        Heard second;
        line.request(LineRequest::read(1, 0x0800, 1), &first, first.record());
        line.request(LineRequest::write(2, 0x0A0D, {2}), &second, second.record());
        line.request(LineRequest::read(3, 0x0B00, 2), &first, first.record());
        QVERIFY(!line.isIdle()); // nothing has waited for the line
        QTRY_VERIFY_WITH_TIMEOUT(line.isIdle(), kWaitMs);
        QCOMPARE(device.requests(), (QList<QByteArray>{readRequest(1, 0x0800, 1), writeRequest(2, 0x0A0D, {2}),
                                                       readRequest(3, 0x0B00, 2)}));
        QCOMPARE(first.replies.size(), 2);
        QCOMPARE(first.replies[0].registers, (QList<quint16>{7}));
        QCOMPARE(first.replies[1].registers, (QList<quint16>{0x4142, 0x4344}));
        QCOMPARE(second.replies.size(), 1);
        QCOMPARE(second.replies[0].code, qint16(lrOk));
    }

    // A silent device: the read's own time-out, on the device's clock, and nothing for the
    // next request to take for its reply.
    void aSilentDeviceGivesNoAnswerAndTheNextRequestGoesOn()
    {
        ScriptedPipe device;
        Line line;
        QVERIFY(openOn(line, device.devicePath()));
        device.queueReply(QByteArray()); // the first request meets silence
        device.queueReply(readReply(1, {5}));
        Heard asker;
        line.request(LineRequest::read(1, 0x0800, 1), &asker, asker.record());
        line.request(LineRequest::read(1, 0x0800, 1), &asker, asker.record());
        QTRY_COMPARE_WITH_TIMEOUT(asker.replies.size(), 2, kWaitMs);
        QCOMPARE(asker.replies[0].code, qint16(lrNoAnswer));
        QVERIFY(asker.replies[0].registers.isEmpty());
        QCOMPARE(asker.replies[1].registers, (QList<quint16>{5}));
    }

    // Cancelled requests never go out; the one under way ends on the line, so that its late
    // reply cannot be taken for the next one's, and its receiver never hears of it.
    void cancelForgetsTheReceiversRequestsAndLeavesOthersAlone()
    {
        constexpr int kReplyAfterMs = 50; // within the read's 100 ms
        PtyPeer device;
        Line line;
        QVERIFY(openOn(line, device.devicePath()));
        device.queueReply(readReply(1, {1}), kReplyAfterMs);
        device.queueReply(readReply(2, {2}));
        Heard leaving;
        Heard staying;
        line.request(LineRequest::read(1, 0x0800, 1), &leaving, leaving.record());
        line.request(LineRequest::read(1, 0x0801, 1), &leaving, leaving.record());
        line.request(LineRequest::read(2, 0x0800, 1), &staying, staying.record());
        QVERIFY(line.hasPending(&leaving));
        QTRY_VERIFY_WITH_TIMEOUT(device.requests().size() == 1, kWaitMs); // the first under way
        line.cancel(&leaving);
        QVERIFY(!line.hasPending(&leaving));
        QTRY_VERIFY_WITH_TIMEOUT(line.isIdle(), kWaitMs);
        QCOMPARE(device.requests(), (QList<QByteArray>{readRequest(1, 0x0800, 1), readRequest(2, 0x0800, 1)}));
        QVERIFY(leaving.replies.isEmpty());
        QCOMPARE(staying.replies.size(), 1);
        QCOMPARE(staying.replies[0].registers, (QList<quint16>{2}));
    }

    void aReceiverThatIsGoneHearsNothing()
    {
        ScriptedPipe device;
        Line line;
        QVERIFY(openOn(line, device.devicePath()));
        device.queueReply(readReply(1, {1}));
        bool heard = false;
        auto gone = std::make_unique<QObject>();
        line.request(LineRequest::read(1, 0x0800, 1), gone.get(), [&](const LineReply &) { heard = true; });
        gone.reset();
        QTRY_VERIFY_WITH_TIMEOUT(line.isIdle(), kWaitMs);
        QCOMPARE(device.requests().size(), 1);
        QVERIFY(!heard);
    }

    // The port goes with the first request: that one is answered with the failure, the ones
    // queued behind it never go out, and the loss is told once.
    void aLostPortEmptiesTheQueueWithOneMessage()
    {
        ScriptedPipe device;
        Line line;
        QVERIFY(openOn(line, device.devicePath()));
        QSignalSpy lost(&line, &Line::portLost);
        device.hangUpAfter(1);
        Heard asker;
        for (quint8 slave = 1; slave <= 3; ++slave)
            line.request(LineRequest::read(slave, 0x0800, 1), &asker, asker.record());
        QVERIFY(lost.wait(kWaitMs));
        QTRY_VERIFY_WITH_TIMEOUT(line.isIdle(), kWaitMs);
        QCOMPARE(asker.replies.size(), 1);
        QVERIFY(asker.replies[0].code < lrOk);
        QVERIFY(asker.replies[0].portLost);
        QVERIFY(!line.isOpen());
        QCOMPARE(device.requests().size(), 1);
        QTest::qWait(50);
        QCOMPARE(lost.size(), 1);
        QVERIFY(!device.isHeld());
    }

    void aRequestWhileClosedIsNotConnectedAndTouchesNothing()
    {
        Line line;
        Heard asker;
        line.request(LineRequest::read(1, 0x0800, 1), &asker, asker.record());
        QTRY_COMPARE_WITH_TIMEOUT(asker.replies.size(), 1, kWaitMs);
        QCOMPARE(asker.replies[0].code, qint16(lrNotConnected));
    }

    // A silent device that a read would wait 3 s for: the close gives the wait up at once, and
    // the port is free long before the read's own time-out.
    void closeDoesNotWaitForTheExchangeUnderWay()
    {
        constexpr int kLongReadMs = 3000;
        PtyPeer device;
        Line line;
        QVERIFY(openOn(line, device.devicePath()));
        Heard asker;
        line.request(LineRequest::read(1, 0x0800, 1, kLongReadMs), &asker, asker.record());
        QTRY_VERIFY_WITH_TIMEOUT(device.requests().size() == 1, kWaitMs);
        QElapsedTimer closing;
        closing.start();
        line.close();
        QVERIFY(!line.isOpen());
        QTRY_VERIFY_WITH_TIMEOUT(line.isIdle(), kWaitMs);
        QVERIFY2(closing.elapsed() < kLongReadMs / 2, qPrintable(QString::number(closing.elapsed())));
        QVERIFY(asker.replies.isEmpty());
        // The port is free: it opens again at once.
        QVERIFY(openOn(line, device.devicePath()));
    }

    // The line's destruction ends the exchange under way the same way, and joins its thread.
    void destroyingTheLineDuringAnExchangeEndsAtOnce()
    {
        constexpr int kLongReadMs = 3000;
        PtyPeer device;
        auto line = std::make_unique<Line>();
        QVERIFY(openOn(*line, device.devicePath()));
        Heard asker;
        line->request(LineRequest::read(1, 0x0800, 1, kLongReadMs), &asker, asker.record());
        QTRY_VERIFY_WITH_TIMEOUT(device.requests().size() == 1, kWaitMs);
        QElapsedTimer destroying;
        destroying.start();
        line.reset();
        QVERIFY2(destroying.elapsed() < kLongReadMs / 2, qPrintable(QString::number(destroying.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestLine)
#include "tst_line.moc"
