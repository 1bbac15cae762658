#pragma once

#include "AlarmTableModel.h"

#include <QWidget>
#include <functional>

namespace Ui {
class TEmergenciesForm;
}
class TAlarmList;
class QTableWidgetItem;

// The alarms of the session, open ones first in order of arrival, then the
// acknowledged ones; an open one can be acknowledged here, and the sound muted.
// The grid follows TAlarmTableModel row by row while the window is shown; a
// hidden window is detached from it and catches up once when shown again, so
// that emergencies arriving while nobody looks at the list cost it nothing.
class TEmergenciesForm final : public QWidget {
    Q_OBJECT
public:
    enum Column {
        TimeColumn = TAlarmTableModel::TimeColumn,
        StationColumn = TAlarmTableModel::StationColumn,
        StatusColumn = TAlarmTableModel::StatusColumn,
        AcknowledgedColumn = TAlarmTableModel::AcknowledgedColumn,
        ColumnCount = TAlarmTableModel::ColumnCount
    };
    using TAcknowledge = std::function<void(qint64 id)>;

    TEmergenciesForm(TAlarmList &alarms, TAcknowledge acknowledge, QWidget *parent = nullptr);
    ~TEmergenciesForm() override;

    // Asked while alarms are open: whether a sound device exists. Without one
    // the window says so and Mute is not offered.
    void SetSoundDevice(std::function<bool()> soundDevice);
    void Refresh() { UpdateSummary(); }

    // The alarm shown in a row, for tests.
    qint64 AlarmIdAt(int row) const;
    const TAlarmTableModel &Model() const { return model_; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private slots:
    void AcknowledgeBitBtnClick();
    void MuteBitBtnClick();
    void CloseBitBtnClick();
    void AlarmGridSelectionChange();

private:
    void Attach();
    void Detach();
    void Fill();
    void FillRow(int row);
    void RowsInserted(const QModelIndex &parent, int first, int last);
    void RowsMoved(const QModelIndex &parent, int first, int last, const QModelIndex &destination,
                   int before);
    void DataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight);
    void ModelReset();
    void ListChanged();
    void UpdateSummary();

    Ui::TEmergenciesForm *ui;
    TAlarmList &alarms_;
    TAlarmTableModel model_;
    QList<QMetaObject::Connection> attached_;
    // The selection before a change of the list: the alarm and its row.
    qint64 selectedBefore_ = 0;
    int selectedRowBefore_ = -1;
    bool selectedOpenBefore_ = false;
    bool mirroring_ = false; // rows are being inserted or moved in the grid
    TAcknowledge acknowledge_;
    bool selectedOpen_ = false; // the selected row's alarm is open
    std::function<bool()> soundDevice_;
};

extern TEmergenciesForm *EmergenciesForm;
