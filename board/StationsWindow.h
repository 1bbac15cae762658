#pragma once

#include "Checkins.h"

#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

namespace Ui {
class TStationsForm;
}
class QMenu;
class TStationBoard;

// The board as a view shows it: sorted by any column, filtered by a name or a
// number as the operator types, rows with an open alarm in red (beside their text).
class TStationProxy final : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit TStationProxy(QObject *parent = nullptr);
    void SetFilterText(const QString &text);
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // The age column sorts as the time heard does: the ages' tick then never
    // touches the sort column.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    void setSourceModel(QAbstractItemModel *source) override;
    // Sorted by a time, rows move once a second at most (their cells change at once).
    static constexpr int CalmResortMs = 1000;
    bool Calm() const { return resortTimer_.isActive(); }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    void Resort();

    QString filter_;
    QTimer resortTimer_;
    bool resortWanted_ = false;
};

// Typing the first characters of a name reaches its row, whichever cell is current.
class TStationGrid final : public QTableView {
    Q_OBJECT
public:
    using QTableView::QTableView;
    void keyboardSearch(const QString &search) override;
    // The age cells on screen, and nothing else.
    void RepaintAges();
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QList<int> &roles = {}) override;

signals:
    // Enter or Return on a row.
    void RowActivated();

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

// The Stations window: every station's state at a glance, its actions on Enter,
// check-in times and the CSV export. Shown, it has the board tick the ages;
// hidden, it holds nothing of the board.
class TStationsForm final : public QWidget {
    Q_OBJECT
public:
    using TFileChooser = std::function<QString()>;
    using TClock = std::function<QDateTime()>;

    explicit TStationsForm(TStationBoard &board, QWidget *parent = nullptr);
    ~TStationsForm() override;

    void SetFileChooser(TFileChooser chooser) { chooseFile_ = std::move(chooser); }
    void SetClock(TClock clock) { clock_ = std::move(clock); }

    // Holds the board only while the window is shown.
    TStationProxy *Proxy() const { return proxy_; }
    TStationGrid *Grid() const;
    // The selected station, if any.
    std::optional<TStationKey> SelectedStation() const;
    bool SelectStation(TStationKey key);
    // Exports the rows as shown; false (and a message box) on failure.
    bool ExportTo(const QString &fileName);
    // The check-in dialog for the selected station, modal; true when applied.
    bool EditCheckins();
    // The action menu of the selected station (Enter shows it at the row).
    std::unique_ptr<QMenu> ActionMenu();

signals:
    void VoiceWanted(int fleet, int ident);
    void StatusWanted(int fleet, int ident);
    void MessageWanted(int fleet, int ident);
    void HistoryWanted(int fleet, int ident);
    void NameWanted(int fleet, int ident);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private slots:
    void FilterEditChange(const QString &text);
    void ActionsBitBtnClick();
    void CheckinBitBtnClick();
    void ExportBitBtnClick();
    void CloseBitBtnClick();
    void StationGridSelectionChange();
    void ShowSummary();

private:
    QDateTime Now() const;

    std::unique_ptr<Ui::TStationsForm> ui;
    TStationBoard &board_;
    TStationProxy *proxy_;
    TFileChooser chooseFile_;
    TClock clock_;
    bool watching_ = false;
    std::optional<TStationKey> shownStation_;
    QByteArray columns_; // the header's widths and sort while hidden
};

extern TStationsForm *StationsForm;
