#include "AlarmList.h"
#include "BoxRecorder.h"
#include "EmergenciesWindow.h"
#include "HistoryFixture.h"
#include "HistoryModel.h"
#include "HistoryWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QScrollBar>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

class TestHistoryWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void firstPageThenMore();
    void filteredFromTheWindow_data();
    void filteredFromTheWindow();
    void filtersApplyAsYouType_data();
    void filtersApplyAsYouType();
    void datesTypedAreTakenOrRefused_data();
    void datesTypedAreTakenOrRefused();
    void datePresets_data();
    void datePresets();
    void newRowsAtTheTopOrCounted();
    void selectedRowShowsWholeMessage();
    void exportMatchesCommandLine();
    void exportToFullDiskKeepsTheOldFile();
    void exportRunsBesideTheEventLoop();
    void copiesSelectedRows();
    void missingFileSaysSo();
    void emergenciesWindowAcknowledges();
    void alarmModelFollowsTheList();

private:
    QString Path() const { return dir_.filePath(QStringLiteral("history.db")); }
    QTemporaryDir dir_;
};

void TestHistoryWindow::initTestCase()
{
    TFailures failures;
    THistoryStore store(Path(), failures.Sink());
    const QDateTime t0(QDate(2026, 12, 1), QTime(8, 0), Qt::UTC);
    for (int i = 0; i < 450; ++i) {
        const bool named = i % 3 != 0;
        TTrafficEvent e =
            MakeEvent(i % 2 ? TrafficKind::ShortMessage : TrafficKind::Call, 101, 1100 + i % 3,
                      named ? QStringLiteral("Car %1").arg(i % 3) : QStringLiteral("101-1100"),
                      t0.addSecs(60 * i), QStringLiteral("message %1\r\nsecond line, \"quoted\"").arg(i));
        store.TrafficEvent(e);
    }
    QVERIFY(store.Flush(10s));
}

void TestHistoryWindow::firstPageThenMore()
{
    THistoryForm form(Path());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    THistoryModel *model = form.Model();
    // Only the first page is read; the newest row is on top.
    QCOMPARE(model->rowCount(), THistoryModel::PageSize);
    QVERIFY(model->Row(0).event.text.startsWith(QLatin1String("message 449")));
    auto *grid = form.findChild<QTableView *>(QStringLiteral("HistoryGrid"));
    grid->scrollToBottom();
    QTRY_VERIFY(model->rowCount() > THistoryModel::PageSize);
    while (model->canFetchMore({}))
        model->fetchMore({});
    QCOMPARE(model->rowCount(), 450);
    QVERIFY(model->Row(449).event.text.startsWith(QLatin1String("message 0")));
}

void TestHistoryWindow::filteredFromTheWindow_data()
{
    QTest::addColumn<QString>("station");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("rows");
    QTest::newRow("name") << "Car 1"
                          << "any"
                          << "" << 150;
    QTest::newRow("unnamed by number") << "101-1100"
                                       << "any"
                                       << "" << 150;
    QTest::newRow("kind") << ""
                          << "short message"
                          << "" << 225;
    QTest::newRow("text") << ""
                          << "any"
                          << "message 44" << 11;
    QTest::newRow("all three") << "Car 2"
                               << "call"
                               << "message 4" << 9;
}

void TestHistoryWindow::filteredFromTheWindow()
{
    QFETCH(QString, station);
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(int, rows);
    THistoryForm form(Path());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.findChild<QLineEdit *>(QStringLiteral("StationEdit"))->setText(station);
    auto *kinds = form.findChild<QComboBox *>(QStringLiteral("KindComboBox"));
    kinds->setCurrentIndex(kinds->findText(kind));
    QVERIFY(kinds->currentIndex() >= 0);
    QTest::keyClicks(form.findChild<QLineEdit *>(QStringLiteral("TextEdit")), text);
    QTest::keyClick(form.findChild<QLineEdit *>(QStringLiteral("TextEdit")), Qt::Key_Return);
    THistoryModel *model = form.Model();
    while (model->canFetchMore({}))
        model->fetchMore({});
    QCOMPARE(model->rowCount(), rows);
    for (int r = 0; r < model->rowCount(); ++r) {
        const TTrafficEvent &e = model->Row(r).event;
        if (!station.isEmpty())
            QVERIFY(THistoryModel::StationOf(e).contains(station));
        QVERIFY(e.text.contains(text));
    }
}

