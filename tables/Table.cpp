#include "Table.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QUrl>
#include <sys/stat.h>

namespace {

// Instances on one file share a connection, per thread, while any of them is open.
QHash<QString, int> &ConnectionUsers()
{
    thread_local QHash<QString, int> users;
    return users;
}

void ReleaseConnection(const QString &name)
{
    auto &users = ConnectionUsers();
    if (--users[name] > 0)
        return;
    users.remove(name);
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

// SQLITE_BUSY and SQLITE_LOCKED: another connection holds the lock.
bool IsLockError(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok && ((code & 0xFF) == 5 || (code & 0xFF) == 6);
}

QString LockedText()
{
    return QStringLiteral("another program holds it locked; try again when it has let go");
}

} // namespace

// ---------------------------------------------------------------------------

TTableModel::TTableModel(TTable *table) : QAbstractTableModel(table), table_(table) {}

int TTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : table_->RowCount();
}

int TTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(table_->def_.fields.size()) + 1;
}

QVariant TTableModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const auto &row = table_->rows_[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        if (index.column() == 0)
            return row.id;
        return FieldValueText(row.values.at(index.column() - 1));
    case Qt::TextAlignmentRole:
        if (index.column() > 0 && table_->def_.fields.at(index.column() - 1).type == FieldType::Int16)
            return QVariant(Qt::AlignCenter);
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant TTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section == 0)
        return QStringLiteral("id");
    if (section > 0 && section <= table_->def_.fields.size())
        return table_->def_.fields.at(section - 1).name;
    return {};
}

Qt::ItemFlags TTableModel::flags(const QModelIndex &index) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() > 0 && !table_->readOnly_.at(index.column() - 1))
        f |= Qt::ItemIsEditable;
    return f;
}

bool TTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || index.column() == 0 || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return false;
    // Views call this from inside Qt's event handling: nothing may be thrown through
    // it. A refused value leaves the row as it was; views check texts first with
    // CheckFieldText to tell the operator why.
    try {
        const QString field = table_->def_.fields.at(index.column() - 1).name;
        const QString text = value.toString();
        if (!table_->CheckFieldText(field, text).isEmpty())
            return false;
        const int row = index.row();
        if (row != table_->current_) {
            table_->SetCurrentRow(row);
            if (table_->current_ != row)
                return false;
        }
        // Writing an unchanged text into a cell starts no edit.
        if (table_->FieldText(row, index.column() - 1) == text)
            return true;
        table_->SetFieldText(field, text);
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

// ---------------------------------------------------------------------------

TTable::TTable(const QString &fileName, const TTableDef &def, QObject *parent)
    : QObject(parent), def_(def), model_(new TTableModel(this))
{
    readOnly_.fill(false, def_.fields.size());
    const QFileInfo info(fileName);
    fileName_ = info.absoluteFilePath();
    if (!info.exists())
        throw ETableError(QStringLiteral("Table file \"%1\" does not exist").arg(fileName_).toStdString());
    if (!info.isFile())
        throw ETableError(QStringLiteral("Table file \"%1\" is not a file").arg(fileName_).toStdString());

    struct stat st {};
    if (::stat(QFile::encodeName(fileName_).constData(), &st) == 0) {
        device_ = st.st_dev;
        inode_ = st.st_ino;
    }
    // Keyed by the file itself too: a file put in place of one still open elsewhere
    // gets its own connection rather than the old file's.
    connectionName_ = QStringLiteral("corvalink-table:%1:%2:%3@%4")
                          .arg(info.canonicalFilePath())
                          .arg(device_)
                          .arg(inode_)
                          .arg(reinterpret_cast<quintptr>(QThread::currentThread()));
    auto &users = ConnectionUsers();
    if (users.contains(connectionName_)) {
        db_ = QSqlDatabase::database(connectionName_, false);
        ++users[connectionName_];
    } else {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
            // mode=rw: SQLite must never create the file, even if it vanished just now.
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI"));
            db.setDatabaseName(QUrl::fromLocalFile(info.canonicalFilePath()).toString(QUrl::FullyEncoded) +
                               QStringLiteral("?mode=rw"));
            if (!db.open()) {
                const QString detail = db.lastError().text();
                db = QSqlDatabase();
                QSqlDatabase::removeDatabase(connectionName_);
                throw ETableError(
                    QStringLiteral("Cannot open table file \"%1\": %2").arg(fileName_, detail).toStdString());
            }
        }
        users.insert(connectionName_, 1);
        db_ = QSqlDatabase::database(connectionName_, false);
    }

    try {
        // The file must hold our table with the hidden id and every field.
        QSqlQuery q(db_);
        if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(QuoteName(def_.table))))
            Fail(QStringLiteral("is not a table file"), q.lastError().text());
        bool hasId = false;
        QStringList columns;
        while (q.next()) {
            const QString name = q.value(1).toString();
            columns << name;
            if (name == QLatin1String("id") && q.value(5).toInt() == 1 &&
                q.value(2).toString().compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) == 0)
                hasId = true;
        }
        if (columns.isEmpty())
            Fail(QStringLiteral("holds no table \"%1\"").arg(def_.table), {});
        if (!hasId)
            Fail(QStringLiteral("has no \"id INTEGER PRIMARY KEY\" in table \"%1\"").arg(def_.table), {});
        for (const auto &f : def_.fields) {
            if (!columns.contains(f.name))
                Fail(QStringLiteral("has no field \"%1\" in table \"%2\"").arg(f.name, def_.table), {});
        }
        q.finish();
        // A post must be on disk before it returns.
        if (!q.exec(QStringLiteral("PRAGMA synchronous=FULL")))
            Fail(QStringLiteral("cannot be set up"), q.lastError().text());
        LoadRows();
    } catch (...) {
        db_ = QSqlDatabase();
        ReleaseConnection(connectionName_);
        throw;
    }
    current_ = rows_.empty() ? -1 : 0;
}

