#include "Convert.h"
#include "StationId.h"
#include "Table.h"
#include "TableFixture.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using TablePtr = std::unique_ptr<TTable>;

class TstTable : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> tmp;
    QDir dir() const { return QDir(tmp->path()); }

    static QStringList Names(TTable &t)
    {
        QStringList names;
        for (int r = 0; r < t.RowCount(); ++r)
            names << t.FieldText(r, 0);
        return names;
    }

private slots:
    void init()
    {
        tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(tmp->isValid());
    }

    void sampleTables()
    {
        TTable users(CopySample(QStringLiteral("User.DB"), dir()), UserTableDef());
        QVERIFY(users.RecordCount() >= 3 && users.RecordCount() < 10);
        QVERIFY(users.Locate(QStringLiteral("Name"), {QStringLiteral("Other")}));
        TTable statuses(CopySample(QStringLiteral("Status.db"), dir()), StatusTableDef());
        QVERIFY(statuses.Locate(QStringLiteral("Text"), {QStringLiteral("DEFAULT")}, true));
        QVERIFY(statuses.FieldAsText(QStringLiteral("No.")).toInt() != 0);
        bool everyday = false, emergency = false;
        for (int r = 0; r < statuses.RowCount(); ++r) {
            const int n = statuses.FieldText(r, 0).toInt();
            everyday = everyday || (n >= 20 && n <= 94);
            emergency = emergency || n >= 95;
        }
        QVERIFY(everyday);
        QVERIFY(emergency);
    }

    void openErrors_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing") << "missing"
                                 << "does not exist";
        QTest::newRow("text file") << "text"
                                   << "is not a table file";
        QTest::newRow("empty file") << "empty"
                                    << "holds no table \"User\"";
        QTest::newRow("status file as users") << "status"
                                              << "holds no table \"User\"";
        QTest::newRow("no id column") << "noid"
                                      << "has no \"id INTEGER PRIMARY KEY\"";
        QTest::newRow("field missing") << "nofield"
                                       << "has no field \"Ident\"";
        QTest::newRow("directory") << "dir"
                                   << "is not a file";
    }
    void openErrors()
    {
        QFETCH(QString, setup);
        QFETCH(QString, expected);
        const QString file = dir().filePath(QStringLiteral("User.DB"));
        if (setup == QLatin1String("text")) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("Name,Fleet,Ident\nBase,100,1000\nthis is not a database file at all, just some text\n");
        } else if (setup == QLatin1String("empty")) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else if (setup == QLatin1String("status")) {
            MakeStatusFile(dir(), {QStringLiteral("1, 'x'")}, QStringLiteral("User.DB"));
        } else if (setup == QLatin1String("noid")) {
            RunSql(file, {QStringLiteral(
                             "CREATE TABLE \"User\" (\"Name\" TEXT, \"Fleet\" INTEGER, \"Ident\" INTEGER)")});
        } else if (setup == QLatin1String("nofield")) {
            RunSql(file,
                   {QStringLiteral(
                       "CREATE TABLE \"User\" (id INTEGER PRIMARY KEY, \"Name\" TEXT, \"Fleet\" INTEGER)")});
        } else if (setup == QLatin1String("dir")) {
            QVERIFY(dir().mkdir(QStringLiteral("User.DB")));
        }
        const QByteArray sizeBefore = QByteArray::number(QFileInfo(file).size());
        try {
            TTable t(file, UserTableDef());
            QFAIL("opened");
        } catch (const ETableError &e) {
            const QString message = QString::fromUtf8(e.what());
            QVERIFY2(message.contains(QFileInfo(file).absoluteFilePath()), e.what());
            QVERIFY2(message.contains(expected), e.what());
        }
        // Nothing is created or changed by a failed open.
        QCOMPARE(QFileInfo::exists(file), setup != QLatin1String("missing"));
        if (setup != QLatin1String("missing") && setup != QLatin1String("dir"))
            QCOMPARE(QByteArray::number(QFileInfo(file).size()), sizeBefore);
        // The shared connection was released: a good file opens afterwards at the same path.
        if (setup != QLatin1String("dir")) {
            QFile::remove(file);
            MakeUserFile(dir(), {QStringLiteral("'Base', 100, 1000")});
            TTable t(file, UserTableDef());
            QCOMPARE(t.RecordCount(), 1);
        }
    }

    void refusedValues_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error"); // empty: accepted
        QTest::addColumn<QString>("stored");
        QTest::newRow("max") << "Fleet"
                             << "32767"
                             << ""
                             << "32767";
        QTest::newRow("min") << "Ident"
                             << "-32768"
                             << ""
                             << "-32768";
        QTest::newRow("leading blanks and plus") << "Fleet"
                                                 << "  +205"
                                                 << ""
                                                 << "205";
        QTest::newRow("leading zero") << "Fleet"
                                      << "0100"
                                      << ""
                                      << "100";
        QTest::newRow("empty is no value") << "Fleet"
                                           << ""
                                           << ""
                                           << "";
        QTest::newRow("one over") << "Fleet"
                                  << "32768"
                                  << "'32768' is out of range for field \"Fleet\""
                                  << "";
        QTest::newRow("one under") << "Ident"
                                   << "-32769"
                                   << "'-32769' is out of range for field \"Ident\""
                                   << "";
        QTest::newRow("huge") << "Ident"
                              << "99999999999999999999999"
                              << "'99999999999999999999999' is not a valid integer value"
                              << "";
        QTest::newRow("letters") << "Fleet"
                                 << "abc"
                                 << "'abc' is not a valid integer value"
                                 << "";
        QTest::newRow("decimal") << "Fleet"
                                 << "1.5"
                                 << "'1.5' is not a valid integer value"
                                 << "";
        QTest::newRow("trailing blank") << "Fleet"
                                        << "100 "
                                        << "'100 ' is not a valid integer value"
                                        << "";
        QTest::newRow("sign only") << "Ident"
                                   << "-"
                                   << "'-' is not a valid integer value"
                                   << "";
        QTest::newRow("255 characters")
            << "Name" << QString(255, QLatin1Char('n')) << "" << QString(255, QLatin1Char('n'));
        QTest::newRow("256 characters")
            << "Name" << QString(256, QLatin1Char('n')) << "too long: 256 characters, at most 255"
            << "";
        QTest::newRow("255 non-BMP characters")
            << "Name" << QString::fromUcs4(QList<char32_t>(255, U'\U0001F4FB').data(), 255) << ""
            << QString::fromUcs4(QList<char32_t>(255, U'\U0001F4FB').data(), 255);
    }
    void refusedValues()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, error);
        QFETCH(QString, stored);
        const QString file = MakeUserFile(dir(), {QStringLiteral("'Base', 100, 1000")});
        TTable t(file, UserTableDef());
        t.Append();
        t.SetFieldText(QStringLiteral("Name"), QStringLiteral("New"));
        QCOMPARE(t.CheckFieldText(field, text).isEmpty(), error.isEmpty());
        if (!error.isEmpty()) {
            try {
                t.SetFieldText(field, text);
                QFAIL("accepted");
            } catch (const std::exception &e) {
                QVERIFY2(QString::fromUtf8(e.what()).contains(error), e.what());
            }
            QVERIFY(t.CheckFieldText(field, text).contains(error));
            // The row stays pending with what it had.
            QVERIFY(t.Inserting());
            QVERIFY(t.Modified());
            QCOMPARE(t.RecordCount(), 1);
            QCOMPARE(t.FieldAsText(QStringLiteral("Name")), QStringLiteral("New"));
            QCOMPARE(t.FieldAsText(field == QLatin1String("Name") ? QStringLiteral("Name") : field),
                     field == QLatin1String("Name") ? QStringLiteral("New") : QString());
            t.SetFieldText(QStringLiteral("Fleet"), QStringLiteral("101"));
            t.Post();
            QCOMPARE(t.RecordCount(), 2);
            return;
        }
        t.SetFieldText(field, text);
        t.Post();
        TTable again(file, UserTableDef());
        again.Last();
        QCOMPARE(again.FieldAsText(field), stored);
    }

    void locate_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QVariantList>("values");
        QTest::addColumn<bool>("caseInsensitive");
        QTest::addColumn<int>("row"); // -1: not found
        QTest::newRow("pair as integers, first of duplicates")
            << "Fleet;Ident" << QVariantList{100, 1001} << false << 1;
        QTest::newRow("pair as texts") << "Fleet;Ident" << QVariantList{"100", "1001"} << false << 1;
        QTest::newRow("pair missing") << "Fleet;Ident" << QVariantList{100, 1003} << false << -1;
        QTest::newRow("empty name found by pair") << "Fleet;Ident" << QVariantList{205, 1234} << false << 3;
        QTest::newRow("name exact") << "Name" << QVariantList{"Other"} << false << 4;
        QTest::newRow("name wrong case") << "Name" << QVariantList{"other"} << false << -1;
        QTest::newRow("name case-insensitive") << "Name" << QVariantList{"OTHER"} << true << 4;
        QTest::newRow("out of range cannot match") << "Fleet" << QVariantList{"40000"} << false << -1;
    }
    void locate()
    {
        QFETCH(QString, fields);
        QFETCH(QVariantList, values);
        QFETCH(bool, caseInsensitive);
        QFETCH(int, row);
        const QString file =
            MakeUserFile(dir(), {QStringLiteral("'Base', 100, 1000"), QStringLiteral("'Yard', 100, 1001"),
                                 QStringLiteral("'Yard 2', 100, 1001"), QStringLiteral("NULL, 205, 1234"),
                                 QStringLiteral("'Other', 0, 0")});
        TTable t(file, UserTableDef());
        t.Last();
        QCOMPARE(t.Locate(fields, values, caseInsensitive), row >= 0);
        // A failed locate leaves the cursor where it was.
        QCOMPARE(t.CurrentRow(), row >= 0 ? row : 4);
    }

    void locateStatusNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("row");
        QTest::newRow("05 finds 5") << "05" << 1;
        QTest::newRow("0 finds 0, not the empty number") << "0" << 2;
        QTest::newRow("missing") << "7" << -1;
        QTest::newRow("with blank") << " 5" << 1;
    }
    void locateStatusNumber()
    {
        QFETCH(QString, text);
        QFETCH(int, row);
        const QString file =
            MakeStatusFile(dir(), {QStringLiteral("NULL, 'empty'"), QStringLiteral("5, 'Five'"),
                                   QStringLiteral("0, 'Zero'"), QStringLiteral("10, 'Default'")});
        TTable t(file, StatusTableDef());
        QCOMPARE(t.Locate(QStringLiteral("No."), {text}), row >= 0);
        if (row >= 0)
            QCOMPARE(t.CurrentRow(), row);
    }

    void locateConversionError()
    {
        const QString file = MakeStatusFile(dir(), {QStringLiteral("5, 'Five'")});
        TTable t(file, StatusTableDef());
        try {
            t.Locate(QStringLiteral("No."), {QStringLiteral("abc")});
            QFAIL("no error");
        } catch (const EConvertError &e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("'abc' is not a valid integer value"));
        }
        QVERIFY_THROWS_EXCEPTION(ETableError, t.Locate(QStringLiteral("Number"), {5}));
    }

    void appendPostLastDelete()
    {
        const QString file =
            MakeUserFile(dir(), {QStringLiteral("'A', 100, 1000"), QStringLiteral("'B', 100, 1001"),
                                 QStringLiteral("'C', 100, 1002")});
        TTable t(file, UserTableDef());
        QCOMPARE(t.CurrentRow(), 0);

        // An appended row without input is dropped when the cursor moves.
        t.Append();
        QCOMPARE(t.RowCount(), 4);
        QCOMPARE(t.RecordCount(), 3);
        QVERIFY(!t.Modified());
        t.First();
        QCOMPARE(t.RowCount(), 3);

        // Append, fill, post: written at the end in insertion order.
        t.Append();
        t.SetFieldText(QStringLiteral("Name"), QStringLiteral("D"));
        t.SetFieldText(QStringLiteral("Fleet"), QStringLiteral("101"));
        t.SetFieldText(QStringLiteral("Ident"), QStringLiteral("1003"));
        QVERIFY(t.Modified());
        QCOMPARE(t.RecordCount(), 3);
        t.Post();
        QVERIFY(!t.Modified());
        QCOMPARE(t.RecordCount(), 4);
        {
            TTable other(file, UserTableDef());
            QCOMPARE(Names(other), (QStringList{"A", "B", "C", "D"}));
        }

        // A changed appended row is written when the cursor moves.
        t.Append();
        t.SetFieldText(QStringLiteral("Name"), QStringLiteral("E"));
        t.First();
        QCOMPARE(t.RecordCount(), 5);

        // Edits of an existing row: written on a move, thrown away by Cancel.
        t.SetFieldText(QStringLiteral("Name"), QStringLiteral("A2"));
        t.Cancel();
        QCOMPARE(t.FieldAsText(QStringLiteral("Name")), QStringLiteral("A"));
        t.SetFieldText(QStringLiteral("Name"), QStringLiteral("A3"));
        t.Last();
        QCOMPARE(t.FieldAsText(QStringLiteral("Name")), QStringLiteral("E"));

        // Delete: the next row becomes current; at the end, the new last row.
        t.Locate(QStringLiteral("Name"), {QStringLiteral("B")});
        t.Delete();
        QCOMPARE(t.FieldAsText(QStringLiteral("Name")), QStringLiteral("C"));
        t.Last();
        t.Delete();
        QCOMPARE(t.FieldAsText(QStringLiteral("Name")), QStringLiteral("D"));
        {
            TTable other(file, UserTableDef());
            QCOMPARE(Names(other), (QStringList{"A3", "C", "D"}));
        }

        // Delete on an appended row drops it without touching the file.
        t.Append();
        t.SetFieldText(QStringLiteral("Name"), QStringLiteral("F"));
        t.Delete();
        QCOMPARE(t.RowCount(), 3);
        QCOMPARE(t.FieldAsText(QStringLiteral("Name")), QStringLiteral("D"));

        while (t.RecordCount() > 0)
            t.Delete();
        QCOMPARE(t.CurrentRow(), -1);
        QCOMPARE(t.FieldAsText(QStringLiteral("Name")), QString());
        try {
            t.Delete();
            QFAIL("deleted from an empty table");
        } catch (const ETableError &e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(QStringLiteral("empty")), e.what());
            QVERIFY2(QString::fromUtf8(e.what()).contains(file), e.what());
        }
        QVERIFY_THROWS_EXCEPTION(ETableError, t.SetFieldText(QStringLiteral("Name"), QStringLiteral("x")));
        // After a new append the table works as before.
        t.Append();
        t.Post();
        QCOMPARE(t.RecordCount(), 1);
    }

    void editOfRowDeletedElsewhere()
    {
        const QString file =
            MakeUserFile(dir(), {QStringLiteral("'A', 100, 1000"), QStringLiteral("'B', 100, 1001")});
        TTable a(file, UserTableDef());
        TTable b(file, UserTableDef());
        b.Delete();
        a.SetFieldText(QStringLiteral("Name"), QStringLiteral("A2"));
        QVERIFY_THROWS_EXCEPTION(ETableError, a.Post());
        QVERIFY(a.Modified());
    }

    // A station that cannot be added must not stop the naming of every other one:
    // the failed row is dropped, and each later sighting is tried again.
    void failedStationAppendIsDropped_data() { fileDeletedOrReplacedWhileOpen_data(); }
    void failedStationAppendIsDropped()
    {
        QFETCH(QString, change);
        const QString file = CopySample(QStringLiteral("User.DB"), dir());
        TTable users(file, UserTableDef());
        const int rows = users.RecordCount();
        if (change == QLatin1String("delete")) {
            QVERIFY(QFile::remove(file));
        } else if (change == QLatin1String("replace")) {
            QVERIFY(QFile::rename(file, file + QStringLiteral(".old")));
            QVERIFY(QFile::copy(file + QStringLiteral(".old"), file));
        } else {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.write(QByteArray(8192, 'x'));
        }
        for (int sighting = 0; sighting < 2; ++sighting) {
            QVERIFY_THROWS_EXCEPTION(std::exception,
                                     LookupStationName(users, QStringLiteral("300"), QStringLiteral("1234")));
            QCOMPARE(users.RecordCount(), rows);
            QCOMPARE(users.RowCount(), rows);
            QVERIFY(!users.Inserting());
            // Known stations are named without an error.
            QCOMPARE(LookupStationName(users, QStringLiteral("101"), QStringLiteral("1102")),
                     QStringLiteral("Car 2"));
            QCOMPARE(LookupStationName(users, QStringLiteral("100"), QStringLiteral("1000")),
                     QStringLiteral("Base"));
        }
    }

    void fileDeletedOrReplacedWhileOpen_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("expected");
        QTest::newRow("deleted") << "delete"
                                 << "no longer exists";
        QTest::newRow("replaced") << "replace"
                                  << "was replaced";
        QTest::newRow("overwritten with garbage") << "garbage"
                                                  << "";
    }
    void fileDeletedOrReplacedWhileOpen()
    {
        QFETCH(QString, change);
        QFETCH(QString, expected);
        const QString file = MakeUserFile(dir(), {QStringLiteral("'A', 100, 1000")});
        TTable t(file, UserTableDef());
        if (change == QLatin1String("delete")) {
            QVERIFY(QFile::remove(file));
        } else if (change == QLatin1String("replace")) {
            QVERIFY(QFile::rename(file, file + QStringLiteral(".old")));
            MakeUserFile(dir(), {QStringLiteral("'B', 100, 1000")});
        } else {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.write(QByteArray(8192, 'x'));
        }
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                if (attempt == 0) {
                    t.Append();
                    t.SetFieldText(QStringLiteral("Name"), QStringLiteral("lost?"));
                    t.Post();
                } else {
                    t.Refresh();
                }
                QFAIL("no error");
            } catch (const ETableError &e) {
                QVERIFY2(QString::fromUtf8(e.what()).contains(file), e.what());
                QVERIFY2(QString::fromUtf8(e.what()).contains(expected), e.what());
            }
        }
        // The row is still pending, not silently written somewhere else.
        QVERIFY(t.Modified());
        // A new instance opens what is there now, not what the old connection sees.
        if (change == QLatin1String("replace")) {
            TTable fresh(file, UserTableDef());
            QCOMPARE(Names(fresh), QStringList{QStringLiteral("B")});
        }
    }

    void postSurvivesKilledProcess()
    {
        const QString file = MakeUserFile(dir(), {QStringLiteral("'A', 100, 1000")});
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // The child posts and dies at once, without any clean-up.
            try {
                TTable t(file, UserTableDef());
                t.Append();
                t.SetFieldText(QStringLiteral("Name"), QStringLiteral("Posted"));
                t.SetFieldText(QStringLiteral("Fleet"), QStringLiteral("100"));
                t.Post();
                t.Append();
                t.SetFieldText(QStringLiteral("Name"), QStringLiteral("Pending"));
            } catch (...) {
                _exit(3);
            }
            raise(SIGKILL);
            _exit(4);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), SIGKILL);
        TTable t(file, UserTableDef());
        QCOMPARE(Names(t), (QStringList{"A", "Posted"}));
        QVERIFY(!QFileInfo::exists(file + QStringLiteral("-journal")) ||
                QFileInfo(file + QStringLiteral("-journal")).size() == 0);
    }

    void twoInstancesSeeEachOtherAfterRefresh()
    {
        const QString file =
            MakeUserFile(dir(), {QStringLiteral("'A', 100, 1000"), QStringLiteral("'B', 100, 1001")});
        TTable a(file, UserTableDef());
        TTable b(file, UserTableDef());
        b.Last();
        QSignalSpy moved(&b, &TTable::CurrentRowChanged);
        a.First();
        a.Delete();
        a.Append();
        a.SetFieldText(QStringLiteral("Name"), QStringLiteral("C"));
        a.Post();
        QCOMPARE(Names(b), (QStringList{"A", "B"}));
        b.Refresh();
        QCOMPARE(Names(b), (QStringList{"B", "C"}));
        // The current row is kept by identity, not by position.
        QCOMPARE(b.FieldAsText(QStringLiteral("Name")), QStringLiteral("B"));
        QCOMPARE(moved.count(), 1);
        QCOMPARE(moved.last().at(0).toInt(), 0);
    }

    void modelAgreesWithCursor()
    {
        const QString file =
            MakeUserFile(dir(), {QStringLiteral("'A', 100, 1000"), QStringLiteral("'B', 100, 1001"),
                                 QStringLiteral("'C', 100, 1002")});
        TTable t(file, UserTableDef());
        QAbstractItemModel *m = t.Model();
        QCOMPARE(m->rowCount(), 3);
        QCOMPARE(m->columnCount(), 4);
        QCOMPARE(m->headerData(t.ModelColumn(QStringLiteral("Ident")), Qt::Horizontal).toString(),
                 QStringLiteral("Ident"));
        QVERIFY(!(m->flags(m->index(0, 0)) & Qt::ItemIsEditable));

        // An edit typed into a view on row 0 is pending in the cursor...
        QVERIFY(m->setData(m->index(0, 1), QStringLiteral("A2")));
        QVERIFY(t.Modified());
        QCOMPARE(t.CurrentRow(), 0);
        // ...and an edit of row 2 moves the cursor there, writing row 0 first.
        QSignalSpy moved(&t, &TTable::CurrentRowChanged);
        QVERIFY(m->setData(m->index(2, 2), QStringLiteral("205")));
        QCOMPARE(t.CurrentRow(), 2);
        QCOMPARE(moved.count(), 1);
        QCOMPARE(t.FieldAsText(QStringLiteral("Fleet")), QStringLiteral("205"));
        {
            TTable other(file, UserTableDef());
            QCOMPARE(Names(other), (QStringList{"A2", "B", "C"}));
        }
        // A refused value leaves the model and the cursor as they were.
        QVERIFY(!m->setData(m->index(2, 3), QStringLiteral("abc")));
        QVERIFY(!m->setData(m->index(1, 3), QStringLiteral("40000")));
        QCOMPARE(t.CurrentRow(), 2);
        QCOMPARE(m->data(m->index(2, 3)).toString(), QStringLiteral("1002"));

        // Appended rows show in the model at once and vanish when dropped.
        QSignalSpy inserted(m, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(m, &QAbstractItemModel::rowsRemoved);
        t.Append();
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(m->rowCount(), 4);
        QCOMPARE(t.CurrentRow(), 3);
        t.SetCurrentRow(1);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(m->rowCount(), 3);
        QCOMPARE(t.CurrentRow(), 1);

        // Read-only fields refuse edits from views and from code.
        t.SetFieldReadOnly(QStringLiteral("Fleet"), true);
        QVERIFY(!(m->flags(m->index(0, 2)) & Qt::ItemIsEditable));
        QVERIFY(!m->setData(m->index(1, 2), QStringLiteral("101")));
        QVERIFY_THROWS_EXCEPTION(ETableError, t.SetFieldText(QStringLiteral("Fleet"), QStringLiteral("101")));
    }
};

QTEST_GUILESS_MAIN(TstTable)
#include "tst_table.moc"
