#pragma once

#include <QDialog>

class TTable;

namespace Ui {
class TEStatusForm;
}

// The Edit Status window: the status directory in a grid. Its Close button writes
// the pending row and removes every status numbered 0; the close box only hides it.
class TEStatusForm final : public QDialog {
    Q_OBJECT
public:
    // The status number is read-only in the shared instance: the grid edits texts only.
    explicit TEStatusForm(TTable *statusTable, QWidget *parent = nullptr);
    ~TEStatusForm() override;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void CloseBitBtnMouseDown();
    void CloseBitBtnClick();
    void StatusGridKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void ImportButtonClick();
    void ExportButtonClick();

private:
    Ui::TEStatusForm *ui;
    TTable *table_;
    bool closeRefused_ = false;
};

extern TEStatusForm *EStatusForm;