void TestHistoryWindow::filtersApplyAsYouType_data()
{
    QTest::addColumn<QString>("control");
    QTest::newRow("station typed") << "StationEdit";
    QTest::newRow("text typed") << "TextEdit";
    QTest::newRow("kind chosen") << "KindComboBox";
    QTest::newRow("from date ticked") << "FromCheckBox";
    QTest::newRow("until date changed") << "UntilDateEdit";
}

void TestHistoryWindow::filtersApplyAsYouType()
{
    QFETCH(QString, control);
    THistoryForm form(Path());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const THistoryFilter before = form.Model()->Filter();
    QWidget *widget = form.findChild<QWidget *>(control);
    QVERIFY(widget);
    if (control == QLatin1String("UntilDateEdit")) {
        form.findChild<QAbstractButton *>(QStringLiteral("UntilCheckBox"))->click();
        QTest::mouseClick(widget, Qt::LeftButton);
        QTest::keyClicks(widget, QStringLiteral("2026-12-05 12:00"));
    } else if (auto *edit = qobject_cast<QLineEdit *>(widget))
        QTest::keyClicks(edit, QStringLiteral("car"));
    else if (auto *combo = qobject_cast<QComboBox *>(widget))
        combo->setCurrentIndex(2);
    else if (auto *box = qobject_cast<QAbstractButton *>(widget))
        box->click();
    const auto applied = [&] {
        const THistoryFilter shown = form.Model()->Filter();
        const THistoryFilter wanted = form.CurrentFilter();
        return shown.station == wanted.station && shown.text == wanted.text && shown.kind == wanted.kind &&
               shown.since == wanted.since && shown.until == wanted.until;
    };
    // Not on every key: after a pause, and then without Return or Find.
    QVERIFY(!applied());
    QTRY_VERIFY_WITH_TIMEOUT(applied(), 3000);
}

void TestHistoryWindow::datesTypedAreTakenOrRefused_data()
{
    // What the operator types into From and Until (empty: that date not ticked),
    // then the filter applied, or the words that refuse it.
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("until");
    QTest::addColumn<QDateTime>("since");
    QTest::addColumn<QDateTime>("before");
    QTest::addColumn<QString>("refusal");
    const auto at = [](int month, int day, int hour) {
        return QDateTime(QDate(2026, month, day), QTime(hour, 0));
    };
    QTest::newRow("whole date typed over the old one") << "2026-12-08 00:00"
                                                       << "" << at(12, 8, 0) << QDateTime() << "";
    QTest::newRow("invalid day") << "2026-02-30 10:00"
                                 << "" << QDateTime() << QDateTime()
                                 << "From \"2026-02-30 10:00\" is not a date and time as yyyy-MM-dd HH:mm";
    QTest::newRow("From after Until")
        << "2026-12-09 00:00"
        << "2026-12-08 00:00" << QDateTime() << QDateTime() << "From is later than Until";
    QTest::newRow("valid change") << "2026-12-01 08:00"
                                  << "2026-12-01 09:00" << at(12, 1, 8) << at(12, 1, 9) << "";
}

