#pragma once

#include "SendCommand.h"

#include <QWidget>
#include <memory>

class TLookupBinding;
class TTable;

namespace Ui {
class TStatusForm;
}

// The status call window: send a station a status number from the status
// directory (E), or ask it for its status (H).
class TStatusForm final : public QWidget {
    Q_OBJECT
public:
    // Opens the window's own cursors on User.DB and Status.db in the working
    // directory (a table error ends start-up) and starts on the "Default" status.
    explicit TStatusForm(const TCommandContext &context, QWidget *parent = nullptr);
    ~TStatusForm() override;

    TTable *UserTable = nullptr;

    // The window holds this station, as if the operator had chosen it.
    void HoldStation(int fleet, int ident);
    TTable *StatusTable = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

private slots:
    void FormCreate();
    void NameDBLookupComboBoxCloseUp();
    void SendBitBtnClick();
    void RequestBitBtnClick();
    void BitBtn1Click();

private:
    std::unique_ptr<Ui::TStatusForm> ui;
    const TCommandContext &context_; // the session's, at a stable address
    TLookupBinding *userSource_ = nullptr;
    TLookupBinding *statusSource_ = nullptr;
    bool centred_ = false;
};

extern TStatusForm *StatusForm;
