#include "CheckinDialog.h"

#include "ui_CheckinDialog.h"

TCheckinForm::TCheckinForm(const TCheckinSettings &settings, std::optional<TStationKey> station,
                           const QString &label, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::TCheckinForm>()), settings_(settings),
      key_(station.value_or(TStationKey{}))
{
    ui->setupUi(this);
    if (station) {
        ui->ScopeComboBox->addItem(QStringLiteral("this station, %1").arg(label),
                                   int(TCheckinScope::Station));
        ui->ScopeComboBox->addItem(QStringLiteral("every station of fleet %1").arg(station->fleet),
                                   int(TCheckinScope::Fleet));
    }
    ui->ScopeComboBox->addItem(QStringLiteral("every station"), int(TCheckinScope::All));
    ui->DowntimeCheckBox->setChecked(settings.countDowntime);
    connect(ui->ScopeComboBox, &QComboBox::currentIndexChanged, this, &TCheckinForm::ScopeComboBoxChange);
    connect(ui->ButtonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->ButtonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    ScopeComboBoxChange();
}

TCheckinForm::~TCheckinForm() = default;

TCheckinScope TCheckinForm::Scope() const
{
    return TCheckinScope(ui->ScopeComboBox->currentData().toInt());
}

void TCheckinForm::ScopeComboBoxChange()
{
    ui->MinutesSpinBox->setValue(CheckinMinutes(settings_, Scope(), key_));
}

void TCheckinForm::Choose(TCheckinScope scope, int minutes, bool countDowntime)
{
    ui->ScopeComboBox->setCurrentIndex(ui->ScopeComboBox->findData(int(scope)));
    ui->MinutesSpinBox->setValue(minutes);
    ui->DowntimeCheckBox->setChecked(countDowntime);
}

TCheckinSettings TCheckinForm::Result(const QDateTime &now) const
{
    TCheckinSettings result = settings_;
    const int minutes = ui->MinutesSpinBox->value();
    // An unchanged rule keeps the moment it was set: reopening the dialog resets nothing.
    if (minutes != CheckinMinutes(settings_, Scope(), key_))
        SetCheckinRule(result, Scope(), key_, minutes, now);
    result.countDowntime = ui->DowntimeCheckBox->isChecked();
    return result;
}
