#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A listener on indicator-sim's tap (`--tap PATH`): opens PATH read-only and raw, as a
// receiver on the line's pair that never sends, and collects what the line carries in the
// pieces that its reads return. Open it before the master sends: the tap drops what crosses
// the line while no one listens.
//
//     SimProcess sim({"--slave", "1-3", "--tap", dir.filePath("tap")});
//     TapListener tap(dir.filePath("tap"));
//     QVERIFY(tap.isOpen());
//     ... a master exchanges on sim.devicePath() ...
//     QCOMPARE(tap.waitFor(request.size() + reply.size(), 1000), request + reply);
class TapListener
{
public:
    explicit TapListener(const QString &path);
    ~TapListener();
    TapListener(const TapListener &) = delete;
    TapListener &operator=(const TapListener &) = delete;

    bool isOpen() const { return m_fd >= 0; }

    // Reads until `size` bytes have come in all or `timeoutMs` has passed; all that came.
    QByteArray waitFor(qsizetype size, int timeoutMs);
    // What came so far, one entry per read, as the tap delivered it.
    const QList<QByteArray> &pieces() const { return m_pieces; }
    QByteArray heard() const { return m_pieces.join(); }

private:
    int m_fd = -1;
    QList<QByteArray> m_pieces;
    qsizetype m_size = 0;
};
