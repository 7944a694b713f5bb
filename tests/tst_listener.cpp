// Listening to a line that another master drives: frames found in the bytes however they arrive,
// requests paired with their replies and decoded, the captures, and a port that never sends.
#include "linecapture.h"
#include "linelistener.h"
#include "listenport.h"
#include "rtuframer.h"
#include "support/frames.h"

#include <QFile>
#include <QtEndian>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <deque>

using namespace Frames;

namespace {

constexpr quint32 kBaud = 19200;
constexpr qint64 kPieceGapUs = 1000;

QByteArray exception(quint8 slave, quint8 function, quint8 code)
{
    QByteArray frame;
    frame.append(char(slave)).append(char(function | 0x80)).append(char(code));
    return withCrc(frame);
}

QString kindName(Rtu::FrameKind kind)
{
    switch (kind) {
    case Rtu::FrameKind::ReadRequest:
        return QStringLiteral("read");
    case Rtu::FrameKind::WriteRequest:
        return QStringLiteral("write");
    case Rtu::FrameKind::ReadReply:
        return QStringLiteral("values");
    case Rtu::FrameKind::WriteReply:
        return QStringLiteral("echo");
    case Rtu::FrameKind::Exception:
        return QStringLiteral("exception");
    case Rtu::FrameKind::Unframed:
        break;
    }
    return QStringLiteral("unframed");
}

// The stream in pieces of `piece` bytes (0: whole), each piece a millisecond after the last.
QStringList framed(const QByteArray &stream, int piece)
{
    Rtu::Framer framer(LineListener::replyTimeoutUs(kBaud));
    const int size = piece > 0 ? piece : int(stream.size());
    qint64 timeUs = 0;
    for (qsizetype at = 0; at < stream.size(); at += size, timeUs += kPieceGapUs)
        framer.feed(QByteArrayView(stream).sliced(at, std::min<qsizetype>(size, stream.size() - at)), timeUs);
    framer.finish();
    QStringList found;
    for (const Rtu::HeardFrame &frame : framer.take())
        found << QStringLiteral("%1 %2").arg(kindName(frame.kind)).arg(frame.bytes.size());
    return found;
}

QString eventName(LineListener::EventKind kind)
{
    switch (kind) {
    case LineListener::EventKind::Exchange:
        return QStringLiteral("exchange");
    case LineListener::EventKind::NoReply:
        return QStringLiteral("no reply");
    case LineListener::EventKind::BrokenReply:
        return QStringLiteral("broken reply");
    case LineListener::EventKind::ReplyWithoutRequest:
        return QStringLiteral("reply without request");
    case LineListener::EventKind::Unframed:
        break;
    }
    return QStringLiteral("unframed");
}

// A pipe that plays the bytes it was given and counts every write.
class ScriptedTransport final : public Transport
{
public:
    explicit ScriptedTransport(QList<QByteArray> pieces, int *writes) : m_pieces(pieces.begin(), pieces.end()), m_writes(writes) {}
    OpenFailure open(QString *) override
    {
        m_open = true;
        return OpenFailure::None;
    }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    bool lost() const override { return false; }
    bool write(const QByteArray &, qint64) override
    {
        ++*m_writes;
        return true;
    }
    bool waitForBytes(int) override { return !m_pieces.empty(); }
    QByteArray read(qint64) override
    {
        if (m_pieces.empty())
            return {};
        const QByteArray piece = m_pieces.front();
        m_pieces.pop_front();
        return piece;
    }
    void discardInput(QByteArray *) override { m_pieces.clear(); }

private:
    std::deque<QByteArray> m_pieces;
    int *m_writes;
    bool m_open = false;
};

} // namespace

