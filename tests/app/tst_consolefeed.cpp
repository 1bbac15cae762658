// The radio owner's console with a feed whose broker is away: the feed's queue
// fills and drops while the radio goes on, and the status bar says how many.

#include "Application.h"
#include "Broker.h"
#include "ConsoleFiles.h"
#include "ConsoleFixture.h"
#include "ConsoleHarness.h"
#include "Preferences.h"
#include "StatusPanels.h"

#include <QMainWindow>
#include <QPlainTextEdit>
#include <QTest>

class TstConsoleFeed : public QObject {
    Q_OBJECT
private slots:
    void dropsShownInTheStatusBar_data();
    void dropsShownInTheStatusBar();
};

void TstConsoleFeed::dropsShownInTheStatusBar_data()
{
    QTest::addColumn<int>("queueLimit");
    QTest::addColumn<int>("frames");
    QTest::newRow("within the bound: no panel") << 8 << 8;
    QTest::newRow("past the bound") << 5 << 12;
    QTest::newRow("a queue of one") << 1 << 4;
}

void TstConsoleFeed::dropsShownInTheStatusBar()
{
    QFETCH(int, queueLimit);
    QFETCH(int, frames);
    // A broker that was there and is gone: nothing listens on its port.
    TBroker broker;
    QVERIFY2(broker.Start().isEmpty(), "broker");
    broker.Stop();

    TConsoleDir dir;
    QVERIFY(dir.Prepare(QByteArrayLiteral("COM=1\r\nPOPUP=0x0000\r\n"), {1}));
    QVERIFY(dir.WriteFile(PreferencesFileName,
                          "[Bus]\nBroker=" + broker.Url().toUtf8() +
                              "\nRadio=r1\nQueueLimit=" + QByteArray::number(queueLimit) + "\n"));
    CreateConsoleWindows();
    QVERIFY(Console);
    QCOMPARE(dir.boxes.size(), 0);
    auto *memo = Console->Window()->findChild<QPlainTextEdit *>(QStringLiteral("LogMemo"));
    QVERIFY(memo);
    const TLogWatch *log = new TLogWatch(memo); // the memo's child
    QVERIFY(Console->Panels().FeedDropsText().isEmpty());

    // Short messages: each is one traffic message of the feed (the station's
    // retained state besides, which is never dropped).
    const auto text = [](int i) { return QStringLiteral("note %1").arg(i); };
    for (int i = 0; i < frames; ++i) {
        QVERIFY(dir.Send(1, Frame("F1001000" + text(i).toLatin1())));
        // Hidden while the queue still takes them.
        if (i < queueLimit) {
            QTRY_COMPARE(int(log->entries.size()), i + 1);
            QCOMPARE(Console->Panels().FeedDropsText(), QString());
        }
    }
    // Every frame decoded and logged at the owner, in order, whatever the feed dropped.
    QTRY_COMPARE(int(log->entries.size()), frames);
    for (int i = 0; i < frames; ++i)
        QVERIFY2(log->entries.at(i).text.contains('"' + text(i) + '"'), qPrintable(log->entries.at(i).text));
    const int dropped = frames - queueLimit;
    QCOMPARE(Console->Panels().FeedDropsText(),
             dropped > 0 ? QStringLiteral("feed: %1 dropped").arg(dropped) : QString());
}

int main(int argc, char *argv[])
{
    TApplication app(argc, argv);
    TApplication::setQuitOnLastWindowClosed(false);
    TstConsoleFeed test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_consolefeed.moc"
