// The monitor against the console's own code: the splitter against the intake on
// random streams, the describer against the decoder on random frames, and the rows
// the feed adds for what the console tells it and for commands left unanswered.
#include "Convert.h"
#include "Decoder.h"
#include "Frame.h"
#include "FrameIntake.h"
#include "MemoryTable.h"
#include "MonitorFeed.h"
#include "NotingPorts.h"
#include "Recorders.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

// The directory as the monitor sees it: read from the tables the decoder uses, never changing them.
TMonitorDirectory DirectoryOf(const TMemoryTable &users, const TMemoryTable &statuses)
{
    TMonitorDirectory d;
    d.stationName = [&users](int fleet, int ident) {
        for (int r = 0; r < users.RecordCount(); ++r)
            if (users.Cell(r, QStringLiteral("Fleet")).toInt() == fleet &&
                users.Cell(r, QStringLiteral("Ident")).toInt() == ident)
                return users.Cell(r, QStringLiteral("Name"));
        return QString();
    };
    d.statusText = [&statuses](int number) {
        for (int r = 0; r < statuses.RecordCount(); ++r)
            if (statuses.Cell(r, QStringLiteral("No.")).toInt() == number)
                return statuses.Cell(r, QStringLiteral("Text"));
        return QString();
    };
    return d;
}

// A frame as a radio, a faulty one or line noise might send it: mostly digits in the
// fields, sometimes a sign, a blank or a letter, cut anywhere.
QByteArray RandomFrame(QRandomGenerator &random)
{
    static const char commands[] = "0123BDEFGIXE";
    static const char fieldBytes[] = "0123456789012345678901234567890123456789+- a";
    QByteArray frame(1, STX);
    frame += commands[random.bounded(int(sizeof commands) - 1)];
    const int length = random.bounded(20);
    for (int i = 0; i < length; ++i)
        frame += fieldBytes[random.bounded(int(sizeof fieldBytes) - 1)];
    // Now and then a station the directory knows, so names are compared too.
    if (random.bounded(4) == 0 && frame.size() >= 2)
        frame = frame.left(2) + (random.bounded(2) ? "1011102" : "1001000") + frame.mid(9);
    return frame + ETX;
}

TLineFrame InFrame(const QByteArray &bytes)
{
    TLineFrame f;
    f.bytes = bytes;
    return f;
}

std::vector<TLineRow> Batch(TMonitorFeed &feed, std::vector<TLineChunk> chunks, qint64 nowUs)
{
    return feed.Process(chunks, nowUs);
}

TLineChunk Bytes(qint64 us, TLineDirection direction, const QByteArray &bytes)
{
    return TLineChunk{us, direction, bytes, 0, TLineNote::None, {}};
}

QStringList Meanings(const std::vector<TLineRow> &rows)
{
    QStringList list;
    for (const TLineRow &r : rows)
        list << r.meaning;
    return list;
}

} // namespace

class TstMonitorFeed : public QObject {
    Q_OBJECT
private slots:
    void describerAgreesWithDecoder();
    void splitterCutsAsTheIntake_data();
    void splitterCutsAsTheIntake();
    void unansweredCommand_data();
    void unansweredCommand();
    void notesCutAndShow();
    void consoleTellsTheMonitor();
};