class TestListener : public QObject
{
    Q_OBJECT

private slots:
    void framesAreFoundHoweverTheBytesArrive_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("frames");
        const QByteArray request = readRequest(3, 0x0A06, 2);
        const QByteArray reply = readReply(3, {0x0000, 0x4316});
        const QByteArray write = writeRequest(1, 0x0A06, {0x0000, 0x4316});
        QTest::newRow("read and reply back to back")
            << request + reply + readRequest(4, 0x0005, 1) + readReply(4, {0x0001})
            << QStringList{"read 8", "values 9", "read 8", "values 7"};
        QTest::newRow("write and its echo") << write + writeEcho(1, 0x0A06, 2) << QStringList{"write 13", "echo 8"};
        QTest::newRow("an exception") << request + exception(3, 0x03, 0x02) << QStringList{"read 8", "exception 5"};
        QTest::newRow("garbage between frames")
            << request + hex("FF0013") + reply << QStringList{"read 8", "unframed 3", "values 9"};
        QTest::newRow("a reply whose request was lost")
            << withBadCrc(readRequest(3, 0x0A06, 2).chopped(2)) + reply + request + reply
            << QStringList{"unframed 8", "values 9", "read 8", "values 9"};
        QTest::newRow("a reply cut short, then the next request")
            << request + reply.first(5) + request << QStringList{"read 8", "unframed 5", "read 8"};
        QTest::newRow("a request that ends the stream half heard")
            << request.first(5) << QStringList{"unframed 5"};
    }

    void framesAreFoundHoweverTheBytesArrive()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QStringList, frames);
        for (int piece : {0, 1, 2, 5, 32})
            QVERIFY2(framed(stream, piece) == frames,
                     qPrintable(QStringLiteral("pieces of %1: %2").arg(piece).arg(framed(stream, piece).join(", "))));
    }

    void requestsArePairedWithTheirReplies_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("counts"); // address 3: requests, replies, time-outs, CRC errors
        const QByteArray request = readRequest(3, 0x0A06, 2);
        const QByteArray reply = readReply(3, {0x0000, 0x4316});
        QTest::newRow("request and reply") << request + reply << QStringList{"exchange"} << "1 1 0 0";
        QTest::newRow("a request the next one follows unanswered")
            << request + request + reply << QStringList{"no reply", "exchange"} << "2 1 1 0";
        QTest::newRow("an exception answers") << request + exception(3, 0x03, 0x02) << QStringList{"exchange"}
                                              << "1 1 0 0";
        QTest::newRow("a reply of another address")
            << request + readReply(4, {0x0001}) << QStringList{"reply without request"} << "1 0 0 0";
        QTest::newRow("a reply that fails its CRC")
            << request + withBadCrc(reply.chopped(2)) << QStringList{"unframed", "broken reply"} << "1 0 0 1";
    }

    void requestsArePairedWithTheirReplies()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QStringList, events);
        QFETCH(QString, counts);
        LineListener listener(kBaud);
        listener.feed(stream, 0);
        listener.finish();
        QStringList heard;
        for (const LineListener::Event &event : listener.takeEvents())
            heard << eventName(event.kind);
        QCOMPARE(heard, events);
        const LineListener::Counts c = listener.counts().at(3);
        QCOMPARE(QStringLiteral("%1 %2 %3 %4").arg(c.requests).arg(c.replies).arg(c.timeouts).arg(c.crcErrors), counts);
    }

    // Both sides of the reply's time-out, on the times the bytes came with.
    void aRequestUnansweredInTimeIsMarked()
    {
        const qint64 timeoutUs = LineListener::replyTimeoutUs(kBaud);
        LineListener listener(kBaud);
        listener.feed(readRequest(3, 0x0A06, 2), 0);
        listener.idle(timeoutUs);
        QVERIFY(listener.takeEvents().isEmpty());
        listener.idle(timeoutUs + 1);
        const QList<LineListener::Event> events = listener.takeEvents();
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0].text, QStringLiteral("адрес 3: чтение: верхняя граница (0x0A06, 2 рег.) → Ошибка! Нет овета!"));
        QCOMPARE(listener.counts().at(3).timeouts, 1);
    }

    void aWriteShowsTheValueReadBefore()
    {
        LineListener listener(kBaud);
        const auto exchange = [&](const QByteArray &request, const QByteArray &reply) {
            listener.feed(request + reply, 0);
            return listener.takeEvents().constLast().text;
        };
        // 150.0 is 0x43160000, 100.0 0x42C80000: the low-order half in the first register.
        QCOMPARE(exchange(writeRequest(3, 0x0A06, {0x0000, 0x42C8}), writeEcho(3, 0x0A06, 2)),
                 QStringLiteral("адрес 3: запись: верхняя граница (0x0A06, 2 рег.) → 100"));
        QCOMPARE(exchange(readRequest(3, 0x0A06, 2), readReply(3, {0x0000, 0x42C8})),
                 QStringLiteral("адрес 3: чтение: верхняя граница (0x0A06, 2 рег.) → 100"));
        QCOMPARE(exchange(writeRequest(3, 0x0A06, {0x0000, 0x4316}), writeEcho(3, 0x0A06, 2)),
                 QStringLiteral("адрес 3: запись: верхняя граница (0x0A06, 2 рег.) 100 → 150"));
        // Another unit's value is its own.
        QCOMPARE(exchange(writeRequest(4, 0x0A06, {0x0000, 0x4316}), writeEcho(4, 0x0A06, 2)),
                 QStringLiteral("адрес 4: запись: верхняя граница (0x0A06, 2 рег.) → 150"));
        QCOMPARE(exchange(readRequest(3, 0x0A00, 3), readReply(3, {0x0001, 0x00AB, 0x4316})),
                 QStringLiteral("адрес 3: чтение 0x0A00, 3 рег. → 0001 00AB 4316"));
    }

    void listeningNeverWrites()
    {
        int writes = 0;
        const QByteArray request = readRequest(3, 0x0A06, 2);
        const QByteArray reply = readReply(3, {0x0000, 0x4316});
        ListenPort port(std::make_unique<ScriptedTransport>(QList{request.first(3), request.sliced(3) + reply}, &writes));
        QVERIFY(port.open().isEmpty());
        LineListener listener(kBaud);
        for (int poll = 0; poll < 3; ++poll)
            port.poll(0, listener);
        QCOMPARE(listener.takeEvents().size(), 1);
        QCOMPARE(writes, 0);
    }

    void capturesKeepEveryFrame()
    {
        LineListener listener(kBaud);
        listener.feed(readRequest(3, 0x0A06, 2) + hex("FF"), 1'733'700'000'123'456);
        listener.finish();
        const QList<LineListener::Record> records = listener.takeRecords();
        QCOMPARE(records.size(), 2);
        QTemporaryDir folder;
        QString error;
        QVERIFY(LineCapture::save(folder.filePath("line.pcap"), records, &error));
        QVERIFY(LineCapture::save(folder.filePath("line.jsonl"), records, &error));

        QFile pcap(folder.filePath("line.pcap"));
        QVERIFY(pcap.open(QIODevice::ReadOnly));
        const QByteArray bytes = pcap.readAll();
        QCOMPARE(bytes.size(), 24 + 16 + 8 + 16 + 1);
        const auto word = [&](int offset) { return qFromLittleEndian<quint32>(bytes.constData() + offset); };
        QCOMPARE(word(0), 0xA1B2C3D4u);
        QCOMPARE(word(20), 147u);
        QCOMPARE(word(24), 1'733'700'000u);
        QCOMPARE(word(28), 123'456u);
        QCOMPARE(word(32), 8u);
        QCOMPARE(bytes.sliced(40, 8), readRequest(3, 0x0A06, 2));

        QFile json(folder.filePath("line.jsonl"));
        QVERIFY(json.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = json.readAll().split('\n');
        QCOMPARE(lines.size(), 3); // and the empty rest after the last line feed
        const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
        QCOMPARE(first.value("time_us").toInteger(), 1'733'700'000'123'456);
        QCOMPARE(first.value("direction").toString(), QStringLiteral("request"));
        QCOMPARE(first.value("bytes").toString(), QStringLiteral("03 03 0A 06 00 02 26 30"));
        QCOMPARE(QJsonDocument::fromJson(lines[1]).object().value("direction").toString(), QStringLiteral("unframed"));
    }
};

QTEST_GUILESS_MAIN(TestListener)
#include "tst_listener.moc"
