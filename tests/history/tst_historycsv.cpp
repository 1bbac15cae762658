#include "HistoryCsv.h"
#include "HistoryFixture.h"
#include "HistoryQuery.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QTest>
#include <ctime>

using namespace std::chrono_literals;

namespace {

// A reader as strict as RFC 4180: used to prove the output reads back to the
// same fields, whatever they hold.
QList<QStringList> ParseCsv(const QByteArray &bytes)
{
    const QString text = QString::fromUtf8(bytes);
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false, wasQuoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"' && field.isEmpty() && !wasQuoted) {
            quoted = wasQuoted = true;
        } else if (c == ',') {
            record << field;
            field.clear();
            wasQuoted = false;
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            record << field;
            records << record;
            record.clear();
            field.clear();
            wasQuoted = false;
            ++i;
        } else {
            if (c == '"' || c == '\r' || c == '\n')
                return {}; // bare quote or line break outside quotes: not RFC 4180
            field += c;
        }
    }
    if (!field.isEmpty() || !record.isEmpty())
        return {}; // the last record must end with CR LF
    return records;
}

} // namespace

class TestHistoryCsv : public QObject {
    Q_OBJECT
private slots:
    void field_data();
    void field();
    void exportReadsBack();
    void exportFollowsFilter();
    void exportEqualsCopiedRows();
    void localTimeByTheZonesRules_data();
    void localTimeByTheZonesRules();
};

void TestHistoryCsv::field_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QByteArray>("neutralised"); // as history exports write it
    const auto row = [](const char *name, const QString &field, const QByteArray &csv,
                        const QByteArray &neutralised = {}) {
        QTest::newRow(name) << field << csv << (neutralised.isNull() ? csv : neutralised);
    };
    row("plain", "Car 2", "Car 2");
    row("empty", "", "");
    row("comma", "a,b", "\"a,b\"");
    row("quote", "say \"hi\"", "\"say \"\"hi\"\"\"");
    row("only a quote", "\"", "\"\"\"\"");
    row("crlf", "l1\r\nl2", "\"l1\r\nl2\"");
    row("lone lf", "l1\nl2", "\"l1\nl2\"");
    row("lone cr", "l1\rl2", "\"l1\rl2\"");
    row("edge blank", " x", "\" x\"");
    row("non-ascii", QString::fromUtf8("Ærø 東京 ✓"), "Ærø 東京 ✓");
    row("non-ascii with comma", QString::fromUtf8("é,ü"), "\"é,ü\"");
    row("formula", "=HYPERLINK(\"http://x\")", "\"=HYPERLINK(\"\"http://x\"\")\"",
        "\"'=HYPERLINK(\"\"http://x\"\")\"");
    row("name that looks like a sum", "+10-1102", "+10-1102", "'+10-1102");
    row("minus", "-5 degrees", "-5 degrees", "'-5 degrees");
    row("at", "@SUM(A1)", "@SUM(A1)", "'@SUM(A1)");
    row("formula with comma", "=A1,B1", "\"=A1,B1\"", "\"'=A1,B1\"");
    row("leading tab", "\t=1", "\"\t=1\"", "'\t=1");
    row("leading cr", "\r=1", "\"\r=1\"", "\"'\r=1\"");
    row("formula sign inside", "a=b+c", "a=b+c");
    row("apostrophe already", "'=1", "'=1");
}

void TestHistoryCsv::field()
{
    QFETCH(QString, field);
    QFETCH(QByteArray, csv);
    QFETCH(QByteArray, neutralised);
    QCOMPARE(CsvField(field), csv);
    QCOMPARE(CsvField(field, TCsvCells::Neutralised), neutralised);
    const QList<QStringList> back = ParseCsv(CsvRecord({field, QStringLiteral("next")}));
    QCOMPARE(back.size(), 1);
    QCOMPARE(back[0], (QStringList{field, QStringLiteral("next")}));
    // A neutralised cell reads back as the field with at most an apostrophe before it.
    const QList<QStringList> safe = ParseCsv(CsvRecord({field}, TCsvCells::Neutralised));
    QCOMPARE(safe.size(), 1);
    QVERIFY(safe[0][0] == field || safe[0][0] == QLatin1Char('\'') + field);
}

