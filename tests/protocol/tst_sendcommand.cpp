#include "AnsiCodec.h"
#include "Convert.h"
#include "MemoryTable.h"
#include "Recorders.h"
#include "SendCommand.h"

#include <QTest>

class TestSendCommand : public QObject {
    Q_OBJECT
private slots:
    void frames_data();
    void frames();
    void preview_data();
    void preview();
    void warnings_data();
    void warnings();
    void conversionError();
    void portFailureLogsNothing();

private:
    struct TRig {
        TRecordingPort port;
        TRecordingLog log;
        TMemoryTable users = TMemoryTable::Users();
        TCommandContext Context()
        {
            return {&port, &log, &users, [] { return QStringLiteral("14:05:09"); }};
        }
    };
};

void TestSendCommand::frames_data()
{
    QTest::addColumn<char>("letter");
    QTest::addColumn<QString>("fleet");
    QTest::addColumn<QString>("ident");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("entry");
    const QString none;
    QTest::newRow("connect") << 'B' << "100"
                             << "1000" << none << none << none << QByteArray::fromHex("02423130303130303003")
                             << "14:05:09 TX: Connect To Base";
    QTest::newRow("disconnect") << 'D' << "100"
                                << "1000" << none << none << none
                                << QByteArray::fromHex("02443130303130303003")
                                << "14:05:09 TX: Disconnect To Base";
    QTest::newRow("status 12") << 'E' << "100"
                               << "1000"
                               << "12"
                               << "Arrived" << none << QByteArray::fromHex("024531303031303030313203")
                               << "14:05:09 TX: Status:12 to Base\r\n\t\"Arrived\"";
    QTest::newRow("status 5 one digit") << 'E' << "100"
                                        << "1000"
                                        << "5"
                                        << "On scene" << none << QByteArray::fromHex("0245313030313030303503")
                                        << "14:05:09 TX: Status:5 to Base\r\n\t\"On scene\"";
    QTest::newRow("status none picked") << 'E' << "100"
                                        << "1000"
                                        << "12"
                                        << "" << none << QByteArray::fromHex("024531303031303030313203")
                                        << "14:05:09 TX: Status:12 to Base\r\n\t\"\"";
    QTest::newRow("short message two lines") << 'F' << "100"
                                             << "1000" << none << none << "Hi\r\nAll"
                                             << QByteArray::fromHex("0246313030313030304869") + "\r\nAll\x03"
                                             << "14:05:09 TX: Message to Base\r\n\t\"Hi All\"";
    QTest::newRow("status request") << 'H' << "100"
                                    << "1000" << none << none << none
                                    << QByteArray::fromHex("02483130303130303003")
                                    << "14:05:09 TX: Status Request to Base";
    QTest::newRow("fleet 0 ident 0") << 'B' << "0"
                                     << "0" << none << none << none
                                     << QByteArray::fromHex("02423030303030303003")
                                     << "14:05:09 TX: Connect To 0-0";
    QTest::newRow("plus sign") << 'B' << "+100"
                               << "1000" << none << none << none
                               << QByteArray::fromHex("02423130303130303003")
                               << "14:05:09 TX: Connect To Base";
    QTest::newRow("upper bounds") << 'B' << "349"
                                  << "4999" << none << none << none
                                  << QByteArray("\x02"
                                                "B3494999\x03")
                                  << "14:05:09 TX: Connect To 349-4999";
    QTest::newRow("empty message") << 'F' << "100"
                                   << "1000" << none << none << ""
                                   << QByteArray("\x02"
                                                 "F1001000\x03")
                                   << "14:05:09 TX: Message to Base\r\n\t\"\"";
    QTest::newRow("trailing line break trimmed on the wire")
        << 'F' << "100"
        << "1000" << none << none << "Hello\r\n"
        << QByteArray("\x02"
                      "F1001000Hello\x03")
        << "14:05:09 TX: Message to Base\r\n\t\"Hello \"";
    QTest::newRow("long message 4000") << 'G' << "100"
                                       << "1000" << none << none << QString(4000, 'x')
                                       << QByteArray("\x02"
                                                     "G1001000") +
                                              QByteArray(4000, 'x') + "\x03"
                                       << "14:05:09 TX: Message to Base\r\n\t\"" + QString(30, 'x') + "...\"";
}

void TestSendCommand::frames()
{
    QFETCH(char, letter);
    QFETCH(QString, fleet);
    QFETCH(QString, ident);
    QFETCH(QString, number);
    QFETCH(QString, statusText);
    QFETCH(QString, message);
    QFETCH(QByteArray, frame);
    QFETCH(QString, entry);
    TRig rig;
    rig.users.AddRow({"Base", "100", "1000"});
    TBoxRecorder boxes;
    SendCommand(rig.Context(), letter, fleet, ident, {number, statusText, message});
    QVERIFY(boxes.boxes.isEmpty());
    // Three writes: the start byte, the payload, the end byte.
    QCOMPARE(rig.port.writes.size(), 3);
    QCOMPARE(rig.port.writes[0], QByteArray("\x02"));
    QCOMPARE(rig.port.writes[2], QByteArray("\x03"));
    QCOMPARE(rig.port.Joined(), frame);
    QCOMPARE(rig.log.entries, QStringList{entry});
}

