#include "CannedMessages.h"
#include "FullDisk.h"
#include "StationGroups.h"

#include <QTemporaryDir>
#include <QTest>

// Canned texts made ready for the radio (fields, code page, the short and long
// limits) and the two hand-edited files read back as written or refused whole.
class TstDispatchTexts : public QObject {
    Q_OBJECT
private slots:
    void prepareMessage_data();
    void prepareMessage();
    void groupsFile_data();
    void groupsFile();
    void cannedFileRoundTrip();
    void groupsWrittenWholeOrNotAtAll();
};

void TstDispatchTexts::prepareMessage_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QString>("sent");    // the text that goes, CR LF breaks
    QTest::addColumn<QString>("command"); // F, G, or the problem's words
    QTest::addColumn<int>("bytes");
    const QString x48(48, QLatin1Char('x'));
    QTest::newRow("every field") << "{name} at {fleet-ident}, {time}: {status-text}" << 1252
                                 << "Car 1 at 101-1101, 14:05: On scene"
                                 << "F" << 34;
    QTest::newRow("48 bytes short") << x48 << 1252 << x48 << "F" << 48;
    QTest::newRow("49 bytes long") << x48 + "x" << 1252 << x48 + "x"
                                   << "G" << 49;
    QTest::newRow("a field makes it long")
        << "{name}" + QString(44, 'y') << 1252 << "Car 1" + QString(44, 'y') << "G" << 49;
    QTest::newRow("trailing blanks not counted") << x48 + "\n\n  " << 1252 << x48 + "\r\n\r\n  "
                                                 << "F" << 48;
    QTest::newRow("line break counts two") << QString(24, 'a') + "\n" + QString(23, 'b') << 1252
                                           << QString(24, 'a') + "\r\n" + QString(23, 'b') << "G" << 49;
    QTest::newRow("4000 bytes") << QString(4000, 'z') << 1252 << QString(4000, 'z') << "G" << 4000;
    QTest::newRow("4001 bytes") << QString(4001, 'z') << 1252 << QString(4001, 'z')
                                << "4001 bytes; a message holds at most 4000" << 4001;
    QTest::newRow("euro in 1252") << "5 \u20ac" << 1252 << "5 \u20ac"
                                  << "F" << 3;
    QTest::newRow("omega not in 1252") << "\u03a9 here" << 1252 << "\u03a9 here"
                                       << "code page (1252) has no '\u03a9'" << 0;
    QTest::newRow("omega in 1253") << "\u03a9 here" << 1253 << "\u03a9 here"
                                   << "F" << 6;
    QTest::newRow("double-byte counts two")
        << QString(24, QChar(0x65e5)) << 932 << QString(24, QChar(0x65e5)) << "F" << 48;
    QTest::newRow("double-byte goes long")
        << QString(25, QChar(0x65e5)) << 932 << QString(25, QChar(0x65e5)) << "G" << 50;
    QTest::newRow("a face no code page has") << "ok \U0001F600" << 1252 << "ok \U0001F600"
                                             << "has no '\U0001F600'" << 0;
    QTest::newRow("unknown field") << "hello {nme}" << 1252 << ""
                                   << "{nme} is not a field" << 0;
    QTest::newRow("braces with a blank are text") << "{ok then}" << 1252 << "{ok then}"
                                                  << "F" << 9;
    QTest::newRow("empty") << " \n " << 1252 << " \r\n "
                           << "the message is empty" << 0;
}

void TstDispatchTexts::prepareMessage()
{
    QFETCH(QString, text);
    QFETCH(int, codePage);
    QFETCH(QString, sent);
    QFETCH(QString, command);
    QFETCH(int, bytes);
    const TFieldValues values{"Car 1", "101-1101", "14:05", "On scene"};
    const TPreparedMessage prepared = PrepareMessage(text, values, codePage);
    if (command.size() == 1) {
        QVERIFY2(prepared.problem.isEmpty(), qPrintable(prepared.problem));
        QCOMPARE(QString(QLatin1Char(prepared.letter)), command);
        QCOMPARE(prepared.text, sent);
    } else {
        QVERIFY2(prepared.problem.contains(command), qPrintable(prepared.problem));
        QCOMPARE(prepared.letter, char(0));
        if (!sent.isEmpty())
            QCOMPARE(prepared.text, sent);
    }
    QCOMPARE(prepared.bytes, bytes);
}

