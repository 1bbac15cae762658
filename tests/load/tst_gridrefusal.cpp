// A directory cell refused while a button of its editor is pressed, on the whole
// console with the real message boxes and modal loops.
#include "Application.h"
#include "Console.h"
#include "ConsoleHarness.h"
#include "ConsoleMessageBox.h"
#include "Euser.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <functional>

class TstGridRefusal : public QObject {
    Q_OBJECT
private slots:
    void refusedCellThenButton();
    void boxesWaitForEachOther_data();
    void boxesWaitForEachOther();
};

namespace {

// The operator's hand: acts from a timer, so that it keeps working inside every
// modal loop, and counts the message boxes open at once.
class THand final {
public:
    int maxOpen = 0;

    explicit THand(std::function<void(QWidget *modal)> act)
    {
        QObject::connect(&timer_, &QTimer::timeout, [this, act] {
            int open = 0;
            for (QWidget *w : QApplication::topLevelWidgets())
                if (qobject_cast<QMessageBox *>(w) && w->isVisible())
                    ++open;
            maxOpen = std::max(maxOpen, open);
            act(QApplication::activeModalWidget());
        });
        timer_.start(20);
        // Whatever goes wrong, the Edit User window does not stay open for good.
        QTimer::singleShot(10000, &timer_, [] {
            if (EUserForm)
                EUserForm->close();
        });
    }

    // Opens Edit User with its button; returns once the window is closed.
    static void RunEditUser()
    {
        Console->Window()->findChild<QAbstractButton *>(QStringLiteral("EUserBitBtn"))->click();
    }

private:
    QTimer timer_;
};

QTableView *UserGrid()
{
    return EUserForm->findChild<QTableView *>(QStringLiteral("DBGrid1"));
}

// Types text the Fleet column refuses into the first row's cell, and leaves it open.
void TypeRefusedFleet(QTableView *grid)
{
    grid->setFocus();
    grid->setCurrentIndex(grid->model()->index(0, 2));
    grid->edit(grid->currentIndex());
    QTest::keyClicks(grid->indexWidget(grid->currentIndex()), QStringLiteral("abc"));
}

// The text of the cell open again after the refusal; the cell is then given up
// and the window closed.
QString TakeReopenedCell(QTableView *grid)
{
    QString text;
    if (auto *edit = qobject_cast<QLineEdit *>(grid->indexWidget(grid->currentIndex()))) {
        text = edit->text();
        QTest::keyClick(edit, Qt::Key_Escape);
    }
    QTimer::singleShot(0, EUserForm, [] { EUserForm->close(); });
    return text;
}

// Answers a box once, after holdMs: a box read for a while, the console going on.
void AnswerOnce(QMessageBox *box, QStringList &shown, int holdMs)
{
    if (box->property("answered").toBool())
        return;
    box->setProperty("answered", true);
    shown << box->text();
    QTimer::singleShot(holdMs, box, [box] { box->button(QMessageBox::Ok)->click(); });
}

} // namespace

// A cell holding text its field refuses, left open, and a button of the
// editor pressed. The refusal's box takes the focus and the view closes the
// editor under it: one box, not a second one inside the first, and the cell
// opens again with the text.
void TstGridRefusal::refusedCellThenButton()
{
    TConsoleHarness console(0x0000, 1);
    QVERIFY2(console.Error().isEmpty(), qPrintable(console.Error()));
    InstallConsoleMessageBox();
    int step = 0;
    QStringList shown;
    QString reopenedText;
    THand hand([&](QWidget *modal) {
        if (step == 0 && modal == EUserForm) {
            step = 1;
            TypeRefusedFleet(UserGrid());
            QTimer::singleShot(
                0, [] { EUserForm->findChild<QAbstractButton *>(QStringLiteral("ImportButton"))->click(); });
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            AnswerOnce(box, shown, 0);
        } else if (step == 1 && modal == EUserForm && !shown.isEmpty()) {
            step = 2;
            reopenedText = TakeReopenedCell(UserGrid());
        }
    });
    THand::RunEditUser();
    QCOMPARE(hand.maxOpen, 1);
    QCOMPARE(shown.size(), 1);
    QCOMPARE(reopenedText, QStringLiteral("abc"));
}

void TstGridRefusal::boxesWaitForEachOther_data()
{
    QTest::addColumn<bool>("refusalFirst");
    QTest::addColumn<QStringList>("expectShown");
    QTest::addColumn<QString>("expectReopened");
    // The cell left open when the line goes: the "Communication lost" box takes the
    // focus and the view gives the cell up; the refusal waits until that box is gone.
    QTest::newRow("line lost with the cell open")
        << false
        << QStringList({QStringLiteral("Communication lost: COM1 disconnected"),
                        QStringLiteral("'abc' is not a valid integer value")})
        << QStringLiteral("abc");
    // The refusal's box open when the line goes: "Communication lost" waits for it.
    QTest::newRow("line lost under the refusal")
        << true
        << QStringList({QStringLiteral("'abc' is not a valid integer value"),
                        QStringLiteral("Communication lost: COM1 disconnected")})
        << QString();
}

// Two boxes from two windows never stand one on the other: the second waits.
void TstGridRefusal::boxesWaitForEachOther()
{
    QFETCH(bool, refusalFirst);
    QFETCH(QStringList, expectShown);
    QFETCH(QString, expectReopened);
    TConsoleHarness console(0x0000, 1);
    QVERIFY2(console.Error().isEmpty(), qPrintable(console.Error()));
    InstallConsoleMessageBox();
    bool typed = false, done = false;
    QStringList shown;
    QString reopenedText;
    THand hand([&](QWidget *modal) {
        if (!typed && modal == EUserForm) {
            typed = true;
            TypeRefusedFleet(UserGrid());
            if (refusalFirst)
                QTest::keyClick(UserGrid()->indexWidget(UserGrid()->currentIndex()), Qt::Key_Return);
            else
                console.Line(0).Close();
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            if (refusalFirst && shown.isEmpty())
                console.Line(0).Close();
            // Held open a while: the other window's report must not come in it.
            AnswerOnce(box, shown, 400);
        } else if (!done && modal == EUserForm && shown.size() == 2) {
            done = true;
            reopenedText = TakeReopenedCell(UserGrid());
        }
    });
    THand::RunEditUser();
    QCOMPARE(hand.maxOpen, 1);
    QCOMPARE(shown, expectShown);
    if (!expectReopened.isEmpty())
        QCOMPARE(reopenedText, expectReopened);
}

int main(int argc, char *argv[])
{
    TApplication app(argc, argv);
    TstGridRefusal test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_gridrefusal.moc"
