#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TPopupForm;
}

// The generic popup: a station band over a memo. Nothing shows it after
// start-up; it is kept for completeness of the window set.
class TPopupForm final : public QWidget {
    Q_OBJECT
public:
    explicit TPopupForm(QWidget *parent = nullptr);
    ~TPopupForm() override;

    // The current record of the user table: Name, Fleet, Ident.
    void SetRecord(const QString &name, const QString &fleet, const QString &ident);
    void SetMemoText(const QString &text);

    // The size the window takes each time it is shown; each resize stores the
    // new size here.
    void SetRememberedSize(int height, int width);
    QSize RememberedSize() const { return remembered_; }

    void SetPanelColour(bool red);

signals:
    // Every time the window closes; the main window ends an emergency on it
    // (stops its timer if it runs, restores Panel1, clears the flash flag).
    void closed();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void CloseBitBtnClick();

private:
    std::unique_ptr<Ui::TPopupForm> ui;
    QSize remembered_;
};

extern TPopupForm *PopupForm;
