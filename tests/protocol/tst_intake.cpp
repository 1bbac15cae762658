#include "FrameIntake.h"

#include <QTest>
#include <chrono>

using Chunks = QList<QByteArray>;

class TestIntake : public QObject {
    Q_OBJECT
private slots:
    void feed_data();
    void feed();
    void everySplitGivesTheSameFrames();
    void longestFrameWhole();
    void oversizedFrameDropped();
    void reset();
    void throughput();
};

void TestIntake::feed_data()
{
    QTest::addColumn<Chunks>("reads");
    QTest::addColumn<Chunks>("frames"); // all frames returned, in order
    QTest::addColumn<int>("pending");
    QTest::newRow("one frame") << Chunks{"\x02"
                                         "0\x03"}
                               << Chunks{"\x02"
                                         "0\x03"}
                               << 0;
    QTest::newRow("garbage before STX") << Chunks{"xyz\x02"
                                                  "1\x03"}
                                        << Chunks{"\x02"
                                                  "1\x03"}
                                        << 0;
    QTest::newRow("two frames in one read") << Chunks{"\x02"
                                                      "0\x03\x02"
                                                      "F1001000Hi\x03"}
                                            << Chunks{"\x02"
                                                      "0\x03",
                                                      "\x02"
                                                      "F1001000Hi\x03"}
                                            << 0;
    QTest::newRow("split across two reads") << Chunks{"\x02"
                                                      "B100",
                                                      "1000\x03"}
                                            << Chunks{"\x02"
                                                      "B1001000\x03"}
                                            << 0;
    QTest::newRow("split after STX") << Chunks{"\x02", "0\x03"}
                                     << Chunks{"\x02"
                                               "0\x03"}
                                     << 0;
    QTest::newRow("frame and a half") << Chunks{"\x02"
                                                "0\x03\x02"
                                                "B10"}
                                      << Chunks{"\x02"
                                                "0\x03"}
                                      << 4;
    QTest::newRow("no STX at all") << Chunks{"abc\x03"} << Chunks{} << 0;
    QTest::newRow("empty read") << Chunks{""} << Chunks{} << 0;
    QTest::newRow("noise between frames") << Chunks{"\x02"
                                                    "0\x03"
                                                    "zz\x03\x02"
                                                    "1\x03"}
                                          << Chunks{"\x02"
                                                    "0\x03",
                                                    "\x02"
                                                    "1\x03"}
                                          << 0;
    QTest::newRow("lost ETX, STX restarts") << Chunks{"\x02"
                                                      "B100\x02"
                                                      "2\x03"}
                                            << Chunks{"\x02"
                                                      "2\x03"}
                                            << 0;
    QTest::newRow("zero byte inside kept") << Chunks{QByteArray("\x02"
                                                                "F1\0"
                                                                "2\x03",
                                                                6)}
                                           << Chunks{QByteArray("\x02"
                                                                "F1\0"
                                                                "2\x03",
                                                                6)}
                                           << 0;
}

void TestIntake::feed()
{
    QFETCH(Chunks, reads);
    QFETCH(Chunks, frames);
    QFETCH(int, pending);
    TFrameIntake intake;
    Chunks got;
    for (const QByteArray &r : reads)
        got += intake.Feed(r);
    QCOMPARE(got, frames);
    QCOMPARE(intake.PendingSize(), pending);
}

void TestIntake::everySplitGivesTheSameFrames()
{
    const QByteArray stream = QByteArray("noise\x02"
                                         "0\x03\x02"
                                         "E100100005\x03"
                                         "x\x02"
                                         "I11001000") +
                              "1012000\x03\x02"
                              "G1001000" +
                              QByteArray(500, 'q') + "\x03";
    const Chunks expected{"\x02"
                          "0\x03",
                          "\x02"
                          "E100100005\x03",
                          "\x02"
                          "I110010001012000\x03",
                          QByteArray("\x02"
                                     "G1001000") +
                              QByteArray(500, 'q') + "\x03"};
    for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
        TFrameIntake intake;
        Chunks got = intake.Feed(QByteArrayView(stream).first(cut));
        got += intake.Feed(QByteArrayView(stream).sliced(cut));
        QCOMPARE(got, expected);
    }
    TFrameIntake bytewise;
    Chunks got;
    for (char c : stream)
        got += bytewise.Feed(QByteArrayView(&c, 1));
    QCOMPARE(got, expected);
}

void TestIntake::longestFrameWhole()
{
    // A long message of 4000 bytes, and the largest frame the intake takes.
    const QByteArray longMessage = QByteArray("\x02G1001000") + QByteArray(4000, 'L') + "\x03";
    const QByteArray largest = "\x02" + QByteArray(TFrameIntake::MaxFrameSize - 2, 'M') + "\x03";
    TFrameIntake intake;
    QCOMPARE(intake.Feed(QByteArray(longMessage + largest)), (Chunks{longMessage, largest}));
    QCOMPARE(intake.OverflowCount(), 0u);
}

void TestIntake::oversizedFrameDropped()
{
    const QByteArray tooLong = "\x02" + QByteArray(TFrameIntake::MaxFrameSize - 1, 'M') + "\x03";
    TFrameIntake intake;
    // In pieces, so the overflow is met while the frame is still open.
    QVERIFY(intake.Feed(tooLong.first(3000)).isEmpty());
    QVERIFY(intake.Feed(tooLong.sliced(3000)).isEmpty());
    QCOMPARE(intake.OverflowCount(), 1u);
    QCOMPARE(intake.PendingSize(), 0);
    // The stream recovers at the next STX.
    QCOMPARE(intake.Feed("\x02"
                         "0\x03"),
             Chunks{"\x02"
                    "0\x03"});
    // A run of noise with no ETX never holds more than one frame's worth.
    intake.Feed(QByteArray(QByteArray("\x02") + QByteArray(100000, 'n')));
    QVERIFY(intake.PendingSize() < TFrameIntake::MaxFrameSize);
    QCOMPARE(intake.Feed("\x02"
                         "1\x03"),
             Chunks{"\x02"
                    "1\x03"});
}

void TestIntake::reset()
{
    TFrameIntake intake;
    intake.Feed("\x02"
                "B100");
    intake.Reset();
    QCOMPARE(intake.Feed("1000\x03\x02"
                         "0\x03"),
             Chunks{"\x02"
                    "0\x03"});
}

void TestIntake::throughput()
{
    // The reader thread must keep up easily: a line at 9600 bit/s carries under
    // 1 kB a second.
    QByteArray burst;
    for (int i = 0; i < 2000; ++i)
        burst += QByteArray("\x02"
                            "F1001000") +
                 QByteArray(40, 'a') + "\x03";
    TFrameIntake intake;
    const auto start = std::chrono::steady_clock::now();
    qsizetype frames = 0;
    for (qsizetype off = 0; off < burst.size(); off += 64)
        frames += intake.Feed(QByteArrayView(burst).sliced(off, std::min<qsizetype>(64, burst.size() - off)))
                      .size();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    QCOMPARE(frames, 2000);
    qInfo("%lld bytes in %lld ms", static_cast<long long>(burst.size()), static_cast<long long>(ms.count()));
    QVERIFY(ms.count() < 2000);
}

QTEST_APPLESS_MAIN(TestIntake)
#include "tst_intake.moc"