// Whatever a frame holds, the monitor says what the console did with it: acted on
// (the same status number and station names) or not at all.
void TstMonitorFeed::describerAgreesWithDecoder()
{
    TMemoryTable users = TMemoryTable::Users();
    users.AddRow({"Car 2", "101", "1102"});
    users.AddRow({"Base", "100", "1000"});
    users.AddRow({"", "110", "3000"});
    TMemoryTable statuses = TMemoryTable::Statuses();
    statuses.AddRow({"95", "Emergency"});
    statuses.AddRow({"5", "On scene"});
    const TMonitorDirectory directory = DirectoryOf(users, statuses);
    QRandomGenerator random(22);
    int acted = 0, dropped = 0;
    for (int i = 0; i < 20000; ++i) {
        const QByteArray frame = RandomFrame(random);
        const QString meaning = DescribeLineFrame(InFrame(frame), directory, 1252);
        const QString context =
            QString::fromLatin1(frame.toPercentEncoding()) + QLatin1String(" -> ") + meaning;
        std::optional<TDecodeResult> result;
        try {
            result = DecodeReceivedFrame(frame, users, statuses, QStringLiteral("t"));
        } catch (const EConvertError &) {
        }
        const bool noneOfIt = meaning.endsWith(QLatin1String("the console acts on none of it"));
        QVERIFY2(noneOfIt == !result, qPrintable(context));
        if (!result) {
            ++dropped;
            continue;
        }
        QVERIFY2(meaning.endsWith(QLatin1String(", ignored")) == !result->logEntry, qPrintable(context));
        if (!result->event)
            continue;
        ++acted;
        const TTrafficEvent &e = *result->event;
        if (e.status)
            QVERIFY2(meaning.startsWith(QStringLiteral("Status %1 from ").arg(*e.status)),
                     qPrintable(context));
        if (!e.name.isEmpty())
            QVERIFY2(meaning.contains(e.name), qPrintable(context));
        if (!e.name2.isEmpty())
            QVERIFY2(meaning.contains(e.name2), qPrintable(context));
        if (e.kind == TrafficKind::Status)
            QCOMPARE(meaning.contains(QLatin1String(": Emergency")),
                     e.statusText == QLatin1String("Emergency"));
    }
    // Both outcomes are well covered by the stream.
    QVERIFY2(acted > 2000 && dropped > 2000, qPrintable(QStringLiteral("%1 %2").arg(acted).arg(dropped)));
}

void TstMonitorFeed::splitterCutsAsTheIntake_data()
{
    QTest::addColumn<int>("seed");
    QTest::addColumn<bool>("nearTheLimit"); // runs of about MaxFrameSize bytes
    for (int seed = 1; seed <= 6; ++seed) {
        QTest::addRow("short frames and noise, seed %d", seed) << seed << false;
        QTest::addRow("runs near the longest frame, seed %d", seed) << seed << true;
    }
}

// On any stream, cut into reads anywhere, the splitter's frames are exactly the
// intake's: the frames the console decodes are the ones the monitor shows as frames.
void TstMonitorFeed::splitterCutsAsTheIntake()
{
    QFETCH(int, seed);
    QFETCH(bool, nearTheLimit);
    QRandomGenerator random{quint32(seed)};
    QByteArray stream;
    while (stream.size() < 200'000) {
        const int pick = random.bounded(10);
        if (pick == 0)
            stream += STX;
        else if (pick == 1)
            stream += ETX;
        else if (nearTheLimit && pick == 2)
            stream += STX + QByteArray(TFrameIntake::MaxFrameSize - 4 + random.bounded(6), 'x') +
                      (random.bounded(3) ? QByteArray(1, ETX) : QByteArray(1, STX));
        else
            stream += QByteArray(random.bounded(nearTheLimit ? 40 : 12), char('a' + random.bounded(26)));
    }
    TFrameIntake intake;
    TFrameSplitter splitter(TLineDirection::In);
    QList<QByteArray> intakeFrames, splitterFrames;
    std::vector<TLineFrame> rows;
    qsizetype seenBytes = 0;
    for (qsizetype at = 0; at < stream.size();) {
        const qsizetype size =
            std::min<qsizetype>(1 + random.bounded(random.bounded(8) ? 64 : 5000), stream.size() - at);
        const QByteArray chunk = stream.mid(at, size);
        at += size;
        intakeFrames += intake.Feed(chunk);
        splitter.Feed(Bytes(at, TLineDirection::In, chunk), rows);
    }
    splitter.FlushNoise(rows);
    for (const TLineFrame &row : rows) {
        seenBytes += row.bytes.size();
        if (row.IsFrame())
            splitterFrames << row.bytes;
    }
    QCOMPARE(splitterFrames.size(), intakeFrames.size());
    QVERIFY(splitterFrames == intakeFrames);
    // Every byte is in some row, frame or not, but the unfinished frame's.
    QCOMPARE(seenBytes + splitter.PendingFrameSize(), stream.size());
    if (nearTheLimit)
        QVERIFY(intake.OverflowCount() > 0);
}

