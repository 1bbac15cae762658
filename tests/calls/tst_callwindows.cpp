#include "AccessibleNames.h"
#include "DBLookupComboBox.h"
#include "ErrorReport.h"
#include "Gps.h"
#include "Message.h"
#include "Recorders.h"
#include "Speech.h"
#include "Status.h"
#include "Table.h"
#include "TableFixture.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <memory>
#include <stdexcept>

namespace {

QByteArray Frame(const QByteArray &payload)
{
    return '\x02' + payload + '\x03';
}

// Chooses a name in a lookup list the way the operator does: open the list, move
// to the entry, press Enter; then waits for the close-up.
void PickInList(TDBLookupComboBox *list, const QString &text)
{
    QSignalSpy closeUp(list, &TDBLookupComboBox::CloseUp);
    list->showPopup();
    const int row = list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    QVERIFY2(row >= 0, qPrintable(text));
    list->view()->setCurrentIndex(list->model()->index(row, list->modelColumn()));
    QTest::keyClick(list->view(), Qt::Key_Return);
    QTRY_COMPARE(closeUp.count(), 1);
}

// Opens the list and closes it with Escape: nothing chosen, the close-up still runs.
void OpenAndDismiss(TDBLookupComboBox *list)
{
    QSignalSpy closeUp(list, &TDBLookupComboBox::CloseUp);
    list->showPopup();
    QTest::keyClick(list->view(), Qt::Key_Escape);
    QTRY_COMPARE(closeUp.count(), 1);
}

void Retype(QLineEdit *box, const QString &text)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, text);
}

// A window's controls, found by their fixed object names as the operator's tools
// find them; a window has only some of them, the others are null.
// ui(w)->SendBitBtn reads as it would on the window's own form.
class TControls {
public:
    explicit TControls(QWidget &w)
        : NameDBLookupComboBox(Find<TDBLookupComboBox>(w, "NameDBLookupComboBox")),
          StatusDBLookupComboBox(Find<TDBLookupComboBox>(w, "StatusDBLookupComboBox")),
          FleetDBEdit(Find<QLineEdit>(w, "FleetDBEdit")), IdentDBEdit(Find<QLineEdit>(w, "IdentDBEdit")),
          StatusDBEdit(Find<QLineEdit>(w, "StatusDBEdit")),
          MessageMemo(Find<QPlainTextEdit>(w, "MessageMemo")),
          ConnectBitBtn(Find<QToolButton>(w, "ConnectBitBtn")),
          DisconnectBitBtn(Find<QToolButton>(w, "DisconnectBitBtn")),
          SendBitBtn(Find<QToolButton>(w, "SendBitBtn")),
          RequestBitBtn(Find<QToolButton>(w, "RequestBitBtn")), NewBitBtn(Find<QToolButton>(w, "NewBitBtn")),
          GpsBitBtn(Find<QToolButton>(w, "GpsBitBtn")), BitBtn1(Find<QToolButton>(w, "BitBtn1")),
          BitBtn2(Find<QToolButton>(w, "BitBtn2")), CloseBitBtn(Find<QToolButton>(w, "CloseBitBtn"))
    {
    }
    const TControls *operator->() const { return this; }

    TDBLookupComboBox *NameDBLookupComboBox, *StatusDBLookupComboBox;
    QLineEdit *FleetDBEdit, *IdentDBEdit, *StatusDBEdit;
    QPlainTextEdit *MessageMemo;
    QToolButton *ConnectBitBtn, *DisconnectBitBtn, *SendBitBtn, *RequestBitBtn, *NewBitBtn, *GpsBitBtn,
        *BitBtn1, *BitBtn2, *CloseBitBtn;

private:
    template <typename T> static T *Find(QWidget &w, const char *name)
    {
        return w.findChild<T *>(QLatin1String(name));
    }
};

TControls ui(QWidget &w)
{
    return TControls(w);
}

