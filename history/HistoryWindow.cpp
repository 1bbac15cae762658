#include "HistoryWindow.h"

#include "Alarm.h"
#include "HistoryCsv.h"
#include "HistoryDatabase.h"
#include "HistoryExport.h"
#include "HistoryModel.h"
#include "MessageBox.h"
#include "ui_HistoryWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFocusEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QProgressBar>
#include <QScrollBar>
#include <QTimer>

THistoryForm *HistoryForm = nullptr;

namespace {

const TrafficKind AllKinds[] = {
    TrafficKind::Call,
    TrafficKind::CallEnd,
    TrafficKind::Status,
    TrafficKind::StatusRequest,
    TrafficKind::ShortMessage,
    TrafficKind::LongMessage,
    TrafficKind::PttId,
    TrafficKind::CallDecode,
    TrafficKind::Acknowledgement,
    TrafficKind::EmergencyAcknowledged,
    TrafficKind::PortLost,
    TrafficKind::PortBack,
    TrafficKind::Warning,
};

// A station shown only by its numbers has no entry in the user directory yet.
bool Unnamed(const TTrafficEvent &e)
{
    return e.fleet && e.ident && StationLabel(e.name, e.fleet, e.ident) == StationLabel({}, e.fleet, e.ident);
}

} // namespace

THistoryForm::THistoryForm(const QString &fileName, QWidget *parent)
    : QWidget(parent, Qt::Window), ui(new Ui::THistoryForm), fileName_(fileName),
      model_(new THistoryModel(this))
{
    ui->setupUi(this);
    ui->KindComboBox->addItem(QStringLiteral("any"), 0);
    for (TrafficKind kind : AllKinds)
        ui->KindComboBox->addItem(TrafficKindText(kind), static_cast<int>(kind));
    for (const char *preset : {"any time", "today", "yesterday", "last 7 days", "this shift"})
        ui->DatePresetComboBox->addItem(QString::fromLatin1(preset));
    DefaultDates();
    filterPause_ = new QTimer(this);
    filterPause_->setSingleShot(true);
    filterPause_->setInterval(FilterPauseMs);
    newRows_ = new QTimer(this);
    newRows_->setInterval(NewRowsMs);
    ui->HistoryGrid->setModel(model_);
    ui->HistoryGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    ui->HistoryGrid->setColumnWidth(THistoryModel::TimeColumn, 150);
    ui->HistoryGrid->setColumnWidth(THistoryModel::DirectionColumn, 70);
    ui->HistoryGrid->setColumnWidth(THistoryModel::KindColumn, 170);
    ui->HistoryGrid->setColumnWidth(THistoryModel::StationColumn, 190);
    chooseFile_ = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Export history"),
                                            QStringLiteral("history.csv"),
                                            QStringLiteral("CSV files (*.csv)"));
    };

    connect(ui->FindBitBtn, &QAbstractButton::clicked, this, &THistoryForm::FindBitBtnClick);
    connect(ui->StationEdit, &QLineEdit::returnPressed, this, &THistoryForm::FindBitBtnClick);
    connect(ui->TextEdit, &QLineEdit::returnPressed, this, &THistoryForm::FindBitBtnClick);
    // One rule for every filter: it applies a short pause after the last change
    // (Return and Find at once).
    const auto pause = [this] { filterPause_->start(); };
    connect(ui->StationEdit, &QLineEdit::textChanged, this, pause);
    connect(ui->TextEdit, &QLineEdit::textChanged, this, pause);
    connect(ui->KindComboBox, &QComboBox::currentIndexChanged, this, pause);
    connect(ui->FromCheckBox, &QAbstractButton::toggled, this, pause);
    connect(ui->UntilCheckBox, &QAbstractButton::toggled, this, pause);
    connect(ui->FromDateEdit, &QLineEdit::textChanged, this, pause);
    connect(ui->UntilDateEdit, &QLineEdit::textChanged, this, pause);
    connect(ui->FromDateEdit, &QLineEdit::returnPressed, this, &THistoryForm::FindBitBtnClick);
    connect(ui->UntilDateEdit, &QLineEdit::returnPressed, this, &THistoryForm::FindBitBtnClick);
    ui->FromDateEdit->installEventFilter(this);
    ui->UntilDateEdit->installEventFilter(this);
    connect(filterPause_, &QTimer::timeout, this, &THistoryForm::Reload);
    connect(ui->DatePresetComboBox, &QComboBox::activated, this, &THistoryForm::DatePresetComboBoxChange);
    connect(ui->NewRowsBitBtn, &QAbstractButton::clicked, this, &THistoryForm::NewRowsBitBtnClick);
    connect(newRows_, &QTimer::timeout, this, &THistoryForm::LookForNewRows);
    connect(ui->FromCheckBox, &QAbstractButton::toggled, ui->FromDateEdit, &QWidget::setEnabled);
    connect(ui->UntilCheckBox, &QAbstractButton::toggled, ui->UntilDateEdit, &QWidget::setEnabled);
    connect(ui->ExportBitBtn, &QAbstractButton::clicked, this, &THistoryForm::ExportBitBtnClick);
    connect(ui->CopyBitBtn, &QAbstractButton::clicked, this, &THistoryForm::CopyBitBtnClick);
    connect(ui->NameStationBitBtn, &QAbstractButton::clicked, this, &THistoryForm::NameStationBitBtnClick);
    connect(ui->CloseBitBtn, &QAbstractButton::clicked, this, &THistoryForm::CloseBitBtnClick);
    connect(ui->CancelExportBitBtn, &QAbstractButton::clicked, this, &THistoryForm::CancelExportBitBtnClick);
    connect(ui->HistoryGrid->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &THistoryForm::HistoryGridSelectionChange);
    connect(model_, &QAbstractItemModel::rowsInserted, this, &THistoryForm::ShowRowCount);
    connect(model_, &QAbstractItemModel::modelReset, this, &THistoryForm::HistoryGridSelectionChange);
}

