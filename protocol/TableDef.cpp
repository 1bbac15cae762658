#include "TableDef.h"

#include "Convert.h"

#include <QStringList>
#include <limits>

const TTableDef &UserTableDef()
{
    static const TTableDef def{QStringLiteral("User"),
                               {{QStringLiteral("Name"), FieldType::Text},
                                {QStringLiteral("Fleet"), FieldType::Int16},
                                {QStringLiteral("Ident"), FieldType::Int16}}};
    return def;
}

const TTableDef &StatusTableDef()
{
    static const TTableDef def{
        QStringLiteral("Status"),
        {{QStringLiteral("No."), FieldType::Int16}, {QStringLiteral("Text"), FieldType::Text}}};
    return def;
}

namespace {

bool InInt16Range(qlonglong n)
{
    return n >= std::numeric_limits<qint16>::min() && n <= std::numeric_limits<qint16>::max();
}

QString RangeError(const QString &field, const QString &text)
{
    return QStringLiteral("'%1' is out of range for field \"%2\": it must lie between -32768 and 32767")
        .arg(text.trimmed(), field);
}

QString LengthError(const QString &field, qsizetype length)
{
    return QStringLiteral("The text for field \"%1\" is too long: %2 characters, at most %3")
        .arg(field)
        .arg(length)
        .arg(MaxTextLength);
}

} // namespace

QString QuoteName(const QString &identifier)
{
    QString quoted = identifier;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString CreateTableSql(const TTableDef &def)
{
    QStringList columns{QStringLiteral("id INTEGER PRIMARY KEY")};
    for (const auto &f : def.fields)
        columns << QuoteName(f.name) +
                       (f.type == FieldType::Text ? QStringLiteral(" TEXT") : QStringLiteral(" INTEGER"));
    return QStringLiteral("CREATE TABLE %1 (%2)")
        .arg(QuoteName(def.table), columns.join(QStringLiteral(", ")));
}

int FindField(const TTableDef &def, const QString &name)
{
    for (int i = 0; i < def.fields.size(); ++i) {
        if (def.fields.at(i).name == name)
            return i;
    }
    return -1;
}

int RequireField(const TTableDef &def, const QString &name, const QString &where)
{
    const int i = FindField(def, name);
    if (i < 0)
        throw ETableError(QStringLiteral("Field \"%1\" not found in table \"%2\" of \"%3\"")
                              .arg(name, def.table, where)
                              .toStdString());
    return i;
}

ETableError EmptyTableError(const char *doing, const TTableDef &def, const QString &where)
{
    return ETableError(QStringLiteral("Cannot %1 the empty table \"%2\" in \"%3\"")
                           .arg(QLatin1String(doing), def.table, where)
                           .toStdString());
}

QVariant ConvertFieldText(const TFieldDef &field, const QString &text)
{
    if (field.type == FieldType::Text) {
        const qsizetype length = text.toUcs4().size();
        if (length > MaxTextLength)
            throw ETableError(LengthError(field.name, length).toStdString());
        return text.isEmpty() ? QVariant() : QVariant(text);
    }
    if (text.trimmed().isEmpty())
        return QVariant();
    const int value = StrToInt(text);
    if (!InInt16Range(value))
        throw ETableError(RangeError(field.name, text).toStdString());
    return value;
}

QString FieldValueText(const QVariant &value)
{
    if (value.isNull())
        return {};
    return value.toString();
}

TLocateKey MakeLocateKey(const TTableDef &def, const QString &where, const QString &fields,
                         const QVariantList &values)
{
    const QStringList names = fields.split(QLatin1Char(';'));
    if (names.size() != values.size())
        throw ETableError(QStringLiteral("Locate on \"%1\" needs %2 values, got %3")
                              .arg(fields)
                              .arg(names.size())
                              .arg(values.size())
                              .toStdString());
    TLocateKey key;
    for (int k = 0; k < names.size(); ++k) {
        const int i = RequireField(def, names.at(k).trimmed(), where);
        key.fields << i;
        const QVariant &v = values.at(k);
        if (def.fields.at(i).type == FieldType::Text) {
            key.wanted << v.toString();
            continue;
        }
        if (v.isNull()) {
            key.wanted << QVariant();
        } else if (v.typeId() == QMetaType::QString || v.typeId() == QMetaType::QByteArray) {
            const QString text = v.toString();
            if (text.trimmed().isEmpty()) {
                key.wanted << QVariant();
            } else {
                const int n = StrToInt(text);
                // A number no row can hold matches nothing.
                key.possible = key.possible && InInt16Range(n);
                key.wanted << n;
            }
        } else {
            bool ok = false;
            const qlonglong n = v.toLongLong(&ok);
            if (!ok)
                throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(v.toString()));
            key.wanted << n;
        }
    }
    return key;
}

bool RowMatches(const TTableDef &def, const TLocateKey &key, const QVariantList &row, bool caseInsensitive)
{
    for (int k = 0; k < key.fields.size(); ++k) {
        const int field = key.fields.at(k);
        const QVariant &have = row.at(field);
        const QVariant &want = key.wanted.at(k);
        if (def.fields.at(field).type == FieldType::Text) {
            if (FieldValueText(have).compare(want.toString(),
                                             caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive) != 0)
                return false;
        } else if (want.isNull()) {
            if (!have.isNull())
                return false;
        } else {
            bool ok = false;
            const qlonglong n = have.toLongLong(&ok);
            if (have.isNull() || !ok || n != want.toLongLong())
                return false;
        }
    }
    return true;
}
