#include "AnsiCodec.h"
#include "LogTime.h"
#include "MemoryTable.h"
#include "StationId.h"

#include <QTest>

class TestStationId : public QObject {
    Q_OBJECT
private slots:
    void strToInt_data();
    void strToInt();
    void validity_data();
    void validity();
    void zeroPad_data();
    void zeroPad();
    void lookup_data();
    void lookup();
    void lookupTenRowLimit();
    void lookupFirstOfDuplicates();
    void lookupConversionError();
    void messageLength_data();
    void messageLength();
    void codePage_data();
    void codePage();
    void ansiRoundTrip();
    void longTime_data();
    void longTime();
};

void TestStationId::strToInt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::newRow("zero") << "0" << true << 0;
    QTest::newRow("plus") << "+100" << true << 100;
    QTest::newRow("minus") << "-100" << true << -100;
    QTest::newRow("leading blanks") << "  100" << true << 100;
    QTest::newRow("leading zeros") << "007" << true << 7;
    QTest::newRow("int max") << "2147483647" << true << 2147483647;
    QTest::newRow("int min") << "-2147483648" << true << int(-2147483648LL);
    QTest::newRow("overflow") << "2147483648" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blank only") << "   " << false << 0;
    QTest::newRow("sign only") << "-" << false << 0;
    QTest::newRow("letters") << "abc" << false << 0;
    QTest::newRow("trailing blank") << "100 " << false << 0;
    QTest::newRow("blank after sign") << "- 1" << false << 0;
    QTest::newRow("tab before") << "\t1" << false << 0;
    QTest::newRow("arabic-indic digit") << QString(QChar(0x0661)) << false << 0;
}

void TestStationId::strToInt()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, value);
    if (ok) {
        QCOMPARE(StrToInt(text), value);
        return;
    }
    try {
        StrToInt(text);
        QFAIL("no conversion error");
    } catch (const EConvertError &e) {
        QCOMPARE(e.Message(), QLatin1Char('\'') + text + QLatin1String("' is not a valid integer value"));
    }
}

void TestStationId::validity_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("fleet"); // 1 valid, 0 invalid, -1 conversion error
    QTest::addColumn<int>("ident");
    QTest::newRow("0") << "0" << 1 << 1;
    QTest::newRow("1") << "1" << 0 << 0;
    QTest::newRow("99") << "99" << 0 << 0;
    QTest::newRow("100") << "100" << 1 << 0;
    QTest::newRow("349") << "349" << 1 << 0;
    QTest::newRow("350") << "350" << 0 << 0;
    QTest::newRow("999") << "999" << 0 << 0;
    QTest::newRow("1000") << "1000" << 0 << 1;
    QTest::newRow("4999") << "4999" << 0 << 1;
    QTest::newRow("5000") << "5000" << 0 << 0;
    QTest::newRow("-100") << "-100" << 0 << 0;
    QTest::newRow("-1000") << "-1000" << 0 << 0;
    QTest::newRow("+100") << "+100" << 1 << 0;
    QTest::newRow("blank 100") << " 100" << 1 << 0;
    QTest::newRow("+1000") << "+1000" << 0 << 1;
    QTest::newRow("empty") << "" << -1 << -1;
    QTest::newRow("abc") << "abc" << -1 << -1;
}

void TestStationId::validity()
{
    QFETCH(QString, text);
    QFETCH(int, fleet);
    QFETCH(int, ident);
    if (fleet < 0) {
        QVERIFY_THROWS_EXCEPTION(EConvertError, IsValidFleet(text));
        QVERIFY_THROWS_EXCEPTION(EConvertError, IsValidIdent(text));
        return;
    }
    QCOMPARE(IsValidFleet(text), fleet == 1);
    QCOMPARE(IsValidIdent(text), ident == 1);
}