void TstMonitorFeed::unansweredCommand_data()
{
    QTest::addColumn<qint64>("answerUs"); // -1: no answer
    QTest::addColumn<qint64>("batchUs");  // when the last batch is taken
    QTest::addColumn<QStringList>("meanings");
    const QString connect = QStringLiteral("Connect to 101-1102");
    const QString late = QStringLiteral("no answer from the radio: to Connect to 101-1102 within 2 s");
    QTest::newRow("answered in time")
        << qint64(1'500'000) << qint64(5'000'000) << QStringList{connect, "ack: Success"};
    QTest::newRow("answered late") << qint64(3'000'000) << qint64(5'000'000)
                                   << QStringList{connect, late, "ack: Success"};
    QTest::newRow("never answered, still waiting") << qint64(-1) << qint64(1'900'000) << QStringList{connect};
    QTest::newRow("never answered") << qint64(-1) << qint64(2'100'000) << QStringList{connect, late};
}

// Every command the radio gets is answered; one that is not shows as a row of its own.
void TstMonitorFeed::unansweredCommand()
{
    QFETCH(qint64, answerUs);
    QFETCH(qint64, batchUs);
    QFETCH(QStringList, meanings);
    TMonitorFeed feed({}, 1252);
    std::vector<TLineRow> rows = Batch(feed,
                                       {Bytes(0, TLineDirection::Out,
                                              "\x02"
                                              "B1011102\x03")},
                                       100'000);
    if (answerUs >= 0) {
        auto more = Batch(feed,
                          {Bytes(answerUs, TLineDirection::In,
                                 "\x02"
                                 "0\x03")},
                          answerUs);
        std::move(more.begin(), more.end(), std::back_inserter(rows));
    }
    auto last = Batch(feed, {}, batchUs);
    std::move(last.begin(), last.end(), std::back_inserter(rows));
    QCOMPARE(Meanings(rows), meanings);
}

// A lost port cuts the half frame received before it; a failed write is a row.
void TstMonitorFeed::notesCutAndShow()
{
    TMonitorFeed feed({}, 1252);
    const auto rows =
        Batch(feed,
              {Bytes(1, TLineDirection::In,
                     "\x02"
                     "0\x03\x02"
                     "E10"),
               TLineChunk{2, TLineDirection::In, {}, 0, TLineNote::PortLost, "/dev/ttyUSB0"},
               TLineChunk{3, TLineDirection::In, {}, 0, TLineNote::PortBack, {}},
               Bytes(4, TLineDirection::In, "1110295\x03"),
               TLineChunk{5, TLineDirection::In, {}, 0, TLineNote::WriteFailed, "Input/output error"}},
              10);
    QCOMPARE(Meanings(rows),
             (QStringList{"ack: Success",
                          "not a frame: 4 bytes dropped, cut off when the console started reading afresh",
                          "port lost: /dev/ttyUSB0", "port back", "write failed: Input/output error"}));
    QCOMPARE(rows[4].frame.direction, TLineDirection::Out);
    QCOMPARE(feed.Counts().frames[0], quint64(1));
}

// What the console already does is noted on the way: a failed write (and the
// failure still reaches the caller), an open of a closed port (the intake starts afresh).
void TstMonitorFeed::consoleTellsTheMonitor()
{
    QStringList notes;
    const auto sink = [&notes](TLineNote note, const QString &text) {
        notes << QStringLiteral("%1 %2").arg(int(note)).arg(text);
    };
    TRecordingPort port;
    port.failAtWrite = 1;
    TNotingCommandPort noting(port, [&sink](const QString &reason) { sink(TLineNote::WriteFailed, reason); });
    noting.WriteData("\x02", 1);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, noting.WriteStringData("B1011102"));
    QCOMPARE(
        notes,
        QStringList{QStringLiteral("%1 Have not started communications").arg(int(TLineNote::WriteFailed))});

    notes.clear();
    TRecordingSelector selector;
    bool open = false;
    TNotingPortSelector opening(
        selector, [&open] { return open; }, [&sink] { sink(TLineNote::IntakeReset, {}); });
    opening.OpenCommport(); // closed: opened afresh
    open = true;
    opening.OpenCommport(); // already open: the intake keeps its frame
    QCOMPARE(selector.calls, (QStringList{"open", "open"}));
    QCOMPARE(notes, QStringList{QStringLiteral("%1 ").arg(int(TLineNote::IntakeReset))});
}

QTEST_GUILESS_MAIN(TstMonitorFeed)
#include "tst_monitorfeed.moc"
