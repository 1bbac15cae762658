#include "Application.h"
#include "Console.h"
#include "ConsoleFiles.h"
#include "ConsoleFixture.h"
#include "DispatchFiles.h"
#include "GroupSend.h"
#include "HistoryQuery.h"
#include "ListFileWindow.h"
#include "Main.h"
#include "Message.h"
#include "Outbox.h"
#include "Preferences.h"
#include "SendToGroup.h"
#include "SentWindow.h"
#include "Status.h"
#include "TrafficHub.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <memory>

// The dispatch through the console's own windows, the radio on a
// pseudo-terminal that answers Busy, Fail and nothing: a canned message to a
// group from the keyboard, each station's result, the Sent window and its
// Resend, the history's outcome rows, and a restart with a command unanswered.
class TstConsoleDispatch : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cannedMessageToGroupFromTheKeyboard();
    void resendFromTheSentWindow();
    void restartShowsTheUnansweredAsUnknown();
    void groupsEditedInTheirWindow();
    void cannedMessageIntoTheMessageWindow();

private:
    // The next whole frame the console writes (without STX and ETX), waiting
    // up to waitMs; empty when none came.
    QByteArray NextFrame(int waitMs = 5000)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < waitMs) {
            const qsizetype end = pending_.indexOf('\x03');
            if (end >= 0) {
                const QByteArray frame = pending_.left(end + 1);
                pending_.remove(0, end + 1);
                return frame.mid(1, frame.size() - 2);
            }
            pending_ += dir_->Received(1, 20);
            QCoreApplication::processEvents();
        }
        return {};
    }
    void Answer(char code) { QVERIFY(dir_->Send(1, Frame(QByteArray(1, code)))); }
    static QStringList Outcomes()
    {
        Console->Hub().FlushHistory();
        THistoryQuery query(HistoryFileName);
        QStringList outcomes;
        const QList<THistoryRow> rows = query.Page({}, std::nullopt, 1000);
        for (auto it = rows.crbegin(); it != rows.crend(); ++it)
            if (it->event.kind == TrafficKind::CommandOutcome)
                outcomes << it->event.name + QLatin1String(": ") + it->event.text;
        return outcomes;
    }

    std::unique_ptr<TConsoleDir> dir_;
    QByteArray pending_;
};

void TstConsoleDispatch::initTestCase()
{
    dir_ = std::make_unique<TConsoleDir>();
    QVERIFY(dir_->Prepare("COM=1\r\nPOPUP=0\r\n", {1}));
    QVERIFY(
        dir_->WriteFile(GroupsFileName, "[Shift B]\n101-1101\n102-1203\n100-1000\n101-1101\n[All cars]\n"));
    QVERIFY(
        dir_->WriteFile(CannedFileName, "[Hello]\nHello {name}\n[Back]\nBack to base\n[Odd]\nsee {nme}\n"));
    QVERIFY(dir_->WriteFile(PreferencesFileName,
                            "[Dispatch]\nBusyRetries=1\nBusyPauseSeconds=1\nAnswerTimeoutSeconds=1\n"));
    CreateConsoleWindows();
    QVERIFY(Console);
    Console->Window()->show();
    QApplication::setActiveWindow(Console->Window());
    QVERIFY(QTest::qWaitForWindowActive(Console->Window()));
}

void TstConsoleDispatch::cleanupTestCase()
{
    dir_.reset();
}

