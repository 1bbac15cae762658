#include "DispatchRig.h"
#include "GroupSend.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <map>

// A group send through the outbox over the real SendCommand, a radio answering
// each frame a moment later by a rule of the station: every station ends in one
// state, none is written twice unless it was Busy and retried, and at most one
// command is ever waiting for the radio.
class TstGroupSend : public QObject {
    Q_OBJECT
private slots:
    void fiftyStationsFiftyOutcomes();
    void cancelStopsTheRest();
};

namespace {

QList<TOutgoingCommand> Requests(int count, int repeatEvery = 0)
{
    QList<TOutgoingCommand> commands;
    for (int i = 0; i < count; ++i) {
        commands.append({'H', QStringLiteral("101"), QString::number(1000 + i), {}});
        if (repeatEvery && i % repeatEvery == 0)
            commands.append(commands.last()); // the same station listed again
    }
    return commands;
}

// The radio: answers each frame from the event loop by the ident's last digit.
// 0-3 Success, 4 Busy, 5 Fail, 6 nothing, 7 Command NG, 8-9 Success.
void AnswerByRule(TDispatchRig &rig, QObject *context, int &mostPending)
{
    QObject::connect(&rig.outbox, &TOutbox::PendingCountChanged, context,
                     [&mostPending](int count) { mostPending = std::max(mostPending, count); });
    QObject::connect(&rig.outbox, &TOutbox::Changed, context, [&rig, context](int row) {
        const TSentCommand &command = rig.outbox.Commands()[row];
        if (command.state != TSentState::Written)
            return;
        static const char *const answers[10] = {"Success", "Success", "Success",    "Success", "Busy",
                                                "Fail",    nullptr,   "Command NG", "Success", "Success"};
        const char *answer = answers[*command.ident % 10];
        if (answer)
            QTimer::singleShot(0, context, [&rig, answer] { rig.Answer(QString::fromLatin1(answer)); });
    });
}

} // namespace

void TstGroupSend::fiftyStationsFiftyOutcomes()
{
    TDispatchRig rig;
    rig.outbox.SetOptions({30, 2, 5});
    int mostPending = 0;
    QObject radio;
    AnswerByRule(rig, &radio, mostPending);
    TGroupSend send(rig.outbox, Requests(50, 7), QString());
    QSignalSpy finished(&send, &TGroupSend::Finished);
    send.Start();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
    QVERIFY(send.Done());

    QCOMPARE(send.Results().size(), 50);
    std::map<QByteArray, int> written;
    for (const QByteArray &frame : std::as_const(rig.frames))
        ++written[frame];
    QCOMPARE(int(written.size()), 50);
    for (int i = 0; i < 50; ++i) {
        const TGroupSend::TResult &result = send.Results()[i];
        QVERIFY(result.ended);
        const TSentCommand *command = rig.outbox.Find(result.id);
        QVERIFY(command);
        QCOMPARE(*command->ident, 1000 + i);
        QCOMPARE(result.state, DescribeState(*command));
        const int digit = i % 10;
        const TSentState expected = digit == 4   ? TSentState::Busy
                                    : digit == 5 ? TSentState::Failed
                                    : digit == 6 ? TSentState::NoAnswer
                                    : digit == 7 ? TSentState::CommandNG
                                                 : TSentState::Accepted;
        QCOMPARE(command->state, expected);
        // Busy is written 1 + 2 times; everything else once.
        const int times = digit == 4 ? 3 : 1;
        QCOMPARE(command->writes, times);
        QCOMPARE(written[QByteArray("\x02H101") + QByteArray::number(1000 + i) + "\x03"], times);
    }
    QCOMPARE(mostPending, 1);
    QCOMPARE(rig.outbox.PendingCount(), 0);
    QCOMPARE(rig.outbox.UnmatchedAnswers(), 0);
}

void TstGroupSend::cancelStopsTheRest()
{
    TDispatchRig rig;
    rig.outbox.SetOptions({1000, 0, 5});
    TGroupSend send(rig.outbox, Requests(10), QString());
    QSignalSpy finished(&send, &TGroupSend::Finished);
    send.Start();
    // Three answered, the fourth on the wire: Cancel.
    for (int i = 0; i < 3; ++i) {
        QTRY_COMPARE(rig.frames.size(), i + 1);
        rig.Answer(QStringLiteral("Success"));
    }
    QTRY_COMPARE(rig.frames.size(), 4);
    send.Cancel();
    QCOMPARE(finished.count(), 0); // the fourth still gets its answer
    rig.Answer(QStringLiteral("Busy"));
    QTRY_COMPARE(finished.count(), 1);
    QTest::qWait(20);
    QCOMPARE(rig.frames.size(), 4);
    QCOMPARE(send.Results()[3].state, QStringLiteral("radio busy: cancelled, not sent again"));
    for (int i = 4; i < 10; ++i)
        QCOMPARE(send.Results()[i].state, QStringLiteral("not sent: cancelled"));
}

QTEST_GUILESS_MAIN(TstGroupSend)
#include "tst_groupsend.moc"
