#include "EmergenciesWindow.h"

#include "AlarmList.h"
#include "ui_EmergenciesWindow.h"

#include <QHeaderView>
#include <QLocale>
#include <algorithm>

TEmergenciesForm *EmergenciesForm = nullptr;

namespace {

QString LocalText(const QDateTime &time)
{
    const QDateTime local = time.toLocalTime();
    return QLocale::system().toString(local.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           local.time().toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

TEmergenciesForm::TEmergenciesForm(TAlarmList &alarms, TAcknowledge acknowledge, QWidget *parent)
    : QWidget(parent, Qt::Window), ui(new Ui::TEmergenciesForm), alarms_(alarms),
      acknowledge_(std::move(acknowledge))
{
    ui->setupUi(this);
    ui->AlarmGrid->setColumnCount(ColumnCount);
    ui->AlarmGrid->setHorizontalHeaderLabels({QStringLiteral("Time"), QStringLiteral("Station"),
                                              QStringLiteral("Status"), QStringLiteral("Acknowledged")});
    ui->AlarmGrid->setColumnWidth(TimeColumn, 150);
    ui->AlarmGrid->setColumnWidth(StationColumn, 170);
    ui->AlarmGrid->setColumnWidth(StatusColumn, 130);
    connect(ui->AcknowledgeBitBtn, &QAbstractButton::clicked, this,
            &TEmergenciesForm::AcknowledgeBitBtnClick);
    connect(ui->MuteBitBtn, &QAbstractButton::clicked, this, &TEmergenciesForm::MuteBitBtnClick);
    connect(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TEmergenciesForm::CloseBitBtnClick);
    connect(ui->AlarmGrid, &QTableWidget::itemSelectionChanged, this,
            &TEmergenciesForm::AlarmGridSelectionChange);
    connect(&alarms_, &TAlarmList::Changed, this, &TEmergenciesForm::Fill);
    Fill();
}

TEmergenciesForm::~TEmergenciesForm()
{
    delete ui;
}

void TEmergenciesForm::SetSoundDevice(std::function<bool()> soundDevice)
{
    soundDevice_ = std::move(soundDevice);
    Fill();
}

qint64 TEmergenciesForm::AlarmIdAt(int row) const
{
    const QTableWidgetItem *item = ui->AlarmGrid->item(row, TimeColumn);
    return item ? item->data(Qt::UserRole).toLongLong() : 0;
}

void TEmergenciesForm::Fill()
{
    const int oldRow = ui->AlarmGrid->currentRow();
    const qint64 selected = oldRow >= 0 ? AlarmIdAt(oldRow) : 0;
    const bool selectedWasOpen = selectedOpen_;
    QList<TAlarm> ordered;
    for (const TAlarm &a : alarms_.Alarms())
        if (a.IsOpen())
            ordered << a;
    for (const TAlarm &a : alarms_.Alarms())
        if (!a.IsOpen())
            ordered << a;
    ui->AlarmGrid->setRowCount(int(ordered.size()));
    int selectRow = -1;
    for (int row = 0; row < ordered.size(); ++row) {
        const TAlarm &a = ordered[row];
        const QStringList cells{
            LocalText(a.time) + (a.restored ? QStringLiteral(" (earlier run)") : QString()),
            StationLabel(a.name, a.fleet, a.ident),
            QString::number(a.status) + QLatin1Char(' ') + a.statusText +
                (a.count > 1 ? QStringLiteral(" (%1 times, last %2)")
                                   .arg(a.count)
                                   .arg(a.last.toLocalTime().toString(QStringLiteral("HH:mm:ss")))
                             : QString()),
            a.IsOpen() ? QStringLiteral("open")
                       : LocalText(a.acknowledged) + (a.acknowledgedBy.isEmpty()
                                                          ? QString()
                                                          : QStringLiteral(" (%1)").arg(a.acknowledgedBy))};
        for (int column = 0; column < ColumnCount; ++column) {
            auto *item = new QTableWidgetItem(cells[column]);
            if (a.IsOpen()) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            ui->AlarmGrid->setItem(row, column, item);
        }
        ui->AlarmGrid->item(row, TimeColumn)->setData(Qt::UserRole, a.id);
        if (a.id == selected)
            selectRow = row;
    }
    const int open = alarms_.OpenCount();
    // The alarm just acknowledged leaves the open ones: the next open one, now
    // in its row, takes the selection.
    if (selectRow >= 0 && selectedWasOpen && !alarms_.Find(selected)->IsOpen() && open > 0)
        selectRow = std::min(oldRow, open - 1);
    if (selectRow >= 0)
        ui->AlarmGrid->selectRow(selectRow);
    const bool device = open == 0 || !soundDevice_ || soundDevice_();
    ui->SummaryLabel->setText(
        (open == 0   ? QStringLiteral("No emergency is open.")
         : open == 1 ? QStringLiteral("1 emergency is open.")
                     : QStringLiteral("%1 emergencies are open.").arg(open)) +
        (device ? QString() : QStringLiteral(" No sound device: the alarm cannot be heard.")));
    ui->MuteBitBtn->setVisible(device);
    ui->MuteBitBtn->setEnabled(open > 0 && !alarms_.Muted());
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