THistoryForm::~THistoryForm()
{
    delete ui;
}

THistoryFilter THistoryForm::CurrentFilter() const
{
    THistoryFilter filter;
    filter.station = ui->StationEdit->text().trimmed();
    if (const int kind = ui->KindComboBox->currentData().toInt())
        filter.kind = static_cast<TrafficKind>(kind);
    filter.text = ui->TextEdit->text();
    if (ui->FromCheckBox->isChecked())
        filter.since = ParseDate(ui->FromDateEdit->text());
    if (ui->UntilCheckBox->isChecked())
        filter.until = ParseDate(ui->UntilDateEdit->text());
    return filter;
}

QDateTime THistoryForm::ParseDate(const QString &text)
{
    const QString format = QString::fromLatin1(DateFormat);
    const QDateTime value = QDateTime::fromString(text.trimmed(), format);
    // Read back and compared: a day that does not exist, a one-digit field or a
    // local time skipped by a clock change is refused, never moved to a neighbour.
    if (!value.isValid() || value.toString(format) != text.trimmed())
        return {};
    return value;
}

void THistoryForm::SetDateField(QLineEdit *field, const QDateTime &value)
{
    field->setText(value.toString(QString::fromLatin1(DateFormat)));
}

QString THistoryForm::CheckDates()
{
    const auto mark = [](QLineEdit *field, const QString &problem) {
        field->setStyleSheet(problem.isEmpty() ? QString() : QStringLiteral("background-color: #ffd0d0;"));
        field->setToolTip(problem);
    };
    QString problems[2];
    QLineEdit *fields[2] = {ui->FromDateEdit, ui->UntilDateEdit};
    const bool ticked[2] = {ui->FromCheckBox->isChecked(), ui->UntilCheckBox->isChecked()};
    const char *names[2] = {"From", "Until"};
    QDateTime values[2];
    for (int i = 0; i < 2; ++i) {
        if (!ticked[i])
            continue;
        values[i] = ParseDate(fields[i]->text());
        if (!values[i].isValid())
            problems[i] = QStringLiteral("%1 \"%2\" is not a date and time as %3")
                              .arg(QLatin1String(names[i]), fields[i]->text(), QLatin1String(DateFormat));
    }
    if (values[0].isValid() && values[1].isValid() && values[0] > values[1])
        problems[0] = problems[1] = QStringLiteral("From is later than Until");
    for (int i = 0; i < 2; ++i)
        mark(fields[i], problems[i]);
    return problems[0].isEmpty() ? problems[1] : problems[0];
}