// Clicks the button; what its handler throws, reported at the window's edge,
// comes out here again as an exception.
void ClickRethrowingErrors(QAbstractButton *button)
{
    QString reported;
    const ErrorReportRoutine previous =
        SetErrorReportRoutine([&reported](const QString &message) { reported = message; });
    button->click();
    SetErrorReportRoutine(previous);
    if (!reported.isNull())
        throw std::runtime_error(reported.toStdString());
}

} // namespace

class TstCallWindows : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> tmp;
    QString oldDir;
    std::unique_ptr<TRecordingPort> port;
    std::unique_ptr<TRecordingLog> log;
    std::unique_ptr<TBoxRecorder> boxes;
    std::unique_ptr<TTable> mainUsers; // the main window's shared user table
    TCommandContext context;

    QDir dir() const { return QDir(tmp->path()); }
    void OpenMainTable()
    {
        mainUsers.reset(TTable::OpenUserTable(QStringLiteral("User.DB")));
        context.users = mainUsers.get();
    }

private slots:
    void init();
    void cleanup();

    // every window
    void windowsNeedTheirTables_data();
    void windowsNeedTheirTables();
    void controlsAreNamedAndPictured();

    // voice call window
    void speechSendsToFirstRowAfterStartUp_data();
    void speechSendsToFirstRowAfterStartUp();
    void speechOtherIsTypedAndSent();
    void speechUnlockIsExactName_data();
    void speechUnlockIsExactName();
    void speechCloseUpWithoutChoiceKeepsTypedValues();
    void speechBoxesTakeIntegerCharactersOnly_data();
    void speechBoxesTakeIntegerCharactersOnly();
    void speechEmptyBoxRaisesConversionError();
    void speechCloseHidesAndKeepsChoice();
    void speechListKeepsRowsWhenDirectoryIsGone();

    // status call window
    void statusStartsOnDefault_data();
    void statusStartsOnDefault();
    void statusSendsPickedStatus();
    void statusRequestIgnoresStatus();
    void statusListShowsEditedDirectory();

    // message call window
    void messageCaptionAndColour_data();
    void messageCaptionAndColour();
    void messageSendPicksCommand_data();
    void messageSendPicksCommand();
    void messageNewClears();

    // position window
    void gpsButtonsSendNothing();

    // every window, stations from the directory
    void storedStationShownWholeAndRefused_data();
    void storedStationShownWholeAndRefused();
    void messageTextPassesUnchanged();
};

void TstCallWindows::init()
{
    tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp->isValid());
    CopySample(QStringLiteral("User.DB"), dir());
    CopySample(QStringLiteral("Status.db"), dir());
    oldDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(tmp->path()));
    port = std::make_unique<TRecordingPort>();
    log = std::make_unique<TRecordingLog>();
    boxes = std::make_unique<TBoxRecorder>();
    context = {};
    context.port = port.get();
    context.log = log.get();
    context.clock = [] { return QStringLiteral("14:05:09"); };
    OpenMainTable();
}

void TstCallWindows::cleanup()
{
    mainUsers.reset();
    boxes.reset();
    QDir::setCurrent(oldDir);
    tmp.reset();
}

void TstCallWindows::windowsNeedTheirTables_data()
{
    QTest::addColumn<QString>("missing");
    QTest::addColumn<int>("window");
    QTest::newRow("voice, no users") << "User.DB" << 0;
    QTest::newRow("status, no users") << "User.DB" << 1;
    QTest::newRow("status, no statuses") << "Status.db" << 1;
    QTest::newRow("message, no users") << "User.DB" << 2;
    QTest::newRow("position, no users") << "User.DB" << 3;
}

void TstCallWindows::windowsNeedTheirTables()
{
    QFETCH(QString, missing);
    QFETCH(int, window);
    mainUsers.reset();
    QVERIFY(QFile::remove(dir().filePath(missing)));
    try {
        switch (window) {
        case 0:
            TSpeechForm{context};
            break;
        case 1:
            TStatusForm{context};
            break;
        case 2:
            TMessageForm{context};
            break;
        default:
            TGpsForm{};
        }
        QFAIL("the window was created without its table");
    } catch (const ETableError &e) {
        QVERIFY2(QString::fromUtf8(e.what()).contains(missing), e.what());
    }
}