void TstConsoleDispatch::cannedMessageToGroupFromTheKeyboard()
{
    // Three keys from the main window: Ctrl+1 (canned message 1 to a group), S
    // (the group), Enter.
    QTest::keyClick(Console->Window(), Qt::Key_1, Qt::ControlModifier);
    QTRY_VERIFY(SendToGroupForm->isVisible());
    QApplication::setActiveWindow(SendToGroupForm);
    auto *group = SendToGroupForm->findChild<QComboBox *>(QStringLiteral("GroupComboBox"));
    QTRY_COMPARE(QApplication::focusWidget(), group);
    QTest::keyClick(group, Qt::Key_S);
    QCOMPARE(group->currentText(), QStringLiteral("Shift B"));
    QTest::keyClick(group, Qt::Key_Return);
    QVERIFY(SendToGroupForm->Sending());

    // 101-1101 Car 1: Busy, written again after the pause, then Fail.
    QCOMPARE(NextFrame(), QByteArray("F1011101Hello Car 1"));
    Answer('2');
    QCOMPARE(NextFrame(), QByteArray("F1011101Hello Car 1"));
    Answer('1');
    // 102-1203 Truck 3: nothing; the next goes once its time is up.
    QCOMPARE(NextFrame(), QByteArray("F1021203Hello Truck 3"));
    QCOMPARE(Console->Window()->findChild<QLabel *>(QStringLiteral("PendingPanel"))->text(),
             QStringLiteral("Pending 1"));
    // 100-1000 Base: Success.
    QCOMPARE(NextFrame(), QByteArray("F1001000Hello Base"));
    Answer('0');
    QTRY_VERIFY(SendToGroupForm->Sending()->Done());
    QCOMPARE(NextFrame(300), QByteArray()); // the station listed twice went once

    auto *results = SendToGroupForm->findChild<QTableWidget *>(QStringLiteral("ResultGrid"));
    QCOMPARE(results->rowCount(), 3);
    QCOMPARE(results->item(0, 1)->text(), QStringLiteral("failed (Fail)"));
    QCOMPARE(results->item(1, 1)->text(), QStringLiteral("no answer: none within 1 s"));
    QCOMPARE(results->item(2, 1)->text(), QStringLiteral("accepted by the radio"));
    QCOMPARE(Console->Window()->findChild<QLabel *>(QStringLiteral("PendingPanel"))->text(),
             QStringLiteral("Pending 0"));
    QCOMPARE(Outcomes(), QStringList({"Car 1: short message: failed (Fail) (written 2 times)",
                                      "Truck 3: short message: no answer: none within 1 s",
                                      "Base: short message: accepted by the radio"}));
    QTest::keyClick(SendToGroupForm, Qt::Key_Escape);
    QVERIFY(!SendToGroupForm->isVisible());
}

