#include "LineTap.h"
#include "PortOnPty.h"
#include "RadioLine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <thread>

namespace {

struct TTaken {
    QByteArray in, out;
    QList<quint64> lost; // marks, in order, by size
    bool timesInOrder = true;
    qint64 lastUs = 0;

    void Add(const std::vector<TLineChunk> &chunks)
    {
        for (const TLineChunk &c : chunks) {
            timesInOrder = timesInOrder && c.timeUs >= lastUs;
            lastUs = c.timeUs;
            if (c.lost > 0)
                lost << c.lost;
            (c.direction == TLineDirection::In ? in : out) += c.bytes;
        }
    }
};

void Record(TLineTap &tap, TLineDirection d, const QByteArray &bytes, qint64 t = 0)
{
    tap.Record(d, reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()), t);
}

} // namespace

class TstLineTap : public QObject {
    Q_OBJECT
private slots:
    void bound_data();
    void bound();
    void markGoesWhereTheBytesWent();
    void seesTheLineOnAPty();
    void takesWhileTheReaderRecords();
    void removedTapIsNotCalled();
};

void TstLineTap::bound_data()
{
    QTest::addColumn<int>("byteCapacity");
    QTest::addColumn<int>("chunkCapacity");
    QTest::addColumn<QList<int>>("chunkSizes");
    QTest::addColumn<int>("keptBytes");
    QTest::addColumn<int>("lostBytes");
    QTest::newRow("all fit") << 64 << 16 << QList<int>{10, 20, 30} << 60 << 0;
    QTest::newRow("bytes run out") << 64 << 16 << QList<int>{40, 30, 20} << 60 << 30;
    QTest::newRow("chunk larger than the ring") << 64 << 16 << QList<int>{100, 5} << 5 << 100;
    QTest::newRow("headers run out") << 1024 << 3 << QList<int>{1, 1, 1, 1, 1} << 3 << 2;
}

void TstLineTap::bound()
{
    QFETCH(int, byteCapacity);
    QFETCH(int, chunkCapacity);
    QFETCH(QList<int>, chunkSizes);
    QFETCH(int, keptBytes);
    QFETCH(int, lostBytes);
    TLineTap tap{size_t(byteCapacity), size_t(chunkCapacity)};
    QByteArray sent;
    char fill = 'a';
    for (int size : chunkSizes) {
        const QByteArray chunk(size, fill++);
        sent += chunk;
        Record(tap, TLineDirection::In, chunk);
        QVERIFY(tap.BytesHeld() <= size_t(byteCapacity));
    }
    TTaken taken;
    taken.Add(tap.Take());
    QCOMPARE(taken.in.size(), keptBytes);
    quint64 lost = 0;
    for (quint64 n : taken.lost)
        lost += n;
    QCOMPARE(lost, quint64(lostBytes));
    QCOMPARE(tap.BytesHeld(), size_t(0));
    // Room again once taken.
    Record(tap, TLineDirection::In, QByteArray(std::min(byteCapacity, 8), 'z'));
    QCOMPARE(tap.Take().size(), std::size_t(1));
}

void TstLineTap::markGoesWhereTheBytesWent()
{
    TLineTap tap(16, 64);
    Record(tap, TLineDirection::In, "0123456789", 1);
    Record(tap, TLineDirection::In, "abcdefghij", 2); // no room: lost
    Record(tap, TLineDirection::Out, "XY", 3);
    std::vector<TLineChunk> first = tap.Take();
    // The mark of a direction that recorded nothing since comes at the take.
    QCOMPARE(first.size(), std::size_t(3));
    QCOMPARE(first[0].bytes, QByteArray("0123456789"));
    QCOMPARE(first[1].bytes, QByteArray("XY"));
    QCOMPARE(first[2].direction, TLineDirection::In);
    QCOMPARE(first[2].lost, quint64(10));

    Record(tap, TLineDirection::In, "0123456789", 4);
    Record(tap, TLineDirection::In, "0123456789", 5); // lost
    Record(tap, TLineDirection::Out, "0123456", 6);   // lost
    QCOMPARE(tap.Take().size(), std::size_t(3));
    Record(tap, TLineDirection::In, "ab", 7);
    Record(tap, TLineDirection::In, "0123456789xyzuv", 8); // lost
    Record(tap, TLineDirection::In, "cd", 9);              // fits: the mark goes in before it
    const std::vector<TLineChunk> second = tap.Take();
    QCOMPARE(second.size(), std::size_t(3));
    QCOMPARE(second[0].bytes, QByteArray("ab"));
    QCOMPARE(second[1].lost, quint64(15));
    QCOMPARE(second[2].bytes, QByteArray("cd"));
}