void TstCallWindows::controlsAreNamedAndPictured()
{
    TSpeechForm speech(context);
    TStatusForm status(context);
    TMessageForm message(context);
    TGpsForm gps;
    const QList<std::pair<QWidget *, QString>> windows{
        {&speech, "Voice Call"}, {&status, "Status Call"}, {&message, "Message Call"}, {&gps, "GpsForm"}};
    for (const auto &[window, title] : windows) {
        QCOMPARE(window->windowTitle(), title);
        const auto buttons = window->findChildren<QToolButton *>();
        QVERIFY(buttons.size() >= 3);
        for (const QToolButton *button : buttons) {
            QVERIFY2(!button->icon().isNull(), qPrintable(button->objectName()));
            QCOMPARE(button->size(), QSize(65, 57));
        }
        const QString faults = AccessibleNameFaults(window);
        QVERIFY2(faults.isEmpty(), qPrintable(faults));
    }
    QCOMPARE(speech.size(), QSize(231, 150));
    QCOMPARE(speech.minimumSize(), speech.maximumSize());
    QCOMPARE(status.size(), QSize(245, 191));
    QCOMPARE(gps.size(), QSize(295, 137));
    QCOMPARE(message.size(), QSize(457, 264));
    QVERIFY(message.maximumWidth() > 457);
    QCOMPARE(ui(message)->MessageMemo->accessibleName(), QStringLiteral("Message text"));
    QCOMPARE(ui(status)->StatusDBEdit->accessibleName(), QStringLiteral("Status number"));
    QCOMPARE(ui(speech)->ConnectBitBtn->text(), QStringLiteral("&Connect"));
}

void TstCallWindows::speechSendsToFirstRowAfterStartUp_data()
{
    QTest::addColumn<bool>("connect");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("entry");
    QTest::newRow("connect") << true << Frame("B1001000") << "14:05:09 TX: Connect To Base";
    QTest::newRow("disconnect") << false << Frame("D1001000") << "14:05:09 TX: Disconnect To Base";
}

void TstCallWindows::speechSendsToFirstRowAfterStartUp()
{
    QFETCH(bool, connect);
    QFETCH(QByteArray, frame);
    QFETCH(QString, entry);
    TSpeechForm w(context);
    QCOMPARE(ui(w)->NameDBLookupComboBox->currentIndex(), -1);
    QCOMPARE(ui(w)->NameDBLookupComboBox->currentText(), QString());
    QCOMPARE(ui(w)->FleetDBEdit->text(), QStringLiteral("100"));
    QCOMPARE(ui(w)->IdentDBEdit->text(), QStringLiteral("1000"));
    QVERIFY(ui(w)->FleetDBEdit->isReadOnly());
    QVERIFY(ui(w)->IdentDBEdit->isReadOnly());
    QTest::mouseClick(connect ? ui(w)->ConnectBitBtn : ui(w)->DisconnectBitBtn, Qt::LeftButton);
    QCOMPARE(port->Joined(), frame);
    QCOMPARE(log->entries, QStringList{entry});
}

