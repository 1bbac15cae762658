#include "Decoder.h"
#include "LogTime.h"
#include "MemoryTable.h"
#include "StationId.h"

#include <QTest>

namespace {
QByteArray Frame(const char *hex)
{
    return QByteArray::fromHex(hex);
}

QStringList Describe(const QList<TWindowEffect> &effects)
{
    QStringList out;
    for (const TWindowEffect &e : effects)
        out << DescribeEffect(e);
    return out;
}
} // namespace

class TestDecoder : public QObject {
    Q_OBJECT
private slots:
    void frames_data();
    void frames();
    void unknownStationAdded();
    void conversionFails_data();
    void conversionFails();
    void lookupsBeforeFailure();
    void messageText();
    void stampedWithLocalTime();
};

void TestDecoder::frames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("entry"); // after the time stamp; "-" for no entry
    QTest::addColumn<QStringList>("effects");
    QTest::newRow("success") << Frame("023003") << " RX: Success" << QStringList{};
    QTest::newRow("fail") << Frame("023103") << " RX: Fail" << QStringList{};
    QTest::newRow("busy") << Frame("023203") << " RX: Busy" << QStringList{};
    QTest::newRow("command ng") << Frame("023303") << " RX: Command NG" << QStringList{};
    QTest::newRow("ack with extra bytes") << Frame("0230414203") << " RX: Success" << QStringList{};
    QTest::newRow("voice call") << Frame("02423130303130303003") << " RX: Call from Yard"
                                << QStringList{"Popup(1;100,1000,Yard,,,,)"};
    QTest::newRow("voice call end") << Frame("02443130303130303003") << " RX: Call end from Yard"
                                    << QStringList{};
    QTest::newRow("status known") << Frame("024531303031303030303503")
                                  << " RX: Status:05 from Yard\r\n\t\"On scene\""
                                  << QStringList{"Popup(69;100,1000,Yard,,,05,On scene)"};
    QTest::newRow("status unknown") << Frame("024531303031303030303703")
                                    << " RX: Status:07 from Yard\r\n\t\"Status:07\""
                                    << QStringList{"Popup(69;100,1000,Yard,,,0,Status:07)"};
    QTest::newRow("status emergency")
        << Frame("024531303031303030393503") << " RX: Status:95 from Yard\r\n\t\"Man down\""
        << QStringList{"Popup(69;100,1000,Yard,,,95,Man down)"};
    QTest::newRow("short message") << Frame("02463130303130303048656C6C6F03")
                                   << " RX: Short Message from Yard\r\n\t\"Hello\""
                                   << QStringList{"Popup(3;100,1000,Yard,,,,)", "AppendMessage(Hello)"};
    QTest::newRow("long message") << QByteArray("\x02G1001000") + QByteArray(31, 'm') + '\x03'
                                  << " RX: Long Message from Yard\r\n\t\"" + QString(30, 'm') + "...\""
                                  << QStringList{"Popup(3;100,1000,Yard,,,,)",
                                                 "AppendMessage(" + QString(31, 'm') + ")"};
    QTest::newRow("message 30 whole")
        << QByteArray("\x02"
                      "F1001000") +
               QByteArray(30, 'm') + '\x03'
        << " RX: Short Message from Yard\r\n\t\"" + QString(30, 'm') + "\""
        << QStringList{"Popup(3;100,1000,Yard,,,,)", "AppendMessage(" + QString(30, 'm') + ")"};
    QTest::newRow("message with line break")
        << QByteArray("\x02"
                      "F1001000A\r\nB\x03")
        << " RX: Short Message from Yard\r\n\t\"A B\""
        << QStringList{"Popup(3;100,1000,Yard,,,,)", "AppendMessage(A\r\nB)"};
    QTest::newRow("empty message") << QByteArray("\x02"
                                                 "F1001000\x03")
                                   << " RX: Short Message from Yard\r\n\t\"\""
                                   << QStringList{"Popup(3;100,1000,Yard,,,,)", "AppendMessage()"};
    QTest::newRow("message cut at zero byte")
        << QByteArray("\x02"
                      "F1001000Hi\0there\x03",
                      19)
        << " RX: Short Message from Yard\r\n\t\"Hi\""
        << QStringList{"Popup(3;100,1000,Yard,,,,)", "AppendMessage(Hi)"};
    QTest::newRow("ptt id connect") << Frame("024931313030313030303130303130303003")
                                    << " RX: PTT ID Connect from Yard"
                                    << QStringList{"PttIdCaption(PTT ID Connect)",
                                                   "Popup(4;100,1000,Yard,100,1000,Yard,)"};
    QTest::newRow("ptt id disconnect")
        << Frame("024930313030313030303130303130303003") << " RX: PTT ID Disconnect from Yard"
        << QStringList{"PttIdCaption(PTT ID Disconnect)"};
    QTest::newRow("call start") << Frame("024931313030313030303130313230303003")
                                << " RX: Call start from Yard to 101-2000"
                                << QStringList{"CallDecodeFrom(Yard,100,1000)",
                                               "Popup(5;100,1000,Yard,101,2000,101-2000,)"};
    QTest::newRow("call end") << Frame("024930313030313030303130313230303003")
                              << " RX: Call end from Yard to 101-2000"
                              << QStringList{"CallDecodeFrom(Yard,100,1000)"};
    QTest::newRow("call end, sub-kind 9")
        << Frame("024939313030313030303130313230303003") << " RX: Call end from Yard to 101-2000"
        << QStringList{"CallDecodeFrom(Yard,100,1000)"};
    QTest::newRow("H ignored") << Frame("02483130303130303003") << "-" << QStringList{};
    QTest::newRow("C ignored") << Frame("02433130303130303003") << "-" << QStringList{};
    QTest::newRow("4 ignored") << Frame("023403") << "-" << QStringList{};
    QTest::newRow("high byte ignored") << Frame("02FF03") << "-" << QStringList{};
    QTest::newRow("lower-case b ignored") << Frame("02623130303130303003") << "-" << QStringList{};
    QTest::newRow("bare STX ETX") << Frame("0203") << "-" << QStringList{};
}

