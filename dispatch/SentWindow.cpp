#include "SentWindow.h"

#include "Outbox.h"
#include "ui_SentWindow.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QShortcut>

TSentForm *SentForm = nullptr;

TSentForm::TSentForm(TOutbox &outbox, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::TSentForm>()), outbox_(outbox), model_(outbox)
{
    ui->setupUi(this);
    setWindowFlag(Qt::Window);
    ui->SentGrid->setModel(&model_);
    ui->SentGrid->setAccessibleName(QStringLiteral("Commands sent"));
    QHeaderView *header = ui->SentGrid->horizontalHeader();
    header->resizeSection(TSentModel::TimeColumn, 70);
    header->resizeSection(TSentModel::ToColumn, 150);
    header->resizeSection(TSentModel::KindColumn, 100);
    header->resizeSection(TSentModel::TextColumn, 180);
    header->resizeSection(TSentModel::StateColumn, 330);

    connect(ui->ResendBitBtn, &QAbstractButton::clicked, this, &TSentForm::ResendBitBtnClick);
    connect(ui->CancelBitBtn, &QAbstractButton::clicked, this, &TSentForm::CancelBitBtnClick);
    connect(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TSentForm::CloseBitBtnClick);
    connect(ui->SentGrid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &TSentForm::UpdateButtons);
    connect(&model_, &QAbstractItemModel::dataChanged, this, &TSentForm::UpdateButtons);
    connect(&model_, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex &, int, int last) {
        // The newest row in sight, unless the operator is on another one.
        if (!ui->SentGrid->currentIndex().isValid() || ui->SentGrid->currentIndex().row() == last - 1)
            SelectRow(last);
        UpdateSummary();
    });
    connect(&outbox_, &TOutbox::PendingCountChanged, this, &TSentForm::UpdateSummary);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &TSentForm::CloseBitBtnClick);
    UpdateSummary();
    UpdateButtons();
}

TSentForm::~TSentForm() = default;

void TSentForm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The arrows and Alt+R / Alt+A work at once, with no click on a row first.
    ui->SentGrid->setFocus();
}

qint64 TSentForm::SelectedId() const
{
    const QModelIndex current = ui->SentGrid->currentIndex();
    return current.isValid() ? model_.IdAt(current.row()) : 0;
}

void TSentForm::SelectRow(int row)
{
    if (row < 0 || row >= model_.rowCount())
        return;
    ui->SentGrid->setCurrentIndex(model_.index(row, TSentModel::StateColumn));
    ui->SentGrid->scrollTo(model_.index(row, 0));
}

void TSentForm::UpdateButtons()
{
    const TSentCommand *command = outbox_.Find(SelectedId());
    ui->ResendBitBtn->setEnabled(command && IsFinalState(command->state) &&
                                 command->state != TSentState::Accepted);
    ui->CancelBitBtn->setEnabled(command && (command->state == TSentState::RetryWaiting ||
                                             (command->state == TSentState::Written && !command->stopped)));
}

void TSentForm::UpdateSummary()
{
    const int pending = outbox_.PendingCount();
    ui->SummaryLabel->setText(
        QStringLiteral("%1 commands listed, %2 waiting for the radio. \"Accepted\" means the radio took the "
                       "command, not that the station received it.")
            .arg(model_.rowCount())
            .arg(pending));
}

void TSentForm::ResendBitBtnClick()
{
    outbox_.Resend(SelectedId());
    UpdateButtons();
}

void TSentForm::CancelBitBtnClick()
{
    outbox_.Cancel(SelectedId());
    UpdateButtons();
}

void TSentForm::CloseBitBtnClick()
{
    close();
}