void TstConsoleDispatch::resendFromTheSentWindow()
{
    QApplication::setActiveWindow(Console->Window());
    QVERIFY(QTest::qWaitForWindowActive(Console->Window()));
    QTest::keyClick(Console->Window(), Qt::Key_E, Qt::ControlModifier);
    QTRY_VERIFY(SentForm->isVisible());
    QCOMPARE(SentForm->Model().rowCount(), 3);
    auto *grid = SentForm->findChild<QTableView *>(QStringLiteral("SentGrid"));
    QCOMPARE(grid->model()->index(0, TSentModel::StateColumn).data().toString(),
             QStringLiteral("failed (Fail) (written 2 times)"));
    // The keyboard is on the newest row, accepted: never written again. Home
    // (Ctrl+Home) goes to the failed one, which Alt+R writes again.
    QApplication::setActiveWindow(SentForm);
    QTRY_COMPARE(QApplication::focusWidget(), grid);
    auto *resend = SentForm->findChild<QAbstractButton *>(QStringLiteral("ResendBitBtn"));
    QCOMPARE(grid->currentIndex().row(), 2);
    QVERIFY(!resend->isEnabled());
    QTest::keyClick(grid, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(grid->currentIndex().row(), 0);
    QVERIFY(resend->isEnabled());
    QTest::keyClick(grid, Qt::Key_R, Qt::AltModifier);
    QCOMPARE(NextFrame(), QByteArray("F1011101Hello Car 1"));
    Answer('0');
    QTRY_COMPARE(grid->model()->index(0, TSentModel::StateColumn).data().toString(),
                 QStringLiteral("accepted by the radio (written 3 times)"));
    QCOMPARE(SentForm->Model().rowCount(), 3);
    // An answer nobody waits for changes nothing.
    Answer('1');
    QTRY_COMPARE(Console->Outbox().UnmatchedAnswers(), 1);
    QCOMPARE(grid->model()->index(0, TSentModel::StateColumn).data().toString(),
             QStringLiteral("accepted by the radio (written 3 times)"));
    SentForm->close();
}

void TstConsoleDispatch::restartShowsTheUnansweredAsUnknown()
{
    // A status request from the Status window; the radio says nothing, and the
    // console ends before the time-out.
    StatusForm->findChild<QAbstractButton *>(QStringLiteral("RequestBitBtn"))->click();
    QVERIFY(NextFrame().startsWith('H'));
    QCOMPARE(Console->Outbox().PendingCount(), 1);
    DeleteConsoleWindows();
    CreateConsoleWindows();
    QVERIFY(Console);
    QCOMPARE(SentForm->Model().rowCount(), 1);
    QCOMPARE(SentForm->Model().index(0, TSentModel::StateColumn).data().toString(),
             QStringLiteral("unknown, not sent again"));
    QCOMPARE(SentForm->Model().index(0, TSentModel::KindColumn).data().toString(),
             QStringLiteral("status request"));
    QCOMPARE(NextFrame(1500), QByteArray());
    QVERIFY(Outcomes().last().endsWith(QLatin1String("status request: unknown, not sent again")));
}

void TstConsoleDispatch::groupsEditedInTheirWindow()
{
    const QByteArray before = dir_->ReadFile(GroupsFileName);
    Console->Window()->show();
    QApplication::setActiveWindow(Console->Window());
    QVERIFY(QTest::qWaitForWindowActive(Console->Window()));
    QTest::keyClick(Console->Window(), Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_VERIFY(GroupsForm->isVisible());
    auto *memo = GroupsForm->findChild<QPlainTextEdit *>(QStringLiteral("TextMemo"));
    QCOMPARE(memo->toPlainText().toUtf8(), before);
    QTRY_COMPARE(QApplication::focusWidget(), memo);
    // A fleet out of range: refused with its line, the file as it was.
    memo->moveCursor(QTextCursor::End);
    QTest::keyClicks(memo, "[Night]");
    QTest::keyClick(memo, Qt::Key_Return);
    QTest::keyClicks(memo, "99-1101");
    QTest::keyClick(memo, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(GroupsForm->Problem(),
             QStringLiteral("Not saved, line 8: Fleet 99 is not 0 or from 100 to 349"));
    QCOMPARE(dir_->ReadFile(GroupsFileName), before);
    // Esc with the change unsaved asks first; Cancel keeps the window.
    dir_->answers = {MsgAnswer::Cancel};
    QTest::keyClick(memo, Qt::Key_Escape);
    QCOMPARE(dir_->boxes.size(), 1);
    QVERIFY(GroupsForm->isVisible());
    // Mended and saved: Send to Group offers the new group at once.
    for (int i = 0; i < 7; ++i)
        QTest::keyClick(memo, Qt::Key_Backspace);
    QTest::keyClicks(memo, "102-1203");
    QTest::keyClick(memo, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(GroupsForm->Problem(), QStringLiteral("Saved."));
    QCOMPARE(dir_->ReadFile(GroupsFileName), before + "[Night]\n102-1203\n");
    auto *group = SendToGroupForm->findChild<QComboBox *>(QStringLiteral("GroupComboBox"));
    QVERIFY(group->findText(QStringLiteral("Night")) >= 0);
    QTest::keyClick(memo, Qt::Key_Escape);
    QVERIFY(!GroupsForm->isVisible());
    QCOMPARE(dir_->boxes.size(), 1); // nothing unsaved: no question
}

void TstConsoleDispatch::cannedMessageIntoTheMessageWindow()
{
    MessageForm->show();
    QApplication::setActiveWindow(MessageForm);
    QVERIFY(QTest::qWaitForWindowActive(MessageForm));
    auto *memo = MessageForm->findChild<QPlainTextEdit *>(QStringLiteral("MessageMemo"));
    memo->setFocus();
    memo->setPlainText(QStringLiteral("Note: "));
    memo->moveCursor(QTextCursor::End);
    // Filled for the window's station (the directory's first row, Base 100-1000).
    QTest::keyClick(memo, Qt::Key_1, Qt::ControlModifier);
    QCOMPARE(memo->toPlainText(), QStringLiteral("Note: Hello Base"));
    QCOMPARE(MessageForm->windowTitle(), QStringLiteral("Message Call (16)"));
    // A field that does not exist: refused with the reason, the text as it was.
    const int boxes = int(dir_->boxes.size());
    QTest::keyClick(memo, Qt::Key_3, Qt::ControlModifier);
    QCOMPARE(dir_->boxes.size(), boxes + 1);
    QVERIFY2(dir_->boxes.last().text.contains(QLatin1String("{nme} is not a field")),
             qPrintable(dir_->boxes.last().text));
    QCOMPARE(memo->toPlainText(), QStringLiteral("Note: Hello Base"));
    MessageForm->close();
}

int main(int argc, char *argv[])
{
    TApplication app(argc, argv);
    TApplication::setQuitOnLastWindowClosed(false);
    TstConsoleDispatch test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_consoledispatch.moc"
