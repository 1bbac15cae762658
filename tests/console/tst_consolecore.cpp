#include "BoxRecorder.h"
#include "ConsoleSession.h"
#include "Frame.h"
#include "RadioLink.h"
#include "Recorders.h"
#include "ScratchDir.h"
#include "Table.h"
#include "Zcomm.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <memory>

// The radio core alone, as a headless owner would wire it: TRadioLink and
// TConsoleSession under a QCoreApplication, the radio on a pseudo-terminal,
// a recording log and popup host in place of the windows.
class TstConsoleCore : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void linksNoWidgets();
    void framesInLogAndEventsOutInOrder();
    void framesBeforeStartWaitInOrder();
    void commandOutIsExactBytes();
    void portLostAndBack();

private:
    // The link and the session on COM1 (all popups on), the settings read;
    // traffic not started.
    void Open();

    std::unique_ptr<TBoxRecorder> boxes_;
    std::unique_ptr<TScratchDir> dir_;
    std::unique_ptr<TRadioLink> link_;
    std::unique_ptr<TConsoleSession> session_;
    TRecordingLog log_;
    TRecordingHost host_;
    // Log entries and events as they came, one line each, in one sequence.
    QStringList sequence_;
};

void TstConsoleCore::init()
{
    boxes_ = std::make_unique<TBoxRecorder>();
    dir_ = std::make_unique<TScratchDir>();
    QVERIFY(dir_->Prepare(TScratchDir::Settings(1, 0x1F), {1}).isEmpty());
    QVERIFY(dir_->MakeCurrent());
    log_.entries.clear();
    host_.calls.clear();
    sequence_.clear();
}

void TstConsoleCore::cleanup()
{
    session_.reset();
    link_.reset();
    dir_.reset();
    boxes_.reset();
}

void TstConsoleCore::Open()
{
    link_ = std::make_unique<TRadioLink>();
    session_ = std::make_unique<TConsoleSession>(*link_);
    log_.onEntry = [this](const QString &entry) {
        sequence_ << QStringLiteral("log") + entry.section(QStringLiteral(" RX: "), 1).section('\r', 0, 0);
    };
    session_->SetLog(&log_);
    session_->SetPopupHost(&host_);
    connect(session_.get(), &TConsoleSession::Traffic, this, [this](const TTrafficEvent &event) {
        sequence_ << QStringLiteral("event %1 %2").arg(TrafficKindText(event.kind), event.name);
    });
    QVERIFY(link_->LoadSettings());
    QVERIFY(boxes_->boxes.isEmpty());
    QVERIFY(link_->Port()->GetPortStatus());
    QCOMPARE(link_->PortName(), QStringLiteral("Com1"));
}

void TstConsoleCore::linksNoWidgets()
{
    // The program runs under a plain QCoreApplication, and neither Qt's GUI nor
    // its widgets library is loaded into it.
    QCOMPARE(QCoreApplication::instance()->metaObject()->className(), "QCoreApplication");
    QFile maps(QStringLiteral("/proc/self/maps"));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray loaded = maps.readAll();
    QVERIFY(loaded.contains("libQt6Core"));
    QVERIFY(!loaded.contains("libQt6Widgets"));
    QVERIFY(!loaded.contains("libQt6Gui"));
}

void TstConsoleCore::framesInLogAndEventsOutInOrder()
{
    Open();
    link_->StartTraffic();
    QSignalSpy frames(link_.get(), &TRadioLink::FrameReceived);
    QVERIFY(dir_->Line(1)->Write(BuildFrame("B1001000") + BuildFrame("E100100021") +
                                 BuildFrame("F1001000Hi there")));
    QTRY_COMPARE(log_.entries.size(), 3);
    QCOMPARE(frames.size(), 3);
    QCOMPARE(frames.at(0).at(0).toByteArray(), BuildFrame("B1001000"));
    // Each frame's log entry, then its event: never the other way round.
    QCOMPARE(sequence_,
             (QStringList{"logCall from Base", "event call Base", "logStatus:21 from Base",
                          "event status Base", "logShort Message from Base", "event short message Base"}));
    // The popups went through the host it was given.
    QVERIFY(!host_.calls.filter(QStringLiteral("show ")).isEmpty());
}

void TstConsoleCore::framesBeforeStartWaitInOrder()
{
    Open();
    QVERIFY(dir_->Line(1)->Write(BuildFrame("B1001000") + BuildFrame("D1001000")));
    // Delivered to the link, held there until the console is ready.
    QTest::qWait(200);
    QVERIFY(log_.entries.isEmpty());
    link_->StartTraffic();
    QCOMPARE(log_.entries.size(), 2);
    QVERIFY(log_.entries.at(1).endsWith(QLatin1String(" RX: Call from Base")));
    QVERIFY(log_.entries.at(0).endsWith(QLatin1String(" RX: Call end from Base")));
    // Later frames go straight on.
    QVERIFY(dir_->Line(1)->Write(BuildFrame("B1001000")));
    QTRY_COMPARE(log_.entries.size(), 3);
}

void TstConsoleCore::commandOutIsExactBytes()
{
    Open();
    link_->StartTraffic();
    QSignalSpy sent(session_.get(), &TConsoleSession::CommandSent);
    session_->Send('B', QStringLiteral("100"), QStringLiteral("1000"));
    QCOMPARE(dir_->Line(1)->Receive(10, 5000), QByteArray("\x02"
                                                          "B1001000"
                                                          "\x03"));
    QCOMPARE(sent.size(), 1);
    const auto event = sent.at(0).at(0).value<TTrafficEvent>();
    QCOMPARE(event.direction, TrafficDirection::Out);
    QCOMPARE(event.kind, TrafficKind::Call);
    QCOMPARE(event.frame, QByteArray("\x02"
                                     "B1001000"
                                     "\x03"));
    QCOMPARE(log_.entries.size(), 1);
    QVERIFY(log_.entries.at(0).contains(QLatin1String(" TX: ")));
    // The call windows send through the same context, held at one address.
    QCOMPARE(&session_->CommandContext(), &session_->CommandContext());
    QCOMPARE(session_->CommandContext().users, static_cast<ITableCursor *>(session_->UserTable()));
}

void TstConsoleCore::portLostAndBack()
{
    Open();
    link_->StartTraffic();
    QSignalSpy state(session_.get(), &TConsoleSession::PortStateChanged);
    QSignalSpy traffic(session_.get(), &TConsoleSession::Traffic);
    dir_->Line(1)->Close();
    QTRY_COMPARE(state.size(), 1);
    QCOMPARE(state.at(0).at(0).toBool(), false);
    QCOMPARE(state.at(0).at(1).toString(), QStringLiteral("COM1"));
    QVERIFY(link_->WaitingForPort());
    QCOMPARE(traffic.at(0).at(0).value<TTrafficEvent>().kind, TrafficKind::PortLost);

    // The radio plugged back in under the same name: the link finds it by itself.
    QVERIFY(dir_->Replug(1).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(state.size(), 2, 5000);
    QCOMPARE(state.at(1).at(0).toBool(), true);
    QVERIFY(!link_->WaitingForPort());
    QCOMPARE(traffic.last().at(0).value<TTrafficEvent>().kind, TrafficKind::PortBack);
    QVERIFY(dir_->Line(1)->Write(BuildFrame("B1001000")));
    QTRY_VERIFY(!log_.entries.isEmpty() && log_.entries.at(0).endsWith(QLatin1String(" RX: Call from Base")));
}

QTEST_GUILESS_MAIN(TstConsoleCore)
#include "tst_consolecore.moc"
