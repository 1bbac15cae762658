#include "ImportPlan.h"

#include "Convert.h"

#include <QHash>

namespace {

bool IsUserTable(const TTableDef &def)
{
    return def.table == UserTableDef().table;
}

QList<int> KeyFields(const TTableDef &def)
{
    if (IsUserTable(def))
        return {1, 2}; // Fleet, Ident
    return {0};        // No.
}

QString KeyOf(const QStringList &texts, const QList<int> &fields)
{
    QStringList parts;
    for (int f : fields)
        parts << texts.value(f);
    return parts.join(QLatin1Char('\x1F'));
}

QString KeyName(const TTableDef &def)
{
    const QList<int> fields = KeyFields(def);
    QStringList names;
    for (int f : fields)
        names << def.fields.at(f).name;
    return names.join(QStringLiteral(" and "));
}

// Fleet 0 or 100..349, Ident 0 or 1000..4999: what the radio can address.
QString StationWarning(const QStringList &texts)
{
    QStringList problems;
    bool ok = false;
    const int fleet = texts.value(1).toInt(&ok);
    if (!ok || (fleet != 0 && (fleet < 100 || fleet > 349)))
        problems << QStringLiteral("Fleet must be 0 or 100 to 349");
    const int ident = texts.value(2).toInt(&ok);
    if (!ok || (ident != 0 && (ident < 1000 || ident > 4999)))
        problems << QStringLiteral("Ident must be 0 or 1000 to 4999");
    if (problems.isEmpty())
        return {};
    return QStringLiteral("cannot be called: ") + problems.join(QStringLiteral(", "));
}

QString StatusWarning(const QStringList &texts)
{
    bool ok = false;
    const int number = texts.value(0).toInt(&ok);
    if (ok && number == 0)
        return QStringLiteral("statuses numbered 0 are removed when Edit Status is closed with Close");
    if (!ok || number < 0 || number > 99)
        return QStringLiteral("the radio carries status numbers as two digits (0 to 99)");
    return {};
}

// Rows the windows look for by their text: the call windows' "Other" station and the status
// window's "Default". Renaming them away takes that behaviour with them.
QString RenameWarning(bool users, const QStringList &before, const QStringList &after)
{
    const int field = users ? 0 : 1;
    const QString wanted = users ? QStringLiteral("Other") : QStringLiteral("Default");
    const Qt::CaseSensitivity cs = users ? Qt::CaseSensitive : Qt::CaseInsensitive;
    if (before.value(field).compare(wanted, cs) != 0 || after.value(field).compare(wanted, cs) == 0)
        return {};
    return users ? QStringLiteral(
                       "renames Other: the call windows let the operator type Fleet and Ident only for "
                       "the row named Other")
                 : QStringLiteral("renames Default: the status window starts on the status named Default");
}

} // namespace

int TImportPlan::Count(ImportAction action) const
{
    int n = action == ImportAction::Refuse ? unlistedRefusals : 0;
    for (const auto &r : rows)
        n += r.action == action ? 1 : 0;
    return n;
}

int TImportPlan::Warnings() const
{
    int n = 0;
    for (const auto &r : rows)
        n += r.warning.isEmpty() ? 0 : 1;
    return n;
}

bool TImportPlan::Writable() const
{
    return Count(ImportAction::Refuse) == 0 && Count(ImportAction::Add) + Count(ImportAction::Change) > 0;
}

QList<TTable::RowWrite> TImportPlan::Writes(const TTableDef &def) const
{
    QList<TTable::RowWrite> writes;
    for (const auto &r : rows) {
        if (r.action != ImportAction::Add && r.action != ImportAction::Change)
            continue;
        TTable::RowWrite w;
        w.id = r.action == ImportAction::Change ? r.id : 0;
        if (r.action == ImportAction::Change)
            w.before = r.before;
        for (int f = 0; f < def.fields.size(); ++f)
            w.values << TTable::ConvertText(def.fields.at(f), r.texts.value(f));
        writes << w;
    }
    return writes;
}

bool TImportPlan::SameAs(const TImportPlan &other) const
{
    if (rows.size() != other.rows.size() || unlistedRefusals != other.unlistedRefusals)
        return false;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const auto &a = rows.at(i);
        const auto &b = other.rows.at(i);
        if (a.action != b.action || a.id != b.id || a.texts != b.texts || a.before != b.before)
            return false;
    }
    return true;
}

QList<TTableRowTexts> CurrentRows(const TTable &table)
{
    QList<TTableRowTexts> rows;
    const QList<QStringList> texts = TableTexts(table);
    for (int r = 0; r < texts.size(); ++r)
        rows.append({table.RowId(r), texts.at(r)});
    return rows;
}

