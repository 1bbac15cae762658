#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TMessagePopupForm;
}

class TMessagePopupForm final : public QWidget {
    Q_OBJECT
public:
    explicit TMessagePopupForm(QWidget *parent = nullptr);
    ~TMessagePopupForm() override;

    void SetStation(const QString &name, const QString &fleet, const QString &ident);
    void ClearMessage();
    // Replaces the memo's text; line breaks (CR LF, CR or LF) become lines.
    void SetMessageText(const QString &text);
    // Adds the text below the memo's text; its line breaks (CR LF, CR or LF) become lines.
    void AddMessageLine(const QString &line);
    QString MessageText() const;

protected:
    void resizeEvent(QResizeEvent *event) override;

private slots:
    void CloseBitBtnClick();

private:
    std::unique_ptr<Ui::TMessagePopupForm> ui;
};

extern TMessagePopupForm *MessagePopupForm;
