#pragma once

#include "Checkins.h"

#include <QDialog>
#include <memory>

namespace Ui {
class TCheckinForm;
}

// "Expected every N minutes" for the selected station, its fleet or everyone, and
// whether the time the console was down counts.
class TCheckinForm final : public QDialog {
    Q_OBJECT
public:
    // label names the station ("Car 1 (101-1001)"); without a station only "all" is offered.
    TCheckinForm(const TCheckinSettings &settings, std::optional<TStationKey> station, const QString &label,
                 QWidget *parent = nullptr);
    ~TCheckinForm() override;

    // The settings with the operator's choice; a new rule counts from now.
    TCheckinSettings Result(const QDateTime &now) const;
    void Choose(TCheckinScope scope, int minutes, bool countDowntime);

private slots:
    void ScopeComboBoxChange();

private:
    TCheckinScope Scope() const;

    std::unique_ptr<Ui::TCheckinForm> ui;
    TCheckinSettings settings_;
    TStationKey key_;
};
