#include "ListFileWindow.h"

#include "MessageBox.h"
#include "StationGroups.h"
#include "ui_ListFileWindow.h"

#include <QCloseEvent>
#include <QFile>
#include <QFontDatabase>
#include <QKeySequence>
#include <QShortcut>

TListFileForm *GroupsForm = nullptr;
TListFileForm *CannedForm = nullptr;

TListFileForm::TListFileForm(const QString &title, const QString &help, const QString &fileName,
                             std::function<QString(const QByteArray &)> check, QByteArray blank,
                             QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::TListFileForm>()), fileName_(fileName),
      check_(std::move(check)), blank_(std::move(blank))
{
    ui->setupUi(this);
    setModal(false);
    setWindowTitle(title);
    ui->HelpLabel->setText(help);
    ui->TextMemo->setAccessibleName(title + QLatin1String(" file"));
    ui->TextMemo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    connect(ui->SaveBitBtn, &QAbstractButton::clicked, this, &TListFileForm::SaveBitBtnClick);
    connect(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TListFileForm::CloseBitBtnClick);
    auto *save = new QShortcut(QKeySequence::Save, this);
    connect(save, &QShortcut::activated, this, &TListFileForm::SaveBitBtnClick);
}

TListFileForm::~TListFileForm() = default;

void TListFileForm::showEvent(QShowEvent *event)
{
    // What was typed and not saved is still there when the window comes back.
    if (!ui->TextMemo->document()->isModified())
        Reload();
    QDialog::showEvent(event);
    ui->TextMemo->setFocus();
}

void TListFileForm::Reload()
{
    QFile file(fileName_);
    QByteArray text = blank_;
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            ui->TextMemo->setPlainText(QString());
            ui->TextMemo->setReadOnly(true);
            ShowProblem(QStringLiteral("%1 cannot be read: %2").arg(fileName_, file.errorString()));
            return;
        }
        text = file.readAll();
    }
    ui->TextMemo->setReadOnly(false);
    ui->TextMemo->setPlainText(QString::fromUtf8(text));
    ui->TextMemo->document()->setModified(false);
    const QString fault = check_(text);
    ShowProblem(fault.isEmpty() ? QString() : fileName_ + QLatin1String(", ") + fault);
}

QString TListFileForm::Problem() const
{
    return ui->ProblemLabel->text();
}

void TListFileForm::ShowProblem(const QString &problem)
{
    ui->ProblemLabel->setStyleSheet(problem.isEmpty() ? QString() : QStringLiteral("color: #b00000;"));
    ui->ProblemLabel->setText(problem);
}

void TListFileForm::SaveBitBtnClick()
{
    if (ui->TextMemo->isReadOnly())
        return;
    QByteArray text = ui->TextMemo->toPlainText().toUtf8();
    if (!text.endsWith('\n'))
        text += '\n';
    const QString fault = check_(text);
    if (!fault.isEmpty()) {
        ShowProblem(QStringLiteral("Not saved, %1").arg(fault));
        return;
    }
    const QString written = WriteTextFile(fileName_, text);
    ShowProblem(written.isEmpty() ? QStringLiteral("Saved.") : QStringLiteral("Not saved: %1").arg(written));
    if (written.isEmpty()) {
        ui->TextMemo->document()->setModified(false);
        ui->ProblemLabel->setStyleSheet(QString());
        emit Saved();
    }
}

void TListFileForm::CloseBitBtnClick()
{
    close();
}

bool TListFileForm::MayClose()
{
    if (!ui->TextMemo->document()->isModified())
        return true;
    if (ShowMessageBox(
            QStringLiteral("%1 has changes that are not saved. Close and forget them?").arg(fileName_),
            windowTitle(), MsgIcon::Question, MsgButtons::OkCancel) != MsgAnswer::Ok)
        return false;
    ui->TextMemo->document()->setModified(false);
    return true;
}

void TListFileForm::closeEvent(QCloseEvent *event)
{
    if (MayClose())
        QDialog::closeEvent(event);
    else
        event->ignore();
}

void TListFileForm::reject()
{
    if (MayClose())
        QDialog::reject();
}
