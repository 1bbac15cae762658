#include "StationsWindow.h"

#include "BoardCsv.h"
#include "CheckinDialog.h"
#include "MessageBox.h"
#include "StationBoard.h"
#include "ui_StationsWindow.h"

#include <QBrush>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <utility>

TStationsForm *StationsForm = nullptr;

// The proxy

TStationProxy::TStationProxy(QObject *parent) : QSortFilterProxyModel(parent)
{
    setSortRole(TStationBoard::SortRole);
    // The filter is the name and the number (filterAcceptsRow); pointing its key at
    // the name's own role keeps the age repaint from re-filtering every row.
    setFilterKeyColumn(TStationBoard::NameColumn);
    setFilterRole(TStationBoard::KeyRole);
    setDynamicSortFilter(true);
    resortTimer_.setInterval(CalmResortMs);
    connect(&resortTimer_, &QTimer::timeout, this, &TStationProxy::Resort);
    // Only a change in the sort column (or a new row) calls for a re-sort: the
    // ages' tick does not.
    connect(this, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &from, const QModelIndex &to) {
                if (sortColumn() >= from.column() && sortColumn() <= to.column())
                    resortWanted_ = true;
            });
    connect(this, &QAbstractItemModel::rowsInserted, this, [this] { resortWanted_ = true; });
}

void TStationProxy::setSourceModel(QAbstractItemModel *source)
{
    QSortFilterProxyModel::setSourceModel(source);
    // A calm proxy does not sort by itself: a board given again is sorted now.
    if (source && Calm())
        QSortFilterProxyModel::sort(sortColumn(), sortOrder());
}

void TStationProxy::Resort()
{
    if (!std::exchange(resortWanted_, false))
        return;
    QSortFilterProxyModel::sort(sortColumn(), sortOrder());
}

void TStationProxy::SetFilterText(const QString &text)
{
    filter_ = text.trimmed();
    invalidateRowsFilter();
}

bool TStationProxy::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (filter_.isEmpty())
        return true;
    const QAbstractItemModel *model = sourceModel();
    const QString name = model->index(sourceRow, TStationBoard::NameColumn, sourceParent).data().toString();
    const QString number =
        model->index(sourceRow, TStationBoard::StationColumn, sourceParent).data().toString();
    if (name.contains(filter_, Qt::CaseInsensitive) || number.contains(filter_))
        return true;
    // "101-1001" is also typed "101-1001" without the zeros the board shows.
    const QString bare = QStringLiteral("%1-%2")
                             .arg(number.section(QLatin1Char('-'), 0, 0).toInt())
                             .arg(number.section(QLatin1Char('-'), 1, 1).toInt());
    return bare.contains(filter_);
}

void TStationProxy::sort(int column, Qt::SortOrder order)
{
    if (column == TStationBoard::AgeColumn) {
        column = TStationBoard::HeardColumn;
        order = order == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    }
    // Sorted by a time on a busy line, nearly every frame moves a row to the top:
    // re-sorting at once re-laid and repainted the whole grid up to 20 times a
    // second (8 to 11 % of a core at 87 frames/s) and the rows never stood still
    // long enough to read. Then the cells change at once and the rows move once a
    // second.
    const bool calm = column == TStationBoard::HeardColumn || column == TStationBoard::StatusTimeColumn;
    setDynamicSortFilter(!calm);
    QSortFilterProxyModel::sort(column, order);
    resortWanted_ = false;
    if (calm)
        resortTimer_.start();
    else
        resortTimer_.stop();
}

QVariant TStationProxy::data(const QModelIndex &index, int role) const
{
    if (role == Qt::ForegroundRole || role == Qt::BackgroundRole) {
        if (!QSortFilterProxyModel::data(index, TStationBoard::AlarmRole).toBool())
            return {};
        return role == Qt::ForegroundRole ? QBrush(QColor(0x9c, 0x00, 0x06))
                                          : QBrush(QColor(0xff, 0xc7, 0xce));
    }
    return QSortFilterProxyModel::data(index, role);
}

// The grid

void TStationGrid::keyboardSearch(const QString &search)
{
    const QModelIndex current = currentIndex();
    if (current.isValid() && current.column() != TStationBoard::NameColumn)
        selectionModel()->setCurrentIndex(current.siblingAtColumn(TStationBoard::NameColumn),
                                          QItemSelectionModel::NoUpdate);
    QTableView::keyboardSearch(search);
}

void TStationGrid::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                               const QList<int> &roles)
{
    // The ages' tick: repaint the age cells on screen, not the whole grid.
    if (topLeft.column() == TStationBoard::AgeColumn && bottomRight.column() == TStationBoard::AgeColumn &&
        topLeft != bottomRight) {
        RepaintAges();
        return;
    }
    QTableView::dataChanged(topLeft, bottomRight, roles);
}

void TStationGrid::RepaintAges()
{
    const int x = columnViewportPosition(TStationBoard::AgeColumn);
    if (x >= 0 && !isColumnHidden(TStationBoard::AgeColumn))
        viewport()->update(x, 0, columnWidth(TStationBoard::AgeColumn), viewport()->height());
}