TTable::~TTable()
{
    db_ = QSqlDatabase();
    ReleaseConnection(connectionName_);
}

void TTable::Fail(const QString &what, const QString &detail) const
{
    QString message = QStringLiteral("Table file \"%1\" %2").arg(fileName_, what);
    if (!detail.isEmpty())
        message += QStringLiteral(": ") + detail;
    throw ETableError(message.toStdString());
}

void TTable::FailOn(const QString &what, const QSqlError &error) const
{
    // The driver's words ("database is locked Unable to fetch row") tell an operator nothing.
    Fail(what, IsLockError(error) ? LockedText() : error.text());
}

void TTable::CheckFileStillThere() const
{
    struct stat st {};
    if (::stat(QFile::encodeName(fileName_).constData(), &st) != 0)
        Fail(QStringLiteral("no longer exists"), {});
    if (st.st_dev != device_ || st.st_ino != inode_)
        Fail(QStringLiteral("was replaced by another file since it was opened"), {});
}

void TTable::LoadRows()
{
    CheckFileStillThere();
    QStringList columns;
    for (const auto &f : def_.fields)
        columns << QuoteName(f.name);
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT id, %1 FROM %2 ORDER BY id")
                    .arg(columns.join(QStringLiteral(", ")), QuoteName(def_.table))))
        FailOn(QStringLiteral("cannot be read"), q.lastError());
    std::vector<Row> rows;
    while (q.next()) {
        Row row;
        row.id = q.value(0).toLongLong();
        for (int i = 0; i < def_.fields.size(); ++i) {
            QVariant v = q.value(i + 1);
            if (v.isNull())
                row.values << QVariant();
            else if (def_.fields.at(i).type == FieldType::Text)
                row.values << v.toString();
            else
                row.values << v;
        }
        rows.push_back(std::move(row));
    }
    if (q.lastError().isValid())
        FailOn(QStringLiteral("cannot be read"), q.lastError());
    rows_ = std::move(rows);
}

