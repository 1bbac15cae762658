#pragma once

#include "SentModel.h"

#include <QWidget>

namespace Ui {
class TSentForm;
}
class TOutbox;

// Every command written to the radio and what became of it, newest at the
// bottom; a finished one can be written again (Resend) and one waiting to be
// written again stopped (Cancel).
class TSentForm final : public QWidget {
    Q_OBJECT
public:
    explicit TSentForm(TOutbox &outbox, QWidget *parent = nullptr);
    ~TSentForm() override;

    const TSentModel &Model() const { return model_; }
    // The command on the selected row (0 for none).
    qint64 SelectedId() const;
    void SelectRow(int row);

protected:
    void showEvent(QShowEvent *event) override;

private slots:
    void ResendBitBtnClick();
    void CancelBitBtnClick();
    void CloseBitBtnClick();

private:
    void UpdateButtons();
    void UpdateSummary();

    std::unique_ptr<Ui::TSentForm> ui;
    TOutbox &outbox_;
    TSentModel model_;
};

extern TSentForm *SentForm;