void TestStationId::zeroPad_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("pad3");
    QTest::addColumn<QString>("pad4");
    QTest::newRow("0") << 0 << "000"
                       << "0000";
    QTest::newRow("7") << 7 << "007"
                       << "0007";
    QTest::newRow("45") << 45 << "045"
                        << "0045";
    QTest::newRow("100") << 100 << "100"
                         << "0100";
    QTest::newRow("1000") << 1000 << "1000"
                          << "1000";
}

void TestStationId::zeroPad()
{
    QFETCH(int, value);
    QFETCH(QString, pad3);
    QFETCH(QString, pad4);
    QCOMPARE(ZeroPad3(value), pad3);
    QCOMPARE(ZeroPad4(value), pad4);
}

void TestStationId::lookup_data()
{
    QTest::addColumn<QString>("fleet");
    QTest::addColumn<QString>("ident");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("rowsAfter");
    // The table holds Base 100/1000, an unnamed 101/1001 and Depot 0/0.
    QTest::newRow("named") << "100"
                           << "1000"
                           << "Base" << 3;
    QTest::newRow("named, plus sign") << "+100"
                                      << "1000"
                                      << "Base" << 3;
    QTest::newRow("named, zero-padded") << "000"
                                        << "0000"
                                        << "Depot" << 3;
    QTest::newRow("empty name gives fallback") << "101"
                                               << "1001"
                                               << "101-1001" << 3;
    QTest::newRow("missing, appended") << "102"
                                       << "2000"
                                       << "102-2000" << 4;
    QTest::newRow("fallback keeps texts as given") << "+102"
                                                   << " 2000"
                                                   << "+102- 2000" << 4;
}

void TestStationId::lookup()
{
    QFETCH(QString, fleet);
    QFETCH(QString, ident);
    QFETCH(QString, name);
    QFETCH(int, rowsAfter);
    TMemoryTable users = TMemoryTable::Users();
    users.AddRow({"Base", "100", "1000"});
    users.AddRow({"", "101", "1001"});
    users.AddRow({"Depot", "0", "0"});
    QCOMPARE(LookupStationName(users, fleet, ident), name);
    QCOMPARE(users.RecordCount(), rowsAfter);
    if (rowsAfter == 4) {
        QCOMPARE(users.Cell(3, "Name"), name);
        QCOMPARE(users.Cell(3, "Fleet"), QString::number(StrToInt(fleet)));
        QCOMPARE(users.Cell(3, "Ident"), QString::number(StrToInt(ident)));
        // The second lookup finds the new entry and adds nothing.
        QCOMPARE(LookupStationName(users, fleet, ident), name);
        QCOMPARE(users.RecordCount(), 4);
    }
}

void TestStationId::lookupTenRowLimit()
{
    TMemoryTable users = TMemoryTable::Users();
    for (int i = 0; i < 9; ++i)
        users.AddRow({QStringLiteral("S%1").arg(i), "200", QString::number(1000 + i)});
    QCOMPARE(LookupStationName(users, "100", "1000"), QStringLiteral("100-1000"));
    QCOMPARE(users.RecordCount(), 10);
    QCOMPARE(users.Cell(9, "Name"), QStringLiteral("100-1000"));
    QCOMPARE(LookupStationName(users, "100", "1001"), QStringLiteral("100-1001"));
    QCOMPARE(users.RecordCount(), 10);
    QCOMPARE(users.PostCount(), 1);
}

void TestStationId::lookupFirstOfDuplicates()
{
    TMemoryTable users = TMemoryTable::Users();
    users.AddRow({"First", "100", "1000"});
    users.AddRow({"Second", "100", "1000"});
    QCOMPARE(LookupStationName(users, "100", "1000"), QStringLiteral("First"));
    QCOMPARE(users.FieldAsText("Name"), QStringLiteral("First"));
}

void TestStationId::lookupConversionError()
{
    TMemoryTable users = TMemoryTable::Users();
    try {
        LookupStationName(users, "1x0", "1000");
        QFAIL("no conversion error");
    } catch (const EConvertError &e) {
        QCOMPARE(e.Message(), QStringLiteral("'1x0' is not a valid integer value"));
    }
    QVERIFY_THROWS_EXCEPTION(EConvertError, LookupStationName(users, "100", ""));
    QCOMPARE(users.RecordCount(), 0);
}