void TestHistoryCsv::exportReadsBack()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.db"));
    TTrafficEvent nasty =
        MakeEvent(TrafficKind::LongMessage, 101, 1102, QString::fromUtf8("Wagen \"Zwei\", Süd"),
                  QDateTime(QDate(2026, 12, 9), QTime(10, 0), Qt::UTC),
                  QString::fromUtf8("Zeile 1,\r\nZeile \"2\"\n東京"));
    TTrafficEvent ack;
    ack.time = QDateTime(QDate(2026, 12, 9), QTime(10, 0, 1), Qt::UTC);
    ack.kind = TrafficKind::Acknowledgement;
    ack.text = QStringLiteral("Success");
    ack.frame = QByteArray::fromHex("023003");
    {
        TFailures failures;
        THistoryStore store(path, failures.Sink());
        store.TrafficEvent(nasty);
        store.TrafficEvent(ack);
        QVERIFY(store.Flush(5s));
    }
    THistoryQuery query(path);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QCOMPARE(query.ExportCsv({}, out), 2);
    const QList<QStringList> records = ParseCsv(out.data());
    QCOMPARE(records.size(), 3);
    QCOMPARE(records[0], THistoryQuery::CsvHeader());
    const QStringList &first = records[1]; // oldest first
    QCOMPARE(QDateTime::fromString(first[0], Qt::ISODateWithMs).toUTC(), nasty.time);
    QCOMPARE(first.mid(1), (QStringList{"in", "long message", "101", "1102", nasty.name, "", "", "", "", "",
                                        nasty.text, "02 58 03"}));
    QCOMPARE(records[2].mid(1),
             (QStringList{"in", "acknowledgement", "", "", "", "", "", "", "", "", "Success", "02 30 03"}));
}

void TestHistoryCsv::exportFollowsFilter()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.db"));
    {
        TFailures failures;
        THistoryStore store(path, failures.Sink());
        for (int i = 0; i < 10; ++i)
            store.TrafficEvent(MakeEvent(i % 2 ? TrafficKind::Call : TrafficKind::CallEnd, 100, 1000 + i, "S",
                                         {}, QString::number(i)));
        QVERIFY(store.Flush(5s));
    }
    THistoryQuery query(path);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    THistoryFilter filter;
    filter.kind = TrafficKind::Call;
    QCOMPARE(query.ExportCsv(filter, out), 5);
    const QList<QStringList> records = ParseCsv(out.data());
    QStringList texts;
    for (const QStringList &r : records.mid(1))
        texts << r[11];
    QCOMPARE(texts, (QStringList{"1", "3", "5", "7", "9"}));
}

void TestHistoryCsv::exportEqualsCopiedRows()
{
    // The export writes its rows straight from the columns; copying rows goes
    // through CsvFields. Both must give the same bytes for every kind of field.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.db"));
    {
        TFailures failures;
        THistoryStore store(path, failures.Sink());
        for (int k = int(TrafficKind::Call); k <= int(TrafficKind::Warning); ++k) {
            TTrafficEvent e = MakeEvent(
                TrafficKind(k), 100 + k, 1000 + k,
                k % 4 ? QString::fromUtf8("Wagen, \"Süd\" %1").arg(k) : QStringLiteral("+10-%1").arg(k),
                QDateTime(QDate(2026, 3, 29), QTime(0, 30), Qt::UTC).addSecs(k * 1800),
                k % 2 ? QStringLiteral("line\r\nbreak, \"q\"") : QStringLiteral("=%1+1").arg(k));
            if (k % 3 == 0) {
                e.fleet.reset();
                e.status = 90 + k;
                e.statusText = QStringLiteral(" padded ");
            }
            if (k == int(TrafficKind::CallDecode)) {
                e.fleet2 = 0;
                e.ident2 = 0;
                e.name2 = QStringLiteral("000-0000");
            }
            store.TrafficEvent(e);
        }
        QVERIFY(store.Flush(5s));
    }
    THistoryQuery query(path);
    const QList<THistoryRow> rows = query.Page({}, std::nullopt, 100);
    for (const TCsvCells cells : {TCsvCells::Neutralised, TCsvCells::Raw}) {
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QCOMPARE(query.ExportCsv({}, out, cells), 13);
        QByteArray copied = CsvRecord(THistoryQuery::CsvHeader());
        for (auto it = rows.crbegin(); it != rows.crend(); ++it)
            copied += CsvRecord(THistoryQuery::CsvFields(*it), cells);
        QCOMPARE(out.data(), copied);
        QCOMPARE(out.data().contains(",=4+1,"), cells == TCsvCells::Raw);
        QCOMPARE(out.data().contains(",'+10-4,"), cells == TCsvCells::Neutralised);
    }
}