void TstCallWindows::speechOtherIsTypedAndSent()
{
    TSpeechForm w(context);
    auto *names = ui(w)->NameDBLookupComboBox;
    PickInList(names, QStringLiteral("Other"));
    QVERIFY(!ui(w)->FleetDBEdit->isReadOnly());
    QVERIFY(!ui(w)->IdentDBEdit->isReadOnly());
    QCOMPARE(ui(w)->FleetDBEdit->text(), QStringLiteral("0"));
    Retype(ui(w)->FleetDBEdit, QStringLiteral("205"));
    Retype(ui(w)->IdentDBEdit, QStringLiteral("1234"));
    QTest::mouseClick(ui(w)->ConnectBitBtn, Qt::LeftButton);
    QCOMPARE(port->Joined(), Frame("B2051234"));
    QCOMPARE(log->entries, QStringList{"14:05:09 TX: Connect To 205-1234"});

    // The typed station is not stored into the "Other" row.
    {
        TTable fresh(QStringLiteral("User.DB"), UserTableDef());
        QVERIFY(fresh.Locate(QStringLiteral("Name"), {QStringLiteral("Other")}));
        QCOMPARE(fresh.FieldAsText(QStringLiteral("Fleet")), QStringLiteral("0"));
        QCOMPARE(fresh.FieldAsText(QStringLiteral("Ident")), QStringLiteral("0"));
    }

    // The name lookup appended 205-1234 through the main window's table: the list
    // shows it the next time it opens, and the choice stays.
    QCOMPARE(names->count(), 6);
    PickInList(names, QStringLiteral("205-1234"));
    QCOMPARE(names->count(), 7);
    QCOMPARE(ui(w)->FleetDBEdit->text(), QStringLiteral("205"));
    QVERIFY(ui(w)->FleetDBEdit->isReadOnly());

    PickInList(names, QStringLiteral("Car 2"));
    QVERIFY(ui(w)->FleetDBEdit->isReadOnly());
    QVERIFY(ui(w)->IdentDBEdit->isReadOnly());
    QCOMPARE(ui(w)->FleetDBEdit->text(), QStringLiteral("101"));
    QCOMPARE(ui(w)->IdentDBEdit->text(), QStringLiteral("1102"));
}

void TstCallWindows::speechUnlockIsExactName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("editable");
    QTest::newRow("Other") << "Other" << true;
    QTest::newRow("lower case") << "other" << false;
    QTest::newRow("trailing blank") << "Other " << false;
    QTest::newRow("another station") << "Base" << false;
}

void TstCallWindows::speechUnlockIsExactName()
{
    QFETCH(QString, name);
    QFETCH(bool, editable);
    mainUsers.reset();
    MakeUserFile(dir(), {"'Base', 100, 1000", "'other', 0, 0", "'Other ', 0, 0", "'Other', 0, 0"});
    OpenMainTable();
    TSpeechForm w(context);
    PickInList(ui(w)->NameDBLookupComboBox, name);
    QCOMPARE(!ui(w)->FleetDBEdit->isReadOnly(), editable);
    QCOMPARE(!ui(w)->IdentDBEdit->isReadOnly(), editable);
}

void TstCallWindows::speechCloseUpWithoutChoiceKeepsTypedValues()
{
    TSpeechForm w(context);
    PickInList(ui(w)->NameDBLookupComboBox, QStringLiteral("Other"));
    Retype(ui(w)->FleetDBEdit, QStringLiteral("300"));
    OpenAndDismiss(ui(w)->NameDBLookupComboBox);
    QCOMPARE(ui(w)->NameDBLookupComboBox->currentText(), QStringLiteral("Other"));
    QVERIFY(!ui(w)->FleetDBEdit->isReadOnly());
    QCOMPARE(ui(w)->FleetDBEdit->text(), QStringLiteral("300"));

    // With nothing chosen the close-up locks the boxes (the shown name is empty).
    TSpeechForm fresh(context);
    OpenAndDismiss(ui(fresh)->NameDBLookupComboBox);
    QCOMPARE(ui(fresh)->NameDBLookupComboBox->currentIndex(), -1);
    QVERIFY(ui(fresh)->FleetDBEdit->isReadOnly());
}

void TstCallWindows::speechBoxesTakeIntegerCharactersOnly_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("fleet");
    QTest::addColumn<QString>("ident");
    QTest::newRow("digits") << "205"
                            << "205"
                            << "205";
    QTest::newRow("letters dropped") << "2a0b5"
                                     << "205"
                                     << "205";
    QTest::newRow("sign kept") << "+12"
                               << "+12"
                               << "+12";
    QTest::newRow("length limit") << "1234567"
                                  << "123"
                                  << "1234";
    QTest::newRow("blank and dot dropped") << " 1.2"
                                           << "12"
                                           << "12";
}