void TStationGrid::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentIndex().isValid()) {
        emit RowActivated();
        return;
    }
    QTableView::keyPressEvent(event);
}

// The window

TStationsForm::TStationsForm(TStationBoard &board, QWidget *parent)
    : QWidget(parent, Qt::Window), ui(std::make_unique<Ui::TStationsForm>()), board_(board),
      proxy_(new TStationProxy(this))
{
    ui->setupUi(this);
    ui->StationGrid->setModel(proxy_);
    ui->StationGrid->sortByColumn(TStationBoard::NameColumn, Qt::AscendingOrder);
    QHeaderView *header = ui->StationGrid->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    ui->StationGrid->verticalHeader()->setDefaultSectionSize(ui->StationGrid->fontMetrics().height() + 6);
    chooseFile_ = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Export stations"),
                                            QStringLiteral("stations.csv"),
                                            QStringLiteral("CSV files (*.csv)"));
    };

    connect(ui->FilterEdit, &QLineEdit::textChanged, this, &TStationsForm::FilterEditChange);
    connect(ui->ActionsBitBtn, &QAbstractButton::clicked, this, &TStationsForm::ActionsBitBtnClick);
    connect(ui->CheckinBitBtn, &QAbstractButton::clicked, this, &TStationsForm::CheckinBitBtnClick);
    connect(ui->ExportBitBtn, &QAbstractButton::clicked, this, &TStationsForm::ExportBitBtnClick);
    connect(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TStationsForm::CloseBitBtnClick);
    connect(ui->StationGrid, &TStationGrid::RowActivated, this, &TStationsForm::ActionsBitBtnClick);
    connect(ui->StationGrid, &QAbstractItemView::doubleClicked, this, &TStationsForm::ActionsBitBtnClick);
    connect(ui->StationGrid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &TStationsForm::StationGridSelectionChange);
    connect(proxy_, &QAbstractItemModel::rowsInserted, this, &TStationsForm::ShowSummary);
    connect(proxy_, &QAbstractItemModel::rowsRemoved, this, &TStationsForm::ShowSummary);
    connect(proxy_, &QAbstractItemModel::modelReset, this, &TStationsForm::ShowSummary);
    connect(&board_, &TStationBoard::OverdueRaised, this, &TStationsForm::ShowSummary);
    connect(&board_, &TStationBoard::OverdueCleared, this, &TStationsForm::ShowSummary);
    // An emergency raised or acknowledged changes a row's alarm, not the rows.
    connect(&board_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &from, const QModelIndex &to) {
                if (from.column() <= TStationBoard::AlarmColumn && to.column() >= TStationBoard::AlarmColumn)
                    ShowSummary();
            });
    StationGridSelectionChange();
    ShowSummary();
}

TStationsForm::~TStationsForm()
{
    if (watching_)
        board_.WatchAges(false);
}

TStationGrid *TStationsForm::Grid() const
{
    return ui->StationGrid;
}

QDateTime TStationsForm::Now() const
{
    return clock_ ? clock_() : QDateTime::currentDateTimeUtc();
}

void TStationsForm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!watching_) {
        watching_ = true;
        board_.WatchAges(true);
        // Sorted and filtered again from the board as it is now, the columns as
        // the operator left them.
        proxy_->setSourceModel(&board_);
        if (columns_.isEmpty()) {
            const QFontMetrics metrics = ui->StationGrid->fontMetrics();
            const char *const widest[TStationBoard::ColumnCount] = {"Harbour Master 12",
                                                                    "000-0000",
                                                                    "23 Returning home",
                                                                    "2026-12-09 00:00:00",
                                                                    "2026-12-09 00:00:00",
                                                                    "3 days ago (2026-12-07)",
                                                                    "",
                                                                    "every 30 min, due 00:00:00",
                                                                    ""};
            for (int column = 0; column < TStationBoard::ColumnCount; ++column)
                ui->StationGrid->setColumnWidth(
                    column, metrics.horizontalAdvance(QLatin1String(widest[column])) + 16);
            ui->StationGrid->setColumnWidth(TStationBoard::MessageColumn,
                                            metrics.horizontalAdvance(QLatin1Char('x')) * 30);
            ui->StationGrid->setColumnWidth(
                TStationBoard::AlarmColumn,
                metrics.horizontalAdvance(QLatin1String("overdue since 2026-12-09 00:00:00")) + 16);
            // The alarm beside the name, where the eye starts.
            QHeaderView *header = ui->StationGrid->horizontalHeader();
            header->moveSection(header->visualIndex(TStationBoard::AlarmColumn),
                                TStationBoard::StationColumn + 1);
        } else {
            ui->StationGrid->horizontalHeader()->restoreState(columns_);
        }
        if (shownStation_)
            SelectStation(*shownStation_);
    }
    ShowSummary();
}

void TStationsForm::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (watching_) {
        watching_ = false;
        board_.WatchAges(false);
        // Hidden, the board's changes reach no proxy: it costs only its own updates.
        shownStation_ = SelectedStation();
        columns_ = ui->StationGrid->horizontalHeader()->saveState();
        proxy_->setSourceModel(nullptr);
    }
}

