// One table of cursor behaviour, run on the console's SQLite cursor (a real file
// in a scratch directory) and on the in-memory table the decoder tests use: a
// rule the fake keeps more loosely than the real table shows up as a row that
// passes on one and fails on the other.
#include "Convert.h"
#include "MemoryTable.h"
#include "Table.h"
#include "TableFixture.h"

#include <QHash>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

namespace {

// A cursor under test and the rows it holds as texts.
class TBackend {
public:
    virtual ~TBackend() = default;
    virtual ITableCursor &Cursor() = 0;
    // The rows RecordCount counts, field texts joined by ',' and rows by '/'.
    virtual QString Rows() = 0;
};

QString JoinRows(int count, int fields, const std::function<QString(int, int)> &text)
{
    QStringList rows;
    for (int r = 0; r < count; ++r) {
        QStringList row;
        for (int f = 0; f < fields; ++f)
            row << text(r, f);
        rows << row.join(QLatin1Char(','));
    }
    return rows.join(QLatin1Char('/'));
}

class TSqliteBackend final : public TBackend {
public:
    TSqliteBackend(const QDir &dir, const TTableDef &def, const QList<QStringList> &seed)
    {
        QStringList values;
        for (const auto &texts : seed) {
            QStringList sql;
            for (int f = 0; f < def.fields.size(); ++f) {
                const QString t = texts.value(f);
                if (t.isEmpty())
                    sql << QStringLiteral("NULL");
                else if (def.fields.at(f).type == FieldType::Int16)
                    sql << t;
                else
                    sql << QLatin1Char('\'') + QString(t).replace(QLatin1Char('\''), QStringLiteral("''")) +
                               QLatin1Char('\'');
            }
            values << sql.join(QStringLiteral(", "));
        }
        table_ = std::make_unique<TTable>(MakeTableFile(dir, def, values, QStringLiteral("table.db")), def);
    }
    ITableCursor &Cursor() override { return *table_; }
    QString Rows() override
    {
        return JoinRows(table_->RecordCount(), static_cast<int>(table_->Definition().fields.size()),
                        [this](int r, int f) { return table_->FieldText(r, f); });
    }

private:
    std::unique_ptr<TTable> table_;
};

class TMemoryBackend final : public TBackend {
public:
    TMemoryBackend(const TTableDef &def, const QList<QStringList> &seed)
        : table_(def.table == UserTableDef().table ? TMemoryTable::Users() : TMemoryTable::Statuses()),
          def_(def)
    {
        for (const auto &texts : seed)
            table_.AddRow(texts);
    }
    ITableCursor &Cursor() override { return table_; }
    QString Rows() override
    {
        return JoinRows(table_.RecordCount(), static_cast<int>(def_.fields.size()),
                        [this](int r, int f) { return table_.Cell(r, def_.fields.at(f).name); });
    }

private:
    TMemoryTable table_;
    TTableDef def_;
};

// One step of a case: "operation|argument|...=expected". Locate values are
// ';'-separated texts; a value written "#n" is passed as a number, not a text.
// Expected "table-error" or "convert-error" means the operation throws that error.
QString RunStep(TBackend &backend, const QString &step)
{
    const qsizetype eq = step.lastIndexOf(QLatin1Char('='));
    const QStringList parts = step.left(eq).split(QLatin1Char('|'));
    const QString op = parts.at(0);
    ITableCursor &c = backend.Cursor();
    try {
        if (op == QLatin1String("locate")) {
            QVariantList values;
            for (const auto &v : parts.at(2).split(QLatin1Char(';')))
                values << (v.startsWith(QLatin1Char('#')) ? QVariant(v.mid(1).toLongLong()) : QVariant(v));
            return c.Locate(parts.at(1), values, parts.value(3) == QLatin1String("ci"))
                       ? QStringLiteral("true")
                       : QStringLiteral("false");
        }
        if (op == QLatin1String("field"))
            return c.FieldAsText(parts.at(1));
        if (op == QLatin1String("count"))
            return QString::number(c.RecordCount());
        if (op == QLatin1String("modified"))
            return c.Modified() ? QStringLiteral("true") : QStringLiteral("false");
        if (op == QLatin1String("rows"))
            return backend.Rows();
        // The steps that take no argument.
        static const QHash<QString, void (ITableCursor::*)()> moves{
            {QStringLiteral("append"), &ITableCursor::Append},
            {QStringLiteral("post"), &ITableCursor::Post},
            {QStringLiteral("cancel"), &ITableCursor::Cancel},
            {QStringLiteral("first"), &ITableCursor::First},
            {QStringLiteral("last"), &ITableCursor::Last},
            {QStringLiteral("delete"), &ITableCursor::Delete}};
        if (op == QLatin1String("set"))
            c.SetFieldText(parts.at(1), parts.value(2));
        else if (const auto move = moves.value(op))
            (c.*move)();
        else
            return QStringLiteral("unknown step ") + op;
        return QStringLiteral("ok");
    } catch (const ETableError &) {
        return QStringLiteral("table-error");
    } catch (const EConvertError &) {
        return QStringLiteral("convert-error");
    } catch (const std::exception &e) {
        return QStringLiteral("other error: ") + QString::fromUtf8(e.what());
    }
}

const QList<QStringList> &UserSeed()
{
    static const QList<QStringList> seed{
        {"Base", "100", "1000"}, {"Yard", "100", "1001"}, {"", "101", "1101"}, {"Spare", "", ""}};
    return seed;
}

const QList<QStringList> &StatusSeed()
{
    static const QList<QStringList> seed{{"5", "On scene"}, {"95", "Man down"}};
    return seed;
}

QString Repeated(char32_t c, int n)
{
    return QString::fromUcs4(std::u32string(static_cast<size_t>(n), c).data(), n);
}

} // namespace

