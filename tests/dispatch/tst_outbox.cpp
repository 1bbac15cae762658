#include "DispatchFiles.h"
#include "DispatchRig.h"
#include "SentModel.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <map>

// The outbox over the real SendCommand: answers matched to commands in the order
// they were written, time-outs, a lost port, a refused frame, Busy retries, the
// operator's Resend and Cancel, and what a restart finds pending.
class TstOutbox : public QObject {
    Q_OBJECT
private slots:
    void answersMatchCommands_data();
    void answersMatchCommands();
    void busyRetries_data();
    void busyRetries();
    void resendNeverAfterSuccess();
    void restartShowsPendingAsUnknown();
    void unreadablePendingFileIsSetAside();
    void oldestFinishedGoFirst();
    void positionsCommandNamesItsOrigin();
};

namespace {

QChar Code(TSentState state)
{
    static const std::map<TSentState, char> codes{
        {TSentState::Written, 'W'},  {TSentState::RetryWaiting, 'R'}, {TSentState::Accepted, 'A'},
        {TSentState::Failed, 'F'},   {TSentState::Busy, 'B'},         {TSentState::CommandNG, 'N'},
        {TSentState::NoAnswer, '-'}, {TSentState::NotWritten, 'X'},   {TSentState::Cancelled, 'C'},
        {TSentState::Unknown, 'U'}};
    return QLatin1Char(codes.at(state));
}

QString Codes(const TOutbox &outbox)
{
    QString codes;
    for (const TSentCommand &command : outbox.Commands())
        codes += Code(command.state);
    return codes;
}

TOutgoingCommand Request(int ident = 1101)
{
    return {'H', QStringLiteral("101"), QString::number(ident), {}};
}

} // namespace

void TstOutbox::answersMatchCommands_data()
{
    // Steps: s a status request written; x one the port refuses; S F Y N the
    // radio's Success, Fail, Busy, Command NG; t the answer time-out passes; L
    // the port lost. states: each command's state, in the order written.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("states");
    QTest::addColumn<int>("unmatched");
    QTest::newRow("answers in order") << "sssSYF"
                                      << "ABF" << 0;
    QTest::newRow("one at a time") << "sSsNsF"
                                   << "ANF" << 0;
    QTest::newRow("answer with no command") << "SsFS"
                                            << "F" << 2;
    QTest::newRow("command with no answer") << "stsS"
                                            << "-A" << 0;
    QTest::newRow("silent one before answered ones") << "sstSF"
                                                     << "--" << 2;
    QTest::newRow("port lost between write and answer") << "ssLS"
                                                        << "--" << 1;
    QTest::newRow("port lost, then a new command") << "sLsS"
                                                   << "-A" << 0;
    QTest::newRow("refused frame takes no answer") << "xsS"
                                                   << "XA" << 0;
    QTest::newRow("still waiting") << "ssS"
                                   << "AW" << 0;
}

void TstOutbox::answersMatchCommands()
{
    QFETCH(QString, steps);
    QFETCH(QString, states);
    QFETCH(int, unmatched);
    TDispatchRig rig;
    rig.outbox.SetOptions({100, 0, 1000});
    QSignalSpy finished(&rig.outbox, &TOutbox::Finished);
    int ident = 1000;
    for (const QChar step : steps) {
        switch (step.toLatin1()) {
        case 'x':
            rig.FailNextWrite();
            QVERIFY(rig.outbox.Submit(Request(++ident)) > 0);
            rig.port.failAtWrite = -1;
            break;
        case 's':
            QVERIFY(rig.outbox.Submit(Request(++ident)) > 0);
            break;
        case 'S':
            rig.Answer(QStringLiteral("Success"));
            break;
        case 'F':
            rig.Answer(QStringLiteral("Fail"));
            break;
        case 'Y':
            rig.Answer(QStringLiteral("Busy"));
            break;
        case 'N':
            rig.Answer(QStringLiteral("Command NG"));
            break;
        case 't':
            QTRY_VERIFY(rig.outbox.PendingCount() == 0);
            break;
        case 'L':
            rig.PortLost();
            break;
        }
    }
    QCOMPARE(Codes(rig.outbox), states);
    QCOMPARE(rig.outbox.UnmatchedAnswers(), unmatched);
    // One final state each, and each command is the station it was written to.
    QCOMPARE(finished.count(), int(states.size() - states.count(QLatin1Char('W'))));
    for (int i = 0; i < int(rig.outbox.Commands().size()); ++i)
        QCOMPARE(*rig.outbox.Commands()[i].ident, 1001 + i);
    QCOMPARE(rig.outbox.PendingCount(), int(states.count(QLatin1Char('W'))));
}

