// Directory files: CSV text both ways, the checks an import makes before it writes, and the
// one transaction that writes it, on real table files.
#include "DirectoryCsv.h"
#include "FullDisk.h"
#include "ImportPlan.h"
#include "Table.h"
#include "TableFixture.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using Rows = QList<QStringList>;

class TstImport : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> tmp;
    QDir dir() const { return QDir(tmp->path()); }

    QString WriteFile(const QString &name, const QByteArray &bytes) const
    {
        const QString path = dir().filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    static const TTableDef &Def(bool users) { return users ? UserTableDef() : StatusTableDef(); }

    QString EmptyTable(bool users, const QString &name) const
    {
        return users ? MakeUserFile(dir(), {}, name) : MakeStatusFile(dir(), {}, name);
    }

    // What a table file holds, read through a fresh cursor.
    static Rows FileRows(const QString &file, bool users)
    {
        TTable t(file, Def(users));
        return TableTexts(t);
    }

    static QString Describe(const TImportPlan &plan)
    {
        QStringList parts;
        for (const auto &r : plan.rows)
            parts << QStringLiteral("%1:%2").arg(r.line).arg(ImportActionText(r.action));
        return parts.join(QLatin1Char(' '));
    }

private slots:
    void init()
    {
        tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(tmp->isValid());
    }

    void roundTrip_data()
    {
        QTest::addColumn<bool>("users");
        QTest::addColumn<Rows>("rows");
        const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
        QTest::newRow("users plain") << true << Rows{{"Base", "100", "1000"}, {"Other", "0", "0"}};
        QTest::newRow("users quotes and commas")
            << true << Rows{{"Car \"Red\", north", "101", "1101"}, {"\"", "101", "1102"}, {",", "0", "0"}};
        QTest::newRow("statuses line breaks") << false
                                              << Rows{{"1", "Line 1\nLine 2"},
                                                      {"2", "CR LF\r\ninside"},
                                                      {"3", "end\n"},
                                                      {"4", "\rstarts with CR"}};
        QTest::newRow("users a spreadsheet would run")
            << true
            << Rows{{"=1+1", "101", "1101"},     {"+10-1102", "101", "1102"}, {"-x", "101", "1103"},
                    {"@SUM(A1)", "101", "1104"}, {"\tTab", "101", "1105"},    {"'=quoted", "101", "1106"},
                    {"''=twice", "101", "1107"}, {"'plain", "101", "1108"},   {"'", "101", "1109"}};
        QTest::newRow("users in the code page")
            << true << Rows{{QString::fromUtf8("Caf\u00E9 \u00DCn\u00EFon \u20AC 5"), "103", "1300"}};
        QTest::newRow("users outside the code page")
            << true
            << Rows{{QString::fromUtf8("\u041C\u0430\u0448\u0438\u043D\u0430 \u65E5\u672C ") + emoji, "104",
                     "1400"}};
        QTest::newRow("users 255 characters outside the basic plane")
            << true << Rows{{emoji.repeated(255), "105", "1500"}};
        QTest::newRow("users empty fields and blanks")
            << true << Rows{{"", "", ""}, {"", "200", "2000"}, {"  padded  ", "-32768", "32767"}};
        QTest::newRow("statuses") << false
                                  << Rows{{"10", "Default"},
                                          {"95", "Emergency, \"red\"\nat once"},
                                          {"-32768", QString::fromUtf8("\u00FC\u00F1\u00EF ") + emoji},
                                          {"32767", ""},
                                          {"", "no number"}};
        QTest::newRow("statuses empty") << false << Rows{};
    }

    // A table written through cursors, exported, imported into an empty table: the same rows.
    void roundTrip()
    {
        QFETCH(bool, users);
        QFETCH(Rows, rows);
        const TTableDef &def = Def(users);
        const QString source = EmptyTable(users, QStringLiteral("source.db"));
        {
            TTable t(source, def);
            for (const QStringList &row : rows) {
                t.Append();
                for (int f = 0; f < row.size(); ++f)
                    t.SetFieldText(def.fields.at(f).name, row.at(f));
                t.Post();
            }
            const QString csv = dir().filePath(QStringLiteral("export.csv"));
            WriteDirectoryFile(csv, def, TableTexts(t));
        }
        QCOMPARE(FileRows(source, users), rows);

        const QString csv = dir().filePath(QStringLiteral("export.csv"));
        const QString target = EmptyTable(users, QStringLiteral("target.db"));
        TTable t(target, def);
        // The file's format is what is tested here, stations the radio cannot call included.
        const TImportOptions all{true};
        const TImportPlan plan = PlanImport(def, CurrentRows(t), ReadDirectoryFile(csv, def), csv, all);
        QCOMPARE(plan.Count(ImportAction::Add), rows.size());
        QCOMPARE(plan.Count(ImportAction::Refuse), 0);
        t.WriteRows(plan.Writes(def));
        QCOMPARE(TableTexts(t), rows);
        QCOMPARE(FileRows(target, users), rows);
        // A second import of the same file finds nothing to do.
        const TImportPlan again = PlanImport(def, CurrentRows(t), ReadDirectoryFile(csv, def), csv, all);
        QCOMPARE(again.Count(ImportAction::Keep), rows.size());
        QVERIFY(!again.Writable());
    }

    void exportToFullDisk_data()
    {
        QTest::addColumn<int>("rows");
        QTest::newRow("small: held in the file's buffer until commit") << 3;
        QTest::newRow("larger than the disk") << 4000;
    }
    // A full disk is reported with the system's reason and the file it was for; the old
    // file stays as it was and no temporary file is left behind.
    void exportToFullDisk()
    {
        QFETCH(int, rows);
        TFullDisk disk;
        if (!disk.Error().isEmpty())
            QSKIP(qPrintable(disk.Error()));
        const QString csv = disk.Path(QStringLiteral("Users.csv"));
        const QByteArray old("Name,Fleet,Ident\r\nOld,100,1000\r\n");
        {
            QFile f(csv);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(old) == old.size());
        }
        QVERIFY(disk.Fill());
        Rows texts;
        for (int i = 0; i < rows; ++i)
            texts << QStringList{QStringLiteral("Station %1").arg(i), "100",
                                 QString::number(1000 + i % 4000)};
        try {
            WriteDirectoryFile(csv, UserTableDef(), texts);
            QFAIL("no error");
        } catch (const EDirectoryFileError &e) {
            const QString message = QString::fromUtf8(e.what());
            QVERIFY2(message.contains(QStringLiteral("\"%1\" cannot be written").arg(csv)), e.what());
            QVERIFY2(message.contains(QStringLiteral("No space left on device")), e.what());
        }
        QFile f(csv);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), old);
        QCOMPARE(QDir(QFileInfo(csv).path()).entryList(QDir::Files), QStringList{"Users.csv"});
    }

    // The bytes a spreadsheet or a script sees.
    void exportText()
    {
        const QString file =
            MakeUserFile(dir(), {"'Car \"1\", north', 101, 1101", "'two\nlines', 0, 0", "NULL, NULL, NULL",
                                 QString::fromUtf8("'\u00C5se \u20AC', 100, 1000"), "'+10-1102', -5, 1102"});
        TTable t(file, UserTableDef());
        const QString csv = dir().filePath(QStringLiteral("users.csv"));
        WriteDirectoryFile(csv, UserTableDef(), TableTexts(t));
        QFile f(csv);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("Name,Fleet,Ident\r\n"
                                         "\"Car \"\"1\"\", north\",101,1101\r\n"
                                         "\"two\nlines\",0,0\r\n"
                                         ",,\r\n"
                                         "\xC3\x85se \xE2\x82\xAC,100,1000\r\n"
                                         "'+10-1102,-5,1102\r\n"));
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("records"); // line: fields joined by |
        QTest::newRow("crlf") << QByteArray("a,b\r\nc,d\r\n") << QStringList{"1:a|b", "2:c|d"};
        QTest::newRow("lf without a last line end")
            << QByteArray("a,b\nc,d") << QStringList{"1:a|b", "2:c|d"};
        QTest::newRow("cr alone") << QByteArray("a\rb\r") << QStringList{"1:a", "2:b"};
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF"
                                                       "a,b\n")
                                         << QStringList{"1:a|b"};
        QTest::newRow("quoted line break counts as a line")
            << QByteArray("\"x\ny\",b\nc,d\n") << QStringList{"1:x\ny|b", "3:c|d"};
        QTest::newRow("quoted crlf kept")
            << QByteArray("\"x\r\ny\"\r\nz\r\n") << QStringList{"1:x\r\ny", "3:z"};
        QTest::newRow("empty lines skipped")
            << QByteArray("a,b\n\n\r\nc,d\n") << QStringList{"1:a|b", "4:c|d"};
        QTest::newRow("quoted empty field") << QByteArray("\"\"\n") << QStringList{"1:"};
        QTest::newRow("doubled quote") << QByteArray("\"a\"\"b\",\"\"\"\"\n") << QStringList{"1:a\"b|\""};
        QTest::newRow("empty last field") << QByteArray("a,\n,\n") << QStringList{"1:a|", "2:|"};
        QTest::newRow("blanks kept") << QByteArray(" a , b \n") << QStringList{"1: a | b "};
    }
    void parse()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, records);
        QStringList got;
        for (const TCsvRecord &r : ParseCsv(text, QStringLiteral("x.csv")))
            got << QStringLiteral("%1:%2").arg(r.line).arg(r.fields.join(QLatin1Char('|')));
        QCOMPARE(got, records);
    }

    void badFile_data()
    {
        QTest::addColumn<QByteArray>("content"); // "@big", "@random", "@folder": made by the test
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << QByteArray() << "is empty; it must start with the line Name,Fleet,Ident";
        QTest::newRow("only line ends") << QByteArray("\r\n\n") << "is empty";
        QTest::newRow("wrong header") << QByteArray("Fleet,Ident,Name\r\n1,2,a\r\n")
                                      << "line 1: the first line must be the header Name,Fleet,Ident, not "
                                         "Fleet,Ident,Name";
        QTest::newRow("semicolons") << QByteArray("Name;Fleet;Ident\r\n") << "line 1: the first line must be";
        QTest::newRow("status file") << QByteArray("No.,Text\r\n10,Default\r\n") << "line 1: the first line";
        QTest::newRow("zero byte on line 3")
            << QByteArray("Name,Fleet,Ident\nA,100,1000\nxx\0\1\2", 33) << "line 3: holds a zero byte";
        QTest::newRow("program file") << QByteArray("\x7F"
                                                    "ELF\2\1\1\0\0\0\0",
                                                    11)
                                      << "line 1: holds a zero byte";
        QTest::newRow("latin-1 text")
            << QByteArray("Name,Fleet,Ident\nCaf\xE9,100,1000\n") << "line 2: is not UTF-8 text";
        QTest::newRow("quote never closed") << QByteArray("Name,Fleet,Ident\nA,100,1000\n\"open,1,2\nB,1,2\n")
                                            << "line 3: a quoted field is not closed";
        QTest::newRow("quote inside a field")
            << QByteArray("Name,Fleet,Ident\nab\"c,100,1000\n") << "line 2: a quote inside a field";
        QTest::newRow("text after a closing quote")
            << QByteArray("Name,Fleet,Ident\n\"ab\"c,100,1000\n") << "line 2: text after the closing quote";
        QTest::newRow("UTF-16 with a byte order mark")
            << QByteArray("\xFF\xFEN\0a\0m\0e\0", 10) << "is UTF-16 text; save it as UTF-8";
        QTest::newRow("UTF-16 big-endian without one")
            << QByteArray("\0N\0a\0m\0e\0,\0F", 12) << "is UTF-16 text; save it as UTF-8";
        QTest::newRow("8 MB of short lines") << QByteArray("@lines") << "holds more than 1000 records";
        QTest::newRow("100 MB") << QByteArray("@big") << "is too large for a directory file (100.0 MB";
        QTest::newRow("1 MB of random bytes") << QByteArray("@random") << "line ";
        QTest::newRow("a folder") << QByteArray("@folder") << "is a folder";
    }
    // Every fault names the file, and the line where one is to blame.
    void badFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        const QString path = dir().filePath(QStringLiteral("bad users.csv"));
        if (content == "@big") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(100LL * 1024 * 1024)); // sparse: costs no disk
        } else if (content == "@random") {
            QByteArray bytes(1024 * 1024, Qt::Uninitialized);
            QRandomGenerator random(13);
            for (char &c : bytes)
                c = static_cast<char>(random.bounded(256));
            WriteFile(QStringLiteral("bad users.csv"), bytes);
        } else if (content == "@lines") {
            WriteFile(QStringLiteral("bad users.csv"),
                      "Name,Fleet,Ident\n" + QByteArray("a,1,2\n").repeated(MaxDirectoryFileSize / 6 - 3));
        } else if (content == "@folder") {
            QVERIFY(dir().mkdir(QStringLiteral("bad users.csv")));
        } else {
            WriteFile(QStringLiteral("bad users.csv"), content);
        }
        try {
            ReadDirectoryFile(path, UserTableDef());
            QFAIL("no error");
        } catch (const EDirectoryFileError &e) {
            const QString message = QString::fromUtf8(e.what());
            QVERIFY2(message.startsWith(QStringLiteral("File \"%1\"").arg(path)), qPrintable(message));
            QVERIFY2(message.contains(expected), qPrintable(message));
        }
    }

    void plan_data()
    {
        QTest::addColumn<bool>("users");
        QTest::addColumn<QStringList>("table"); // SQL values; empty: the sample table
        QTest::addColumn<QByteArray>("body");   // after the header
        QTest::addColumn<QString>("actions");
        QTest::addColumn<QStringList>("notes"); // line: reason or warning, for the lines that have one
        QTest::addColumn<bool>("writable");

        const QByteArray longName = QByteArray(256, 'x');
        const QByteArray longEmoji = QByteArray("\xF0\x9F\x98\x80").repeated(255);
        QTest::newRow("users matched on Fleet and Ident")
            << true << QStringList{} << QByteArray("Base,100,1000\nMain gate,100,1001\nCar 9,101,1109\n")
            << "2:unchanged 3:changed 4:added" << QStringList{} << true;
        QTest::newRow("users same name, other station")
            << true << QStringList{} << QByteArray("Base,100,1005\n") << "2:added" << QStringList{} << true;
        QTest::newRow("users numbers written otherwise")
            << true << QStringList{} << QByteArray("Base, 100,01000\nYard,+100,1001\n")
            << "2:unchanged 3:unchanged" << QStringList{} << false;
        QTest::newRow("users bad numbers")
            << true << QStringList{}
            << QByteArray("A,abc,1000\nB,40000,1000\nC,100,-32769\nD,1.5,1000\nE,100,\n")
            << "2:refused 3:refused 4:refused 5:refused 6:skipped"
            << QStringList{"2:Fleet: 'abc' is not a valid integer value",
                           "3:'40000' is out of range for field \"Fleet\"",
                           "4:'-32769' is out of range for field \"Ident\"",
                           "5:Fleet: '1.5' is not a valid integer value",
                           "6:cannot be called: Ident must be 0 or 1000 to 4999"}
            << false;
        QTest::newRow("users name length")
            << true << QStringList{} << QByteArray(longName + ",101,1111\n" + longEmoji + ",101,1112\n")
            << "2:refused 3:added" << QStringList{"2:too long: 256 characters, at most 255"} << false;
        QTest::newRow("users beyond 10")
            << true << QStringList{}
            << QByteArray("N1,110,1001\nN2,110,1002\nBase,100,1000\nN3,110,1003\nN4,110,1004\nN5,110,1005\n")
            << "2:added 3:added 4:unchanged 5:added 6:added 7:refused"
            << QStringList{"7:You can use up to 10 IDs."} << false;
        QTest::newRow("users changes at 10")
            << true << QStringList{"'U1',100,1000", "'U2',100,1001", "'U3',100,1002", "'U4',100,1003",
                                   "'U5',100,1004", "'U6',100,1005", "'U7',100,1006", "'U8',100,1007",
                                   "'U9',100,1008", "'U10',100,1009"}
            << QByteArray("Ten,100,1009\n") << "2:changed" << QStringList{} << true;
        QTest::newRow("users twice in the file")
            << true << QStringList{} << QByteArray("A,101,1101\nB,101,1101\n") << "2:changed 3:refused"
            << QStringList{"3:same Fleet and Ident as line 2"} << false;
        QTest::newRow("users the first of two equal rows is changed")
            << true << QStringList{"'First',100,1000", "'Second',100,1000"} << QByteArray("New,100,1000\n")
            << "2:changed" << QStringList{} << true;
        QTest::newRow("users out of the radio's range")
            << true << QStringList{} << QByteArray("Far,350,1000\nLow,99,999\nZero,0,0\n")
            << "2:skipped 3:skipped 4:changed"
            << QStringList{"2:cannot be called: Fleet must be 0 or 100 to 349",
                           "3:cannot be called: Fleet must be 0 or 100 to 349, Ident must be 0 or 1000 to "
                           "4999",
                           "4:renames Other: the call windows"}
            << true;
        QTest::newRow("users skipped stations take no place")
            << true << QStringList{}
            << QByteArray("Far,350,1000\nLow,99,999\nN1,110,1001\nN2,110,1002\nN3,110,1003\nN4,110,1004\n")
            << "2:skipped 3:skipped 4:added 5:added 6:added 7:added"
            << QStringList{"2:cannot be called", "3:cannot be called"} << true;
        QTest::newRow("users blanks around numbers")
            << true << QStringList{} << QByteArray("A, 110 ,1100 \nB,\t110,  1101\n") << "2:added 3:added"
            << QStringList{} << true;
        QTest::newRow("users line break in a name")
            << true << QStringList{}
            << QByteArray("\"Two\nlines\",110,1100\n\"CR\rhere\",110,1101\nOne,110,1102\n")
            << "2:refused 4:refused 6:added"
            << QStringList{"2:Name: a line break inside a quoted field", "4:Name: a line break"} << false;
        QTest::newRow("users every line with the wrong field count")
            << true << QStringList{}
            << QByteArray("A,110\nB,110,1101,x\nC,110,1102\n\"a\nb\",100,1000,1,2,3,4\n")
            << "2:refused 3:refused 4:added 5:refused"
            << QStringList{"2:2 field(s), but the header Name,Fleet,Ident has 3", "3:4 field(s)",
                           "5:7 field(s)"}
            << false;
        QTest::newRow("statuses") << false << QStringList{}
                                  << QByteArray("10,Default\n20,On duty now\n50,New\nx,Bad\n")
                                  << "2:unchanged 3:changed 4:added 5:refused"
                                  << QStringList{"5:No.: 'x' is not a valid integer value"} << false;
        QTest::newRow("statuses Default renamed")
            << false << QStringList{} << QByteArray("10,Normal\n20,DEFAULT\n") << "2:changed 3:changed"
            << QStringList{"2:renames Default: the status window starts"} << true;
        QTest::newRow("statuses warnings")
            << false << QStringList{} << QByteArray("0,Zero\n120,Big\n50,\"a\nb\"\n50,c\n")
            << "2:added 3:added 4:added 6:refused"
            << QStringList{"2:statuses numbered 0 are removed",
                           "3:the radio carries status numbers as two digits", "6:same No. as line 4"}
            << false;
    }
    void plan()
    {
        QFETCH(bool, users);
        QFETCH(QStringList, table);
        QFETCH(QByteArray, body);
        QFETCH(QString, actions);
        QFETCH(QStringList, notes);
        QFETCH(bool, writable);
        const TTableDef &def = Def(users);
        QString file;
        if (table.isEmpty())
            file = CopySample(users ? QStringLiteral("User.DB") : QStringLiteral("Status.db"), dir());
        else
            file = users ? MakeUserFile(dir(), table) : MakeStatusFile(dir(), table);
        const QByteArray header = users ? "Name,Fleet,Ident\n" : "No.,Text\n";
        const QString csv = WriteFile(QStringLiteral("in.csv"), header + body);
        TTable t(file, def);
        const Rows before = TableTexts(t);
        const TImportPlan plan = PlanImport(def, CurrentRows(t), ReadDirectoryFile(csv, def), csv);
        QCOMPARE(Describe(plan), actions);
        for (const auto &r : plan.rows) {
            const QString note = r.reason + r.warning;
            QString wanted;
            for (const QString &n : notes) {
                if (n.section(QLatin1Char(':'), 0, 0).toInt() == r.line)
                    wanted = n.section(QLatin1Char(':'), 1);
            }
            if (wanted.isEmpty())
                QVERIFY2(note.isEmpty(), qPrintable(QStringLiteral("line %1: %2").arg(r.line).arg(note)));
            else
                QVERIFY2(note.contains(wanted),
                         qPrintable(QStringLiteral("line %1: %2").arg(r.line).arg(note)));
            // A refused row is the only kind with a reason; warnings never refuse.
            QCOMPARE(r.reason.isEmpty(), r.action != ImportAction::Refuse);
        }
        QCOMPARE(plan.Writable(), writable);
        // Planning writes nothing.
        QCOMPARE(FileRows(file, users), before);
        if (!writable)
            return;
        t.WriteRows(plan.Writes(def));
        const Rows after = FileRows(file, users);
        QCOMPARE(after.size(), before.size() + plan.Count(ImportAction::Add));
        for (const auto &r : plan.rows)
            QVERIFY2(after.contains(r.texts) == (r.action != ImportAction::Skip),
                     qPrintable(r.texts.join(QLatin1Char('|'))));
    }

    void writeChecksTheFileItself_data()
    {
        QTest::addColumn<QString>("meanwhile"); // what another program does after the plan
        QTest::addColumn<QString>("error");
        QTest::newRow("adds a user: the limit is counted in the file")
            << "INSERT INTO \"User\" (Name, Fleet, Ident) VALUES ('Lookup', 120, 1200)"
            << "it would hold 11 rows, at most 10";
        QTest::newRow("renames the row the import changes")
            << "UPDATE \"User\" SET Name = 'Renamed' WHERE Ident = 1000"
            << "the row to be changed was changed elsewhere";
    }
    // The write re-checks what the plan assumed inside its own transaction: nothing
    // another program did after the plan is overwritten, and the limit holds.
    void writeChecksTheFileItself()
    {
        QFETCH(QString, meanwhile);
        QFETCH(QString, error);
        QStringList nine;
        for (int i = 0; i < 9; ++i)
            nine << QStringLiteral("'U%1', 100, %2").arg(i).arg(1000 + i);
        const QString file = MakeUserFile(dir(), nine);
        const QString csv =
            WriteFile(QStringLiteral("in.csv"), "Name,Fleet,Ident\nNew,110,1100\nU0 now,100,1000\n");
        TTable t(file, UserTableDef());
        const TImportPlan plan =
            PlanImport(UserTableDef(), CurrentRows(t), ReadDirectoryFile(csv, UserTableDef()), csv);
        QCOMPARE(Describe(plan), QStringLiteral("2:added 3:changed"));
        RunSql(file, {meanwhile});
        const Rows before = FileRows(file, true);
        try {
            t.WriteRows(plan.Writes(UserTableDef()), MaxImportUsers);
            QFAIL("no error");
        } catch (const ETableError &e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(error), e.what());
        }
        QCOMPARE(FileRows(file, true), before);
    }

    void lockedFileSaidPlainly_data()
    {
        QTest::addColumn<bool>("write");
        QTest::newRow("re-read") << false;
        QTest::newRow("write") << true;
    }
    // Another program holding the file locked is told at once, in words an operator
    // reads, not after the driver's five seconds in its own words.
    void lockedFileSaidPlainly()
    {
        QFETCH(bool, write);
        const QString file = CopySample(QStringLiteral("User.DB"), dir());
        TTable t(file, UserTableDef());
        {
            QSqlDatabase other =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            other.setDatabaseName(file);
            QVERIFY(other.open());
            QSqlQuery q(other);
            QVERIFY(q.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            t.SetBusyTimeout(200);
            QElapsedTimer clock;
            clock.start();
            try {
                if (write)
                    t.WriteRows({{0, {QStringLiteral("New"), 110, 1100}, {}}});
                else
                    t.Refresh();
                QFAIL("no error");
            } catch (const ETableError &e) {
                const QString message = QString::fromUtf8(e.what());
                QVERIFY2(message.contains(QStringLiteral("another program holds it locked")), e.what());
                QVERIFY2(!message.contains(QStringLiteral("database is locked")), e.what());
            }
            QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
            QVERIFY(q.exec(QStringLiteral("ROLLBACK")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
    }

    // Every refused line is reported: listed up to a cap, counted beyond it.
    void refusalsListedUpToCap()
    {
        const QString file = CopySample(QStringLiteral("Status.db"), dir());
        QByteArray body = "No.,Text\n";
        for (int i = 0; i < MaxListedRefusals + 50; ++i)
            body += "x" + QByteArray::number(i) + ",Bad\n";
        body += "77,Good\n";
        const QString csv = WriteFile(QStringLiteral("in.csv"), body);
        TTable t(file, StatusTableDef());
        const TImportPlan plan =
            PlanImport(StatusTableDef(), CurrentRows(t), ReadDirectoryFile(csv, StatusTableDef()), csv);
        QCOMPARE(plan.Count(ImportAction::Refuse), MaxListedRefusals + 50);
        QCOMPARE(plan.unlistedRefusals, 50);
        QCOMPARE(plan.rows.size(), MaxListedRefusals + 1);
        QCOMPARE(plan.rows.last().action, ImportAction::Add);
        QVERIFY(!plan.Writable());
    }

    void recordLimit_data()
    {
        QTest::addColumn<bool>("users");
        QTest::addColumn<int>("records");
        QTest::addColumn<bool>("refused");
        QTest::newRow("users at the limit") << true << 1000 << false;
        QTest::newRow("users over it") << true << 1001 << true;
        QTest::newRow("statuses at the limit") << false << 65536 << false;
        QTest::newRow("statuses over it") << false << 65537 << true;
    }
    // A file with far more records than the table can hold is refused while it is read,
    // before anything is planned.
    void recordLimit()
    {
        QFETCH(bool, users);
        QFETCH(int, records);
        QFETCH(bool, refused);
        QByteArray body = users ? "Name,Fleet,Ident\n" : "No.,Text\n";
        for (int i = 0; i < records; ++i)
            body += users ? QByteArray("N,110," + QByteArray::number(1000 + i) + "\n")
                          : QByteArray(QByteArray::number(i - 32768) + ",T\n");
        const QString csv = WriteFile(QStringLiteral("in.csv"), body);
        try {
            QCOMPARE(ReadDirectoryFile(csv, Def(users)).size(), records);
            QVERIFY(!refused);
        } catch (const EDirectoryFileError &e) {
            QVERIFY2(refused, e.what());
            QVERIFY2(QString::fromUtf8(e.what()).contains(QStringLiteral("holds more than")), e.what());
        }
    }

    // One transaction: a failure on the last row leaves the rows before it unwritten.
    void writeIsAllOrNothing()
    {
        const QString file = CopySample(QStringLiteral("User.DB"), dir());
        TTable t(file, UserTableDef());
        const Rows before = TableTexts(t);
        const qint64 goneId = t.RowId(0);
        // Another program deletes the row the import is about to change.
        RunSql(file, {QStringLiteral("DELETE FROM \"User\" WHERE id = %1").arg(goneId)});
        QList<TTable::RowWrite> writes{{0, {QStringLiteral("New 1"), 120, 1200}},
                                       {t.RowId(1), {QStringLiteral("Yard 2"), 100, 1001}},
                                       {goneId, {QStringLiteral("Base 2"), 100, 1000}}};
        try {
            t.WriteRows(writes);
            QFAIL("no error");
        } catch (const ETableError &e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(QStringLiteral("deleted elsewhere")), e.what());
        }
        Rows expected = before;
        expected.removeFirst();
        QCOMPARE(FileRows(file, true), expected);
        // The cursor still shows what it read; nothing of the import.
        QCOMPARE(TableTexts(t), before);
    }
};

QTEST_GUILESS_MAIN(TstImport)
#include "tst_import.moc"