TImportPlan PlanImport(const TTableDef &def, const QList<TTableRowTexts> &current,
                       const QList<TCsvRecord> &records, const QString &fileName,
                       const TImportOptions &options)
{
    TImportPlan plan;
    plan.fileName = fileName;
    plan.options = options;
    int refused = 0;
    const auto refuse = [&plan, &refused](const TImportRow &row) {
        if (++refused > MaxListedRefusals)
            ++plan.unlistedRefusals;
        else
            plan.rows << row;
    };
    const QString header = CsvHeader(def).join(QLatin1Char(','));
    const bool users = IsUserTable(def);
    const QList<int> keyFields = KeyFields(def);

    // The first row of the table with a key is the one a lookup finds; it is the one changed.
    QHash<QString, qsizetype> tableByKey;
    for (qsizetype i = 0; i < current.size(); ++i) {
        const QString key = KeyOf(current.at(i).texts, keyFields);
        if (!tableByKey.contains(key))
            tableByKey.insert(key, i);
    }
    QHash<QString, int> fileByKey; // key -> line of the file that has it
    // Only rows that are written count: the table's rows that are not pending.
    int userCount = static_cast<int>(current.size());

    for (const TCsvRecord &record : records) {
        TImportRow row;
        row.line = record.line;
        row.texts = record.fields;
        if (record.fieldCount != def.fields.size()) {
            row.reason = QStringLiteral("%1 field(s), but the header %2 has %3")
                             .arg(record.fieldCount)
                             .arg(header)
                             .arg(def.fields.size());
            refuse(row);
            continue;
        }
        QStringList values;
        QStringList errors;
        for (int f = 0; f < def.fields.size(); ++f) {
            const TFieldDef &field = def.fields.at(f);
            QString text = record.fields.value(f);
            // Spreadsheets pad numbers on either side; both are the same number.
            if (field.type == FieldType::Int16)
                text = text.trimmed();
            else if (users && (text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))))
                errors << QStringLiteral(
                              "%1: a line break inside a quoted field (a station's name is one line)")
                              .arg(field.name);
            try {
                const QVariant v = TTable::ConvertText(field, text);
                values << (v.isNull() ? QString() : v.toString());
            } catch (const EConvertError &e) {
                errors << QStringLiteral("%1: %2").arg(field.name, e.Message());
                values << QString();
            } catch (const std::exception &e) {
                errors << QString::fromUtf8(e.what());
                values << QString();
            }
        }
        if (!errors.isEmpty()) {
            row.reason = errors.join(QStringLiteral("; "));
            refuse(row);
            continue;
        }
        row.texts = values;
        const QString key = KeyOf(values, keyFields);
        if (const auto seen = fileByKey.constFind(key); seen != fileByKey.cend()) {
            row.reason = QStringLiteral("same %1 as line %2").arg(KeyName(def)).arg(*seen);
            refuse(row);
            continue;
        }
        fileByKey.insert(key, row.line);
        if (const auto match = tableByKey.constFind(key); match != tableByKey.cend()) {
            const TTableRowTexts &existing = current.at(*match);
            row.id = existing.id;
            if (existing.texts == values) {
                row.action = ImportAction::Keep;
            } else {
                row.action = ImportAction::Change;
                row.before = existing.texts;
            }
        } else if (users && !options.uncallable && !StationWarning(values).isEmpty()) {
            // Not written, so it takes none of the ten places.
            row.action = ImportAction::Skip;
            row.warning = StationWarning(values);
            plan.rows << row;
            continue;
        } else if (users && userCount >= MaxImportUsers) {
            row.reason = QStringLiteral("You can use up to 10 IDs.");
            refuse(row);
            continue;
        } else {
            row.action = ImportAction::Add;
            ++userCount;
        }
        QStringList warnings{users ? StationWarning(values) : StatusWarning(values)};
        if (row.action == ImportAction::Change)
            warnings << RenameWarning(users, row.before, values);
        warnings.removeAll(QString());
        row.warning = warnings.join(QStringLiteral("; "));
        plan.rows << row;
    }
    return plan;
}

QString ImportActionText(ImportAction action)
{
    switch (action) {
    case ImportAction::Add:
        return QStringLiteral("added");
    case ImportAction::Change:
        return QStringLiteral("changed");
    case ImportAction::Keep:
        return QStringLiteral("unchanged");
    case ImportAction::Skip:
        return QStringLiteral("skipped");
    case ImportAction::Refuse:
        break;
    }
    return QStringLiteral("refused");
}