void TestHistoryWindow::datesTypedAreTakenOrRefused()
{
    QFETCH(QString, from);
    QFETCH(QString, until);
    QFETCH(QDateTime, since);
    QFETCH(QDateTime, before);
    QFETCH(QString, refusal);
    THistoryForm form(Path());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto *label = form.findChild<QLabel *>(QStringLiteral("RowsLabel"));
    const THistoryFilter shown = form.Model()->Filter();
    // As an operator does it: tick the date, click into the date shown, type a whole one.
    const auto type = [&](const char *box, const char *field, const QString &text) {
        if (text.isEmpty())
            return;
        form.findChild<QAbstractButton *>(QLatin1String(box))->click();
        QWidget *edit = form.findChild<QWidget *>(QLatin1String(field));
        QVERIFY(edit && edit->isEnabled());
        QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(edit->width() / 3, edit->height() / 2));
        QTest::keyClicks(edit, text);
    };
    type("FromCheckBox", "FromDateEdit", from);
    type("UntilCheckBox", "UntilDateEdit", until);
    auto *fromField = form.findChild<QWidget *>(QStringLiteral("FromDateEdit"));
    if (refusal.isEmpty()) {
        // Applied after the pause, exactly as typed.
        QTRY_COMPARE_WITH_TIMEOUT(form.Model()->Filter().since, since, 3000);
        QCOMPARE(form.Model()->Filter().until, before);
        QVERIFY2(label->text().endsWith(QLatin1String("entries")) ||
                     label->text().endsWith(QLatin1String("more below")),
                 qPrintable(label->text()));
        QVERIFY(fromField->styleSheet().isEmpty());
    } else {
        // Said beside the table and on the field; the table keeps the filter it had.
        QTRY_COMPARE_WITH_TIMEOUT(label->text(), refusal, 3000);
        QVERIFY(!fromField->styleSheet().isEmpty());
        QCOMPARE(fromField->toolTip(), refusal);
        QCOMPARE(form.Model()->Filter().since, shown.since);
        QCOMPARE(form.Model()->Filter().until, shown.until);
        // Find does not apply it either.
        form.findChild<QAbstractButton *>(QStringLiteral("FindBitBtn"))->click();
        QCOMPARE(label->text(), refusal);
        QCOMPARE(form.Model()->Filter().since, shown.since);
    }
}

void TestHistoryWindow::datePresets_data()
{
    QTest::addColumn<int>("preset");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QDateTime>("from");
    QTest::addColumn<QDateTime>("until");
    const auto at = [](int day, int hour, int minute = 0) {
        return QDateTime(QDate(2026, 12, day), QTime(hour, minute));
    };
    using P = THistoryForm::TDatePreset;
    QTest::newRow("any time") << int(P::AnyTime) << at(9, 10) << QDateTime() << QDateTime();
    QTest::newRow("today") << int(P::Today) << at(9, 10) << at(9, 0) << at(10, 0);
    QTest::newRow("yesterday") << int(P::Yesterday) << at(9, 0) << at(8, 0) << at(9, 0);
    QTest::newRow("last 7 days") << int(P::Last7Days) << at(9, 23, 59) << at(3, 0) << at(10, 0);
    QTest::newRow("night shift after midnight") << int(P::ThisShift) << at(9, 5, 59) << at(8, 22) << at(9, 6);
    QTest::newRow("early shift") << int(P::ThisShift) << at(9, 6) << at(9, 6) << at(9, 14);
    QTest::newRow("late shift") << int(P::ThisShift) << at(9, 21, 59) << at(9, 14) << at(9, 22);
    QTest::newRow("night shift before midnight") << int(P::ThisShift) << at(9, 22) << at(9, 22) << at(10, 6);
}

void TestHistoryWindow::datePresets()
{
    QFETCH(int, preset);
    QFETCH(QDateTime, now);
    QFETCH(QDateTime, from);
    QFETCH(QDateTime, until);
    const auto range = THistoryForm::PresetRange(THistoryForm::TDatePreset(preset), now);
    QCOMPARE(range.first, from);
    QCOMPARE(range.second, until);
}

