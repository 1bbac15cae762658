#include "FrameSplitter.h"

#include <QTest>

using Chunks = QList<QByteArray>;

namespace {

// A row in short: reason letter and bytes ("F" frame, "B" before STX, "N" no STX,
// "S" new STX, "L" too long, "G" gap, "X" lost, "J" joined, "C" cut, "O" note).
QString Brief(const TLineFrame &f)
{
    static const char letters[] = "FBNSLGXJCO";
    return QLatin1Char(letters[int(f.reason)]) + QLatin1Char(':') + QString::fromLatin1(f.bytes.toHex());
}

QStringList Split(const Chunks &chunks, bool flush = false)
{
    TFrameSplitter splitter(TLineDirection::In);
    splitter.Reset(false); // a line watched for a while
    std::vector<TLineFrame> out;
    qint64 t = 1000;
    for (const QByteArray &c : chunks)
        splitter.Feed(TLineChunk{t += 1000, TLineDirection::In, c, 0}, out);
    if (flush)
        splitter.FlushNoise(out);
    QStringList rows;
    for (const TLineFrame &f : out)
        rows << Brief(f);
    return rows;
}

QString F(const QByteArray &bytes)
{
    return QLatin1String("F:") + QString::fromLatin1(bytes.toHex());
}
QString N(char reason, const QByteArray &bytes)
{
    return QLatin1Char(reason) + QLatin1Char(':') + QString::fromLatin1(bytes.toHex());
}

} // namespace

class TstFrameSplitter : public QObject {
    Q_OBJECT
private slots:
    void split_data();
    void split();
    void everyCutGivesTheSameRows();
    void chunkTimesAndCounts();
    void tooLongFollowsTheIntake();
    void noiseInRuns();
    void lostBytesCutTheFrame();
};

void TstFrameSplitter::split_data()
{
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<bool>("flush");
    QTest::addColumn<QStringList>("rows");
    const QByteArray ack("\x02"
                         "0\x03");
    const QByteArray call("\x02"
                          "B1011102\x03");
    QTest::newRow("one frame") << Chunks{ack} << false << QStringList{F(ack)};
    QTest::newRow("three frames in one chunk")
        << Chunks{ack + call + ack} << false << QStringList{F(ack), F(call), F(ack)};
    QTest::newRow("frame split after STX") << Chunks{"\x02", "0\x03"} << false << QStringList{F(ack)};
    QTest::newRow("frame split before ETX") << Chunks{"\x02"
                                                      "B1011",
                                                      "102", "\x03"}
                                            << false << QStringList{F(call)};
    QTest::newRow("a frame and a half, then the rest")
        << Chunks{ack + call.left(4), call.mid(4) + ack} << false << QStringList{F(ack), F(call), F(ack)};
    QTest::newRow("noise before STX") << Chunks{"xyz" + ack} << false << QStringList{N('B', "xyz"), F(ack)};
    QTest::newRow("noise across chunks before STX") << Chunks{"x", "y", "z\x02", "1\x03"} << false
                                                    << QStringList{N('B', "xyz"), F("\x02"
                                                                                    "1\x03")};
    QTest::newRow("noise between frames")
        << Chunks{ack + "\r\n" + ack} << false << QStringList{F(ack), N('B', "\r\n"), F(ack)};
    QTest::newRow("ETX alone is noise")
        << Chunks{QByteArray("\x03") + ack} << false << QStringList{N('B', "\x03"), F(ack)};
    QTest::newRow("noise waits for an STX") << Chunks{ack + "abc"} << false << QStringList{F(ack)};
    QTest::newRow("quiet line puts noise out")
        << Chunks{ack + "abc"} << true << QStringList{F(ack), N('N', "abc")};
    QTest::newRow("STX inside a frame starts afresh") << Chunks{"\x02"
                                                                "B10",
                                                                ack}
                                                      << false
                                                      << QStringList{N('S', "\x02"
                                                                            "B10"),
                                                                     F(ack)};
    QTest::newRow("empty frame") << Chunks{"\x02\x03"} << false << QStringList{F("\x02\x03")};
    QTest::newRow("unfinished frame waits") << Chunks{"\x02"
                                                      "B10"}
                                            << true << QStringList{};
    QTest::newRow("empty chunk") << Chunks{""} << true << QStringList{};
}

void TstFrameSplitter::split()
{
    QFETCH(Chunks, chunks);
    QFETCH(bool, flush);
    QFETCH(QStringList, rows);
    QCOMPARE(Split(chunks, flush), rows);
}

