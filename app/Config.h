#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>

class QAbstractButton;
class QRadioButton;
class TSettings;

namespace Ui {
class TConfigForm;
}

// What the Config window hands back on OK: the port picked (1..4, 0 for none)
// and the popup flags rebuilt from the six boxes.
struct TConfigValues {
    int comPort = 0;
    std::uint32_t popupFlags = 0;
};

// Applies what OK handed back, as the console always has: the same port is left
// alone unless it needs opening again; another port is selected (with the
// "Comport Warning" fallback), and false returned when no port at all is usable
// (the console is to end). The popup flags are replaced last; an error opening
// the port is thrown before they are, and the new port number is kept.
bool ApplyConfigValues(TSettings &settings, const TConfigValues &values);

// The Config window: the port and the enabled popups, as in force when it is
// shown. Shown modally; it changes nothing itself: after OK its caller applies
// Values(). Nothing is written to the settings file here.
class TConfigForm final : public QDialog {
    Q_OBJECT
public:
    explicit TConfigForm(const TSettings &settings, QWidget *parent = nullptr);
    ~TConfigForm() override;

    // The choice on the window, for its caller once exec() returned Accepted.
    TConfigValues Values() const;

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private slots:
    void BitBtn1Click();
    void BitBtn2Click();

private:
    void FormShow();
    int ComItemIndex() const;
    void SetComItemIndex(int index);

    std::unique_ptr<Ui::TConfigForm> ui;
    const TSettings &settings_;
    QList<QRadioButton *> comItems_;
};

extern TConfigForm *ConfigForm;