void TestHistoryCsv::localTimeByTheZonesRules_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QDateTime>("utc");
    QTest::addColumn<QString>("local");
    const auto row = [](const char *zone, const char *utc, const char *local) {
        QTest::addRow("%s %s", zone, utc)
            << QByteArray(zone) << QDateTime::fromString(QString::fromLatin1(utc), Qt::ISODateWithMs)
            << QString::fromLatin1(local);
    };
    // Newfoundland moves its clocks at 05:30 and 04:30 UTC, in the middle of an hour.
    row("America/St_Johns", "2026-03-08T05:00:00.000Z", "2026-03-08T01:30:00.000-03:30");
    row("America/St_Johns", "2026-03-08T05:29:59.999Z", "2026-03-08T01:59:59.999-03:30");
    row("America/St_Johns", "2026-03-08T05:30:00.000Z", "2026-03-08T03:00:00.000-02:30");
    row("America/St_Johns", "2026-03-08T05:45:00.000Z", "2026-03-08T03:15:00.000-02:30");
    row("America/St_Johns", "2026-11-01T04:15:00.000Z", "2026-11-01T01:45:00.000-02:30");
    row("America/St_Johns", "2026-11-01T04:29:59.999Z", "2026-11-01T01:59:59.999-02:30");
    row("America/St_Johns", "2026-11-01T04:30:00.000Z", "2026-11-01T01:00:00.000-03:30");
    row("America/St_Johns", "2026-11-01T04:45:00.000Z", "2026-11-01T01:15:00.000-03:30");
    row("Europe/Berlin", "2026-03-29T00:59:59.999Z", "2026-03-29T01:59:59.999+01:00");
    row("Europe/Berlin", "2026-03-29T01:00:00.000Z", "2026-03-29T03:00:00.000+02:00");
    row("Europe/Berlin", "2026-10-25T00:30:00.000Z", "2026-10-25T02:30:00.000+02:00");
    row("Europe/Berlin", "2026-10-25T01:30:00.000Z", "2026-10-25T02:30:00.000+01:00");
    row("UTC", "2026-10-25T01:30:00.000Z", "2026-10-25T01:30:00.000Z");
    row("UTC", "1969-12-31T23:59:59.999Z", "1969-12-31T23:59:59.999Z");
}

void TestHistoryCsv::localTimeByTheZonesRules()
{
    QFETCH(QByteArray, zone);
    QFETCH(QDateTime, utc);
    QFETCH(QString, local);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.db"));
    {
        // Every instant of every row in one file, as a day's traffic would be.
        TFailures failures;
        THistoryStore store(path, failures.Sink());
        for (const char *t :
             {"2026-03-08T05:00:00.000Z", "2026-03-08T05:29:59.999Z", "2026-03-08T05:30:00.000Z",
              "2026-03-08T05:45:00.000Z", "2026-11-01T04:15:00.000Z", "2026-11-01T04:29:59.999Z",
              "2026-11-01T04:30:00.000Z", "2026-11-01T04:45:00.000Z", "2026-03-29T00:59:59.999Z",
              "2026-03-29T01:00:00.000Z", "2026-10-25T00:30:00.000Z", "2026-10-25T01:30:00.000Z",
              "1969-12-31T23:59:59.999Z"})
            store.TrafficEvent(MakeEvent(TrafficKind::Call, 101, 1101, "Car",
                                         QDateTime::fromString(QString::fromLatin1(t), Qt::ISODateWithMs)));
        QVERIFY(store.Flush(5s));
    }
    const QByteArray oldZone = qgetenv("TZ");
    qputenv("TZ", zone);
    tzset();
    THistoryQuery query(path);
    // The row alone, and among all the others: the same text either way.
    THistoryFilter one;
    one.since = utc;
    one.until = utc.addMSecs(1);
    QStringList texts;
    for (const THistoryFilter &filter : {one, THistoryFilter{}}) {
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        query.ExportCsv(filter, out);
        for (const QStringList &record : ParseCsv(out.data()).mid(1))
            if (QDateTime::fromString(record[0], Qt::ISODateWithMs) == utc)
                texts << record[0];
    }
    QCOMPARE(texts, (QStringList{local, local}));
    QCOMPARE(THistoryQuery::CsvFields(query.Page(one, std::nullopt, 1).value(0))[0], local);
    qputenv("TZ", oldZone);
    tzset();
}

QTEST_GUILESS_MAIN(TestHistoryCsv)
#include "tst_historycsv.moc"