void TestHistoryWindow::newRowsAtTheTopOrCounted()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.db"));
    TFailures failures;
    THistoryStore store(path, failures.Sink());
    const auto write = [&](int from, int count) {
        for (int i = from; i < from + count; ++i)
            store.TrafficEvent(
                MakeEvent(TrafficKind::Call, 101, 1101, "Car 1", {}, QStringLiteral("n%1").arg(i)));
        return store.Flush(5s);
    };
    QVERIFY(write(0, 300));
    THistoryForm form(path);
    form.resize(900, 400);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    THistoryModel *model = form.Model();
    QCOMPARE(model->Row(0).event.text, QStringLiteral("n299"));
    // At the top: they come in above, without Find.
    QVERIFY(write(300, 5));
    QTRY_COMPARE_WITH_TIMEOUT(model->Row(0).event.text, QStringLiteral("n304"), 5000);
    QCOMPARE(model->Row(5).event.text, QStringLiteral("n299"));
    // Further down: counted in a bar, shown on request.
    auto *grid = form.findChild<QTableView *>(QStringLiteral("HistoryGrid"));
    auto *bar = form.findChild<QAbstractButton *>(QStringLiteral("NewRowsBitBtn"));
    grid->verticalScrollBar()->setValue(grid->verticalScrollBar()->maximum());
    QVERIFY(grid->verticalScrollBar()->value() > 0);
    QVERIFY(write(305, 3));
    QTRY_VERIFY_WITH_TIMEOUT(bar->isVisible(), 5000);
    QVERIFY2(bar->text().startsWith(QLatin1String("3 new")), qPrintable(bar->text()));
    QVERIFY(model->Row(0).event.text != QStringLiteral("n307"));
    bar->click();
    QCOMPARE(model->Row(0).event.text, QStringLiteral("n307"));
    QCOMPARE(grid->verticalScrollBar()->value(), 0);
    QVERIFY(!bar->isVisible());
}

void TestHistoryWindow::selectedRowShowsWholeMessage()
{
    THistoryForm form(Path());
    bool asked = false;
    int askedFleet = 0, askedIdent = 0;
    form.SetNameStation([&](int fleet, int ident) {
        asked = true;
        askedFleet = fleet;
        askedIdent = ident;
    });
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto *grid = form.findChild<QTableView *>(QStringLiteral("HistoryGrid"));
    auto *memo = form.findChild<QPlainTextEdit *>(QStringLiteral("MessageMemo"));
    auto *name = form.findChild<QAbstractButton *>(QStringLiteral("NameStationBitBtn"));
    grid->selectRow(1); // message 448, from Car 1: named
    QCOMPARE(memo->toPlainText(), QStringLiteral("message 448\nsecond line, \"quoted\""));
    QVERIFY(!name->isEnabled());
    QCOMPARE(form.Model()->index(1, THistoryModel::StationColumn).data().toString(),
             QStringLiteral("Car 1 (101-1101)"));
    grid->selectRow(2); // message 447, from 101-1100: no name yet
    QCOMPARE(form.Model()->index(2, THistoryModel::StationColumn).data().toString(),
             QStringLiteral("101-1100"));
    QCOMPARE(form.Model()->index(2, THistoryModel::TextColumn).data().toString(),
             QStringLiteral("message 447 second line, \"quoted\""));
    QVERIFY(name->isEnabled());
    name->click();
    QVERIFY(asked);
    QCOMPARE(askedFleet, 101);
    QCOMPARE(askedIdent, 1100);
}