void TstLineTap::seesTheLineOnAPty()
{
    TPortOnPty line;
    QVERIFY(line.port.GetPortStatus());
    TLineTap tap;
    line.port.SetLineTap(&tap);
    const QByteArray fromRadio = QByteArray("noise\x02"
                                            "0\x03\x02"
                                            "E101110295\x03");
    QByteArray toRadio;
    toRadio += '\x02';
    toRadio += "B1011102";
    toRadio += '\x03';
    QVERIFY(line.radio.Write(fromRadio));
    // Three writes, as a command goes out.
    line.port.WriteData("\x02", 1);
    line.port.WriteStringData("B1011102");
    line.port.WriteData("\x03", 1);
    TTaken taken;
    QTRY_VERIFY_WITH_TIMEOUT((taken.Add(tap.Take()), taken.in.size() >= fromRadio.size()), 10000);
    QCOMPARE(taken.in, fromRadio);
    QCOMPARE(taken.out, toRadio);
    QCOMPARE(line.radio.Receive(toRadio.size(), 5000), toRadio);
    QVERIFY(taken.lost.isEmpty());
    line.port.SetLineTap(nullptr);
}

void TstLineTap::takesWhileTheReaderRecords()
{
    // The reader thread records while this thread takes: every byte arrives once,
    // in order, and nothing is lost when the taker keeps up.
    TPortOnPty line;
    TLineTap tap;
    line.port.SetLineTap(&tap);
    QByteArray fromRadio;
    for (int i = 0; i < 4000; ++i)
        fromRadio += "\x02"
                     "F1011102 message " +
                     QByteArray::number(i) + '\x03';
    std::atomic<bool> written{false};
    std::thread radio([&] {
        for (qsizetype at = 0; at < fromRadio.size(); at += 997)
            line.radio.Write(fromRadio.mid(at, 997));
        written = true;
    });
    TTaken taken;
    QTRY_VERIFY_WITH_TIMEOUT((taken.Add(tap.Take()), written && taken.in.size() >= fromRadio.size()), 60000);
    radio.join();
    line.port.SetLineTap(nullptr);
    taken.Add(tap.Take());
    QCOMPARE(taken.in.size(), fromRadio.size());
    QVERIFY(taken.in == fromRadio);
    QVERIFY(taken.lost.isEmpty());
    QVERIFY(taken.timesInOrder);
}

void TstLineTap::removedTapIsNotCalled()
{
    TPortOnPty line;
    auto tap = std::make_unique<TLineTap>();
    line.port.SetLineTap(tap.get());
    QVERIFY(line.radio.Write("\x02"
                             "1\x03"));
    QTRY_COMPARE(tap->BytesHeld(), size_t(3));
    line.port.SetLineTap(nullptr);
    tap.reset(); // a call after the removal would touch freed memory (the sanitizer build sees it)
    QVERIFY(line.radio.Write("\x02"
                             "2\x03"));
    line.port.WriteData("\x02", 1);
    // A second tap sees only what comes after it is put on.
    TLineTap second;
    QTRY_COMPARE(line.drained.load(), 6);
    line.port.SetLineTap(&second);
    QVERIFY(line.radio.Write("\x02"
                             "3\x03"));
    TTaken taken;
    QTRY_VERIFY((taken.Add(second.Take()), taken.in.size() >= 3));
    QCOMPARE(taken.in, QByteArray("\x02"
                                  "3\x03"));
    line.port.SetLineTap(nullptr);
}

QTEST_GUILESS_MAIN(TstLineTap)
#include "tst_linetap.moc"