void TestDecoder::frames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, entry);
    QFETCH(QStringList, effects);
    TMemoryTable users = TMemoryTable::Users();
    users.AddRow({"Yard", "100", "1000"});
    TMemoryTable statuses = TMemoryTable::Statuses();
    statuses.AddRow({"5", "On scene"});
    statuses.AddRow({"95", "Man down"});
    const TDecodeResult r = DecodeReceivedFrame(frame, users, statuses, QStringLiteral("14:05:33"));
    if (entry == "-") {
        QVERIFY(!r.logEntry.has_value());
        QCOMPARE(users.RecordCount(), 1);
    } else {
        QVERIFY(r.logEntry.has_value());
        QCOMPARE(*r.logEntry, "14:05:33" + entry);
    }
    QCOMPARE(Describe(r.effects), effects);
}

void TestDecoder::unknownStationAdded()
{
    TMemoryTable users = TMemoryTable::Users();
    TMemoryTable statuses = TMemoryTable::Statuses();
    const auto r = DecodeReceivedFrame(Frame("02443130303130303003"), users, statuses, "t");
    QCOMPARE(*r.logEntry, QStringLiteral("t RX: Call end from 100-1000"));
    QCOMPARE(users.RecordCount(), 1);
    QCOMPARE(users.Cell(0, "Name"), QStringLiteral("100-1000"));
    // The zero-padded texts of a frame name the station as received.
    const auto r0 = DecodeReceivedFrame(QByteArray("\x02"
                                                   "D0000000\x03"),
                                        users, statuses, "t");
    QCOMPARE(*r0.logEntry, QStringLiteral("t RX: Call end from 000-0000"));
    // A full directory takes no more.
    for (int i = 2; i < MaxUserEntries; ++i)
        users.AddRow({"x", "200", QString::number(1000 + i)});
    DecodeReceivedFrame(QByteArray("\x02"
                                   "D3494999\x03"),
                        users, statuses, "t");
    QCOMPARE(users.RecordCount(), MaxUserEntries);
}

void TestDecoder::conversionFails_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("message");
    QTest::newRow("non-numeric fleet") << QByteArray("\x02"
                                                     "B1x01000\x03")
                                       << "'1x0' is not a valid integer value";
    QTest::newRow("non-numeric ident") << QByteArray("\x02"
                                                     "D100ab00\x03")
                                       << "'ab00' is not a valid integer value";
    QTest::newRow("non-numeric status") << QByteArray("\x02"
                                                      "E1001000x5\x03")
                                        << "'x5' is not a valid integer value";
    QTest::newRow("short frame, ident absent") << QByteArray("\x02"
                                                             "B100\x03")
                                               << "'' is not a valid integer value";
    QTest::newRow("short frame, status absent") << QByteArray("\x02"
                                                              "E1001000\x03")
                                                << "'' is not a valid integer value";
    QTest::newRow("short I frame") << QByteArray("\x02"
                                                 "I11001000\x03")
                                   << "'' is not a valid integer value";
    QTest::newRow("bare F") << QByteArray("\x02"
                                          "F\x03")
                            << "'' is not a valid integer value";
}

void TestDecoder::conversionFails()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, message);
    TMemoryTable users = TMemoryTable::Users();
    users.AddRow({"Yard", "100", "1000"});
    TMemoryTable statuses = TMemoryTable::Statuses();
    statuses.AddRow({"5", "On scene"});
    try {
        DecodeReceivedFrame(frame, users, statuses, "t");
        QFAIL("no conversion error");
    } catch (const EConvertError &e) {
        QCOMPARE(e.Message(), message);
    }
}

void TestDecoder::lookupsBeforeFailure()
{
    // The first station of a call start is added before the second fails; it stays.
    TMemoryTable users = TMemoryTable::Users();
    TMemoryTable statuses = TMemoryTable::Statuses();
    QVERIFY_THROWS_EXCEPTION(
        EConvertError, DecodeReceivedFrame(QByteArray("\x02I1101200010x2000\x03"), users, statuses, "t"));
    QCOMPARE(users.RecordCount(), 1);
    QCOMPARE(users.Cell(0, "Name"), QStringLiteral("101-2000"));
}

void TestDecoder::messageText()
{
    // The text reaches the memo as received, in the console's code page.
    TMemoryTable users = TMemoryTable::Users();
    TMemoryTable statuses = TMemoryTable::Statuses();
    const auto r = DecodeReceivedFrame(QByteArray("\x02"
                                                  "F1001000caf\xe9 \x80\x03"),
                                       users, statuses, "t");
    QCOMPARE(DescribeEffect(r.effects.at(1)), QString::fromUtf8("AppendMessage(caf\u00e9 \u20ac)"));
}

void TestDecoder::stampedWithLocalTime()
{
    TMemoryTable users = TMemoryTable::Users();
    TMemoryTable statuses = TMemoryTable::Statuses();
    const QString before = LogTimeStamp();
    const auto r = DecodeReceivedFrame(Frame("023003"), users, statuses);
    const QString after = LogTimeStamp();
    QVERIFY(QTime::fromString(before, LongTimeFormat(QLocale::system())).isValid());
    QVERIFY2(*r.logEntry == before + " RX: Success" || *r.logEntry == after + " RX: Success",
             qPrintable(*r.logEntry));
}

QTEST_APPLESS_MAIN(TestDecoder)
#include "tst_decoder.moc"