void TstCallWindows::speechBoxesTakeIntegerCharactersOnly()
{
    QFETCH(QString, typed);
    QFETCH(QString, fleet);
    QFETCH(QString, ident);
    TSpeechForm w(context);
    PickInList(ui(w)->NameDBLookupComboBox, QStringLiteral("Other"));
    Retype(ui(w)->FleetDBEdit, typed);
    Retype(ui(w)->IdentDBEdit, typed);
    QCOMPARE(ui(w)->FleetDBEdit->text(), fleet);
    QCOMPARE(ui(w)->IdentDBEdit->text(), ident);
}

void TstCallWindows::speechEmptyBoxRaisesConversionError()
{
    TSpeechForm w(context);
    PickInList(ui(w)->NameDBLookupComboBox, QStringLiteral("Other"));
    Retype(ui(w)->FleetDBEdit, QString());
    // The application's error handler shows it; nothing goes out.
    QVERIFY_THROWS_EXCEPTION(std::exception, ClickRethrowingErrors(ui(w)->ConnectBitBtn));
    QVERIFY(port->writes.isEmpty());
    QVERIFY(log->entries.isEmpty());
}

void TstCallWindows::speechCloseHidesAndKeepsChoice()
{
    auto *w = new TSpeechForm(context);
    QPointer<TSpeechForm> alive(w);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    PickInList(ui(*w)->NameDBLookupComboBox, QStringLiteral("Other"));
    QTest::mouseClick(ui(*w)->BitBtn1, Qt::LeftButton);
    QVERIFY(!w->isVisible());
    w->show();
    w->close(); // the close box
    QVERIFY(alive);
    w->show();
    QCOMPARE(ui(*w)->NameDBLookupComboBox->currentText(), QStringLiteral("Other"));
    QVERIFY(!ui(*w)->FleetDBEdit->isReadOnly());
    delete w;
}

void TstCallWindows::speechListKeepsRowsWhenDirectoryIsGone()
{
    TSpeechForm w(context);
    PickInList(ui(w)->NameDBLookupComboBox, QStringLiteral("Car 1"));
    QVERIFY(QFile::remove(dir().filePath(QStringLiteral("User.DB"))));
    // Re-reading fails: the operator is told, and the list keeps the rows it had.
    OpenAndDismiss(ui(w)->NameDBLookupComboBox);
    QCOMPARE(boxes->boxes.size(), 1);
    QVERIFY2(boxes->boxes.at(0).text.contains(QStringLiteral("User.DB")),
             qPrintable(boxes->boxes.at(0).text));
    QCOMPARE(ui(w)->NameDBLookupComboBox->count(), 6);
    QCOMPARE(ui(w)->NameDBLookupComboBox->currentText(), QStringLiteral("Car 1"));
    QCOMPARE(ui(w)->FleetDBEdit->text(), QStringLiteral("101"));
}

void TstCallWindows::statusStartsOnDefault_data()
{
    QTest::addColumn<QStringList>("statuses");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("sample table") << QStringList() << Frame("E100100010");
    QTest::newRow("capital letters, not first")
        << QStringList{"5, 'Go'", "7, 'DEFAULT'"} << Frame("E10010007");
    QTest::newRow("no default: first row") << QStringList{"5, 'Go'", "7, 'Stop'"} << Frame("E10010005");
    QTest::newRow("empty table: no number") << QStringList{""} << Frame("E1001000");
}

void TstCallWindows::statusStartsOnDefault()
{
    QFETCH(QStringList, statuses);
    QFETCH(QByteArray, frame);
    if (!statuses.isEmpty()) {
        statuses.removeAll(QString());
        MakeStatusFile(dir(), statuses);
    }
    TStatusForm w(context);
    QCOMPARE(ui(w)->StatusDBLookupComboBox->currentIndex(), -1);
    QCOMPARE(ui(w)->StatusDBLookupComboBox->currentText(), QString());
    QVERIFY(ui(w)->StatusDBEdit->isReadOnly());
    QTest::mouseClick(ui(w)->SendBitBtn, Qt::LeftButton);
    QCOMPARE(port->Joined(), frame);
    QCOMPARE(log->entries.size(), 1);
    // No status picked yet: the quoted status text is empty.
    QVERIFY2(log->entries.at(0).endsWith(QStringLiteral(" to Base\r\n\t\"\"")),
             qPrintable(log->entries.at(0)));
}

