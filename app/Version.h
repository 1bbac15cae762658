#pragma once

#include <QDialog>
#include <memory>

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
    std::unique_ptr<Ui::TVersionForm> ui;
};

extern TVersionForm *VersionForm;