void TestStationId::messageLength_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("codePage");
    QTest::addColumn<int>("length");
    QTest::newRow("empty") << "" << 1252 << 0;
    QTest::newRow("48") << QString(48, 'a') << 1252 << 48;
    QTest::newRow("49") << QString(49, 'a') << 1252 << 49;
    QTest::newRow("48 and trailing blanks") << QString(48, 'a') + "   \t" << 1252 << 48;
    QTest::newRow("48 and three line breaks") << QString(48, 'a') + "\r\n\r\n\r\n" << 1252 << 48;
    QTest::newRow("inner line break counts 2") << "Hi\r\nAll" << 1252 << 7;
    QTest::newRow("leading blanks count") << "  x" << 1252 << 3;
    QTest::newRow("4000") << QString(4000, 'z') << 1252 << 4000;
    QTest::newRow("4001") << QString(4001, 'z') << 1252 << 4001;
    QTest::newRow("euro is one byte in 1252") << QString::fromUtf8("\u20ac") << 1252 << 1;
    QTest::newRow("kanji is two bytes in 932") << QString::fromUtf8("\u65e5\u672c") << 932 << 4;
    QTest::newRow("unmappable is one byte") << QString::fromUtf8("\u65e5") << 1252 << 1;
}

void TestStationId::messageLength()
{
    QFETCH(QString, text);
    QFETCH(int, codePage);
    QFETCH(int, length);
    QCOMPARE(MessageLength(text, codePage), length);
}

void TestStationId::codePage_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("codePage");
    QTest::newRow("western") << "de_DE" << 1252;
    QTest::newRow("japanese") << "ja_JP" << 932;
    QTest::newRow("chinese simplified") << "zh_CN" << 936;
    QTest::newRow("chinese traditional by territory") << "zh_TW" << 950;
    QTest::newRow("chinese traditional by script") << "zh_Hant_CN" << 950;
    QTest::newRow("serbian cyrillic") << "sr_Cyrl_RS" << 1251;
    QTest::newRow("serbian latin") << "sr_Latn_RS" << 1250;
    QTest::newRow("azerbaijani latin") << "az_Latn_AZ" << 1254;
}

void TestStationId::codePage()
{
    QFETCH(QString, locale);
    QFETCH(int, codePage);
    QCOMPARE(AnsiCodec::CodePageFor(QLocale(locale)), codePage);
}

void TestStationId::ansiRoundTrip()
{
    // Every byte of 1252 comes back as itself, the five undefined ones included.
    QByteArray all;
    for (int b = 1; b < 256; ++b)
        all.append(char(b));
    QCOMPARE(AnsiCodec::ToAnsi(AnsiCodec::FromAnsi(all, 1252), 1252), all);
    QCOMPARE(AnsiCodec::ToAnsi(QString::fromUtf8("\u00e9\u20ac"), 1252), QByteArray("\xe9\x80"));
    QCOMPARE(AnsiCodec::ToAnsi(QString::fromUtf8("a\u65e5b"), 1252), QByteArray("a?b"));
    QCOMPARE(AnsiCodec::ToAnsi(QString::fromUtf8("\u65e5"), 932), QByteArray("\x93\xfa"));
    QCOMPARE(AnsiCodec::FromAnsi(QByteArray("\x93\xfa"), 932), QString::fromUtf8("\u65e5"));
}

void TestStationId::longTime_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::newRow("C") << "C"
                       << "14:05:09";
    QTest::newRow("de_DE") << "de_DE"
                           << "14:05:09";
    QTest::newRow("en_US 12-hour") << "en_US"
                                   << "2:05:09 PM";
    QTest::newRow("zone first") << "zh_CN"
                                << "14:05:09";
}

void TestStationId::longTime()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QCOMPARE(LongTimeText(QTime(14, 5, 9), QLocale(locale)), text);
}

QTEST_APPLESS_MAIN(TestStationId)
#include "tst_stationid.moc"