void TestHistoryWindow::exportMatchesCommandLine()
{
    THistoryForm form(Path());
    const QString windowCsv = dir_.filePath(QStringLiteral("window.csv"));
    form.SetFileChooser([&] { return windowCsv; });
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.findChild<QLineEdit *>(QStringLiteral("StationEdit"))->setText(QStringLiteral("car"));
    auto *kinds = form.findChild<QComboBox *>(QStringLiteral("KindComboBox"));
    kinds->setCurrentIndex(kinds->findText(QStringLiteral("short message")));
    // Export takes the filter as shown, without Find being pressed.
    form.findChild<QAbstractButton *>(QStringLiteral("ExportBitBtn"))->click();
    QTRY_VERIFY(!form.Exporting());
    QVERIFY(QFile::exists(windowCsv));

    const QString toolCsv = dir_.filePath(QStringLiteral("tool.csv"));
    QProcess tool;
    tool.start(QStringLiteral(CORVALINK_HISTORY_TOOL), {"export", "--history", Path(), "--station", "car",
                                                        "--kind", "short message", "--csv", toolCsv});
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitCode(), 0);
    QFile a(windowCsv), b(toolCsv);
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    const QByteArray fromWindow = a.readAll();
    QCOMPARE(fromWindow, b.readAll());
    // The header, and 150 messages of Car 1 and Car 2 (odd rows), each with a line break inside.
    QCOMPARE(fromWindow.count("\r\n"), 1 + 2 * 150);
}

void TestHistoryWindow::exportToFullDiskKeepsTheOldFile()
{
    TSmallDisk disk(dir_.filePath(QStringLiteral("small")));
    if (!disk.Mounted())
        QSKIP("mounting a tmpfs is not permitted here");
    const QString out = disk.FilePath(QStringLiteral("old.csv"));
    {
        QFile old(out);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old contents\r\n");
    }
    QVERIFY(disk.Fill(0));
    TBoxRecorder boxes;
    THistoryForm form(Path());
    form.SetFileChooser([&] { return out; });
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // A station's few rows: small enough to sit in the file's buffer until the end.
    form.findChild<QLineEdit *>(QStringLiteral("StationEdit"))->setText(QStringLiteral("101-1101"));
    form.findChild<QAbstractButton *>(QStringLiteral("ExportBitBtn"))->click();
    QTRY_COMPARE(boxes.boxes.size(), 1);
    QVERIFY2(boxes.boxes[0].text.contains(out) && boxes.boxes[0].text.contains("No space left on device"),
             qPrintable(boxes.boxes[0].text));
    const QString label = form.findChild<QLabel *>(QStringLiteral("RowsLabel"))->text();
    QVERIFY2(!label.contains(QLatin1String("exported")), qPrintable(label));
    QFile old(out);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old contents\r\n"));
}