void TTable::Exec(const QString &what, const QString &sql, const QVariantList &binds, qint64 *insertId,
                  int *rowsAffected)
{
    CheckFileStillThere();
    if (!db_.transaction())
        Fail(QStringLiteral("cannot be written (%1)").arg(what), db_.lastError().text());
    QString error;
    {
        QSqlQuery q(db_);
        bool ok = q.prepare(sql);
        for (const auto &v : binds)
            q.addBindValue(v);
        ok = ok && q.exec();
        if (ok) {
            if (insertId)
                *insertId = q.lastInsertId().toLongLong();
            if (rowsAffected)
                *rowsAffected = q.numRowsAffected();
        } else {
            error = q.lastError().text();
        }
    }
    if (error.isEmpty() && db_.commit())
        return;
    if (error.isEmpty())
        error = db_.lastError().text();
    db_.rollback();
    Fail(QStringLiteral("cannot be written (%1)").arg(what), error);
}

int TTable::FieldIndex(const QString &field) const
{
    return FindField(def_, field);
}

int TTable::ModelColumn(const QString &field) const
{
    const int i = FieldIndex(field);
    return i < 0 ? -1 : i + 1;
}

int TTable::RequireField(const QString &field) const
{
    return ::RequireField(def_, field, fileName_);
}

QString TTable::FieldText(int row, int field) const
{
    if (row < 0 || row >= RowCount() || field < 0 || field >= def_.fields.size())
        return {};
    return FieldValueText(rows_[static_cast<size_t>(row)].values.at(field));
}

QVariant TTable::ConvertText(const TFieldDef &f, const QString &text)
{
    return ::ConvertFieldText(f, text);
}

QVariant TTable::ConvertFieldText(int field, const QString &text) const
{
    return ConvertText(def_.fields.at(field), text);
}

