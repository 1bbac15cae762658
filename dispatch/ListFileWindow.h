#pragma once

#include <QDialog>
#include <functional>

namespace Ui {
class TListFileForm;
}

// A hand-edited list file (the station groups, the canned messages) shown as the
// text it is, checked whole before it is saved: a fault is shown with its line
// and nothing is written, so the file on disk is always one that reads.
class TListFileForm final : public QDialog {
    Q_OBJECT
public:
    // check: the fault of a text ("line N: why"), or empty. blank: the text of
    // a file that does not exist yet.
    TListFileForm(const QString &title, const QString &help, const QString &fileName,
                  std::function<QString(const QByteArray &)> check, QByteArray blank,
                  QWidget *parent = nullptr);
    ~TListFileForm() override;

    // Reads the file into the window (the fault shown when it does not read).
    void Reload();
    QString Problem() const;

signals:
    // The file was written: its readers take it again.
    void Saved();

private slots:
    void SaveBitBtnClick();
    void CloseBitBtnClick();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void ShowProblem(const QString &problem);
    // Whether the window may go: nothing typed since the last save, or the
    // operator lets it go.
    bool MayClose();

    std::unique_ptr<Ui::TListFileForm> ui;
    QString fileName_;
    std::function<QString(const QByteArray &)> check_;
    QByteArray blank_;
};

extern TListFileForm *GroupsForm;
extern TListFileForm *CannedForm;