void TestHistoryWindow::exportRunsBesideTheEventLoop()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.db"));
    {
        TFailures failures;
        THistoryOptions options;
        options.maxBatch = 20000;
        THistoryStore store(path, failures.Sink(), options);
        const QDateTime t0(QDate(2026, 12, 1), QTime(8, 0), Qt::UTC);
        for (int i = 0; i < 100000; ++i)
            store.TrafficEvent(MakeEvent(TrafficKind::ShortMessage, 101, 1100 + i % 7, QStringLiteral("Car"),
                                         t0.addSecs(i), QStringLiteral("message number %1").arg(i)));
        QVERIFY(store.Flush(60s));
    }
    const QString out = dir.filePath(QStringLiteral("out.csv"));
    THistoryForm form(path);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto *bar = form.findChild<QProgressBar *>(QStringLiteral("ExportProgressBar"));
    auto *label = form.findChild<QLabel *>(QStringLiteral("RowsLabel"));
    QList<int> progress;
    connect(bar, &QProgressBar::valueChanged, this, [&](int value) { progress << value; });

    // The event loop keeps turning while the rows are written.
    QElapsedTimer whole, gap;
    qint64 longestGap = 0;
    QTimer tick;
    connect(&tick, &QTimer::timeout, this, [&] { longestGap = std::max(longestGap, gap.restart()); });
    tick.start(2);
    whole.start();
    gap.start();
    QVERIFY(form.ExportTo(out));
    QVERIFY(bar->isVisible());
    QVERIFY(!form.ExportTo(out)); // one at a time
    QTRY_VERIFY_WITH_TIMEOUT(!form.Exporting(), 60000);
    tick.stop();
    QVERIFY2(label->text() == QStringLiteral("100000 entries exported to %1").arg(out),
             qPrintable(label->text()));
    QVERIFY(!bar->isVisible());
    qInfo("export %lld ms, longest pause of the event loop %lld ms", whole.elapsed(), longestGap);
    QVERIFY2(longestGap < whole.elapsed() / 3, qPrintable(QString::number(longestGap)));
    QVERIFY(progress.size() >= 2 && progress.last() == 1000);
    QVERIFY(std::is_sorted(progress.begin(), progress.end()));

    // Cancelled: the file from before stays.
    QFile old(out);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old\r\n");
    old.close();
    QVERIFY(form.ExportTo(out));
    form.findChild<QAbstractButton *>(QStringLiteral("CancelExportBitBtn"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(!form.Exporting(), 60000);
    QVERIFY2(label->text().startsWith(QLatin1String("Export cancelled")), qPrintable(label->text()));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old\r\n"));
    QCOMPARE(QDir(dir.path()).entryList({"out.csv*"}, QDir::Files), (QStringList{"out.csv"}));
}

void TestHistoryWindow::copiesSelectedRows()
{
    THistoryForm form(Path());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto *grid = form.findChild<QTableView *>(QStringLiteral("HistoryGrid"));
    grid->selectRow(0);
    grid->selectionModel()->select(form.Model()->index(3, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    form.findChild<QAbstractButton *>(QStringLiteral("CopyBitBtn"))->click();
    const QString copied = QGuiApplication::clipboard()->text();
    const QStringList records = copied.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    // Header and two records, each of which spans two lines inside its quotes.
    QVERIFY(records[0].startsWith(QLatin1String("time,direction,kind")));
    QVERIFY(copied.contains(QLatin1String("\"message 449\r\nsecond line, \"\"quoted\"\"\"")));
    QVERIFY(copied.contains(QLatin1String("\"message 446\r\n")));
    QVERIFY(!copied.contains(QLatin1String("message 448")));
}

void TestHistoryWindow::missingFileSaysSo()
{
    THistoryForm form(dir_.filePath(QStringLiteral("none.db")));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.Model()->rowCount(), 0);
    const QString label = form.findChild<QLabel *>(QStringLiteral("RowsLabel"))->text();
    QVERIFY2(label.contains(QLatin1String("none.db")), qPrintable(label));
    QVERIFY(!QFile::exists(dir_.filePath(QStringLiteral("none.db"))));
}

void TestHistoryWindow::emergenciesWindowAcknowledges()
{
    TAlarmList alarms;
    TTrafficEvent e = MakeEvent(TrafficKind::Status, 101, 1102, QStringLiteral("Car 2"));
    e.status = 95;
    e.statusText = QStringLiteral("Emergency");
    e.statusKnown = true;
    const qint64 first = alarms.Raise(e);
    e.name = QStringLiteral("Truck");
    e.ident = 2000;
    const qint64 second = alarms.Raise(e);
    TEmergenciesForm form(alarms, [&](qint64 id) { alarms.Acknowledge(id); });
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto *grid = form.findChild<QTableWidget *>(QStringLiteral("AlarmGrid"));
    auto *ack = form.findChild<QAbstractButton *>(QStringLiteral("AcknowledgeBitBtn"));
    QCOMPARE(grid->rowCount(), 2);
    QCOMPARE(grid->item(0, TEmergenciesForm::StationColumn)->text(), QStringLiteral("Car 2 (101-1102)"));
    QCOMPARE(grid->item(1, TEmergenciesForm::StatusColumn)->text(), QStringLiteral("95 Emergency"));
    QVERIFY(!ack->isEnabled());
    grid->selectRow(1);
    QVERIFY(ack->isEnabled());
    ack->click();
    QVERIFY(alarms.Find(first)->IsOpen());
    QVERIFY(!alarms.Find(second)->IsOpen());
    // Open ones first, then the acknowledged with their time.
    QCOMPARE(form.AlarmIdAt(0), first);
    QCOMPARE(form.AlarmIdAt(1), second);
    QVERIFY(grid->item(1, TEmergenciesForm::AcknowledgedColumn)->text() != QStringLiteral("open"));
    QCOMPARE(grid->item(0, TEmergenciesForm::AcknowledgedColumn)->text(), QStringLiteral("open"));
    form.findChild<QAbstractButton *>(QStringLiteral("MuteBitBtn"))->click();
    QVERIFY(alarms.Muted());
    QVERIFY(!alarms.SoundWanted());
}

QTEST_MAIN(TestHistoryWindow)
// The model changes the one row an alarm is in; a hidden window makes no text.
void TestHistoryWindow::alarmModelFollowsTheList()
{
    TAlarmList alarms;
    TTrafficEvent e = MakeEvent(TrafficKind::Status, 101, 1102, QStringLiteral("Car 2"));
    e.status = 95;
    e.statusText = QStringLiteral("Emergency");
    e.statusKnown = true;
    TEmergenciesForm form(alarms, [&](qint64 id) { alarms.Acknowledge(id); });
    const TAlarmTableModel &model = form.Model();
    QList<int> inserted;
    int changedRow = -1;
    int moves = 0;
    connect(&model, &QAbstractItemModel::rowsInserted, &form,
            [&](const QModelIndex &, int first, int) { inserted << first; });
    connect(&model, &QAbstractItemModel::dataChanged, &form,
            [&](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                changedRow = topLeft.row() == bottomRight.row() ? topLeft.row() : -2;
            });
    connect(&model, &QAbstractItemModel::rowsMoved, &form, [&] { ++moves; });
    const qint64 first = alarms.Raise(e);
    e.ident = 2000;
    const qint64 second = alarms.Raise(e);
    alarms.Raise(e); // a repeat folds into the second
    QCOMPARE(inserted, QList<int>({0, 1}));
    QCOMPARE(changedRow, 1);
    QCOMPARE(model.rowCount(), 2);
    // Hidden, nothing has been formatted.
    QCOMPARE(model.FormatCount(), 0);
    QVERIFY(model.index(1, TAlarmTableModel::StatusColumn)
                .data()
                .toString()
                .startsWith(QLatin1String("95 Emergency (2 times, last ")));
    alarms.Acknowledge(first, QStringLiteral("popup"));
    QCOMPARE(moves, 1);
    QCOMPARE(changedRow, 1);
    QCOMPARE(model.RowOf(second), 0);
    QCOMPARE(model.RowOf(first), 1);
    QVERIFY(model.index(1, TAlarmTableModel::AcknowledgedColumn)
                .data()
                .toString()
                .endsWith(QLatin1String(" (popup)")));

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto *grid = form.findChild<QTableWidget *>(QStringLiteral("AlarmGrid"));
    QCOMPARE(form.AlarmIdAt(0), second);
    QCOMPARE(form.AlarmIdAt(1), first);
    e.ident = 3000;
    const qint64 third = alarms.Raise(e);
    QCOMPARE(form.AlarmIdAt(1), third);
    QCOMPARE(grid->item(1, TEmergenciesForm::AcknowledgedColumn)->text(), QStringLiteral("open"));
    form.hide();
    const qint64 formatted = model.FormatCount();
    e.ident = 4000;
    alarms.Raise(e);
    alarms.Acknowledge(third);
    QCOMPARE(model.FormatCount(), formatted);
    QCOMPARE(grid->rowCount(), 3);
    form.show();
    QCOMPARE(grid->rowCount(), 4);
    QCOMPARE(form.AlarmIdAt(3), third);
}

#include "tst_historywindow.moc"