void TstCallWindows::statusSendsPickedStatus()
{
    MakeStatusFile(dir(), {"10, 'Default'", "12, 'Arrived'", "12, 'Arrived late'"});
    TStatusForm w(context);
    PickInList(ui(w)->StatusDBLookupComboBox, QStringLiteral("Arrived"));
    QCOMPARE(ui(w)->StatusDBEdit->text(), QStringLiteral("12"));
    QTest::mouseClick(ui(w)->SendBitBtn, Qt::LeftButton);
    QCOMPARE(port->Joined(), Frame("E100100012"));
    QCOMPARE(log->entries, QStringList{"14:05:09 TX: Status:12 to Base\r\n\t\"Arrived\""});
}

void TstCallWindows::statusRequestIgnoresStatus()
{
    TStatusForm w(context);
    PickInList(ui(w)->StatusDBLookupComboBox, QStringLiteral("Emergency"));
    QTest::mouseClick(ui(w)->RequestBitBtn, Qt::LeftButton);
    QCOMPARE(port->Joined(), Frame("H1001000"));
    QCOMPARE(log->entries, QStringList{"14:05:09 TX: Status Request to Base"});
}

void TstCallWindows::statusListShowsEditedDirectory()
{
    TStatusForm w(context);
    auto *list = ui(w)->StatusDBLookupComboBox;
    const int before = list->count();
    {
        // What the Edit Status window does through the main window's instance.
        TTable editor(QStringLiteral("Status.db"), StatusTableDef());
        editor.Append();
        editor.SetFieldText(QStringLiteral("No."), QStringLiteral("50"));
        editor.SetFieldText(QStringLiteral("Text"), QStringLiteral("Refuelling"));
        editor.Post();
        QVERIFY(editor.Locate(QStringLiteral("Text"), {QStringLiteral("Default")}));
        editor.SetFieldText(QStringLiteral("Text"), QStringLiteral("Standby"));
        editor.Post();
    }
    QCOMPARE(list->count(), before);
    PickInList(list, QStringLiteral("Refuelling"));
    QCOMPARE(list->count(), before + 1);
    QCOMPARE(ui(w)->StatusDBEdit->text(), QStringLiteral("50"));
    QCOMPARE(list->findText(QStringLiteral("Default")), -1);
    QVERIFY(list->findText(QStringLiteral("Standby")) >= 0);
}

void TstCallWindows::messageCaptionAndColour_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("n");
    QTest::addColumn<QColor>("colour");
    const QString a48(48, QLatin1Char('a'));
    QTest::newRow("48") << a48 << 48 << QColor(Qt::black);
    QTest::newRow("49") << QString(49, 'a') << 49 << QColor(0, 0, 255);
    QTest::newRow("1024") << QString(1024, 'a') << 1024 << QColor(0, 0, 255);
    QTest::newRow("1025") << QString(1025, 'a') << 1025 << QColor(255, 0, 0);
    QTest::newRow("48 and three line breaks") << a48 + "\n\n\n" << 48 << QColor(Qt::black);
    QTest::newRow("48 and blanks and tabs") << a48 + " \t " << 48 << QColor(Qt::black);
    QTest::newRow("line break counts two")
        << QString(23, 'a') + "\n" + QString(24, 'a') << 49 << QColor(0, 0, 255);
    QTest::newRow("leading blanks count") << "   " + QString(46, 'a') << 49 << QColor(0, 0, 255);
}

void TstCallWindows::messageCaptionAndColour()
{
    QFETCH(QString, text);
    QFETCH(int, n);
    QFETCH(QColor, colour);
    TMessageForm w(context);
    QCOMPARE(w.windowTitle(), QStringLiteral("Message Call"));
    ui(w)->MessageMemo->setPlainText(text);
    QCOMPARE(w.windowTitle(), QStringLiteral("Message Call (%1)").arg(n));
    QCOMPARE(ui(w)->MessageMemo->palette().color(QPalette::Active, QPalette::Text), colour);
    // Typing goes the same way.
    ui(w)->MessageMemo->moveCursor(QTextCursor::Start);
    QTest::keyClick(ui(w)->MessageMemo, Qt::Key_X);
    QCOMPARE(w.windowTitle(), QStringLiteral("Message Call (%1)").arg(n + 1));
}