void TstOutbox::busyRetries_data()
{
    // answers: the radio's answer to each write in turn (Y Busy, S Success, F
    // Fail); c: the operator's Cancel while the retry waits.
    QTest::addColumn<int>("retries");
    QTest::addColumn<QString>("answers");
    QTest::addColumn<int>("writes");
    QTest::addColumn<QString>("state");
    QTest::newRow("off: Busy is final") << 0 << "Y" << 1 << "B";
    QTest::newRow("bounded") << 2 << "YYY" << 3 << "B";
    QTest::newRow("one retry") << 1 << "YY" << 2 << "B";
    QTest::newRow("stopped by Success") << 3 << "YS" << 2 << "A";
    QTest::newRow("Success at once") << 3 << "S" << 1 << "A";
    QTest::newRow("stopped by Fail") << 3 << "YYF" << 3 << "F";
    QTest::newRow("cancelled while waiting") << 3 << "Yc" << 1 << "C";
}

void TstOutbox::busyRetries()
{
    QFETCH(int, retries);
    QFETCH(QString, answers);
    QFETCH(int, writes);
    QFETCH(QString, state);
    TDispatchRig rig;
    rig.outbox.SetOptions({5000, retries, 10});
    const qint64 id = rig.outbox.Submit({'F', QStringLiteral("101"), QStringLiteral("1101"), {{}, {}, "Hi"}});
    QVERIFY(id > 0);
    const auto command = [&] { return *rig.outbox.Find(id); };
    for (const QChar answer : answers) {
        if (answer == QLatin1Char('c')) {
            QCOMPARE(command().state, TSentState::RetryWaiting);
            QVERIFY(rig.outbox.Cancel(id));
            continue;
        }
        QTRY_COMPARE(command().state, TSentState::Written);
        rig.Answer(answer == QLatin1Char('Y')   ? QStringLiteral("Busy")
                   : answer == QLatin1Char('S') ? QStringLiteral("Success")
                                                : QStringLiteral("Fail"));
    }
    // Longer than any pause: nothing more is written once the command has ended.
    QTest::qWait(60);
    QCOMPARE(QString(Code(command().state)), state);
    QCOMPARE(command().writes, writes);
    QCOMPARE(rig.frames.size(), writes);
    for (const QByteArray &frame : std::as_const(rig.frames))
        QCOMPARE(frame, QByteArray("\x02"
                                   "F1011101Hi\x03"));
    QCOMPARE(rig.outbox.PendingCount(), 0);
}

void TstOutbox::resendNeverAfterSuccess()
{
    TDispatchRig rig;
    const qint64 refused = rig.outbox.Submit(Request(1101));
    const qint64 accepted = rig.outbox.Submit(Request(1102));
    QVERIFY(!rig.outbox.Resend(refused)); // still waiting
    rig.Answer(QStringLiteral("Fail"));
    rig.Answer(QStringLiteral("Success"));
    QVERIFY(!rig.outbox.Resend(accepted));
    QVERIFY(!rig.outbox.Cancel(accepted));
    QVERIFY(rig.outbox.Resend(refused));
    QCOMPARE(rig.frames.size(), 3);
    QCOMPARE(rig.frames.last(), rig.frames.first());
    QCOMPARE(rig.outbox.Find(refused)->writes, 2);
    QCOMPARE(rig.outbox.Find(refused)->state, TSentState::Written);
    rig.Answer(QStringLiteral("Success"));
    QCOMPARE(rig.outbox.Find(refused)->state, TSentState::Accepted);
    QCOMPARE(rig.outbox.Commands().size(), size_t(2));
}