QString TTable::CheckFieldText(const QString &field, const QString &text) const
{
    try {
        ConvertFieldText(RequireField(field), text);
        return {};
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
}

void TTable::SetFieldReadOnly(const QString &field, bool readOnly)
{
    const int i = RequireField(field);
    readOnly_[i] = readOnly;
    if (!rows_.empty())
        emit model_->dataChanged(model_->index(0, i + 1), model_->index(RowCount() - 1, i + 1));
}

bool TTable::FieldReadOnly(const QString &field) const
{
    return readOnly_.at(RequireField(field));
}

void TTable::SetCurrent(int row)
{
    if (row == current_)
        return;
    current_ = row;
    emit CurrentRowChanged(current_);
}

// What every cursor move does first: write a changed pending row, drop an
// appended row that got no input.
void TTable::CheckBrowseMode()
{
    emit UpdateRecord();
    if (state_ == State::Insert && !modified_) {
        Cancel();
        return;
    }
    if (state_ != State::Browse)
        Post();
}

void TTable::Cancel()
{
    if (state_ == State::Insert) {
        const int row = RowCount() - 1;
        state_ = State::Browse;
        modified_ = false;
        model_->beginRemoveRows({}, row, row);
        rows_.pop_back();
        model_->endRemoveRows();
        // The appended row was the current one; the row before it takes its place.
        current_ = -2;
        SetCurrent(RowCount() - 1);
    } else if (state_ == State::Edit) {
        rows_[static_cast<size_t>(current_)].values = saved_;
        state_ = State::Browse;
        modified_ = false;
        emit model_->dataChanged(model_->index(current_, 1), model_->index(current_, def_.fields.size()));
    }
}

void TTable::SetCurrentRow(int row)
{
    if (row == current_ || row < 0 || row >= RowCount())
        return;
    CheckBrowseMode();
    SetCurrent(qMin(row, RowCount() - 1));
}

bool TTable::Locate(const QString &fields, const QVariantList &values, bool caseInsensitive)
{
    const TLocateKey key = MakeLocateKey(def_, fileName_, fields, values);
    CheckBrowseMode();
    if (!key.possible)
        return false;
    for (int r = 0; r < RowCount(); ++r) {
        if (RowMatches(def_, key, rows_[static_cast<size_t>(r)].values, caseInsensitive)) {
            SetCurrent(r);
            return true;
        }
    }
    return false;
}

QString TTable::FieldAsText(const QString &field) const
{
    const int i = RequireField(field);
    return FieldText(current_, i);
}

int TTable::RecordCount() const
{
    return RowCount() - (state_ == State::Insert ? 1 : 0);
}

void TTable::Append()
{
    CheckBrowseMode();
    const int row = RowCount();
    Row r;
    for (int i = 0; i < def_.fields.size(); ++i)
        r.values << QVariant();
    model_->beginInsertRows({}, row, row);
    rows_.push_back(std::move(r));
    model_->endInsertRows();
    state_ = State::Insert;
    modified_ = false;
    SetCurrent(row);
}

void TTable::SetFieldText(const QString &field, const QString &text)
{
    const int i = RequireField(field);
    if (readOnly_.at(i))
        throw ETableError(QStringLiteral("Field \"%1\" cannot be modified").arg(field).toStdString());
    if (current_ < 0)
        throw EmptyTableError("edit", def_, fileName_);
    const QVariant value = ConvertFieldText(i, text);
    auto &row = rows_[static_cast<size_t>(current_)];
    if (state_ == State::Browse) {
        saved_ = row.values;
        state_ = State::Edit;
    }
    row.values[i] = value;
    modified_ = true;
    const QModelIndex cell = model_->index(current_, i + 1);
    emit model_->dataChanged(cell, cell);
}

bool TTable::Modified() const
{
    return state_ != State::Browse && modified_;
}

void TTable::Post()
{
    emit UpdateRecord();
    if (state_ == State::Browse)
        return;
    auto &row = rows_[static_cast<size_t>(current_)];
    QStringList columns;
    for (const auto &f : def_.fields)
        columns << QuoteName(f.name);
    if (state_ == State::Insert) {
        QStringList marks;
        for (int i = 0; i < columns.size(); ++i)
            marks << QStringLiteral("?");
        qint64 id = 0;
        Exec(QStringLiteral("append"),
             QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                 .arg(QuoteName(def_.table), columns.join(QStringLiteral(", ")),
                      marks.join(QStringLiteral(", "))),
             row.values, &id);
        row.id = id;
    } else {
        QStringList sets;
        for (const auto &c : columns)
            sets << c + QStringLiteral(" = ?");
        QVariantList binds = row.values;
        binds << row.id;
        int affected = 0;
        Exec(QStringLiteral("edit"),
             QStringLiteral("UPDATE %1 SET %2 WHERE id = ?")
                 .arg(QuoteName(def_.table), sets.join(QStringLiteral(", "))),
             binds, nullptr, &affected);
        if (affected != 1)
            Fail(QStringLiteral("no longer holds the edited row; it was deleted elsewhere"), {});
    }
    state_ = State::Browse;
    modified_ = false;
    saved_.clear();
    emit model_->dataChanged(model_->index(current_, 0), model_->index(current_, def_.fields.size()));
}

void TTable::First()
{
    CheckBrowseMode();
    SetCurrent(RowCount() > 0 ? 0 : -1);
}

void TTable::Last()
{
    CheckBrowseMode();
    SetCurrent(RowCount() - 1);
}

void TTable::Delete()
{
    if (state_ == State::Insert) {
        Cancel();
        return;
    }
    if (current_ < 0)
        throw EmptyTableError("delete from", def_, fileName_);
    const int row = current_;
    // A delete takes the row as it is in the file; an unwritten edit goes with it.
    Exec(QStringLiteral("delete"), QStringLiteral("DELETE FROM %1 WHERE id = ?").arg(QuoteName(def_.table)),
         {rows_[static_cast<size_t>(row)].id});
    state_ = State::Browse;
    modified_ = false;
    saved_.clear();
    model_->beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    model_->endRemoveRows();
    current_ = -2;
    SetCurrent(qMin(row, RowCount() - 1));
}

qint64 TTable::RowId(int row) const
{
    if (row < 0 || row >= RowCount())
        return 0;
    return rows_[static_cast<size_t>(row)].id;
}

void TTable::WriteRows(const QList<RowWrite> &writes, int maxRows)
{
    CheckBrowseMode();
    CheckFileStillThere();
    QSqlQuery q(db_);
    // IMMEDIATE: no other program writes between the checks below and the commit.
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        FailOn(QStringLiteral("cannot be written (import)"), q.lastError());
    QString error = WriteRowsInside(writes, maxRows);
    if (error.isEmpty() && q.exec(QStringLiteral("COMMIT"))) {
        Refresh();
        return;
    }
    const QSqlError failed = q.lastError();
    q.exec(QStringLiteral("ROLLBACK"));
    if (error.isEmpty())
        FailOn(QStringLiteral("cannot be written (import)"), failed);
    Fail(QStringLiteral("cannot be written (import)"), error);
}

// The statements of WriteRows inside its transaction; returns what went wrong.
QString TTable::WriteRowsInside(const QList<RowWrite> &writes, int maxRows)
{
    QStringList columns, marks, sets;
    for (const auto &f : def_.fields) {
        columns << QuoteName(f.name);
        marks << QStringLiteral("?");
        sets << QuoteName(f.name) + QStringLiteral(" = ?");
    }
    const QString table = QuoteName(def_.table);
    const QString insert =
        QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
            .arg(table, columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
    const QString update =
        QStringLiteral("UPDATE %1 SET %2 WHERE id = ?").arg(table, sets.join(QStringLiteral(", ")));
    const QString select =
        QStringLiteral("SELECT %1 FROM %2 WHERE id = ?").arg(columns.join(QStringLiteral(", ")), table);
    QSqlQuery q(db_);
    const auto sqlError = [&q] { return IsLockError(q.lastError()) ? LockedText() : q.lastError().text(); };
    for (const auto &w : writes) {
        if (w.values.size() != def_.fields.size())
            return QStringLiteral("a row of %1 values for %2 fields")
                .arg(w.values.size())
                .arg(def_.fields.size());
        if (w.id != 0 && !w.before.isEmpty()) {
            if (!q.prepare(select))
                return sqlError();
            q.addBindValue(w.id);
            if (!q.exec())
                return sqlError();
            if (!q.next())
                return QStringLiteral("the row to be changed was deleted elsewhere");
            QStringList now;
            for (int i = 0; i < def_.fields.size(); ++i)
                now << FieldValueText(q.value(i));
            q.finish();
            if (now != w.before)
                return QStringLiteral("the row to be changed was changed elsewhere");
        }
        if (!q.prepare(w.id == 0 ? insert : update))
            return sqlError();
        for (const auto &v : w.values)
            q.addBindValue(v);
        if (w.id != 0)
            q.addBindValue(w.id);
        if (!q.exec())
            return sqlError();
        if (w.id != 0 && q.numRowsAffected() != 1)
            return QStringLiteral("the row to be changed was deleted elsewhere");
    }
    if (maxRows >= 0) {
        // Counted here, inside the transaction: rows another program added since the
        // table was read count too.
        if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table)) || !q.next())
            return sqlError();
        const qint64 count = q.value(0).toLongLong();
        if (count > maxRows)
            return QStringLiteral("it would hold %1 rows, at most %2").arg(count).arg(maxRows);
    }
    return {};
}