void TestSendCommand::preview_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("line");
    QTest::newRow("30 whole") << QString(30, 'a') << "\r\n\t\"" + QString(30, 'a') + "\"";
    QTest::newRow("31 cut") << QString(31, 'a') << "\r\n\t\"" + QString(30, 'a') + "...\"";
    QTest::newRow("three lines of 10") << "aaaaaaaaaa\r\nbbbbbbbbbb\r\ncccccccccc"
                                       << "\r\n\t\"aaaaaaaaaa bbbbbbbbbb cccccccc...\"";
    QTest::newRow("crlf to one blank") << "A\r\nB"
                                       << "\r\n\t\"A B\"";
    QTest::newRow("lone cr kept") << "A\rB"
                                  << "\r\n\t\"A\rB\"";
    QTest::newRow("lone lf kept") << "A\nB"
                                  << "\r\n\t\"A\nB\"";
    QTest::newRow("cr cr lf lf") << "A\r\r\n\nB"
                                 << "\r\n\t\"A\r \nB\"";
    QTest::newRow("ends in line break") << "Hello\r\n"
                                        << "\r\n\t\"Hello \"";
    QTest::newRow("28 plus two crlf is 30") << QString(28, 'a') + "\r\n\r\n"
                                            << "\r\n\t\"" + QString(28, 'a') + "  \"";
    QTest::newRow("trailing blanks untrimmed") << "Hi   "
                                               << "\r\n\t\"Hi   \"";
}

void TestSendCommand::preview()
{
    QFETCH(QString, message);
    QFETCH(QString, line);
    QCOMPARE(MessagePreviewLine(AnsiCodec::ToAnsi(message, 1252)), line);
}

void TestSendCommand::warnings_data()
{
    QTest::addColumn<QString>("fleet");
    QTest::addColumn<QString>("ident");
    QTest::addColumn<QString>("text");
    const QString fleetWarning = "Use the number 0 or from 100 to 349 as the Fleet.";
    const QString identWarning = "Use the number 0 or from 1000 to 4999 as the Ident.";
    QTest::newRow("fleet 99") << "99"
                              << "1000" << fleetWarning;
    QTest::newRow("fleet 350") << "350"
                               << "1000" << fleetWarning;
    QTest::newRow("fleet -100") << "-100"
                                << "1000" << fleetWarning;
    QTest::newRow("ident 999") << "100"
                               << "999" << identWarning;
    QTest::newRow("ident 5000") << "100"
                                << "5000" << identWarning;
    QTest::newRow("both invalid, fleet first") << "1"
                                               << "1" << fleetWarning;
}

void TestSendCommand::warnings()
{
    QFETCH(QString, fleet);
    QFETCH(QString, ident);
    QFETCH(QString, text);
    TRig rig;
    TBoxRecorder boxes;
    SendCommand(rig.Context(), 'B', fleet, ident);
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].text, text);
    QCOMPARE(boxes.boxes[0].caption, QStringLiteral("Warning"));
    QCOMPARE(boxes.boxes[0].icon, MsgIcon::Warning);
    QVERIFY(rig.port.writes.isEmpty());
    QVERIFY(rig.log.entries.isEmpty());
    QCOMPARE(rig.users.RecordCount(), 0);
}

void TestSendCommand::conversionError()
{
    TRig rig;
    TBoxRecorder boxes;
    try {
        SendCommand(rig.Context(), 'B', "", "1000");
        QFAIL("no conversion error");
    } catch (const EConvertError &e) {
        QCOMPARE(e.Message(), QStringLiteral("'' is not a valid integer value"));
    }
    QVERIFY_THROWS_EXCEPTION(EConvertError, SendCommand(rig.Context(), 'B', "100", "1x"));
    QVERIFY(boxes.boxes.isEmpty());
    QVERIFY(rig.port.writes.isEmpty());
    QVERIFY(rig.log.entries.isEmpty());
}

void TestSendCommand::portFailureLogsNothing()
{
    TRig rig;
    rig.port.failAtWrite = 1; // the start byte goes out, the payload fails
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, SendCommand(rig.Context(), 'B', "101", "2000"));
    QCOMPARE(rig.port.writes, QList<QByteArray>{QByteArray("\x02")});
    QVERIFY(rig.log.entries.isEmpty());
    // The station was named before the writes, so it stays in the directory.
    QCOMPARE(rig.users.RecordCount(), 1);
    QCOMPARE(rig.users.Cell(0, "Name"), QStringLiteral("101-2000"));
}

QTEST_APPLESS_MAIN(TestSendCommand)
#include "tst_sendcommand.moc"
