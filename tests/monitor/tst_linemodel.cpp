#include "LineModel.h"
#include "MonitorFeed.h"

#include <QAbstractItemModelTester>
#include <QBuffer>
#include <QTest>
#include <malloc.h>

namespace {

QByteArray Wire(const QByteArray &payload)
{
    return '\x02' + payload + '\x03';
}

TLineRow Row(const QByteArray &payload, TLineDirection direction = TLineDirection::In)
{
    TLineRow row;
    row.frame.direction = direction;
    row.frame.bytes = Wire(payload);
    row.frame.firstUs = row.frame.lastUs = 1'700'000'000'000'000;
    row.frame.chunks = 1;
    row.meaning = DescribeLineFrame(row.frame, {}, 1252);
    row.time = TLineModel::TimeText(row.frame.firstUs);
    row.acknowledgement = IsAcknowledgement(row.frame);
    return row;
}

// Numbered calls, so that which rows stayed shows.
std::vector<TLineRow> Calls(int from, int count)
{
    std::vector<TLineRow> rows;
    for (int i = from; i < from + count; ++i)
        rows.push_back(Row("F1011102#" + QByteArray::number(i)));
    return rows;
}

QString Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString Meaning(const TLineModel &model, int row)
{
    return model.index(row, TLineModel::MeaningColumn).data().toString();
}

} // namespace

class TstLineModel : public QObject {
    Q_OBJECT
private slots:
    void rowBound_data();
    void rowBound();
    void byteBound();
    void hideAcknowledgements();
    void pauseHoldsRowsWithinTheBound();
    void boundIsTheMemoryHeld_data();
    void boundIsTheMemoryHeld();
    void cells_data();
    void cells();
    void savedText();
    void feedFromChunks();
};

void TstLineModel::rowBound_data()
{
    QTest::addColumn<QList<int>>("batches");
    QTest::addColumn<int>("maxRows");
    QTest::addColumn<int>("kept");
    QTest::addColumn<int>("firstKept");
    QTest::newRow("under the bound") << QList<int>{10, 20} << 100 << 30 << 0;
    QTest::newRow("small batches past it") << QList<int>{60, 60, 60} << 100 << 100 << 80;
    QTest::newRow("one batch larger than the bound") << QList<int>{10, 250} << 100 << 100 << 160;
    QTest::newRow("the default bound")
        << QList<int>{9000, 9000, 7000} << TLineModel::DefaultMaxRows << TLineModel::DefaultMaxRows << 15000;
}

void TstLineModel::rowBound()
{
    QFETCH(QList<int>, batches);
    QFETCH(int, maxRows);
    QFETCH(int, kept);
    QFETCH(int, firstKept);
    TLineModel model(nullptr, 1252);
    // Checks every insert and remove the model signals against its rows.
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.SetLimits(maxRows, TLineModel::DefaultMaxBytes);
    int next = 0;
    for (int n : batches) {
        model.Append(Calls(next, n));
        next += n;
    }
    QCOMPARE(model.rowCount(), kept);
    QCOMPARE(model.StoredCount(), kept);
    QCOMPARE(model.DiscardedCount(), quint64(next - kept));
    QVERIFY(Meaning(model, 0).endsWith(QStringLiteral("\"#%1\"").arg(firstKept)));
    QVERIFY(Meaning(model, kept - 1).endsWith(QStringLiteral("\"#%1\"").arg(next - 1)));
}

void TstLineModel::byteBound()
{
    // Long messages weigh more than the row bound allows for: the byte bound holds.
    TLineModel model(nullptr, 1252);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const qsizetype maxBytes = 1 << 20;
    model.SetLimits(TLineModel::DefaultMaxRows, maxBytes);
    for (int batch = 0; batch < 20; ++batch) {
        std::vector<TLineRow> rows;
        for (int i = 0; i < 50; ++i)
            rows.push_back(Row("G1011102" + QByteArray(4000, char('a' + batch % 26))));
        model.Append(std::move(rows));
        QVERIFY2(model.StoredBytes() <= maxBytes, qPrintable(QString::number(model.StoredBytes())));
    }
    QVERIFY(model.StoredCount() > 200);
    QVERIFY(model.StoredCount() < 262);
    // The newest always stays, however heavy.
    model.SetLimits(TLineModel::DefaultMaxRows, 10);
    QCOMPARE(model.StoredCount(), 1);
}