void TstDispatchTexts::groupsFile_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("read"); // name:stations;... or the fault
    QTest::newRow("two groups") << QByteArray(
                                       "# x\n[Shift B]\n101-1101  Car 1\n102-1203\n\n[All cars]\n0-0\n")
                                << "Shift B:101-1101,102-1203;All cars:0-0";
    QTest::newRow("a station twice is once") << QByteArray("[A]\n101-1101\n101-1101 again\n") << "A:101-1101";
    QTest::newRow("empty group") << QByteArray("[Empty]\n") << "Empty:";
    QTest::newRow("CR LF lines") << QByteArray("[A]\r\n101-1101\r\n") << "A:101-1101";
    QTest::newRow("station first") << QByteArray("101-1101\n[A]\n") << "line 1: a station before";
    QTest::newRow("fleet out of range") << QByteArray("[A]\n\n99-1101\n") << "line 3: Fleet 99";
    QTest::newRow("ident out of range") << QByteArray("[A]\n101-5000\n") << "line 2: Ident 5000";
    QTest::newRow("not a station") << QByteArray("[A]\nCar 1\n") << "line 2: 'Car' is not a station";
    QTest::newRow("same name twice") << QByteArray("[A]\n[a]\n") << "line 2: a second group named a";
    QTest::newRow("no name") << QByteArray("[ ]\n") << "line 1: the group has no name";
    QTest::newRow("open bracket") << QByteArray("[A\n") << "line 1: a group's name is written";
    QTest::newRow("binary") << QByteArray("[A]\n\x01\x02\xff\n", 9) << "line 2:";
}

void TstDispatchTexts::groupsFile()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, read);
    QList<TStationGroup> groups{{"kept", {}}};
    const QString fault = ParseGroups(file, &groups);
    if (read.startsWith(QLatin1String("line "))) {
        QVERIFY2(fault.startsWith(read), qPrintable(fault));
        QCOMPARE(groups.size(), 1); // untouched: nothing half read
        return;
    }
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QStringList shown;
    for (const TStationGroup &group : groups) {
        QStringList stations;
        for (const TGroupStation &s : group.stations)
            stations << QStringLiteral("%1-%2").arg(s.fleet).arg(s.ident);
        shown << group.name + ':' + stations.join(',');
    }
    QCOMPARE(shown.join(';'), read);
    // What is written reads back the same.
    QList<TStationGroup> again;
    QVERIFY(ParseGroups(FormatGroups(groups, [](int, int) { return QStringLiteral("Some name"); }), &again)
                .isEmpty());
    QCOMPARE(again, groups);
}

void TstDispatchTexts::cannedFileRoundTrip()
{
    const QList<TCannedMessage> messages{
        {"Return", "{name}, return to base."}, {"Two lines", "First line\n\nThird line"}, {"Empty", ""}};
    QList<TCannedMessage> read;
    QVERIFY(ParseCanned(FormatCanned(messages), &read).isEmpty());
    QCOMPARE(read, messages);
    QVERIFY(ParseCanned("stray text\n[A]\nx\n", &read).startsWith(QLatin1String("line 1: text before")));
    QCOMPARE(read, messages); // untouched
}

void TstDispatchTexts::groupsWrittenWholeOrNotAtAll()
{
    TFullDisk disk;
    if (!disk.Error().isEmpty())
        QSKIP(qPrintable(disk.Error()));
    const QString path = disk.Path(QStringLiteral("groups.txt"));
    QVERIFY(WriteTextFile(path, "[A]\n101-1101\n").isEmpty());
    QList<TStationGroup> groups;
    QVERIFY(ReadGroupsFile(path, &groups).isEmpty());
    QCOMPARE(groups.size(), 1);
    // A full disk: the fault named, the old file whole.
    QVERIFY(disk.Fill());
    const QString fault = WriteTextFile(path, "[B]\n" + QByteArray(64 * 1024, '#'));
    QVERIFY2(fault.contains(path), qPrintable(fault));
    QVERIFY(ReadGroupsFile(path, &groups).isEmpty());
    QCOMPARE(groups.size(), 1);
    QCOMPARE(groups.first().name, QStringLiteral("A"));
    QVERIFY(ReadGroupsFile(disk.Path(QStringLiteral("none.txt")), &groups).isEmpty());
    QVERIFY(groups.isEmpty());
}

QTEST_GUILESS_MAIN(TstDispatchTexts)
#include "tst_dispatchtexts.moc"