void TstCallWindows::messageSendPicksCommand_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("frame");
    const QString a48(48, QLatin1Char('a'));
    QTest::newRow("empty") << QString() << Frame("F1001000");
    QTest::newRow("48 is short") << a48 << Frame("F1001000" + a48.toLatin1());
    QTest::newRow("48 and three line breaks") << a48 + "\n\n\n" << Frame("F1001000" + a48.toLatin1());
    QTest::newRow("49 is long") << QString(49, 'b') << Frame("G1001000" + QByteArray(49, 'b'));
    QTest::newRow("4000 is long") << QString(4000, 'c') << Frame("G1001000" + QByteArray(4000, 'c'));
    QTest::newRow("4001 is not sent") << QString(4001, 'd') << QByteArray();
    QTest::newRow("lines go with CR LF") << "Hi\nAll" << Frame("F1001000Hi\r\nAll");
}

void TstCallWindows::messageSendPicksCommand()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, frame);
    TMessageForm w(context);
    ui(w)->MessageMemo->setPlainText(text);
    QTest::mouseClick(ui(w)->SendBitBtn, Qt::LeftButton);
    QCOMPARE(port->Joined(), frame);
    QCOMPARE(log->entries.size(), frame.isEmpty() ? 0 : 1);
    QCOMPARE(ui(w)->MessageMemo->toPlainText(), text);
    QVERIFY(boxes->boxes.isEmpty());
}

void TstCallWindows::messageNewClears()
{
    TMessageForm w(context);
    QTest::mouseClick(ui(w)->NewBitBtn, Qt::LeftButton);
    QCOMPARE(w.windowTitle(), QStringLiteral("Message Call (0)"));
    ui(w)->MessageMemo->setPlainText(QString(2000, 'x'));
    QCOMPARE(ui(w)->MessageMemo->palette().color(QPalette::Text), QColor(255, 0, 0));
    QTest::mouseClick(ui(w)->NewBitBtn, Qt::LeftButton);
    QCOMPARE(ui(w)->MessageMemo->toPlainText(), QString());
    QCOMPARE(w.windowTitle(), QStringLiteral("Message Call (0)"));
    QCOMPARE(ui(w)->MessageMemo->palette().color(QPalette::Text), QColor(Qt::black));
}

void TstCallWindows::gpsButtonsSendNothing()
{
    TGpsForm w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    PickInList(ui(w)->NameDBLookupComboBox, QStringLiteral("Other"));
    QVERIFY(ui(w)->FleetDBEdit->isReadOnly());
    QVERIFY(ui(w)->IdentDBEdit->isReadOnly());
    QCOMPARE(ui(w)->FleetDBEdit->text(), QStringLiteral("0"));
    for (QToolButton *button : {ui(w)->GpsBitBtn, ui(w)->BitBtn1, ui(w)->BitBtn2})
        QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(w.isVisible());
    QVERIFY(port->writes.isEmpty());
    QVERIFY(log->entries.isEmpty());
    QVERIFY(boxes->boxes.isEmpty());
    QTest::mouseClick(ui(w)->CloseBitBtn, Qt::LeftButton);
    QVERIFY(!w.isVisible());
}

