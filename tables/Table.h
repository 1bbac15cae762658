#pragma once

#include "TableCursor.h"
#include "TableDef.h"

#include <QAbstractTableModel>
#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QVariant>
#include <vector>

class TTable;

// The rows of one cursor as a Qt item model, for QTableView, QComboBox and
// QDataWidgetMapper. Column 0 is the hidden id; column k is field k-1. Display and
// edit roles give texts (an empty field is an empty text). Editing a row that is
// not the cursor's current one moves the cursor there first.
class TTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

private:
    friend class TTable;
    explicit TTableModel(TTable *table);
    TTable *table_;
};

// A cursor on one table file. Every window has its own instance with its own
// current row; instances on one file share one SQLite connection per thread.
// Rows are read in insertion order. An edit or an appended row stays pending in
// this instance until Post, or until the cursor moves: a move writes a changed
// pending row first and drops an appended row that got no input. Every write is
// committed at once (synchronous FULL), so a posted row survives a crash.
class TTable final : public QObject, public ITableCursor {
    Q_OBJECT
public:
    // Opens an existing file; throws ETableError naming the file if it is missing
    // or does not hold the table. Never creates anything.
    TTable(const QString &fileName, const TTableDef &def, QObject *parent = nullptr);
    ~TTable() override;
    TTable(const TTable &) = delete;
    TTable &operator=(const TTable &) = delete;

    static TTable *OpenUserTable(const QString &fileName, QObject *parent = nullptr)
    {
        return new TTable(fileName, UserTableDef(), parent);
    }
    static TTable *OpenStatusTable(const QString &fileName, QObject *parent = nullptr)
    {
        return new TTable(fileName, StatusTableDef(), parent);
    }

    // ITableCursor
    bool Locate(const QString &fields, const QVariantList &values, bool caseInsensitive = false) override;
    QString FieldAsText(const QString &field) const override;
    int RecordCount() const override;
    void Append() override;
    void SetFieldText(const QString &field, const QString &text) override;
    bool Modified() const override;
    void Post() override;
    void Cancel() override;
    void First() override;
    void Last() override;
    void Delete() override;

    // Row -1 when the table is empty. The rows include a pending appended row.
    int CurrentRow() const { return current_; }
    int RowCount() const { return static_cast<int>(rows_.size()); }
    // Moves the cursor (writing or dropping a pending row first, as any move does).
    void SetCurrentRow(int row);
    // True while the current row is appended and not yet written.
    bool Inserting() const { return state_ == State::Insert; }
    // Re-reads the file, so rows written through other instances show; the current
    // row is kept by its id. A pending row is written or dropped first.
    void Refresh();

    // The error a text would raise in a field, or an empty text when it is accepted.
    QString CheckFieldText(const QString &field, const QString &text) const;
    // A field's text as the table stores it (null for an empty field); throws
    // ETableError or EConvertError, as a cell edit would, when it is refused.
    static QVariant ConvertText(const TFieldDef &field, const QString &text);

    // Rows written together: a row with id 0 is appended, any other replaces the
    // values of the row with that id. One transaction, taken before anything is read:
    // either every row is written or, on any failure, none is and the error is thrown.
    // A replaced row whose texts are given in `before` must still hold them (another
    // program may have changed the file since they were read); with maxRows >= 0 the
    // table may hold at most that many rows once written. The rows are re-read after.
    struct RowWrite {
        qint64 id = 0;
        QVariantList values;
        QStringList before;
    };
    void WriteRows(const QList<RowWrite> &writes, int maxRows = -1);
    // How long a statement waits for a lock another program holds on the file, in ms,
    // for this thread's connection to it; returns the wait set before. A path the
    // operator waits on sets a short one and says the file is locked instead.
    int SetBusyTimeout(int ms);
    qint64 RowId(int row) const;
    // A read-only field refuses edits through views and SetFieldText.
    void SetFieldReadOnly(const QString &field, bool readOnly);
    bool FieldReadOnly(const QString &field) const;

    QAbstractItemModel *Model() const { return model_; }
    // Model column of a field (column 0 is the hidden id); -1 for an unknown field.
    int ModelColumn(const QString &field) const;
    int FieldIndex(const QString &field) const;
    QString FieldText(int row, int field) const;
    QString FileName() const { return fileName_; }
    const TTableDef &Definition() const { return def_; }

signals:
    // The cursor moved to another row, or the rows were re-read (-1 when empty).
    void CurrentRowChanged(int row);
    // The current row is about to be written or left: a bound control hands over
    // text typed but not yet given to the row, so that the write includes it.
    void UpdateRecord();

private:
    friend class TTableModel;
    enum class State { Browse, Edit, Insert };
    struct Row {
        qint64 id = 0;
        QVariantList values;
    };

    int RequireField(const QString &field) const;
    QVariant ConvertFieldText(int field, const QString &text) const;
    void CheckBrowseMode();
    void SetCurrent(int row);
    void LoadRows();
    void Exec(const QString &what, const QString &sql, const QVariantList &binds, qint64 *insertId = nullptr,
              int *rowsAffected = nullptr);
    [[noreturn]] void Fail(const QString &what, const QString &detail) const;
    // Fail for a statement's error; a lock held by another program is said in plain words.
    [[noreturn]] void FailOn(const QString &what, const QSqlError &error) const;
    QString WriteRowsInside(const QList<RowWrite> &writes, int maxRows);
    void CheckFileStillThere() const;

    QString fileName_;
    QString connectionName_;
    // The file as opened: a write must not go to a file that was deleted or
    // replaced under the open connection (SQLite would write into the lost inode).
    quint64 device_ = 0;
    quint64 inode_ = 0;
    TTableDef def_;
    QSqlDatabase db_;
    TTableModel *model_;
    std::vector<Row> rows_;
    QVariantList saved_; // the row's values before a pending edit
    QList<bool> readOnly_;
    int current_ = -1;
    State state_ = State::Browse;
    bool modified_ = false;
};

// The row of station fleet-ident in a user directory, -1 when it has none: the
// rows as stored, the cursor left where it is (an editor may be using it). A row
// with either number empty names no station.
int StationRow(const TTable &users, int fleet, int ident);
