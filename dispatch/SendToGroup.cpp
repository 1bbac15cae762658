#include "SendToGroup.h"

#include "AnsiCodec.h"
#include "GroupSend.h"
#include "Outbox.h"
#include "StationId.h"
#include "ui_SendToGroup.h"

#include <QHeaderView>
#include <QKeySequence>
#include <QShortcut>
#include <QTime>

TSendToGroupForm *SendToGroupForm = nullptr;

namespace {

QString StationText(const TStationFacts &facts, int fleet, int ident)
{
    const QString number = ZeroPad3(fleet) + QLatin1Char('-') + ZeroPad4(ident);
    const QString name = facts.name ? facts.name(fleet, ident) : QString();
    return name.isEmpty() ? number : name + QLatin1String(" (") + number + QLatin1Char(')');
}

} // namespace

TSendToGroupForm::TSendToGroupForm(TOutbox &outbox, TStationFacts facts, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::TSendToGroupForm>()), outbox_(outbox),
      facts_(std::move(facts)), codePage_(AnsiCodec::SystemCodePage())
{
    ui->setupUi(this);
    setModal(false);
    ui->ResultGrid->horizontalHeader()->resizeSection(0, 200);
    ui->StopBitBtn->setEnabled(false);
    ui->ResultGrid->setAccessibleName(QStringLiteral("Result per station"));

    connect(ui->SendBitBtn, &QAbstractButton::clicked, this, &TSendToGroupForm::SendBitBtnClick);
    connect(ui->StopBitBtn, &QAbstractButton::clicked, this, &TSendToGroupForm::StopBitBtnClick);
    connect(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TSendToGroupForm::CloseBitBtnClick);
    connect(ui->CannedComboBox, &QComboBox::currentIndexChanged, this,
            &TSendToGroupForm::CannedComboBoxChange);
    connect(ui->GroupComboBox, &QComboBox::currentIndexChanged, this, &TSendToGroupForm::UpdateCheck);
    connect(ui->KindComboBox, &QComboBox::currentIndexChanged, this, &TSendToGroupForm::UpdateCheck);
    connect(ui->MessageEdit, &QPlainTextEdit::textChanged, this, &TSendToGroupForm::UpdateCheck);
    // Alt+1..9: the canned message of that number, from anywhere in the window.
    for (int n = 1; n <= 9; ++n) {
        auto *key = new QShortcut(QKeySequence(QStringLiteral("Alt+%1").arg(n)), this);
        connect(key, &QShortcut::activated, this, [this, n] {
            if (n < ui->CannedComboBox->count())
                ui->CannedComboBox->setCurrentIndex(n);
        });
    }
    // In the text, Enter is a line break; Ctrl+Enter sends.
    auto *send = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Return")), this);
    connect(send, &QShortcut::activated, this, &TSendToGroupForm::SendBitBtnClick);
    SetCanned({});
}

TSendToGroupForm::~TSendToGroupForm() = default;

void TSendToGroupForm::SetGroups(const QList<TStationGroup> &groups)
{
    const QString current = ui->GroupComboBox->currentText();
    groups_ = groups;
    ui->GroupComboBox->clear();
    for (const TStationGroup &group : groups)
        ui->GroupComboBox->addItem(group.name);
    if (const int at = ui->GroupComboBox->findText(current); at >= 0)
        ui->GroupComboBox->setCurrentIndex(at);
    UpdateCheck();
}

void TSendToGroupForm::SetCanned(const QList<TCannedMessage> &messages)
{
    canned_ = messages;
    const QSignalBlocker quiet(ui->CannedComboBox);
    ui->CannedComboBox->clear();
    ui->CannedComboBox->addItem(QStringLiteral("(none: the text below)"));
    for (int i = 0; i < messages.size(); ++i)
        ui->CannedComboBox->addItem(i < 9 ? QStringLiteral("%1  %2").arg(i + 1).arg(messages[i].title)
                                          : messages[i].title);
    UpdateCheck();
}

void TSendToGroupForm::Open(int canned)
{
    if (canned > 0 && canned < ui->CannedComboBox->count())
        ui->CannedComboBox->setCurrentIndex(canned);
    show();
    raise();
    activateWindow();
    ui->GroupComboBox->setFocus();
    UpdateCheck();
}

void TSendToGroupForm::CannedComboBoxChange(int index)
{
    if (index <= 0 || index > canned_.size())
        return;
    ui->KindComboBox->setCurrentIndex(0);
    ui->MessageEdit->setPlainText(canned_[index - 1].text);
}

