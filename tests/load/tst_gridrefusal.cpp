// A directory cell refused while a button of its editor is pressed, on the whole
// console with the real message boxes and modal loops.
#include "Application.h"
#include "ConsoleHarness.h"
#include "ConsoleMessageBox.h"
#include "Euser.h"
#include "Main.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTableView>
#include <QTest>
#include <QTimer>

class TstGridRefusal : public QObject {
    Q_OBJECT
private slots:
    void refusedCellThenButton();
    void refusedCellUnderLineLost();
    void lineLostUnderRefusal();
};

// A cell holding text its field refuses, left open, and a button of the
// editor pressed. The refusal's box takes the focus and the view closes the
// editor under it: one box, not a second one inside the first, and the cell
// opens again with the text.
void TstGridRefusal::refusedCellThenButton()
{
    TConsoleHarness console(0x0000, 1);
    QVERIFY2(console.Error().isEmpty(), qPrintable(console.Error()));
    InstallConsoleMessageBox();
    int step = 0, shown = 0, maxOpen = 0;
    QString reopenedText;
    QTimer hand;
    QObject::connect(&hand, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        int open = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox *>(w) && w->isVisible())
                ++open;
        maxOpen = std::max(maxOpen, open);
        if (step == 0 && modal == EUserForm) {
            step = 1;
            auto *grid = EUserForm->findChild<QTableView *>(QStringLiteral("DBGrid1"));
            grid->setFocus();
            grid->setCurrentIndex(grid->model()->index(0, 2));
            grid->edit(grid->currentIndex());
            QTest::keyClicks(grid->indexWidget(grid->currentIndex()), QStringLiteral("abc"));
            QTimer::singleShot(
                0, [] { EUserForm->findChild<QAbstractButton *>(QStringLiteral("ImportButton"))->click(); });
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            ++shown;
            QTimer::singleShot(0, box, [box] { box->button(QMessageBox::Ok)->click(); });
        } else if (step == 1 && modal == EUserForm && shown > 0) {
            step = 2;
            auto *grid = EUserForm->findChild<QTableView *>(QStringLiteral("DBGrid1"));
            if (auto *edit = qobject_cast<QLineEdit *>(grid->indexWidget(grid->currentIndex()))) {
                reopenedText = edit->text();
                QTest::keyClick(edit, Qt::Key_Escape);
            }
            QTimer::singleShot(0, EUserForm, [] { EUserForm->close(); });
        }
    });
    hand.start(20);
    MainForm->findChild<QAbstractButton *>(QStringLiteral("EUserBitBtn"))->click();
    hand.stop();
    QCOMPARE(maxOpen, 1);
    QCOMPARE(shown, 1);
    QCOMPARE(reopenedText, QStringLiteral("abc"));
}

// A cell holding text its field refuses, left open, when the line goes: the
// "Communication lost" box takes the focus and the view gives the cell up. The
// refusal waits until that box is gone instead of opening a second box on it.
void TstGridRefusal::refusedCellUnderLineLost()
{
    TConsoleHarness console(0x0000, 1);
    QVERIFY2(console.Error().isEmpty(), qPrintable(console.Error()));
    InstallConsoleMessageBox();
    bool typed = false, done = false;
    int maxOpen = 0;
    QStringList shown;
    QString reopenedText;
    QTimer hand;
    QObject::connect(&hand, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        int open = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox *>(w) && w->isVisible())
                ++open;
        maxOpen = std::max(maxOpen, open);
        auto *grid = EUserForm ? EUserForm->findChild<QTableView *>(QStringLiteral("DBGrid1")) : nullptr;
        if (!typed && modal == EUserForm) {
            typed = true;
            grid->setFocus();
            grid->setCurrentIndex(grid->model()->index(0, 2));
            grid->edit(grid->currentIndex());
            QTest::keyClicks(grid->indexWidget(grid->currentIndex()), QStringLiteral("abc"));
            console.Line(0).Close();
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            if (shown.isEmpty() || shown.back() != box->text()) {
                shown << box->text();
                // Held open a while: the refused cell's report must not come in it.
                QTimer::singleShot(400, box, [box] { box->button(QMessageBox::Ok)->click(); });
            }
        } else if (!done && modal == EUserForm && shown.size() == 2) {
            done = true;
            if (auto *edit = qobject_cast<QLineEdit *>(grid->indexWidget(grid->currentIndex()))) {
                reopenedText = edit->text();
                QTest::keyClick(edit, Qt::Key_Escape);
            }
            QTimer::singleShot(0, EUserForm, [] { EUserForm->close(); });
        }
    });
    hand.start(20);
    QTimer::singleShot(10000, [] {
        if (EUserForm)
            EUserForm->close();
    });
    MainForm->findChild<QAbstractButton *>(QStringLiteral("EUserBitBtn"))->click();
    hand.stop();
    QCOMPARE(maxOpen, 1);
    QCOMPARE(shown, QStringList({QStringLiteral("Communication lost: COM1 disconnected"),
                                 QStringLiteral("'abc' is not a valid integer value")}));
    QCOMPARE(reopenedText, QStringLiteral("abc"));
}

// The other way round: the refusal's box is open when the line goes. The
// "Communication lost" box waits for it instead of opening on top of it.
void TstGridRefusal::lineLostUnderRefusal()
{
    TConsoleHarness console(0x0000, 1);
    QVERIFY2(console.Error().isEmpty(), qPrintable(console.Error()));
    InstallConsoleMessageBox();
    bool typed = false, done = false;
    int maxOpen = 0;
    QStringList shown;
    QTimer hand;
    QObject::connect(&hand, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        int open = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox *>(w) && w->isVisible())
                ++open;
        maxOpen = std::max(maxOpen, open);
        auto *grid = EUserForm ? EUserForm->findChild<QTableView *>(QStringLiteral("DBGrid1")) : nullptr;
        if (!typed && modal == EUserForm) {
            typed = true;
            grid->setFocus();
            grid->setCurrentIndex(grid->model()->index(0, 2));
            grid->edit(grid->currentIndex());
            QTest::keyClicks(grid->indexWidget(grid->currentIndex()), QStringLiteral("abc"));
            QTest::keyClick(grid->indexWidget(grid->currentIndex()), Qt::Key_Return);
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            if (shown.isEmpty() || shown.back() != box->text()) {
                shown << box->text();
                if (shown.size() == 1)
                    console.Line(0).Close();
                // Held open a while: the line's report must not come in it.
                QTimer::singleShot(400, box, [box] { box->button(QMessageBox::Ok)->click(); });
            }
        } else if (!done && modal == EUserForm && shown.size() == 2) {
            done = true;
            if (auto *edit = qobject_cast<QLineEdit *>(grid->indexWidget(grid->currentIndex())))
                QTest::keyClick(edit, Qt::Key_Escape);
            QTimer::singleShot(0, EUserForm, [] { EUserForm->close(); });
        }
    });
    hand.start(20);
    QTimer::singleShot(10000, [] {
        if (EUserForm)
            EUserForm->close();
    });
    MainForm->findChild<QAbstractButton *>(QStringLiteral("EUserBitBtn"))->click();
    hand.stop();
    QCOMPARE(maxOpen, 1);
    QCOMPARE(shown, QStringList({QStringLiteral("'abc' is not a valid integer value"),
                                 QStringLiteral("Communication lost: COM1 disconnected")}));
}

int main(int argc, char *argv[])
{
    TApplication app(argc, argv);
    TstGridRefusal test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_gridrefusal.moc"