int TTable::SetBusyTimeout(int ms)
{
    QSqlQuery q(db_);
    int before = 0;
    if (q.exec(QStringLiteral("PRAGMA busy_timeout")) && q.next())
        before = q.value(0).toInt();
    q.finish();
    q.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(qMax(0, ms)));
    return before;
}

void TTable::Refresh()
{
    CheckBrowseMode();
    const qint64 id = current_ >= 0 ? rows_[static_cast<size_t>(current_)].id : 0;
    const int old = current_;
    model_->beginResetModel();
    try {
        LoadRows();
    } catch (...) {
        model_->endResetModel();
        throw;
    }
    model_->endResetModel();
    int row = -1;
    for (int r = 0; r < RowCount(); ++r) {
        if (rows_[static_cast<size_t>(r)].id == id) {
            row = r;
            break;
        }
    }
    if (row < 0 && RowCount() > 0)
        row = qBound(0, old, RowCount() - 1);
    // The views were reset: tell them where the cursor is even if the row number is the same.
    current_ = row;
    emit CurrentRowChanged(current_);
}

int StationRow(const TTable &users, int fleet, int ident)
{
    const int fleetField = users.FieldIndex(QStringLiteral("Fleet"));
    const int identField = users.FieldIndex(QStringLiteral("Ident"));
    for (int row = 0; row < users.RowCount(); ++row) {
        const QString f = users.FieldText(row, fleetField), i = users.FieldText(row, identField);
        if (!f.isEmpty() && !i.isEmpty() && f.toInt() == fleet && i.toInt() == ident)
            return row;
    }
    return -1;
}