QList<TOutgoingCommand> TSendToGroupForm::Commands(const TStationGroup &group, QString *problem) const
{
    QList<TOutgoingCommand> commands;
    const bool message = ui->KindComboBox->currentIndex() == 0;
    const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm"));
    for (const TGroupStation &station : group.stations) {
        TOutgoingCommand command;
        command.fleet = QString::number(station.fleet);
        command.ident = QString::number(station.ident);
        command.letter = 'H';
        if (message) {
            const TFieldValues values{
                facts_.name ? facts_.name(station.fleet, station.ident) : QString(),
                ZeroPad3(station.fleet) + QLatin1Char('-') + ZeroPad4(station.ident), time,
                facts_.statusText ? facts_.statusText(station.fleet, station.ident) : QString()};
            const TPreparedMessage prepared =
                PrepareMessage(ui->MessageEdit->toPlainText(), values, codePage_);
            if (!prepared.problem.isEmpty()) {
                *problem = QStringLiteral("Not sent, %1: %2.")
                               .arg(StationText(facts_, station.fleet, station.ident), prepared.problem);
                return {};
            }
            command.letter = prepared.letter;
            command.texts.message = prepared.text;
        }
        commands.append(command);
    }
    if (commands.isEmpty())
        *problem = QStringLiteral("The group %1 has no stations.").arg(group.name);
    return commands;
}

void TSendToGroupForm::UpdateCheck()
{
    const TStationGroup *group = FindGroup(groups_, ui->GroupComboBox->currentText());
    ui->MessageEdit->setEnabled(ui->KindComboBox->currentIndex() == 0);
    if (!group) {
        ui->CheckLabel->setText(groups_.isEmpty() ? QStringLiteral("No groups yet: Tools > Station Groups.")
                                                  : QStringLiteral("Choose a group."));
        return;
    }
    QString problem;
    const QList<TOutgoingCommand> commands = Commands(*group, &problem);
    if (!problem.isEmpty()) {
        ui->CheckLabel->setStyleSheet(QStringLiteral("color: #b00000;"));
        ui->CheckLabel->setText(problem);
        return;
    }
    ui->CheckLabel->setStyleSheet(QString());
    QString what = QStringLiteral("a status request");
    if (commands.first().letter != 'H') {
        int longest = 0;
        for (const TOutgoingCommand &command : commands)
            longest = std::max(longest, MessageLength(command.texts.message, codePage_));
        what = QStringLiteral("a %1 message of up to %2 bytes")
                   .arg(commands.first().letter == 'F' ? QStringLiteral("short") : QStringLiteral("long"))
                   .arg(longest);
    }
    QString text = QStringLiteral("Enter sends %1 to each of the %2 stations of %3, one at a time.")
                       .arg(what)
                       .arg(commands.size())
                       .arg(group->name);
    // The fields as the first station gets them.
    if (commands.first().letter != 'H')
        text += QStringLiteral("\n%1 gets: %2")
                    .arg(StationText(facts_, commands.first().fleet.toInt(), commands.first().ident.toInt()),
                         QString(commands.first().texts.message)
                             .replace(QLatin1String("\r\n"), QLatin1String(" ")));
    ui->CheckLabel->setText(text);
}

void TSendToGroupForm::SendBitBtnClick()
{
    if (send_ && !send_->Done())
        return;
    const TStationGroup *group = FindGroup(groups_, ui->GroupComboBox->currentText());
    if (!group) {
        UpdateCheck();
        return;
    }
    QString problem;
    const QList<TOutgoingCommand> commands = Commands(*group, &problem);
    if (!problem.isEmpty()) {
        UpdateCheck();
        return;
    }
    delete send_;
    send_ = new TGroupSend(outbox_, commands, QString(), this);
    ui->ResultGrid->setRowCount(int(send_->Results().size()));
    for (int i = 0; i < send_->Results().size(); ++i) {
        const TOutgoingCommand &command = send_->Results()[i].command;
        ui->ResultGrid->setItem(
            i, 0, new QTableWidgetItem(StationText(facts_, command.fleet.toInt(), command.ident.toInt())));
        ShowResult(i);
    }
    connect(send_, &TGroupSend::ResultChanged, this, &TSendToGroupForm::ShowResult);
    connect(send_, &TGroupSend::Finished, this, &TSendToGroupForm::SendEnded);
    ui->SendBitBtn->setEnabled(false);
    ui->StopBitBtn->setEnabled(true);
    ui->StopBitBtn->setFocus();
    send_->Start();
}

void TSendToGroupForm::ShowResult(int index)
{
    if (!send_ || index >= ui->ResultGrid->rowCount())
        return;
    auto *item = new QTableWidgetItem(send_->Results()[index].state);
    ui->ResultGrid->setItem(index, 1, item);
    if (!send_->Results()[index].ended)
        ui->ResultGrid->scrollToItem(item);
}

void TSendToGroupForm::SendEnded()
{
    ui->SendBitBtn->setEnabled(true);
    ui->StopBitBtn->setEnabled(false);
    int accepted = 0;
    for (const TGroupSend::TResult &result : send_->Results())
        accepted += result.state.startsWith(QLatin1String("accepted")) ? 1 : 0;
    const QString summary =
        QStringLiteral("%1 of %2 accepted by the radio.").arg(accepted).arg(send_->Results().size());
    ui->CheckLabel->setStyleSheet(QString());
    ui->CheckLabel->setText(summary);
    ui->GroupComboBox->setFocus();
    emit Sent(summary);
}

void TSendToGroupForm::StopBitBtnClick()
{
    if (send_)
        send_->Cancel();
}

void TSendToGroupForm::CloseBitBtnClick()
{
    close();
}