bool THistoryForm::eventFilter(QObject *watched, QEvent *event)
{
    // A click into a date field selects the whole date, so that a date typed then
    // replaces it instead of mixing with it. On the release: the press has placed
    // the cursor by then, and a drag that selected part of it is left alone.
    auto *field = qobject_cast<QLineEdit *>(watched);
    if (field && (field == ui->FromDateEdit || field == ui->UntilDateEdit)) {
        if (event->type() == QEvent::FocusIn)
            selectOnRelease_ =
                static_cast<QFocusEvent *>(event)->reason() == Qt::MouseFocusReason ? field : nullptr;
        else if (event->type() == QEvent::MouseButtonRelease && selectOnRelease_ == field) {
            selectOnRelease_ = nullptr;
            if (!field->hasSelectedText())
                field->selectAll();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void THistoryForm::Reload()
{
    filterPause_->stop();
    ui->NewRowsBitBtn->setVisible(false);
    // A date that cannot be read is said beside the table, which keeps the last
    // filter that could be used: a guessed date would show the wrong traffic.
    if (const QString problem = CheckDates(); !problem.isEmpty()) {
        ui->RowsLabel->setText(problem);
        return;
    }
    try {
        if (!model_->IsOpen())
            model_->Open(fileName_);
        model_->SetFilter(CurrentFilter());
    } catch (const EHistoryError &error) {
        // Shown in the window itself: the operator asked for it, and a box on top
        // of an empty table would say the same twice.
        ui->RowsLabel->setText(QString::fromUtf8(error.what()).section(QLatin1Char('\n'), 0, 0));
        return;
    }
    ShowRowCount();
}

void THistoryForm::ShowRowCount()
{
    const int rows = model_->rowCount();
    ui->RowsLabel->setText(model_->canFetchMore({}) ? QStringLiteral("%1 entries shown, more below").arg(rows)
                                                    : QStringLiteral("%1 entries").arg(rows));
}

void THistoryForm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The console runs for days: "today" is the day the window is shown.
    DefaultDates();
    Reload();
    newRows_->start();
}

void THistoryForm::hideEvent(QHideEvent *event)
{
    newRows_->stop();
    QWidget::hideEvent(event);
}

void THistoryForm::DefaultDates()
{
    if (ui->FromCheckBox->isChecked() || ui->UntilCheckBox->isChecked())
        return;
    const QSignalBlocker fromBlocker(ui->FromDateEdit), untilBlocker(ui->UntilDateEdit);
    const auto [from, until] = PresetRange(TDatePreset::Today, QDateTime::currentDateTime());
    SetDateField(ui->FromDateEdit, from);
    SetDateField(ui->UntilDateEdit, until);
}

std::pair<QDateTime, QDateTime> THistoryForm::PresetRange(TDatePreset preset, const QDateTime &now)
{
    const QDate today = now.date();
    const auto midnight = [](const QDate &day) { return QDateTime(day, QTime(0, 0)); };
    switch (preset) {
    case TDatePreset::AnyTime:
        return {};
    case TDatePreset::Today:
        return {midnight(today), midnight(today.addDays(1))};
    case TDatePreset::Yesterday:
        return {midnight(today.addDays(-1)), midnight(today)};
    case TDatePreset::Last7Days:
        return {midnight(today.addDays(-6)), midnight(today.addDays(1))};
    case TDatePreset::ThisShift: {
        // Three shifts a day, from 06:00, 14:00 and 22:00 local time.
        const int hour = now.time().hour();
        const int start = hour >= 22 ? 22 : hour >= 14 ? 14 : hour >= 6 ? 6 : -2;
        const QDateTime from =
            start >= 0 ? QDateTime(today, QTime(start, 0)) : QDateTime(today.addDays(-1), QTime(22, 0));
        return {from, from.addSecs(8 * 3600)};
    }
    }
    return {};
}

void THistoryForm::DatePresetComboBoxChange(int index)
{
    const auto [from, until] = PresetRange(TDatePreset(index), QDateTime::currentDateTime());
    ui->FromCheckBox->setChecked(from.isValid());
    ui->UntilCheckBox->setChecked(until.isValid());
    if (from.isValid())
        SetDateField(ui->FromDateEdit, from);
    if (until.isValid())
        SetDateField(ui->UntilDateEdit, until);
    Reload();
}

void THistoryForm::LookForNewRows()
{
    if (!model_->IsOpen() || filterPause_->isActive())
        return;
    // At the top the new rows come in above; further down they would push the rows
    // being read out of place, so a bar says how many wait.
    if (ui->HistoryGrid->verticalScrollBar()->value() == 0) {
        if (model_->PrependNewer() > 0)
            ShowRowCount();
        ui->NewRowsBitBtn->setVisible(false);
        return;
    }
    const int waiting = model_->Newer();
    ui->NewRowsBitBtn->setText(waiting >= THistoryModel::PageSize
                                   ? QStringLiteral("%1 or more new entries: show them").arg(waiting)
                                   : QStringLiteral("%1 new: show them").arg(waiting));
    ui->NewRowsBitBtn->setVisible(waiting > 0);
}

void THistoryForm::NewRowsBitBtnClick()
{
    model_->PrependNewer();
    ui->NewRowsBitBtn->setVisible(false);
    ui->HistoryGrid->scrollToTop();
    ShowRowCount();
}

void THistoryForm::FindBitBtnClick()
{
    Reload();
}

void THistoryForm::HistoryGridSelectionChange()
{
    const QModelIndex current = ui->HistoryGrid->selectionModel()->currentIndex();
    const QModelIndexList rows = ui->HistoryGrid->selectionModel()->selectedRows();
    if (rows.isEmpty() || !current.isValid() || current.row() >= model_->rowCount()) {
        ui->MessageMemo->clear();
        ui->NameStationBitBtn->setEnabled(false);
        return;
    }
    const TTrafficEvent &e = model_->Row(current.row()).event;
    QString whole = e.text;
    if (e.kind == TrafficKind::Status || e.kind == TrafficKind::EmergencyAcknowledged)
        whole = THistoryModel::TextOf(e);
    whole.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    ui->MessageMemo->setPlainText(whole);
    ui->NameStationBitBtn->setEnabled(bool(nameStation_) && Unnamed(e));
}

QByteArray THistoryForm::SelectedCsv() const
{
    QModelIndexList rows = ui->HistoryGrid->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    QByteArray csv = CsvRecord(THistoryQuery::CsvHeader());
    for (const QModelIndex &index : rows)
        csv += CsvRecord(THistoryQuery::CsvFields(model_->Row(index.row())), TCsvCells::Neutralised);
    return csv;
}

void THistoryForm::CopyBitBtnClick()
{
    if (ui->HistoryGrid->selectionModel()->selectedRows().isEmpty())
        return;
    auto *mime = new QMimeData;
    const QByteArray csv = SelectedCsv();
    mime->setData(QStringLiteral("text/csv"), csv);
    mime->setText(QString::fromUtf8(csv));
    QGuiApplication::clipboard()->setMimeData(mime);
}

bool THistoryForm::ExportTo(const QString &fileName)
{
    if (!model_->Query() || export_)
        return false;
    export_ = std::make_unique<THistoryExport>(fileName_, model_->Filter(), fileName, TCsvCells::Neutralised);
    connect(export_.get(), &THistoryExport::Progress, ui->ExportProgressBar, &QProgressBar::setValue);
    connect(export_.get(), &THistoryExport::Finished, this, &THistoryForm::ExportFinished);
    ui->ExportProgressBar->setValue(0);
    ui->ExportProgressBar->setVisible(true);
    ui->CancelExportBitBtn->setVisible(true);
    ui->ExportBitBtn->setEnabled(false);
    ui->RowsLabel->setText(QStringLiteral("Exporting to %1…").arg(fileName));
    export_->Start();
    return true;
}

void THistoryForm::CancelExportBitBtnClick()
{
    if (export_)
        export_->Cancel();
}

void THistoryForm::ExportFinished(qint64 rows, const QString &failure, bool cancelled)
{
    const QString fileName = export_ ? export_->CsvFile() : QString();
    export_.reset(); // its thread has ended: Finished is the last thing it does
    ui->ExportProgressBar->setVisible(false);
    ui->CancelExportBitBtn->setVisible(false);
    ui->ExportBitBtn->setEnabled(true);
    if (cancelled) {
        ui->RowsLabel->setText(QStringLiteral("Export cancelled; %1 left as it was").arg(fileName));
    } else if (!failure.isEmpty()) {
        ui->RowsLabel->setText(QStringLiteral("Export failed"));
        ShowMessageBox(failure, QStringLiteral("Export history"), MsgIcon::Warning);
    } else {
        ui->RowsLabel->setText(QStringLiteral("%1 entries exported to %2").arg(rows).arg(fileName));
    }
}

void THistoryForm::ExportBitBtnClick()
{
    // The filter as shown, even if Find was not pressed after the last change;
    // nothing with a date that cannot be used.
    Reload();
    if (!CheckDates().isEmpty())
        return;
    const QString fileName = chooseFile_ ? chooseFile_() : QString();
    if (!fileName.isEmpty())
        ExportTo(fileName);
}

void THistoryForm::NameStationBitBtnClick()
{
    const QModelIndex current = ui->HistoryGrid->selectionModel()->currentIndex();
    if (!current.isValid() || !nameStation_)
        return;
    const TTrafficEvent &e = model_->Row(current.row()).event;
    if (Unnamed(e))
        nameStation_(*e.fleet, *e.ident);
}

void THistoryForm::CloseBitBtnClick()
{
    close();
}
