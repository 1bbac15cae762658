#pragma once

#include <QDialog>

namespace Ui {
class TVersionForm;
}

// The version window, shown modally from Help > Version; its result is ignored.
class TVersionForm final : public QDialog {
    Q_OBJECT
public:
    explicit TVersionForm(QWidget *parent = nullptr);
    ~TVersionForm() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    Ui::TVersionForm *ui;
};

extern TVersionForm *VersionForm;