void TstLineModel::hideAcknowledgements()
{
    TLineModel model(nullptr, 1252);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.SetLimits(5, TLineModel::DefaultMaxBytes);
    model.Append({Row("0"), Row("B1011102"), Row("2"), Row("B1011102", TLineDirection::Out)});
    QCOMPARE(model.rowCount(), 4);
    model.SetHideAcknowledgements(true);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(Meaning(model, 0), QStringLiteral("Voice call from 101-1102"));
    QCOMPARE(Meaning(model, 1), QStringLiteral("Connect to 101-1102"));
    // Hidden rows still count against the bound, and go first when they are oldest.
    model.Append({Row("1"), Row("D1011102"), Row("3")});
    QCOMPARE(model.StoredCount(), 5);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(Meaning(model, 0), QStringLiteral("Connect to 101-1102"));
    QCOMPARE(Meaning(model, 1), QStringLiteral("Call end from 101-1102"));
    model.SetHideAcknowledgements(false);
    QCOMPARE(model.rowCount(), 5);
    QCOMPARE(Meaning(model, 0), QStringLiteral("ack: Busy"));
}

void TstLineModel::pauseHoldsRowsWithinTheBound()
{
    TLineModel model(nullptr, 1252);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.SetLimits(100, TLineModel::DefaultMaxBytes);
    model.Append(Calls(0, 10));
    model.SetPaused(true);
    model.Append(Calls(10, 30));
    QCOMPARE(model.rowCount(), 10); // the view holds still
    QCOMPARE(model.HeldCount(), 30);
    // One bound for the rows kept and the rows waiting: the oldest kept go first.
    model.Append(Calls(40, 100));
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.HeldCount(), 100);
    model.SetPaused(false);
    QCOMPARE(model.HeldCount(), 0);
    QCOMPARE(model.rowCount(), 100);
    QVERIFY(Meaning(model, 0).endsWith(QStringLiteral("\"#40\"")));
    QVERIFY(Meaning(model, 99).endsWith(QStringLiteral("\"#139\"")));
    model.Clear();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.StoredBytes(), 0);
}

void TstLineModel::cells_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("text");
    QTest::newRow("ack") << Wire("0") << 1252 << "02 30 03" << QString::fromUtf8("·0·");
    QTest::newRow("line break and DEL")
        << QByteArray("a\r\n\x7f") << 1252 << "61 0D 0A 7F" << QString::fromUtf8("a···");
    QTest::newRow("code page 1252") << QByteArray("\x80\xe9") << 1252 << "80 E9" << QString::fromUtf8("€é");
    QTest::newRow("code page 1251") << QByteArray("\xc0\xff") << 1251 << "C0 FF" << QString::fromUtf8("Ая");
    const QByteArray longest = Wire("G1011102" + QByteArray(100, 'z'));
    QTest::newRow("cut after 48 bytes")
        << longest << 1252 << Hex(longest.first(48)) + QString::fromUtf8(" \u2026 (110 bytes)")
        << QString::fromUtf8("·G1011102") + QString(39, QLatin1Char('z')) + QChar(0x2026);
    // 48 bytes end inside a double-byte character: the text is cut before it.
    const QByteArray split = QByteArray(47, 'k') + "\x93\xfa" + "x";
    QTest::newRow("cut before a split character")
        << split << 932 << Hex(split.first(48)) + QString::fromUtf8(" \u2026 (50 bytes)")
        << QString(47, QLatin1Char('k')) + QChar(0x2026);
}

void TstLineModel::cells()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, codePage);
    QFETCH(QString, hex);
    QFETCH(QString, text);
    QCOMPARE(TLineModel::HexText(bytes, 48), hex);
    QCOMPARE(TLineModel::PrintableText(bytes, codePage, 48), text);
}

