#include "AccessibleNames.h"
#include "BoxRecorder.h"
#include "DBGrid.h"
#include "Estatus.h"
#include "Euser.h"
#include "FileChoice.h"
#include "ImportPreview.h"
#include "MessageBox.h"
#include "Table.h"
#include "TableFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <deque>
#include <functional>
#include <memory>

// Shows escaping exceptions the way the console's application object does; here
// they are recorded.
class TestApp final : public QApplication {
public:
    using QApplication::QApplication;
    QStringList errors;
    bool notify(QObject *receiver, QEvent *event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception &e) {
            errors << QString::fromUtf8(e.what());
            return false;
        }
    }
};

using Box = TBoxRecorder::TBox;

class TstEditors : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> tmp;
    TBoxRecorder recorder;
    std::vector<Box> boxes;
    std::deque<MsgAnswer> &answers = recorder.answers;

    QDir dir() const { return QDir(tmp->path()); }
    static TestApp *app() { return static_cast<TestApp *>(qApp); }

    static QStringList UserRows(int n)
    {
        QStringList rows;
        for (int i = 0; i < n; ++i)
            rows << QStringLiteral("'U%1', 100, %2").arg(i + 1).arg(1000 + i);
        return rows;
    }
    // What the file holds, read through a fresh instance.
    QStringList FileNames(const QString &file, const TTableDef &def, int field)
    {
        TTable t(file, def);
        QStringList names;
        for (int r = 0; r < t.RowCount(); ++r)
            names << t.FieldText(r, field);
        return names;
    }
    QStringList UserFileNames() { return FileNames(dir().filePath("User.DB"), UserTableDef(), 0); }
    template <typename T> static T *Child(QWidget *form, const char *name)
    {
        auto *w = form->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no child %s", name);
        return w;
    }
    static void Show(QWidget *form)
    {
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form));
    }
    // Types a text into a grid cell the way an operator does, leaving it with Return.
    static void TypeIntoCell(TDBGrid *grid, int row, int column, const QString &text)
    {
        const QModelIndex index = grid->model()->index(row, column);
        grid->setCurrentIndex(index);
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_F2);
        auto *editor = qobject_cast<QLineEdit *>(grid->indexWidget(index));
        QVERIFY(editor);
        editor->selectAll();
        QTest::keyClicks(editor, text);
        QPointer<QLineEdit> typed(editor);
        QTest::keyClick(editor, Qt::Key_Return);
        // The grid hands the text over once the editor has seen the key.
        QTRY_VERIFY(!typed);
    }

    QStringList chosen; // files the file dialog routine hands out, in turn
    QStringList captions;

    QString WriteFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir().filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    // Runs act on the import preview once its modal loop shows it; the returned timer
    // must be stopped if the preview may never come.
    QTimer *WhenPreviewShows(std::function<void(TImportPreviewForm *)> act)
    {
        auto *timer = new QTimer(this);
        timer->setInterval(10);
        connect(timer, &QTimer::timeout, this, [timer, act] {
            auto *preview = qobject_cast<TImportPreviewForm *>(QApplication::activeModalWidget());
            if (!preview || !preview->isVisible())
                return;
            timer->stop();
            timer->deleteLater();
            act(preview);
        });
        timer->start();
        return timer;
    }

