#include "CommandQueue.h"

#include <QSignalSpy>
#include <QTest>

// The owner's queue of the positions' commands against the radio's answers, the
// session stood in for by a log of its outgoing events: the answers come in the
// order the commands were written, whoever wrote them.
class TestCommandQueue : public QObject {
    Q_OBJECT
private slots:
    void answersMatchedInWriteOrder_data();
    void answersMatchedInWriteOrder();
};

namespace {

TTrafficEvent Written()
{
    TTrafficEvent e;
    e.direction = TrafficDirection::Out;
    e.kind = TrafficKind::Call;
    return e;
}

TTrafficEvent Answer(const QString &word)
{
    TTrafficEvent e;
    e.direction = TrafficDirection::In;
    e.kind = TrafficKind::Acknowledgement;
    e.text = word;
    return e;
}

} // namespace

void TestCommandQueue::answersMatchedInWriteOrder_data()
{
    // Steps: "P" a position's command submitted (the queue writes it when the
    // radio is free), "O" the owner's operator writes one, "A<word>" the radio
    // answers, "W" the answer's time passes. Expected: the words the position's
    // commands got, and what happened in turn ("P" for the queue's writes).
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QString>("timeline");
    QTest::newRow("alone") << QStringList{"P", "ASuccess"} << QStringList{"Success"} << "PA";
    QTest::newRow("owner's command before it")
        << QStringList{"O", "P", "ABusy", "ASuccess"} << QStringList{"Success"} << "OAPA";
    QTest::newRow("owner's command after it")
        << QStringList{"P", "O", "AFail", "ASuccess"} << QStringList{"Fail"} << "POAA";
    QTest::newRow("two positions' commands, the owner's between")
        << QStringList{"P", "P", "O", "ASuccess", "ABusy", "AFail"} << QStringList{"Success", "Fail"}
        << "POAAPA";
    QTest::newRow("an answer to nothing")
        << QStringList{"ASuccess", "P", "AFail"} << QStringList{"Fail"} << "APA";
    QTest::newRow("owner's command never answered")
        << QStringList{"O", "P", "W", "ASuccess"} << QStringList{"Success"} << "OWPA";
}

void TestCommandQueue::answersMatchedInWriteOrder()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, answers);
    QFETCH(QString, timeline);
    QString happened;
    TCommandQueue *queuePtr = nullptr;
    TCommandQueue queue([&](const QString &, const TPositionCommand &) {
        happened += QLatin1Char('P');
        queuePtr->TrafficEvent(Written()); // the session tells of the write at once
        return QString();
    });
    queuePtr = &queue;
    QStringList got;
    connect(&queue, &TCommandQueue::Finished, this,
            [&](const QString &, const TPositionCommand &, const TCommandReply &reply) {
                QCOMPARE(reply.result, TCommandReply::TResult::Answered);
                got << reply.text;
            });
    for (const QString &step : steps) {
        if (step == QLatin1String("P")) {
            queue.Submit(QStringLiteral("desk1"), {});
        } else if (step == QLatin1String("O")) {
            happened += QLatin1Char('O');
            queue.TrafficEvent(Written());
        } else if (step == QLatin1String("W")) {
            happened += QLatin1Char('W');
            QTest::qWait(TCommandQueue::AnswerTimeout + 100);
        } else {
            happened += QLatin1Char('A');
            queue.TrafficEvent(Answer(step.mid(1)));
        }
        QCoreApplication::processEvents(); // the next command goes from the event loop
    }
    QCOMPARE(got, answers);
    QCOMPARE(happened, timeline);
}

QTEST_GUILESS_MAIN(TestCommandQueue)
#include "tst_commandqueue.moc"
