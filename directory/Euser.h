#pragma once

#include <QDialog>

class TTable;
class QCloseEvent;

namespace Ui {
class TEUserForm;
}

// The Edit User window: the user directory in a grid, with Add, Delete and Close.
// It works on the main window's own user table, so the name lookup sees every
// change at once. The directory holds at most MaxUserEntries users.
class TEUserForm final : public QDialog {
    Q_OBJECT
public:
    explicit TEUserForm(TTable *userTable, QWidget *parent = nullptr);
    ~TEUserForm() override;

public slots:
    // Esc and QDialog's own closing go the same way as the close box.
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void AddBitBtnClick();
    void DeleteBitBtnClick();
    void CloseBitBtnMouseDown();
    void CloseBitBtnClick();
    void FormCloseQuery(bool &canClose);
    void ImportButtonClick();
    void ExportButtonClick();

private:
    Ui::TEUserForm *ui;
    TTable *table_;
    bool closeRefused_ = false;
};

extern TEUserForm *EUserForm;
