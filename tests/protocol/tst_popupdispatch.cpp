#include "Convert.h"
#include "MemoryTable.h"
#include "PopupDispatch.h"
#include "Recorders.h"

#include <QTest>

class TestPopupDispatch : public QObject {
    Q_OBJECT
private slots:
    void dispatch_data();
    void dispatch();
    void statusNumberNotNumeric();
    void applyOrder();
    void applyFailureLogsNothing();
};

void TestPopupDispatch::dispatch_data()
{
    QTest::addColumn<TPopupRequest>("request");
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<bool>("emergencyOn");
    const TPopupRequest voice{PopupKind::Voice, "100", "1000", "Yard", {}, {}, {}, {}};
    const TPopupRequest message{PopupKind::Message, "100", "1000", "Yard", {}, {}, {}, {}};
    const TPopupRequest ptt{PopupKind::PttId, "100", "1000", "Yard", "100", "1000", "Yard", {}};
    const TPopupRequest ani{PopupKind::CallDecode, "100", "1000", "Yard", "101", "2000", "101-2000", {}};
    auto status = [](const char *number) {
        return TPopupRequest{PopupKind::Status, "100", "1000", "Yard", {}, {}, number, "Text"};
    };
    const QStringList voiceFields{"fields 1 Yard|100|1000"};
    const QStringList statusFields{"fields 69 Yard|100|1000", "statustext Text"};
    QTest::newRow("voice shown") << voice << 0x01u << voiceFields + QStringList{"show 1"} << false;
    QTest::newRow("voice, bit clear") << voice << 0x3Eu << voiceFields << false;
    QTest::newRow("message shown, memo cleared")
        << message << 0x04u << QStringList{"fields 3 Yard|100|1000", "clearmemo", "show 3"} << false;
    QTest::newRow("message, bit clear")
        << message << 0x00u << QStringList{"fields 3 Yard|100|1000", "clearmemo"} << false;
    QTest::newRow("ptt id shown") << ptt << 0x08u << QStringList{"fields 4 Yard|100|1000", "show 4"} << false;
    QTest::newRow("ptt id, bit clear") << ptt << 0x37u << QStringList{"fields 4 Yard|100|1000"} << false;
    QTest::newRow("call decode sets To only")
        << ani << 0x10u << QStringList{"to 101-2000|101|2000", "show 5"} << false;
    QTest::newRow("call decode, bit clear") << ani << 0x0Fu << QStringList{"to 101-2000|101|2000"} << false;
    QTest::newRow("status 94 shown") << status("94") << 0x02u << statusFields + QStringList{"show 69"}
                                     << false;
    QTest::newRow("status 94, bit clear") << status("94") << 0x00u << statusFields << false;
    QTest::newRow("status 95, bit clear")
        << status("95") << 0x00u << statusFields + QStringList{"emergency", "show 69"} << false;
    QTest::newRow("status 95, bit set")
        << status("95") << 0x02u << statusFields + QStringList{"emergency", "show 69"} << false;
    QTest::newRow("status 99 with leading zero digits")
        << status("099") << 0x00u << statusFields + QStringList{"emergency", "show 69"} << false;
    QTest::newRow("unknown status passes 0") << status("0") << 0x00u << statusFields << false;
    QTest::newRow("photograph bit shows nothing") << voice << 0x20u << voiceFields << false;
    // While an emergency flashes, the status window goes on naming the station in
    // trouble: an ordinary status is held for later, another emergency takes over.
    QTest::newRow("emergency on: status 22 held, shown per its bit")
        << status("22") << 0x02u << QStringList{"hold Yard|100|1000 Text", "show 69"} << true;
    QTest::newRow("emergency on: status 22 held, bit clear")
        << status("22") << 0x00u << QStringList{"hold Yard|100|1000 Text"} << true;
    QTest::newRow("emergency on: status 96 replaces the fields")
        << status("96") << 0x00u << statusFields + QStringList{"emergency", "show 69"} << true;
    QTest::newRow("emergency on: other kinds unchanged")
        << voice << 0x01u << voiceFields + QStringList{"show 1"} << true;
}

void TestPopupDispatch::dispatch()
{
    QFETCH(TPopupRequest, request);
    QFETCH(unsigned, flags);
    QFETCH(QStringList, calls);
    QFETCH(bool, emergencyOn);
    TRecordingHost host;
    host.emergencyRunning = emergencyOn;
    ShowIncomingPopup(host, flags, request);
    QCOMPARE(host.calls, calls);
}

void TestPopupDispatch::statusNumberNotNumeric()
{
    TRecordingHost host;
    const TPopupRequest r{PopupKind::Status, "100", "1000", "Yard", {}, {}, "9x", "Text"};
    QVERIFY_THROWS_EXCEPTION(EConvertError, ShowIncomingPopup(host, 0x02, r));
    // The fields were set, the window was not shown.
    QCOMPARE(host.calls, (QStringList{"fields 69 Yard|100|1000", "statustext Text"}));
    // During an emergency nothing is held or replaced by a number that fails.
    TRecordingHost flashing;
    flashing.emergencyRunning = true;
    QVERIFY_THROWS_EXCEPTION(EConvertError, ShowIncomingPopup(flashing, 0x02, r));
    QVERIFY(flashing.calls.isEmpty());
}

void TestPopupDispatch::applyOrder()
{
    TMemoryTable users = TMemoryTable::Users();
    users.AddRow({"Yard", "100", "1000"});
    TMemoryTable statuses = TMemoryTable::Statuses();
    TRecordingHost host;
    TRecordingLog log;
    // Message: the memo is cleared by the dispatch, then the text is added.
    ApplyDecodeResult(DecodeReceivedFrame(QByteArray("\x02"
                                                     "F1001000Hi\x03"),
                                          users, statuses, "t"),
                      host, 0x04, log);
    QCOMPARE(host.calls, (QStringList{"fields 3 Yard|100|1000", "clearmemo", "show 3", "append Hi"}));
    // Call start: From fields, then the To fields through the dispatch.
    host.calls.clear();
    ApplyDecodeResult(DecodeReceivedFrame(QByteArray("\x02I110010001012000\x03"), users, statuses, "t"), host,
                      0, log);
    QCOMPARE(host.calls, (QStringList{"fields 5 Yard|100|1000", "to 101-2000|101|2000"}));
    // PTT ID disconnect: only the caption.
    host.calls.clear();
    ApplyDecodeResult(DecodeReceivedFrame(QByteArray("\x02I010010001001000\x03"), users, statuses, "t"), host,
                      0xFF, log);
    QCOMPARE(host.calls, QStringList{"caption PTT ID Disconnect"});
    QCOMPARE(log.entries,
             (QStringList{"t RX: PTT ID Disconnect from Yard", "t RX: Call start from Yard to 101-2000",
                          "t RX: Short Message from Yard\r\n\t\"Hi\""}));
}

void TestPopupDispatch::applyFailureLogsNothing()
{
    TRecordingHost host;
    TRecordingLog log;
    TDecodeResult r;
    r.effects.append(TPopupRequest{PopupKind::Status, "100", "1000", "Yard", {}, {}, "x", "Text"});
    r.logEntry = QStringLiteral("t RX: Status:x from Yard");
    QVERIFY_THROWS_EXCEPTION(EConvertError, ApplyDecodeResult(r, host, 0x02, log));
    QVERIFY(log.entries.isEmpty());
}

QTEST_APPLESS_MAIN(TestPopupDispatch)
#include "tst_popupdispatch.moc"
