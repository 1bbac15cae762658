#pragma once

#include <QDialog>
#include <exception>
#include <functional>

class QAbstractButton;
class QRadioButton;
class TSettings;

namespace Ui {
class TConfigForm;
}

// The Config window: the port and the enabled popups. Shown modally; OK applies
// at once (a new port is opened, PopupFlags replaced); nothing is written to the
// settings file here.
class TConfigForm final : public QDialog {
    Q_OBJECT
public:
    // requestEnd asks the application to end; it is called when OK switched to a
    // port and no port at all turned out usable.
    TConfigForm(TSettings &settings, std::function<void()> requestEnd, QWidget *parent = nullptr);
    ~TConfigForm() override;

    // Where an error of OK goes (a port that cannot be opened). Handing it over
    // here keeps the exception from unwinding through the toolkit's button code;
    // without a reporter it propagates to the application's notify().
    void SetErrorReporter(std::function<void(std::exception_ptr)> reporter);

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private slots:
    void BitBtn1Click();
    void BitBtn2Click();

private:
    void FormShow();
    void OkPressed();
    int ComItemIndex() const;
    void SetComItemIndex(int index);

    Ui::TConfigForm *ui;
    TSettings &settings_;
    std::function<void()> requestEnd_;
    std::function<void(std::exception_ptr)> reportError_;
    QList<QRadioButton *> comItems_;
};

extern TConfigForm *ConfigForm;
