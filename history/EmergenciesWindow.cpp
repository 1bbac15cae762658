#include "EmergenciesWindow.h"

#include "AlarmList.h"
#include "ui_EmergenciesWindow.h"

#include <QHeaderView>
#include <algorithm>

TEmergenciesForm *EmergenciesForm = nullptr;

TEmergenciesForm::TEmergenciesForm(TAlarmList &alarms, TAcknowledge acknowledge, QWidget *parent)
    : QWidget(parent, Qt::Window), ui(new Ui::TEmergenciesForm), alarms_(alarms), model_(alarms, this),
      acknowledge_(std::move(acknowledge))
{
    ui->setupUi(this);
    ui->AlarmGrid->setColumnCount(ColumnCount);
    QStringList headers;
    for (int column = 0; column < ColumnCount; ++column)
        headers << model_.headerData(column, Qt::Horizontal).toString();
    ui->AlarmGrid->setHorizontalHeaderLabels(headers);
    ui->AlarmGrid->setColumnWidth(TimeColumn, 150);
    ui->AlarmGrid->setColumnWidth(StationColumn, 170);
    // Wide enough for an overdue station's reason ("overdue: every 30 min, due 14:05, ...").
    ui->AlarmGrid->setColumnWidth(StatusColumn, 330);
    connect(ui->AcknowledgeBitBtn, &QAbstractButton::clicked, this,
            &TEmergenciesForm::AcknowledgeBitBtnClick);
    connect(ui->MuteBitBtn, &QAbstractButton::clicked, this, &TEmergenciesForm::MuteBitBtnClick);
    connect(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TEmergenciesForm::CloseBitBtnClick);
    connect(ui->AlarmGrid, &QTableWidget::itemSelectionChanged, this,
            &TEmergenciesForm::AlarmGridSelectionChange);
    // After the model's own handler: the model has caught up when this runs.
    connect(&alarms_, &TAlarmList::Changed, this, &TEmergenciesForm::ListChanged);
    UpdateSummary();
}

TEmergenciesForm::~TEmergenciesForm()
{
    delete ui;
}

void TEmergenciesForm::SetSoundDevice(std::function<bool()> soundDevice)
{
    soundDevice_ = std::move(soundDevice);
    UpdateSummary();
}

qint64 TEmergenciesForm::AlarmIdAt(int row) const
{
    const QTableWidgetItem *item = ui->AlarmGrid->item(row, TimeColumn);
    return item ? item->data(Qt::UserRole).toLongLong() : 0;
}

void TEmergenciesForm::showEvent(QShowEvent *event)
{
    Attach();
    QWidget::showEvent(event);
}

void TEmergenciesForm::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!isVisible())
        Detach();
}

void TEmergenciesForm::Attach()
{
    if (!attached_.isEmpty())
        return;
    attached_ << connect(&model_, &QAbstractItemModel::rowsInserted, this, &TEmergenciesForm::RowsInserted)
              << connect(&model_, &QAbstractItemModel::rowsMoved, this, &TEmergenciesForm::RowsMoved)
              << connect(&model_, &QAbstractItemModel::dataChanged, this, &TEmergenciesForm::DataChanged)
              << connect(&model_, &QAbstractItemModel::modelReset, this, &TEmergenciesForm::ModelReset);
    Fill();
}

void TEmergenciesForm::Detach()
{
    for (const QMetaObject::Connection &connection : std::as_const(attached_))
        disconnect(connection);
    attached_.clear();
}

void TEmergenciesForm::FillRow(int row)
{
    const bool open = model_.index(row, 0).data(TAlarmTableModel::OpenRole).toBool();
    for (int column = 0; column < ColumnCount; ++column) {
        QTableWidgetItem *item = ui->AlarmGrid->item(row, column);
        if (!item) {
            item = new QTableWidgetItem;
            ui->AlarmGrid->setItem(row, column, item);
        }
        const QString text = model_.index(row, column).data().toString();
        item->setText(text);
        // The whole text on hover: an overdue station's reason is longer than its column.
        item->setToolTip(text);
        QFont font = item->font();
        font.setBold(open);
        item->setFont(font);
    }
    ui->AlarmGrid->item(row, TimeColumn)
        ->setData(Qt::UserRole, model_.index(row, 0).data(TAlarmTableModel::IdRole));
}

