#pragma once

#include <QWidget>
#include <memory>

class TLookupBinding;
class TTable;

namespace Ui {
class TGpsForm;
}

// The position window: a station picker and three position buttons that send
// nothing (the radio link carries no position command). Nothing opens it.
class TGpsForm final : public QWidget {
    Q_OBJECT
public:
    // Opens the window's own cursor on User.DB in the working directory.
    explicit TGpsForm(QWidget *parent = nullptr);
    ~TGpsForm() override;

    TTable *UserTable = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

private slots:
    void CloseBitBtnClick();

private:
    std::unique_ptr<Ui::TGpsForm> ui;
    TLookupBinding *userSource_ = nullptr;
    bool centred_ = false;
};

extern TGpsForm *GpsForm;