class TstTableCursor : public QObject {
    Q_OBJECT
private slots:
    void cursor_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<bool>("users");
        QTest::addColumn<QStringList>("steps");

        // 255 characters outside the Basic Multilingual Plane are 510 UTF-16 units.
        const QString wide255 = Repeated(U'\U0001F600', 255);
        const QString wide256 = Repeated(U'\U0001F600', 256);
        const QString plain300 = Repeated(U'x', 300);

        const QList<std::tuple<const char *, bool, QStringList>> cases{
            {"locate by fleet and ident",
             true,
             {"locate|Fleet;Ident|100;1001=true", "field|Name=Yard", "field|Ident=1001"}},
            {"locate misses", true, {"locate|Fleet;Ident|100;1999=false", "locate|Name|Nobody=false"}},
            {"locate takes the first match in table order",
             true,
             {"locate|Fleet|100=true", "field|Name=Base"}},
            {"field names in another case are unknown",
             true,
             {"locate|fleet;ident|100;1000=table-error", "locate|Fleet|100=true", "field|name=table-error",
              "set|NAME|x=table-error", "field|Name=Base"}},
            {"unknown field", true, {"field|Nme=table-error", "locate|Nme|x=table-error"}},
            {"locate text case",
             true,
             {"locate|Name|yard=false", "locate|Name|yard|ci=true", "field|Name=Yard"}},
            {"locate number out of range as text matches nothing",
             true,
             {"locate|Fleet|40000=false", "locate|Fleet;Ident|100;-32769=false", "count=4"}},
            {"locate number out of range as number matches nothing",
             true,
             {"locate|Ident|#70000=false", "locate|Fleet|#100=true"}},
            {"locate a text that is not a number", true, {"locate|Fleet|abc=convert-error"}},
            {"locate with one value too few", true, {"locate|Fleet;Ident|100=table-error"}},
            {"locate an empty number finds an empty field",
             true,
             {"locate|Fleet| =true", "field|Name=Spare", "field|Fleet="}},
            {"locate an empty name finds an empty field", true, {"locate|Name|=true", "field|Fleet=101"}},
            {"locate a text longer than a field holds matches nothing",
             true,
             {"locate|Name|" + plain300 + "=false"}},
            {"text length counts characters, not UTF-16 units",
             true,
             {"locate|Name|Base=true", "set|Name|" + wide255 + "=ok", "post=ok", "field|Name=" + wide255,
              "set|Name|" + wide256 + "=table-error", "field|Name=" + wide255}},
            {"numbers outside 16 bits are refused",
             true,
             {"locate|Name|Base=true", "set|Fleet|32767=ok", "set|Ident|-32768=ok",
              "set|Fleet|32768=table-error", "set|Ident|-32769=table-error", "set|Fleet|1x=convert-error",
              "post=ok", "field|Fleet=32767", "field|Ident=-32768"}},
            {"number texts are converted",
             true,
             {"locate|Name|Base=true", "set|Fleet| 0200=ok", "post=ok", "field|Fleet=200"}},
            {"append, post, record count",
             true,
             {"count=4", "append=ok", "count=4", "modified=false", "field|Name=", "set|Name|New=ok",
              "set|Fleet|200=ok", "set|Ident|2000=ok", "modified=true", "field|Name=New", "post=ok",
              "count=5", "modified=false", "locate|Fleet;Ident|200;2000=true", "field|Name=New",
              "rows=Base,100,1000/Yard,100,1001/,101,1101/Spare,,/New,200,2000"}},
            {"append and cancel",
             true,
             {"append=ok", "set|Name|Gone=ok", "cancel=ok", "count=4", "modified=false", "field|Name=Spare",
              "locate|Name|Gone=false"}},
            {"an appended row without input is dropped on a move",
             true,
             {"append=ok", "first=ok", "count=4", "field|Name=Base", "last=ok", "field|Name=Spare"}},
            {"an appended row with input is written on a move",
             true,
             {"append=ok", "set|Name|Kept=ok", "first=ok", "count=5", "modified=false", "last=ok",
              "field|Name=Kept"}},
            {"a second append writes the first",
             true,
             {"append=ok", "set|Name|One=ok", "append=ok", "count=5", "set|Name|Two=ok", "post=ok", "count=6",
              "rows=Base,100,1000/Yard,100,1001/,101,1101/Spare,,/One,,/Two,,"}},
            {"an edit and cancel",
             true,
             {"locate|Name|Base=true", "set|Name|Changed=ok", "modified=true", "cancel=ok", "modified=false",
              "field|Name=Base", "locate|Name|Changed=false"}},
            {"an edit is written by a locate",
             true,
             {"locate|Name|Base=true", "set|Name|Changed=ok", "locate|Name|Yard=true", "modified=false",
              "locate|Name|Changed=true", "field|Fleet=100"}},
            {"first and last", true, {"last=ok", "field|Name=Spare", "first=ok", "field|Name=Base"}},
            {"delete moves to the next row",
             true,
             {"locate|Name|Yard=true", "delete=ok", "count=3", "field|Fleet=101", "locate|Name|Yard=false"}},
            {"delete of the last row moves to the new last",
             true,
             {"last=ok", "delete=ok", "count=3", "field|Fleet=101"}},
            {"delete while appending drops the appended row",
             true,
             {"append=ok", "set|Name|Q=ok", "delete=ok", "count=4", "locate|Name|Q=false"}},
            {"status number",
             false,
             {"locate|No.|95=true", "field|Text=Man down", "locate|No.|095=true", "locate|No.| 5=true",
              "field|Text=On scene", "locate|No.|#5=true", "locate|no.|5=table-error"}},
        };
        for (const char *backend : {"sqlite", "memory"}) {
            for (const auto &[name, users, steps] : cases)
                QTest::addRow("%s: %s", backend, name) << QString::fromLatin1(backend) << users << steps;
        }
        // The empty table, on both.
        for (const char *backend : {"sqlite", "memory"})
            QTest::addRow("%s: empty table", backend) << QString::fromLatin1(backend) << false
                                                      << QStringList{"empty",
                                                                     "count=0",
                                                                     "field|Text=",
                                                                     "first=ok",
                                                                     "field|Text=",
                                                                     "last=ok",
                                                                     "delete=table-error",
                                                                     "set|Text|x=table-error",
                                                                     "locate|No.|5=false",
                                                                     "append=ok",
                                                                     "set|No.|7=ok",
                                                                     "set|Text|Seven=ok",
                                                                     "post=ok",
                                                                     "count=1",
                                                                     "rows=7,Seven"};
    }

    void cursor()
    {
        QFETCH(QString, backend);
        QFETCH(bool, users);
        QFETCH(QStringList, steps);
        const TTableDef &def = users ? UserTableDef() : StatusTableDef();
        QList<QStringList> seed = users ? UserSeed() : StatusSeed();
        if (steps.value(0) == QLatin1String("empty")) {
            seed.clear();
            steps.removeFirst();
        }
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        std::unique_ptr<TBackend> b;
        if (backend == QLatin1String("sqlite"))
            b = std::make_unique<TSqliteBackend>(QDir(tmp.path()), def, seed);
        else
            b = std::make_unique<TMemoryBackend>(def, seed);
        for (int i = 0; i < steps.size(); ++i) {
            const QString &step = steps.at(i);
            const QString expected = step.mid(step.lastIndexOf(QLatin1Char('=')) + 1);
            const QString got = RunStep(*b, step);
            if (got != expected)
                QFAIL(qPrintable(QStringLiteral("step %1 (%2): got \"%3\", expected \"%4\"")
                                     .arg(i + 1)
                                     .arg(step.left(80), got.left(80), expected.left(80))));
        }
    }
};

QTEST_GUILESS_MAIN(TstTableCursor)
#include "tst_tablecursor.moc"