// The same bytes cut into chunks anywhere give the same rows.
void TstFrameSplitter::everyCutGivesTheSameRows()
{
    const QByteArray line = QByteArray("zz\x02"
                                       "0\x03\x02"
                                       "E101110295\x03q\x02"
                                       "F1011102Hi\r\nthere\x03\x02"
                                       "B10\x02"
                                       "1\x03");
    const QStringList whole = Split({line}, true);
    QCOMPARE(whole.size(), 7);
    for (qsizetype a = 0; a <= line.size(); ++a)
        for (qsizetype b = a; b <= line.size(); ++b)
            QCOMPARE(Split({line.left(a), line.mid(a, b - a), line.mid(b)}, true), whole);
    QStringList bytewise;
    Chunks single;
    for (char c : line)
        single << QByteArray(1, c);
    QCOMPARE(Split(single, true), whole);
}

void TstFrameSplitter::chunkTimesAndCounts()
{
    TFrameSplitter splitter(TLineDirection::Out);
    std::vector<TLineFrame> out;
    splitter.Feed({5000, TLineDirection::Out, "\x02", 0}, out);
    splitter.Feed({5100, TLineDirection::Out, "B1011102", 0}, out);
    splitter.Feed({9300, TLineDirection::Out,
                   "\x03\x02"
                   "H",
                   0},
                  out);
    QCOMPARE(out.size(), std::size_t(1));
    QCOMPARE(out[0].direction, TLineDirection::Out);
    QCOMPARE(out[0].firstUs, qint64(5000));
    QCOMPARE(out[0].lastUs, qint64(9300));
    QCOMPARE(out[0].chunks, 3);
    // The next frame started in the last chunk: its own time, one chunk so far.
    QCOMPARE(splitter.PendingFrameSize(), 2);
    splitter.Feed({9900, TLineDirection::Out, "1011102\x03", 0}, out);
    QCOMPARE(out.size(), std::size_t(2));
    QCOMPARE(out[1].firstUs, qint64(9300));
    QCOMPARE(out[1].lastUs, qint64(9900));
    QCOMPARE(out[1].chunks, 2);
}

void TstFrameSplitter::tooLongFollowsTheIntake()
{
    // No ETX within the longest frame: the intake drops exactly that many bytes and
    // then looks for the next STX; the monitor shows the same cut.
    QByteArray line = "\x02" + QByteArray(TFrameSplitter::MaxFrameSize + 9, 'a') +
                      "\x02"
                      "0\x03";
    const QStringList rows = Split({line.left(100), line.mid(100)});
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0], N('L', line.left(TFrameSplitter::MaxFrameSize)));
    QCOMPARE(rows[1], N('B', QByteArray(10, 'a')));
    QCOMPARE(rows[2], F("\x02"
                        "0\x03"));
    // The longest frame itself is whole.
    QByteArray longest = "\x02G1011102" + QByteArray(TFrameSplitter::MaxFrameSize - 10, 'm') + "\x03";
    QCOMPARE(longest.size(), TFrameSplitter::MaxFrameSize);
    QCOMPARE(Split({longest}), QStringList{F(longest)});
}

void TstFrameSplitter::noiseInRuns()
{
    // A line full of noise never grows one row without bound.
    const QByteArray noise(TFrameSplitter::MaxNoiseRun * 2 + 5, 'n');
    const QStringList rows = Split({noise.left(7), noise.mid(7),
                                    "\x02"
                                    "0\x03"});
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows[0], N('N', QByteArray(TFrameSplitter::MaxNoiseRun, 'n')));
    QCOMPARE(rows[1], N('N', QByteArray(TFrameSplitter::MaxNoiseRun, 'n')));
    QCOMPARE(rows[2], N('B', QByteArray(5, 'n')));
}

void TstFrameSplitter::lostBytesCutTheFrame()
{
    TFrameSplitter splitter(TLineDirection::In);
    std::vector<TLineFrame> out;
    splitter.Feed({1, TLineDirection::In,
                   "\x02"
                   "F10",
                   0},
                  out);
    splitter.Feed({2, TLineDirection::In, {}, 500}, out);
    // The rest of the cut frame is not a frame either: its STX went unseen.
    splitter.Feed({3, TLineDirection::In,
                   "11102Hi\x03\x02"
                   "0\x03",
                   0},
                  out);
    QCOMPARE(out.size(), std::size_t(4));
    QCOMPARE(out[0].reason, TNoiseReason::Gap);
    QCOMPARE(out[0].bytes, QByteArray("\x02"
                                      "F10"));
    QCOMPARE(out[1].reason, TNoiseReason::Lost);
    QCOMPARE(out[1].lost, quint64(500));
    QCOMPARE(out[2].reason, TNoiseReason::BeforeStx);
    QCOMPARE(out[3].reason, TNoiseReason::None);
}

QTEST_GUILESS_MAIN(TstFrameSplitter)
#include "tst_framesplitter.moc"