void TEmergenciesForm::Fill()
{
    const int oldRow = ui->AlarmGrid->currentRow();
    const qint64 selected = oldRow >= 0 ? AlarmIdAt(oldRow) : 0;
    mirroring_ = true;
    ui->AlarmGrid->setRowCount(model_.rowCount());
    for (int row = 0; row < model_.rowCount(); ++row)
        FillRow(row);
    mirroring_ = false;
    if (selected) {
        if (const int row = model_.RowOf(selected); row >= 0)
            ui->AlarmGrid->selectRow(row);
    }
    UpdateSummary();
}

void TEmergenciesForm::RowsInserted(const QModelIndex &, int first, int last)
{
    mirroring_ = true;
    for (int row = first; row <= last; ++row) {
        ui->AlarmGrid->insertRow(row);
        FillRow(row);
    }
    mirroring_ = false;
}

void TEmergenciesForm::RowsMoved(const QModelIndex &, int first, int last, const QModelIndex &, int before)
{
    // The model moves an acknowledged alarm's row down to the acknowledged ones.
    mirroring_ = true;
    const int count = last - first + 1;
    const int target = before > first ? before - count : before;
    for (int i = 0; i < count; ++i)
        ui->AlarmGrid->removeRow(first);
    for (int row = target; row < target + count; ++row) {
        ui->AlarmGrid->insertRow(row);
        FillRow(row);
    }
    mirroring_ = false;
}

void TEmergenciesForm::DataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight)
{
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row)
        FillRow(row);
}

void TEmergenciesForm::ModelReset()
{
    Fill();
}

void TEmergenciesForm::ListChanged()
{
    if (!attached_.isEmpty() && selectedBefore_) {
        const TAlarm *alarm = alarms_.Find(selectedBefore_);
        int row = model_.RowOf(selectedBefore_);
        const int open = model_.OpenRows();
        // The alarm just acknowledged leaves the open ones: the next open one,
        // now in its row, takes the selection.
        if (alarm && selectedOpenBefore_ && !alarm->IsOpen() && open > 0)
            row = std::min(selectedRowBefore_, open - 1);
        if (row >= 0)
            ui->AlarmGrid->selectRow(row);
    }
    UpdateSummary();
}

void TEmergenciesForm::UpdateSummary()
{
    const int open = alarms_.OpenCount();
    const int overdue = alarms_.OpenOverdueCount();
    const bool device = open + overdue == 0 || !soundDevice_ || soundDevice_();
    ui->SummaryLabel->setText(
        (open == 0   ? QStringLiteral("No emergency is open.")
         : open == 1 ? QStringLiteral("1 emergency is open.")
                     : QStringLiteral("%1 emergencies are open.").arg(open)) +
        (overdue == 0   ? QString()
         : overdue == 1 ? QStringLiteral(" 1 station is overdue.")
                        : QStringLiteral(" %1 stations are overdue.").arg(overdue)) +
        (device ? QString() : QStringLiteral(" No sound device: the alarm cannot be heard.")));
    ui->MuteBitBtn->setVisible(device);
    ui->MuteBitBtn->setEnabled(alarms_.SoundWanted());
    AlarmGridSelectionChange();
}

void TEmergenciesForm::AlarmGridSelectionChange()
{
    const int row = ui->AlarmGrid->currentRow();
    const TAlarm *alarm = row >= 0 && ui->AlarmGrid->item(row, 0) && ui->AlarmGrid->item(row, 0)->isSelected()
                              ? alarms_.Find(AlarmIdAt(row))
                              : nullptr;
    selectedOpen_ = alarm && alarm->IsOpen();
    ui->AcknowledgeBitBtn->setEnabled(selectedOpen_);
    // Remembered for the next change of the list, not while the grid itself
    // is being changed to follow it.
    if (!mirroring_) {
        selectedBefore_ = alarm ? alarm->id : 0;
        selectedRowBefore_ = alarm ? row : -1;
        selectedOpenBefore_ = selectedOpen_;
    }
}

void TEmergenciesForm::AcknowledgeBitBtnClick()
{
    const int row = ui->AlarmGrid->currentRow();
    if (row < 0 || !acknowledge_)
        return;
    acknowledge_(AlarmIdAt(row));
}

void TEmergenciesForm::MuteBitBtnClick()
{
    alarms_.Mute();
}

void TEmergenciesForm::CloseBitBtnClick()
{
    close();
}
