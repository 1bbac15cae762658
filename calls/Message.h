#pragma once

#include "SendCommand.h"

#include <QWidget>
#include <memory>

class TLookupBinding;
class TTable;

namespace Ui {
class TMessageForm;
}

// The message call window: write a text and send it to a station, as a short
// message (F) up to 48 bytes or a long one (G) up to 4000. The caption shows the
// length and the text colour its class while the operator types.
class TMessageForm final : public QWidget {
    Q_OBJECT
public:
    static constexpr int ShortMessageLimit = 48;
    static constexpr int BlueLimit = 1024;
    static constexpr int LongMessageLimit = 4000;

    // Opens the window's own cursor on User.DB in the working directory (a table
    // error ends start-up). context.users is the main window's table, for naming.
    explicit TMessageForm(const TCommandContext &context, QWidget *parent = nullptr);
    ~TMessageForm() override;

    TTable *UserTable = nullptr;

    // The window holds this station, as if the operator had chosen it.
    void HoldStation(int fleet, int ident);

protected:
    void showEvent(QShowEvent *event) override;

private slots:
    void MessageMemoChange();
    void NameDBLookupComboBoxCloseUp();
    void NewBitBtnClick();
    void SendBitBtnClick();
    void CloseBitBtnClick();

private:
    // The memo's text as the radio gets it: lines separated by CR LF.
    QString MessageText() const;

    std::unique_ptr<Ui::TMessageForm> ui;
    const TCommandContext &context_; // the session's, at a stable address
    TLookupBinding *userSource_ = nullptr;
    bool centred_ = false;
};

extern TMessageForm *MessageForm;