void TstOutbox::restartShowsPendingAsUnknown()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(PendingFileName);
    {
        TDispatchRig rig;
        QVERIFY(rig.outbox.OpenPendingFile(file).isEmpty());
        rig.outbox.Submit(Request(1101));
        rig.outbox.Submit({'G', "101", "1102", {{}, {}, QString(60, QLatin1Char('x'))}});
        rig.outbox.Submit(Request(1103));
        rig.Answer(QStringLiteral("Success"));
    } // the console ends with two commands unanswered
    TDispatchRig rig;
    QSignalSpy finished(&rig.outbox, &TOutbox::Finished);
    QVERIFY(rig.outbox.OpenPendingFile(file).isEmpty());
    QCOMPARE(Codes(rig.outbox), QStringLiteral("UU"));
    QCOMPARE(DescribeState(rig.outbox.Commands()[0]), QStringLiteral("unknown, not sent again"));
    QCOMPARE(rig.outbox.Commands()[0].kind, TrafficKind::LongMessage);
    QCOMPARE(rig.outbox.Commands()[1].ident, 1103);
    QCOMPARE(finished.count(), 2); // a history row each
    QVERIFY(rig.frames.isEmpty());
    QCOMPARE(rig.outbox.PendingCount(), 0);
    // Told once: a third start finds nothing.
    TDispatchRig third;
    QVERIFY(third.outbox.OpenPendingFile(file).isEmpty());
    QVERIFY(third.outbox.Commands().empty());
}

void TstOutbox::unreadablePendingFileIsSetAside()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(PendingFileName);
    QFile broken(file);
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("{\"pending\": [ {\"letter\": \"H\"");
    broken.close();
    TDispatchRig rig;
    const QString problem = rig.outbox.OpenPendingFile(file);
    QVERIFY2(problem.contains(QLatin1String("cannot be read")), qPrintable(problem));
    QFile aside(file + QLatin1String(".unreadable"));
    QVERIFY(aside.open(QIODevice::ReadOnly));
    QCOMPARE(aside.readAll(), QByteArray("{\"pending\": [ {\"letter\": \"H\""));
    // The outbox goes on with a list of its own.
    rig.outbox.Submit(Request(1101));
    QVERIFY(QFile::exists(file));
}

void TstOutbox::oldestFinishedGoFirst()
{
    TDispatchRig rig;
    TSentModel model(rig.outbox);
    const int extra = 5;
    for (int i = 0; i < TOutbox::KeptCommands + extra; ++i) {
        rig.outbox.Submit(Request(1000 + i % 4000));
        rig.Answer(QStringLiteral("Success"));
        rig.port.writes.clear();
    }
    // One more waits for its answer: the list makes room by the oldest finished.
    const qint64 waiting = rig.outbox.Submit(Request(1101));
    QCOMPARE(int(rig.outbox.Commands().size()), TOutbox::KeptCommands);
    QCOMPARE(rig.outbox.Commands().front().id, qint64(extra + 2));
    QCOMPARE(model.rowCount(), TOutbox::KeptCommands);
    QCOMPARE(model.IdAt(model.rowCount() - 1), waiting);
    QCOMPARE(model.index(model.rowCount() - 1, TSentModel::StateColumn).data().toString(),
             QStringLiteral("written, waiting for the radio"));
    rig.Answer(QStringLiteral("Fail"));
    QCOMPARE(rig.outbox.Find(waiting)->state, TSentState::Failed);
}

void TstOutbox::positionsCommandNamesItsOrigin()
{
    // A command the radio owner sent for a control-room position (the session
    // stamps the position on its event) lists that position in the Sent window.
    TDispatchRig rig;
    TTrafficEvent event;
    event.direction = TrafficDirection::Out;
    event.kind = TrafficKind::StatusRequest;
    event.fleet = 101;
    event.ident = 1101;
    event.position = QStringLiteral("desk2");
    rig.outbox.CommandWritten(event);
    QCOMPARE(rig.outbox.Commands().size(), std::size_t(1));
    QCOMPARE(rig.outbox.Commands().front().origin, QStringLiteral("desk2"));
}

QTEST_GUILESS_MAIN(TstOutbox)
#include "tst_outbox.moc"
