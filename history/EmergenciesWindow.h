#pragma once

#include <QWidget>
#include <functional>

namespace Ui {
class TEmergenciesForm;
}
class TAlarmList;

// The alarms of the session, open ones first in order of arrival, then the
// acknowledged ones; an open one can be acknowledged here, and the sound muted.
class TEmergenciesForm final : public QWidget {
    Q_OBJECT
public:
    enum Column { TimeColumn, StationColumn, StatusColumn, AcknowledgedColumn, ColumnCount };
    using TAcknowledge = std::function<void(qint64 id)>;

    TEmergenciesForm(TAlarmList &alarms, TAcknowledge acknowledge, QWidget *parent = nullptr);
    ~TEmergenciesForm() override;

    // Asked while alarms are open: whether a sound device exists. Without one
    // the window says so and Mute is not offered.
    void SetSoundDevice(std::function<bool()> soundDevice);
    void Refresh() { Fill(); }

    // The alarm shown in a row, for tests.
    qint64 AlarmIdAt(int row) const;

private slots:
    void AcknowledgeBitBtnClick();
    void MuteBitBtnClick();
    void CloseBitBtnClick();
    void AlarmGridSelectionChange();

private:
    void Fill();

    Ui::TEmergenciesForm *ui;
    TAlarmList &alarms_;
    TAcknowledge acknowledge_;
    bool selectedOpen_ = false; // the selected row's alarm is open
    std::function<bool()> soundDevice_;
};

extern TEmergenciesForm *EmergenciesForm;
