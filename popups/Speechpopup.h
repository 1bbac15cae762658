#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TSpeechPopupForm;
}

class TSpeechPopupForm final : public QWidget {
    Q_OBJECT
public:
    explicit TSpeechPopupForm(QWidget *parent = nullptr);
    ~TSpeechPopupForm() override;

    // Fills the station fields; texts are shown as plain text.
    void SetStation(const QString &name, const QString &fleet, const QString &ident);

private slots:
    void CloseBitBtnClick();

private:
    std::unique_ptr<Ui::TSpeechPopupForm> ui;
};

extern TSpeechPopupForm *SpeechPopupForm;