void TstLineModel::savedText()
{
    TLineModel model(nullptr, 1252);
    TLineRow call = Row("E101110295");
    call.frame.lastUs = call.frame.firstUs + 12'400;
    std::vector<TLineRow> rows;
    rows.push_back(call);
    rows.push_back(Row("0"));
    rows.push_back(Row("G1011102" + QByteArray(200, 'q'), TLineDirection::Out));
    model.Append(std::move(rows));
    model.SetHideAcknowledgements(true);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(model.WriteText(buffer));
    const QStringList lines = QString::fromUtf8(buffer.data()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3); // heading and the two rows shown
    QVERIFY(lines[1].contains(QStringLiteral("+12 ms")));
    QVERIFY(lines[1].contains(QStringLiteral(" RX  02 45 31 30 31 31 31 30 32 39 35 03  |")));
    QVERIFY(lines[1].endsWith(QStringLiteral("|  Status 95 from 101-1102")));
    // A saved row has every byte, not the cell's cut.
    QVERIFY(lines[2].contains(QStringLiteral(" TX  ")));
    QVERIFY(lines[2].contains(QStringLiteral(" 71").repeated(200) + QStringLiteral(" 03")));
    QVERIFY(lines[2].contains(QString(200, QLatin1Char('q')) + QChar(0x00B7) + QLatin1Char('|')));
}

void TstLineModel::feedFromChunks()
{
    // The path the window takes: chunks of both directions, interleaved, as the tap
    // gives them; noise of a quiet direction comes out at the next batch.
    TLineModel model(nullptr, 1252);
    TMonitorFeed feed({}, 1252);
    model.Append(feed.Process({{10, TLineDirection::Out, "\x02", 0},
                               {11, TLineDirection::Out, "B1011102", 0},
                               {20, TLineDirection::In, "\x02", 0},
                               {21, TLineDirection::Out, "\x03", 0},
                               {30, TLineDirection::In, "0\x03zz", 0}}));
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(Meaning(model, 0), QStringLiteral("Connect to 101-1102"));
    QCOMPARE(Meaning(model, 1), QStringLiteral("ack: Success"));
    QCOMPARE(feed.Counts().frames[int(TLineDirection::Out)], quint64(1));
    QCOMPARE(feed.Counts().bytes[int(TLineDirection::In)], quint64(5));
    model.Append(feed.Process({}));
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(Meaning(model, 2), QStringLiteral("not a frame: 2 bytes without STX dropped"));
    QCOMPARE(feed.Counts().notFrames, quint64(1));
}

void TstLineModel::boundIsTheMemoryHeld_data()
{
    QTest::addColumn<bool>("pauseHalfway");
    QTest::newRow("running") << false;
    QTest::newRow("paused halfway") << true;
}

// The byte bound is the memory the rows really take from the allocator, kept and
// waiting rows together, and a clear gives it back.
void TstLineModel::boundIsTheMemoryHeld()
{
    QFETCH(bool, pauseHalfway);
    constexpr qsizetype bound = qsizetype(4) << 20;
    const auto inUse = [] { return qsizetype(mallinfo2().uordblks); };
    if (inUse() == 0)
        QSKIP("the allocator in use (a sanitizer's) does not report the bytes in use");
    TLineModel model(nullptr, 1252);
    model.SetLimits(1'000'000, bound);
    TMonitorFeed feed({}, 1252);
    const QByteArray message = "\x02G1011102" + QByteArray(4000, 'm') + '\x03';
    const qsizetype before = inUse();
    // 12,000 long messages, each as the port reads it: in pieces.
    for (int i = 0; i < 12000; ++i) {
        if (pauseHalfway && i == 6000)
            model.SetPaused(true);
        std::vector<TLineChunk> chunks;
        for (qsizetype at = 0; at < message.size(); at += 200)
            chunks.push_back(
                {i * 1000LL + at, TLineDirection::In, message.mid(at, 200), 0, TLineNote::None, {}});
        model.Append(feed.Process(chunks));
    }
    const qsizetype held = inUse() - before;
    QVERIFY2(held <= bound + bound / 20, qPrintable(QStringLiteral("%1 bytes held").arg(held)));
    QVERIFY(model.StoredBytes() + model.HeldBytes() <= bound);
    model.Clear();
    QVERIFY2(inUse() - before < 64 * 1024,
             qPrintable(QStringLiteral("%1 bytes after a clear").arg(inUse() - before)));
}

QTEST_MAIN(TstLineModel)
#include "tst_linemodel.moc"
