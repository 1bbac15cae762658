#pragma once

#include "SendCommand.h"

#include <QWidget>
#include <memory>

class TLookupBinding;
class TTable;

namespace Ui {
class TSpeechForm;
}

// The voice call window: pick a station, connect or disconnect a voice call.
// Created once; closing hides it and the choice stays for the next opening.
class TSpeechForm final : public QWidget {
    Q_OBJECT
public:
    // Opens the window's own cursor on User.DB in the working directory (a table
    // error ends start-up). context.users is the main window's table, for naming.
    explicit TSpeechForm(const TCommandContext &context, QWidget *parent = nullptr);
    ~TSpeechForm() override;

    TTable *UserTable = nullptr;

    // The window holds this station, as if the operator had chosen it.
    void HoldStation(int fleet, int ident);

protected:
    void showEvent(QShowEvent *event) override;

private slots:
    void NameDBLookupComboBoxCloseUp();
    void ConnectBitBtnClick();
    void DisconnectBitBtnClick();
    void BitBtn1Click();

private:
    std::unique_ptr<Ui::TSpeechForm> ui;
    const TCommandContext &context_; // the session's, at a stable address
    TLookupBinding *userSource_;
    bool centred_ = false;
};

extern TSpeechForm *SpeechForm;
