#pragma once

#include "HistoryQuery.h"

#include <QAbstractTableModel>
#include <memory>

// The history, newest first, fetched a page at a time as the view scrolls: a
// million rows cost what the rows on screen cost.
class THistoryModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { TimeColumn, DirectionColumn, KindColumn, StationColumn, TextColumn, ColumnCount };
    static constexpr int PageSize = 200;

    explicit THistoryModel(QObject *parent = nullptr);
    ~THistoryModel() override;

    // Reads fileName from now on; throws EHistoryError when it cannot be read.
    void Open(const QString &fileName);
    bool IsOpen() const { return query_ != nullptr; }
    // Starts again from the newest row with a new filter (or the same one, to
    // show rows written since). Throws EHistoryError.
    void SetFilter(const THistoryFilter &filter);
    const THistoryFilter &Filter() const { return filter_; }
    // The whole query, for the export.
    THistoryQuery *Query() const { return query_.get(); }

    const THistoryRow &Row(int row) const { return rows_[row]; }

    // Rows the filter selects that were written after the newest one shown: inserted
    // at the top (the whole list read again when more than a page came). Returns how
    // many; Newer() only counts them, up to a page.
    int Newer() const;
    int PrependNewer();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

    // The one-line text of the Text column and the station label, for the view
    // and for tests.
    static QString TextOf(const TTrafficEvent &event);
    static QString StationOf(const TTrafficEvent &event);

private:
    std::unique_ptr<THistoryQuery> query_;
    THistoryFilter filter_;
    QList<THistoryRow> rows_;
    bool atEnd_ = true;
};
