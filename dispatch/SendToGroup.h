#pragma once

#include "CannedMessages.h"
#include "GroupSend.h"
#include "Outbox.h"
#include "StationGroups.h"

#include <QDialog>
#include <QPointer>
#include <functional>

namespace Ui {
class TSendToGroupForm;
}

// What the window asks of the console about a station.
struct TStationFacts {
    std::function<QString(int fleet, int ident)> name;       // the directory's name, or empty
    std::function<QString(int fleet, int ident)> statusText; // its last status, or empty
};

// A message or a status request to every station of a group, with a result per
// station. Made for the keyboard: it opens on the group box, a letter finds a
// group, Alt+1..9 takes a canned message, Enter sends; Stop ends the rest.
class TSendToGroupForm final : public QDialog {
    Q_OBJECT
public:
    TSendToGroupForm(TOutbox &outbox, TStationFacts facts, QWidget *parent = nullptr);
    ~TSendToGroupForm() override;

    void SetGroups(const QList<TStationGroup> &groups);
    void SetCanned(const QList<TCannedMessage> &messages);
    void SetCodePage(int codePage) { codePage_ = codePage; }
    // Shows the window on the group box, canned message number (1-based) taken
    // when given.
    void Open(int canned = 0);
    // The send under way or last made, for tests; null before the first.
    const TGroupSend *Sending() const { return send_; }

signals:
    // The send ended: what the status line says then.
    void Sent(const QString &summary);

private slots:
    void SendBitBtnClick();
    void StopBitBtnClick();
    void CloseBitBtnClick();
    void CannedComboBoxChange(int index);

private:
    void UpdateCheck();
    void ShowResult(int index);
    void SendEnded();
    // The commands for the group, or the reason there are none.
    QList<TOutgoingCommand> Commands(const TStationGroup &group, QString *problem) const;

    std::unique_ptr<Ui::TSendToGroupForm> ui;
    TOutbox &outbox_;
    TStationFacts facts_;
    QList<TStationGroup> groups_;
    QList<TCannedMessage> canned_;
    int codePage_;
    QPointer<TGroupSend> send_;
};

extern TSendToGroupForm *SendToGroupForm;
