#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TAniPopupForm;
}

class TAniPopupForm final : public QWidget {
    Q_OBJECT
public:
    explicit TAniPopupForm(QWidget *parent = nullptr);
    ~TAniPopupForm() override;

    // Fills the station fields; texts are shown as plain text.
    void SetStation(const QString &name, const QString &fleet, const QString &ident);

    // The calling station (From) and the called station (To).
    void SetFrom(const QString &name, const QString &fleet, const QString &ident)
    {
        SetStation(name, fleet, ident);
    }
    void SetTo(const QString &name, const QString &fleet, const QString &ident);

private slots:
    void CloseBitBtnClick();

private:
    std::unique_ptr<Ui::TAniPopupForm> ui;
};

extern TAniPopupForm *AniPopupForm;
