#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TPttidPopupForm;
}

class TPttidPopupForm final : public QWidget {
    Q_OBJECT
public:
    explicit TPttidPopupForm(QWidget *parent = nullptr);
    ~TPttidPopupForm() override;

    // Fills the station fields; texts are shown as plain text.
    void SetStation(const QString &name, const QString &fleet, const QString &ident);

    // "PTT ID Connect" or "PTT ID Disconnect", set by the decoder.
    void SetCaption(const QString &caption);

private slots:
    void CloseBitBtnClick();

private:
    std::unique_ptr<Ui::TPttidPopupForm> ui;
};

extern TPttidPopupForm *PttidPopupForm;
