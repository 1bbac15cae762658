#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>
#include <memory>

namespace Ui {
class TEndForm;
}

// "Exit?": OK (Enter) or Cancel (Esc, close box). Shown modally by the main
// window's close query.
class TEndForm final : public QDialog {
    Q_OBJECT
public:
    // The popups, created visible just before this window, are closed here in
    // the order given (PopupForm, SpeechPopupForm, StatusPopupForm,
    // MessagePopupForm, PttidPopupForm, AniPopupForm); null entries are skipped.
    explicit TEndForm(const QList<QWidget *> &popupsToClose = {}, QWidget *parent = nullptr);
    ~TEndForm() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private slots:
    void BitBtn2Click();
    void BitBtn1Click();

private:
    void FormCreate(const QList<QWidget *> &popupsToClose);

    std::unique_ptr<Ui::TEndForm> ui;
};

extern TEndForm *EndForm;