std::optional<TStationKey> TStationsForm::SelectedStation() const
{
    const QModelIndex current = proxy_->mapToSource(ui->StationGrid->currentIndex());
    if (!current.isValid())
        return std::nullopt;
    return board_.KeyAt(current.row());
}

bool TStationsForm::SelectStation(TStationKey key)
{
    const int row = board_.RowOf(key);
    if (row < 0)
        return false;
    const QModelIndex index = proxy_->mapFromSource(board_.index(row, TStationBoard::NameColumn));
    if (!index.isValid())
        return false;
    ui->StationGrid->setCurrentIndex(index);
    ui->StationGrid->scrollTo(index);
    return true;
}

void TStationsForm::FilterEditChange(const QString &text)
{
    proxy_->SetFilterText(text);
    if (!ui->StationGrid->currentIndex().isValid() && proxy_->rowCount() > 0)
        ui->StationGrid->setCurrentIndex(proxy_->index(0, TStationBoard::NameColumn));
    ShowSummary();
}

void TStationsForm::StationGridSelectionChange()
{
    const auto station = SelectedStation();
    ui->ActionsBitBtn->setEnabled(station.has_value());
    if (!station) {
        ui->MessageLabel->clear();
        return;
    }
    const int row = board_.RowOf(*station);
    const TStationTraffic &t = board_.TrafficAt(row);
    ui->MessageLabel->setText(
        t.lastMessage.isEmpty()
            ? QString()
            : QStringLiteral("Last message from %1: %2").arg(board_.LabelAt(row), t.lastMessage));
}

void TStationsForm::ShowSummary()
{
    if (!watching_)
        return;
    int emergencies = 0, overdue = 0;
    for (int row = 0; row < board_.rowCount(); ++row) {
        emergencies += board_.TrafficAt(row).emergencies.isEmpty() ? 0 : 1;
        overdue += board_.OverdueAt(row) ? 1 : 0;
    }
    QString text = QStringLiteral("%1 of %2 stations").arg(proxy_->rowCount()).arg(board_.rowCount());
    if (emergencies)
        text += QStringLiteral(", %1 with an emergency").arg(emergencies);
    if (overdue)
        text += QStringLiteral(", %1 overdue").arg(overdue);
    ui->SummaryLabel->setText(text);
}

std::unique_ptr<QMenu> TStationsForm::ActionMenu()
{
    const auto station = SelectedStation();
    if (!station)
        return nullptr;
    auto menu = std::make_unique<QMenu>(this);
    const int fleet = station->fleet, ident = station->ident;
    const auto add = [&](const QString &text, void (TStationsForm::*signal)(int, int)) {
        QAction *action = menu->addAction(text);
        connect(action, &QAction::triggered, this,
                [this, signal, fleet, ident] { emit(this->*signal)(fleet, ident); });
    };
    menu->setTitle(board_.LabelAt(board_.RowOf(*station)));
    add(QStringLiteral("&Voice"), &TStationsForm::VoiceWanted);
    add(QStringLiteral("&Status"), &TStationsForm::StatusWanted);
    add(QStringLiteral("&Message"), &TStationsForm::MessageWanted);
    add(QStringLiteral("&History"), &TStationsForm::HistoryWanted);
    add(QStringLiteral("&Name this station..."), &TStationsForm::NameWanted);
    menu->addSeparator();
    QAction *checkin = menu->addAction(QStringLiteral("&Check-in..."));
    connect(checkin, &QAction::triggered, this, &TStationsForm::CheckinBitBtnClick);
    return menu;
}

void TStationsForm::ActionsBitBtnClick()
{
    std::unique_ptr<QMenu> menu = ActionMenu();
    if (!menu)
        return;
    const QModelIndex current = ui->StationGrid->currentIndex();
    const QRect cell = ui->StationGrid->visualRect(current.siblingAtColumn(TStationBoard::NameColumn));
    menu->exec(ui->StationGrid->viewport()->mapToGlobal(cell.bottomLeft()));
}

bool TStationsForm::EditCheckins()
{
    const auto station = SelectedStation();
    const QString label = station ? board_.LabelAt(board_.RowOf(*station)) : QString();
    TCheckinForm dialog(board_.Checkins(), station, label, this);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    board_.SetCheckins(dialog.Result(Now()));
    ShowSummary();
    return true;
}

void TStationsForm::CheckinBitBtnClick()
{
    EditCheckins();
}

bool TStationsForm::ExportTo(const QString &fileName)
{
    const QString failure = ExportBoardCsv(*proxy_, fileName);
    if (!failure.isEmpty()) {
        ShowMessageBox(failure, QStringLiteral("Export stations"), MsgIcon::Warning);
        return false;
    }
    ui->MessageLabel->setText(
        QStringLiteral("%1 stations exported to %2").arg(proxy_->rowCount()).arg(fileName));
    return true;
}

void TStationsForm::ExportBitBtnClick()
{
    const QString fileName = chooseFile_ ? chooseFile_() : QString();
    if (!fileName.isEmpty())
        ExportTo(fileName);
}

void TStationsForm::CloseBitBtnClick()
{
    close();
}