private slots:
    void initTestCase()
    {
        recorder.onBox = [this](const Box &box) { boxes.push_back(box); };
        SetFileChoiceRoutine([this](QWidget *, FileChoice, const QString &caption, const QString &) {
            captions << caption;
            return chosen.isEmpty() ? QString() : chosen.takeFirst();
        });
    }
    void init()
    {
        tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(tmp->isValid());
        boxes.clear();
        answers.clear();
        chosen.clear();
        captions.clear();
        app()->errors.clear();
    }

    void userWindowLayout()
    {
        TTable table(CopySample("User.DB", dir()), UserTableDef());
        TEUserForm form(&table);
        Show(&form);
        QCOMPARE(form.windowTitle(), QStringLiteral("User"));
        QCOMPARE(form.size(), QSize(257, 325));
        QVERIFY(!(form.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(form.windowFlags() & Qt::WindowMaximizeButtonHint);
        auto *grid = Child<TDBGrid>(&form, "DBGrid1");
        QVERIFY(grid->isColumnHidden(0));
        QCOMPARE(grid->columnWidth(table.ModelColumn("Name")), 130);
        QCOMPARE(grid->columnWidth(table.ModelColumn("Fleet")), 40);
        QCOMPARE(grid->columnWidth(table.ModelColumn("Ident")), 40);
        QCOMPARE(Child<QWidget>(&form, "Panel1")->height(), 72);
        const QList<std::pair<const char *, int>> buttons{
            {"AddBitBtn", 16}, {"DeleteBitBtn", 80}, {"CloseBitBtn", 168}};
        for (const auto &[name, left] : buttons) {
            auto *b = Child<QToolButton>(&form, name);
            QCOMPARE(b->size(), QSize(65, 57));
            QCOMPARE(b->x(), left);
            QCOMPARE(b->iconSize(), QSize(32, 32));
        }
        QCOMPARE(Child<QToolButton>(&form, "AddBitBtn")->text(), QStringLiteral("&Add"));
        const QString faults = AccessibleNameFaults(&form);
        QVERIFY2(faults.isEmpty(), qPrintable(faults));
        // The grid and the cursor agree on the current row, whichever moves.
        table.Last();
        QCOMPARE(grid->currentIndex().row(), table.RowCount() - 1);
        grid->setCurrentIndex(table.Model()->index(1, 2));
        QCOMPARE(table.CurrentRow(), 1);
        table.Refresh();
        QCOMPARE(grid->currentIndex().row(), 1);
    }

    void statusWindowLayout()
    {
        TTable table(CopySample("Status.db", dir()), StatusTableDef());
        TEStatusForm form(&table);
        Show(&form);
        QCOMPARE(form.windowTitle(), QStringLiteral("Status"));
        QCOMPARE(form.size(), QSize(279, 349));
        auto *grid = Child<TDBGrid>(&form, "StatusGrid");
        QCOMPARE(grid->columnWidth(table.ModelColumn("Text")), 200);
        QVERIFY(
            !(table.Model()->flags(table.Model()->index(0, table.ModelColumn("No."))) & Qt::ItemIsEditable));
        QVERIFY(table.Model()->flags(table.Model()->index(0, table.ModelColumn("Text"))) &
                Qt::ItemIsEditable);
        for (const auto &[name, text, top] : {std::tuple{"Label1", "This software can not be", 24},
                                              std::tuple{"Label2", "available 20 to 98.", 48}}) {
            auto *label = Child<QLabel>(&form, name);
            QCOMPARE(label->text(), QString::fromLatin1(text));
            QVERIFY(label->font().italic());
            QCOMPARE(label->font().pixelSize(), 13);
            QCOMPARE(label->pos(), QPoint(16, top));
            QVERIFY(label->x() + label->sizeHint().width() <= Child<QWidget>(&form, "Panel2")->x());
        }
        auto *panel1 = Child<QWidget>(&form, "Panel1");
        auto *panel2 = Child<QWidget>(&form, "Panel2");
        QCOMPARE(panel1->height(), 77);
        QCOMPARE(panel2->geometry(), QRect(panel1->width() - 83, 0, 83, 77));
        QCOMPARE(Child<QToolButton>(&form, "CloseBitBtn")->size(), QSize(65, 57));
        form.resize(400, 400);
        QTRY_COMPARE(panel2->x(), panel1->width() - 83);
    }

    void addAtNineAndTenUsers_data()
    {
        QTest::addColumn<int>("users");
        QTest::newRow("9 users") << 9;
        QTest::newRow("10 users") << 10;
    }
    void addAtNineAndTenUsers()
    {
        QFETCH(int, users);
        TTable table(MakeUserFile(dir(), UserRows(users)), UserTableDef());
        TEUserForm form(&table);
        Show(&form);
        auto *add = Child<QToolButton>(&form, "AddBitBtn");
        QTest::mouseClick(add, Qt::LeftButton);
        if (users == 9) {
            QVERIFY(boxes.empty());
            QVERIFY(table.Inserting());
            QCOMPARE(table.RowCount(), 10);
            QCOMPARE(Child<TDBGrid>(&form, "DBGrid1")->currentIndex().row(), 9);
            // Something typed into the tenth row: the next Add writes it, then refuses.
            TypeIntoCell(Child<TDBGrid>(&form, "DBGrid1"), 9, table.ModelColumn("Name"), "Ten");
            QTest::mouseClick(add, Qt::LeftButton);
            QCOMPARE(UserFileNames().size(), 10);
            QCOMPARE(UserFileNames().last(), QStringLiteral("Ten"));
        } else {
            QTest::mouseClick(add, Qt::LeftButton);
        }
        QCOMPARE(boxes.size(), size_t(users == 9 ? 1 : 2));
        QCOMPARE(boxes.back().text, QStringLiteral("You can use up to 10 IDs."));
        QCOMPARE(boxes.back().caption, QStringLiteral("Corvalink Demonstration Software"));
        QCOMPARE(boxes.back().icon, MsgIcon::Stop);
        QCOMPARE(boxes.back().buttons, MsgButtons::Ok);
        QCOMPARE(table.RowCount(), 10);
        QVERIFY(!table.Inserting());
    }

    void addWritesPendingRowFirst()
    {
        TTable table(MakeUserFile(dir(), UserRows(9)), UserTableDef());
        TEUserForm form(&table);
        Show(&form);
        TypeIntoCell(Child<TDBGrid>(&form, "DBGrid1"), 1, table.ModelColumn("Name"), "Renamed");
        QVERIFY(table.Modified());
        QCOMPARE(UserFileNames().at(1), QStringLiteral("U2"));
        QTest::mouseClick(Child<QToolButton>(&form, "AddBitBtn"), Qt::LeftButton);
        QCOMPARE(UserFileNames().at(1), QStringLiteral("Renamed"));
        QVERIFY(table.Inserting());
        QVERIFY(boxes.empty());
    }

    void untouchedAppendedRowNotWritten()
    {
        TTable table(MakeUserFile(dir(), UserRows(9)), UserTableDef());
        TEUserForm form(&table);
        Show(&form);
        auto *add = Child<QToolButton>(&form, "AddBitBtn");
        QTest::mouseClick(add, Qt::LeftButton);
        // A second Add: the empty row does not count, and it is not doubled.
        QTest::mouseClick(add, Qt::LeftButton);
        QVERIFY(boxes.empty());
        QCOMPARE(table.RowCount(), 10);
        QCOMPARE(table.RecordCount(), 9);
        QTest::mouseClick(Child<QToolButton>(&form, "CloseBitBtn"), Qt::LeftButton);
        QVERIFY(!form.isVisible());
        table.First();
        QCOMPARE(table.RowCount(), 9);
        QCOMPARE(UserFileNames().size(), 9);
    }

    void closeWithTwelveUsers_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::newRow("OK") << true;
        QTest::newRow("Cancel") << false;
    }
    void closeWithTwelveUsers()
    {
        QFETCH(bool, ok);
        TTable table(MakeUserFile(dir(), UserRows(10)), UserTableDef());
        TEUserForm form(&table);
        Show(&form);
        auto *grid = Child<TDBGrid>(&form, "DBGrid1");
        // Past the limit through the grid: Down on the last row, then Insert.
        grid->setFocus();
        grid->setCurrentIndex(table.Model()->index(9, 1));
        QTest::keyClick(grid, Qt::Key_Down);
        QCOMPARE(table.RowCount(), 11);
        TypeIntoCell(grid, 10, 1, "Eleven");
        QTest::keyClick(grid, Qt::Key_Insert);
        QCOMPARE(table.RowCount(), 12);
        TypeIntoCell(grid, 11, 1, "Twelve");
        answers.push_back(ok ? MsgAnswer::Ok : MsgAnswer::Cancel);
        QTest::mouseClick(Child<QToolButton>(&form, "CloseBitBtn"), Qt::LeftButton);
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, QStringLiteral("The IDs over 10 will be deleted."));
        QCOMPARE(boxes[0].caption, QStringLiteral("Corvalink Demonstration Software"));
        QCOMPARE(boxes[0].icon, MsgIcon::Warning);
        QCOMPARE(boxes[0].buttons, MsgButtons::OkCancel);
        QStringList expected;
        for (int i = 1; i <= 10; ++i)
            expected << QStringLiteral("U%1").arg(i);
        if (!ok)
            expected << "Eleven"
                     << "Twelve";
        QCOMPARE(UserFileNames(), expected);
        QCOMPARE(form.isVisible(), !ok);
        // The close box asks the same question.
        if (!ok) {
            answers.push_back(MsgAnswer::Ok);
            form.close();
            QCOMPARE(boxes.size(), size_t(2));
            QCOMPARE(UserFileNames().size(), 10);
            QVERIFY(!form.isVisible());
        }
    }

    void closePressedAndReleasedOutside_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::newRow("left") << Qt::LeftButton;
        QTest::newRow("right") << Qt::RightButton;
    }
    void closePressedAndReleasedOutside()
    {
        QFETCH(Qt::MouseButton, button);
        TTable table(MakeUserFile(dir(), UserRows(3)), UserTableDef());
        TEUserForm form(&table);
        Show(&form);
        TypeIntoCell(Child<TDBGrid>(&form, "DBGrid1"), 2, table.ModelColumn("Ident"), "4999");
        auto *close = Child<QToolButton>(&form, "CloseBitBtn");
        QTest::mousePress(close, button, {}, QPoint(30, 30));
        QCOMPARE(FileNames(dir().filePath("User.DB"), UserTableDef(), 2).at(2), QStringLiteral("4999"));
        QTest::mouseRelease(close, button, {}, QPoint(-40, -40));
        QVERIFY(form.isVisible());
        QVERIFY(boxes.empty());
    }

    void gridCellRefusesValue_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error");
        QTest::newRow("not a number") << "Fleet"
                                      << "abc"
                                      << "'abc' is not a valid integer value";
        QTest::newRow("too big") << "Ident"
                                 << "40000"
                                 << "'40000' is out of range for field \"Ident\"";
        QTest::newRow("too small") << "Fleet"
                                   << "-32769"
                                   << "'-32769' is out of range for field \"Fleet\"";
    }
    void gridCellRefusesValue()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, error);
        TTable table(MakeUserFile(dir(), UserRows(3)), UserTableDef());
        TEUserForm form(&table);
        Show(&form);
        auto *grid = Child<TDBGrid>(&form, "DBGrid1");
        const QModelIndex cell = table.Model()->index(1, table.ModelColumn(field));
        TypeIntoCell(grid, 1, cell.column(), text);
        QTRY_COMPARE(boxes.size(), size_t(1));
        QVERIFY2(boxes[0].text.startsWith(error), qPrintable(boxes[0].text));
        QCOMPARE(boxes[0].icon, MsgIcon::Stop);
        // The cell is being edited again, with what was typed, and has the focus.
        QTRY_VERIFY(qobject_cast<QLineEdit *>(grid->indexWidget(cell)));
        auto *editor = qobject_cast<QLineEdit *>(grid->indexWidget(cell));
        QCOMPARE(editor->text(), text);
        QTRY_VERIFY(editor->hasFocus());
        QVERIFY(!table.Modified());
        QCOMPARE(table.CurrentRow(), 1);
        // Close tries to write it: refused again, the window stays.
        QTest::mouseClick(Child<QToolButton>(&form, "CloseBitBtn"), Qt::LeftButton);
        QVERIFY(form.isVisible());
        QCOMPARE(boxes.size(), size_t(2));
        QCOMPARE(boxes[1].text, boxes[0].text);
        editor = qobject_cast<QLineEdit *>(grid->indexWidget(cell));
        QVERIFY(editor);
        QCOMPARE(editor->text(), text);
        // Nothing of it reached the file.
        QCOMPARE(FileNames(dir().filePath("User.DB"), UserTableDef(), table.FieldIndex(field)).at(1),
                 field == QLatin1String("Fleet") ? QStringLiteral("100") : QStringLiteral("1001"));
        QVERIFY(app()->errors.isEmpty());
    }

    void lookupWhileCellIsEdited_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("written");
        QTest::newRow("accepted text goes with the row") << "4321"
                                                         << "4321";
        QTest::newRow("refused text is dropped") << "12x"
                                                 << "1000";
    }
    void lookupWhileCellIsEdited()
    {
        QFETCH(QString, typed);
        QFETCH(QString, written);
        TTable table(MakeUserFile(dir(), UserRows(3)), UserTableDef());
        TEUserForm form(&table);
        Show(&form);
        auto *grid = Child<TDBGrid>(&form, "DBGrid1");
        const QModelIndex cell = table.Model()->index(0, table.ModelColumn("Ident"));
        grid->setCurrentIndex(cell);
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_F2);
        auto *editor = qobject_cast<QLineEdit *>(grid->indexWidget(cell));
        QVERIFY(editor);
        editor->setText(typed);
        // An incoming frame names a station while the operator is typing.
        QVERIFY(table.Locate("Fleet;Ident", {100, 1002}));
        QCOMPARE(table.FieldAsText("Name"), QStringLiteral("U3"));
        QCOMPARE(table.CurrentRow(), 2);
        QCOMPARE(grid->currentIndex().row(), 2);
        QCOMPARE(FileNames(dir().filePath("User.DB"), UserTableDef(), 2).at(0), written);
        QVERIFY(!table.Modified());
        QCoreApplication::processEvents();
        QCOMPARE(table.CurrentRow(), 2);
        QVERIFY(boxes.empty());
    }

    void ctrlDeleteAsksFirst_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::newRow("OK") << true;
        QTest::newRow("Cancel") << false;
    }
    void ctrlDeleteAsksFirst()
    {
        QFETCH(bool, ok);
        TTable table(MakeUserFile(dir(), UserRows(3)), UserTableDef());
        TEUserForm form(&table);
        Show(&form);
        auto *grid = Child<TDBGrid>(&form, "DBGrid1");
        grid->setFocus();
        grid->setCurrentIndex(table.Model()->index(1, 1));
        answers.push_back(ok ? MsgAnswer::Ok : MsgAnswer::Cancel);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].buttons, MsgButtons::OkCancel);
        QCOMPARE(UserFileNames(), ok ? (QStringList{"U1", "U3"}) : (QStringList{"U1", "U2", "U3"}));
        QCOMPARE(table.FieldAsText("Name"), ok ? QStringLiteral("U3") : QStringLiteral("U2"));
        QCOMPARE(grid->currentIndex().row(), 1);
    }

    void deleteButtonAndEmptyTable()
    {
        TTable table(MakeUserFile(dir(), UserRows(2)), UserTableDef());
        TEUserForm form(&table);
        Show(&form);
        auto *del = Child<QToolButton>(&form, "DeleteBitBtn");
        QTest::mouseClick(del, Qt::LeftButton);
        QCOMPARE(UserFileNames(), QStringList{"U2"});
        QVERIFY(boxes.empty());
        QTest::mouseClick(del, Qt::LeftButton);
        QCOMPARE(UserFileNames(), QStringList());
        QVERIFY(app()->errors.isEmpty());
        // The store's empty-table error is shown in the error box, caught at the
        // button's edge rather than unwound through Qt; nothing changes.
        QTest::mouseClick(del, Qt::LeftButton);
        QVERIFY(app()->errors.isEmpty());
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].icon, MsgIcon::Stop);
        QVERIFY2(boxes[0].text.contains("empty"), qPrintable(boxes[0].text));
        QCOMPARE(UserFileNames(), QStringList());
        QVERIFY(form.isVisible());
    }

    void statusClose_data()
    {
        QTest::addColumn<bool>("button");
        QTest::newRow("Close button") << true;
        QTest::newRow("close box") << false;
    }
    void statusClose()
    {
        QFETCH(bool, button);
        const QString file =
            MakeStatusFile(dir(), {"0, 'zero a'", "20, 'On duty'", "0, 'zero b'", "0, 'zero c'",
                                   "95, 'Emergency'", "NULL, 'no number'", "0, 'zero d'"});
        TTable table(file, StatusTableDef());
        TEStatusForm form(&table);
        Show(&form);
        TypeIntoCell(Child<TDBGrid>(&form, "StatusGrid"), 1, table.ModelColumn("Text"), "On duty now");
        if (button)
            QTest::mouseClick(Child<QToolButton>(&form, "CloseBitBtn"), Qt::LeftButton);
        else
            form.close();
        QVERIFY(!form.isVisible());
        const QStringList texts = FileNames(file, StatusTableDef(), 1);
        if (button)
            QCOMPARE(texts, (QStringList{"On duty now", "Emergency", "no number"}));
        else
            QCOMPARE(texts, (QStringList{"zero a", "On duty", "zero b", "zero c", "Emergency", "no number",
                                         "zero d"}));
        QVERIFY(boxes.empty());
    }

    void importThroughEditor_data()
    {
        QTest::addColumn<bool>("users");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("answerImport");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QStringList>("after"); // names or texts; empty: as before
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("enabled");

        QTest::newRow("users imported")
            << true << QByteArray("Main gate,100,1001\nCar 9,101,1109\n") << true
            << "in.csv: 1 to add, 1 to change, 0 unchanged, 0 refused."
            << QStringList{"Base", "Main gate", "Car 1", "Car 2", "Truck 3", "Other", "Car 9"} << 2 << true;
        QTest::newRow("users cancelled") << true << QByteArray("Main gate,100,1001\nCar 9,101,1109\n")
                                         << false << "1 to add, 1 to change" << QStringList{} << 2 << true;
        QTest::newRow("users beyond 10")
            << true << QByteArray("N1,110,1001\nN2,110,1002\nN3,110,1003\nN4,110,1004\nN5,110,1005\n") << true
            << "4 to add, 0 to change, 0 unchanged, 1 refused.\nNothing will be written" << QStringList{} << 5
            << false;
        QTest::newRow("users bad number") << true << QByteArray("Car 9,101,1109\nX,abc,1000\n") << true
                                          << "1 refused" << QStringList{} << 2 << false;
        QTest::newRow("users the radio cannot call, skipped")
            << true << QByteArray("Far,350,1000\n") << true
            << "0 to add, 0 to change, 0 unchanged, 0 refused, 1 skipped" << QStringList{} << 1 << false;
        QTest::newRow("users the radio cannot call, ticked")
            << true << QByteArray("@tick\nFar,350,1000\n") << true
            << "1 to add, 0 to change, 0 unchanged, 0 refused, 1 with a warning"
            << QStringList{"Base", "Yard", "Car 1", "Car 2", "Truck 3", "Other", "Far"} << 1 << true;
        QTest::newRow("statuses imported")
            << false << QByteArray("20,On duty now\n50,\"New, \"\"quoted\"\"\"\n") << true
            << "1 to add, 1 to change"
            << QStringList{"Default",  "On duty now", "Arrived",      "Departed",
                           "At scene", "Returning",   "Available",    "On break",
                           "Off duty", "Emergency",   "Officer down", "New, \"quoted\""}
            << 2 << true;
    }
    // The file is checked and shown before anything is written; Import writes it all,
    // a refused line or Cancel writes nothing.
    void importThroughEditor()
    {
        QFETCH(bool, users);
        QFETCH(QByteArray, body);
        QFETCH(bool, answerImport);
        QFETCH(QString, summary);
        QFETCH(QStringList, after);
        QFETCH(int, rows);
        QFETCH(bool, enabled);
        // "@tick": the operator ticks the box for stations the radio cannot call.
        const bool tick = body.startsWith("@tick\n");
        if (tick)
            body.remove(0, 6);
        const QString file = CopySample(users ? "User.DB" : "Status.db", dir());
        const TTableDef &def = users ? UserTableDef() : StatusTableDef();
        const int field = users ? 0 : 1;
        const QStringList before = FileNames(file, def, field);
        chosen << WriteFile("in.csv", (users ? "Name,Fleet,Ident\r\n" : "No.,Text\r\n") + body);
        TTable table(file, def);
        std::unique_ptr<QDialog> form;
        if (users)
            form = std::make_unique<TEUserForm>(&table);
        else
            form = std::make_unique<TEStatusForm>(&table);
        Show(form.get());

        QString shownSummary;
        bool importEnabled = false;
        int previewRows = -1;
        WhenPreviewShows([&](TImportPreviewForm *preview) {
            auto *box = preview->findChild<QCheckBox *>("UncallableCheckBox");
            QCOMPARE(box->isVisible(), body.contains("Far"));
            if (tick)
                QTest::mouseClick(box, Qt::LeftButton);
            shownSummary = preview->findChild<QLabel *>("SummaryLabel")->text();
            previewRows = preview->findChild<QTableView *>("PreviewGrid")->model()->rowCount();
            auto *import = preview->findChild<QPushButton *>("ImportButton");
            importEnabled = import->isEnabled();
            // A disabled Import does nothing; the preview stays until Cancel.
            QTest::mouseClick(answerImport ? import : preview->findChild<QPushButton *>("CancelButton"),
                              Qt::LeftButton);
            if (preview->isVisible())
                QTest::mouseClick(preview->findChild<QPushButton *>("CancelButton"), Qt::LeftButton);
        });
        QTest::mouseClick(Child<QPushButton>(form.get(), "ImportButton"), Qt::LeftButton);

        QVERIFY2(shownSummary.contains(summary), qPrintable(shownSummary));
        QCOMPARE(previewRows, rows);
        QCOMPARE(importEnabled, enabled);
        QCOMPARE(captions, QStringList{users ? "Import Users" : "Import Statuses"});
        const bool writes = !after.isEmpty();
        QCOMPARE(FileNames(file, def, field), writes ? after : before);
        // The grid shows what the file holds.
        QCOMPARE(table.RowCount(), int((writes ? after : before).size()));
        QVERIFY(boxes.empty());
        QVERIFY(app()->errors.isEmpty());
    }

    void importBadFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << QByteArray() << "is empty";
        QTest::newRow("latin-1 on line 3")
            << QByteArray("Name,Fleet,Ident\r\nA,100,1000\r\nCaf\xE9,100,1001\r\n")
            << "line 3: is not UTF-8 text";
        QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16)
                                << "line 3: holds a zero byte";
        QTest::newRow("wrong header") << QByteArray("No.,Text\r\n10,Default\r\n") << "line 1: the first line";
    }
    // A bad file is named in one box, with the line; no preview, nothing written.
    void importBadFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        const QString file = CopySample("User.DB", dir());
        const QStringList before = FileNames(file, UserTableDef(), 0);
        const QString csv = WriteFile("bad.csv", content);
        chosen << csv;
        TTable table(file, UserTableDef());
        TEUserForm form(&table);
        Show(&form);
        bool previewShown = false;
        QPointer<QTimer> guard = WhenPreviewShows([&](TImportPreviewForm *preview) {
            previewShown = true;
            preview->reject();
        });
        QTest::mouseClick(Child<QPushButton>(&form, "ImportButton"), Qt::LeftButton);
        if (guard)
            guard->stop();
        QVERIFY(!previewShown);
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].caption, QStringLiteral("Import Users"));
        QCOMPARE(boxes[0].icon, MsgIcon::Stop);
        QVERIFY2(boxes[0].text.contains(QStringLiteral("File \"%1\"").arg(csv)), qPrintable(boxes[0].text));
        QVERIFY2(boxes[0].text.contains(expected), qPrintable(boxes[0].text));
        QCOMPARE(FileNames(file, UserTableDef(), 0), before);
        QVERIFY(app()->errors.isEmpty());
    }

    void importAfterDirectoryChanged_data()
    {
        QTest::addColumn<QString>("meanwhile"); // SQL by another program; empty: the name lookup adds a row
        QTest::addColumn<QStringList>("after");
        QTest::newRow("the name lookup adds a station")
            << QString() << QStringList{"U1", "U2", "U3", "U4", "U5", "U6", "U7", "U8", ""};
        QTest::newRow("another program adds two stations")
            << "INSERT INTO \"User\" (Name, Fleet, Ident) VALUES ('X1', 120, 1200), ('X2', 120, 1201)"
            << QStringList{"U1", "U2", "U3", "U4", "U5", "U6", "U7", "U8", "X1", "X2"};
        QTest::newRow("another program renames the row the import changes")
            << "UPDATE \"User\" SET Name = 'Renamed' WHERE Ident = 1000"
            << QStringList{"Renamed", "U2", "U3", "U4", "U5", "U6", "U7", "U8"};
    }
    // Traffic and other programs go on under the preview: when what was shown no longer
    // holds for the file, nothing is written and the operator is told.
    void importAfterDirectoryChanged()
    {
        QFETCH(QString, meanwhile);
        QFETCH(QStringList, after);
        const QString file = MakeUserFile(dir(), UserRows(8));
        chosen << WriteFile("in.csv",
                            "Name,Fleet,Ident\r\nN1,110,1001\r\nN2,110,1002\r\nU1 new,100,1000\r\n");
        TTable table(file, UserTableDef());
        TEUserForm form(&table);
        Show(&form);
        bool enabled = false;
        WhenPreviewShows([&](TImportPreviewForm *preview) {
            auto *import = preview->findChild<QPushButton *>("ImportButton");
            enabled = import->isEnabled();
            if (meanwhile.isEmpty()) {
                table.Append();
                table.SetFieldText("Fleet", "120");
                table.SetFieldText("Ident", "1200");
                table.Post();
            } else {
                RunSql(file, {meanwhile});
            }
            QTest::mouseClick(import, Qt::LeftButton);
        });
        QTest::mouseClick(Child<QPushButton>(&form, "ImportButton"), Qt::LeftButton);
        QVERIFY(enabled);
        QCOMPARE(boxes.size(), size_t(1));
        QVERIFY2(boxes[0].text.contains("changed while the preview was open"), qPrintable(boxes[0].text));
        QCOMPARE(UserFileNames(), after);
    }

    // Export writes the table as it is, the row being edited included.
    void exportThroughEditor()
    {
        const QString file = MakeUserFile(dir(), {"'Base', 100, 1000", "'Car, \"2\"', 101, 1102",
                                                  QString::fromUtf8("'Bas\u00E9 \u65E5', 0, 0")});
        TTable table(file, UserTableDef());
        TEUserForm form(&table);
        Show(&form);
        auto *grid = Child<TDBGrid>(&form, "DBGrid1");
        TypeIntoCell(grid, 0, table.ModelColumn("Name"), "Base X");
        const QString csv = dir().filePath("out.csv");
        chosen << csv;
        QTest::mouseClick(Child<QPushButton>(&form, "ExportButton"), Qt::LeftButton);
        QCOMPARE(captions, QStringList{"Export Users"});
        QFile f(csv);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("Name,Fleet,Ident\r\nBase X,100,1000\r\n"
                                         "\"Car, \"\"2\"\"\",101,1102\r\n"
                                         "Bas\xC3\xA9 \xE6\x97\xA5,0,0\r\n"));
        QCOMPARE(UserFileNames().first(), QStringLiteral("Base X"));
        // Cancelling the file dialog writes nothing.
        f.close();
        QVERIFY(QFile::remove(csv));
        QTest::mouseClick(Child<QPushButton>(&form, "ExportButton"), Qt::LeftButton);
        QVERIFY(!QFile::exists(csv));
        QVERIFY(boxes.empty());
        QVERIFY(app()->errors.isEmpty());
    }
};

int main(int argc, char **argv)
{
    TestApp app(argc, argv);
    TstEditors tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_editors.moc"