// The directory may hold any 16-bit Fleet and Ident. The boxes show a stored
// value whole, so that the check on sending refuses it; cut to 3 and 4 digits it
// would address another radio.
void TstCallWindows::storedStationShownWholeAndRefused_data()
{
    QTest::addColumn<int>("window"); // 0 voice, 1 status, 2 message
    QTest::addColumn<QString>("fleet");
    QTest::addColumn<QString>("ident");
    QTest::addColumn<QString>("warning");
    const QString identWarning = QStringLiteral("Use the number 0 or from 1000 to 4999 as the Ident.");
    const QString fleetWarning = QStringLiteral("Use the number 0 or from 100 to 349 as the Fleet.");
    const char *names[] = {"voice", "status", "message"};
    for (int w = 0; w < 3; ++w) {
        QTest::addRow("%s, Ident 12345", names[w]) << w << "100"
                                                   << "12345" << identWarning;
        QTest::addRow("%s, Fleet 1000", names[w]) << w << "1000"
                                                  << "1000" << fleetWarning;
        QTest::addRow("%s, Fleet 32767", names[w]) << w << "32767"
                                                   << "1102" << fleetWarning;
    }
}

void TstCallWindows::storedStationShownWholeAndRefused()
{
    QFETCH(int, window);
    QFETCH(QString, fleet);
    QFETCH(QString, ident);
    QFETCH(QString, warning);
    mainUsers->Append();
    mainUsers->SetFieldText(QStringLiteral("Name"), QStringLiteral("Wide"));
    mainUsers->SetFieldText(QStringLiteral("Fleet"), fleet);
    mainUsers->SetFieldText(QStringLiteral("Ident"), ident);
    mainUsers->Post();

    TSpeechForm speech(context);
    TStatusForm status(context);
    TMessageForm message(context);
    TDBLookupComboBox *names[] = {ui(speech)->NameDBLookupComboBox, ui(status)->NameDBLookupComboBox,
                                  ui(message)->NameDBLookupComboBox};
    QLineEdit *fleets[] = {ui(speech)->FleetDBEdit, ui(status)->FleetDBEdit, ui(message)->FleetDBEdit};
    QLineEdit *idents[] = {ui(speech)->IdentDBEdit, ui(status)->IdentDBEdit, ui(message)->IdentDBEdit};
    QAbstractButton *send[] = {ui(speech)->ConnectBitBtn, ui(status)->SendBitBtn, ui(message)->SendBitBtn};
    PickInList(names[window], QStringLiteral("Wide"));
    QCOMPARE(fleets[window]->text(), fleet);
    QCOMPARE(idents[window]->text(), ident);
    if (window == 2)
        ui(message)->MessageMemo->setPlainText(QStringLiteral("Hello"));
    QTest::mouseClick(send[window], Qt::LeftButton);
    QCOMPARE(boxes->boxes.size(), 1);
    QCOMPARE(boxes->boxes.at(0).text, warning);
    QCOMPARE(boxes->boxes.at(0).caption, QStringLiteral("Warning"));
    QVERIFY(port->writes.isEmpty());
    QVERIFY(log->entries.isEmpty());

    // Typed by the operator for "Other", the limit of 3 and 4 characters holds.
    PickInList(names[window], QStringLiteral("Other"));
    Retype(fleets[window], QStringLiteral("12345"));
    Retype(idents[window], QStringLiteral("123456"));
    QCOMPARE(fleets[window]->text(), QStringLiteral("123"));
    QCOMPARE(idents[window]->text(), QStringLiteral("1234"));
}

// A no-break space and a line separator are characters of the message, not a
// blank and a line break; only the memo's own line breaks become CR LF.
void TstCallWindows::messageTextPassesUnchanged()
{
    TMessageForm w(context);
    ui(w)->MessageMemo->setPlainText(QStringLiteral("a\u00A0b\nc"));
    QTest::mouseClick(ui(w)->SendBitBtn, Qt::LeftButton);
    QCOMPARE(port->Joined(), Frame("F1001000a\xA0"
                                   "b\r\nc"));
    port->writes.clear();

    ui(w)->MessageMemo->clear();
    ui(w)->MessageMemo->insertPlainText(QStringLiteral("x\u2028y"));
    QCOMPARE(ui(w)->MessageMemo->blockCount(), 1);
    QTest::mouseClick(ui(w)->SendBitBtn, Qt::LeftButton);
    // The code page has no line separator: it goes as '?', not as CR LF.
    QCOMPARE(port->Joined(), Frame("F1001000x?y"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Message Call (3)"));
}

QTEST_MAIN(TstCallWindows)
#include "tst_callwindows.moc"
