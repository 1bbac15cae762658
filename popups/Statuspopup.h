#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TStatusPopupForm;
}

class TStatusPopupForm final : public QWidget {
    Q_OBJECT
public:
    explicit TStatusPopupForm(QWidget *parent = nullptr);
    ~TStatusPopupForm() override;

    void SetStation(const QString &name, const QString &fleet, const QString &ident);
    // The status text, or "Status:" and the number for an unknown status.
    void SetText(const QString &text);

    // The emergency flash: red, or the normal button-face colour.
    void SetFlashColour(bool red);

signals:
    // Every time the window closes (OK button or close box). The main window
    // ends the emergency on it: stops its timer if it runs, restores the colours
    // and clears its flash flag.
    void closed();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void CloseBitBtnClick();

private:
    void FormResize();
    void FormClose();

    std::unique_ptr<Ui::TStatusPopupForm> ui;
};

extern TStatusPopupForm *StatusPopupForm;
