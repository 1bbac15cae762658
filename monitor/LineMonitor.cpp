#include "LineMonitor.h"

#include "ErrorReport.h"
#include "LineModel.h"
#include "LineTap.h"
#include "MonitorFeed.h"
#include "SaveFile.h"
#include "WindowKit.h"
#include "Zcomm.h"
#include "ui_LineMonitor.h"

#include <QFileDialog>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLocale>
#include <QSaveFile>
#include <QScrollBar>
#include <QTimer>
#include <iterator>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <stdexcept>

TLineMonitorForm *LineMonitorForm = nullptr;

TLineMonitorForm::TLineMonitorForm(QWidget *parent, int codePage)
    : QWidget(parent, Qt::Window), codePage_(codePage)
{
    ui = new Ui::TLineMonitorForm;
    ui->setupUi(this);
    model_ = new TLineModel(this, codePage);
    feed_ = std::make_unique<TMonitorFeed>(TMonitorDirectory{}, codePage);
    screenClock_.start();

    QTableView *view = ui->LineView;
    view->setModel(model_);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    // Laying out the cells' text is most of a repaint; plain Latin text needs no shaping.
    fixed.setStyleStrategy(QFont::PreferNoShaping);
    view->setFont(fixed);
    // Fixed row heights and column widths: a batch of rows costs the rows on
    // screen, never a measurement of ten thousand.
    QHeaderView *rows = view->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(QFontMetrics(fixed).height() + 4);
    QHeaderView *columns = view->horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setStretchLastSection(true);
    const int digit = QFontMetrics(fixed).horizontalAdvance(QLatin1Char('0'));
    view->setColumnWidth(TLineModel::TimeColumn, digit * 20);
    view->setColumnWidth(TLineModel::DirectionColumn, digit * 4);
    view->setColumnWidth(TLineModel::HexColumn, digit * 50);
    view->setColumnWidth(TLineModel::TextColumn, digit * 22);

    MonitorTimer = new QTimer(this);
    MonitorTimer->setInterval(BatchMs);

    connect(ui->PauseButton, &QAbstractButton::toggled, this, &TLineMonitorForm::PauseButtonClick);
    connect(ui->ClearButton, &QAbstractButton::clicked, this, &TLineMonitorForm::ClearButtonClick);
    connect(ui->SaveButton, &QAbstractButton::clicked, this, &TLineMonitorForm::SaveButtonClick);
    connect(ui->HideAcksCheckBox, &QAbstractButton::toggled, this, &TLineMonitorForm::HideAcksCheckBoxClick);
    connect(MonitorTimer, &QTimer::timeout, this, &TLineMonitorForm::MonitorTimerTimer);
    UpdateStatus();
}

TLineMonitorForm::~TLineMonitorForm()
{
    // The port must stop calling the tap before the tap goes.
    if (port_)
        port_->SetLineTap(nullptr);
    tap_.reset();
    if (LineMonitorForm == this)
        LineMonitorForm = nullptr;
    delete ui;
}

void TLineMonitorForm::SetPort(TZComm *port)
{
    if (port_ && tap_)
        port_->SetLineTap(nullptr);
    port_ = port;
    if (port_ && tap_)
        port_->SetLineTap(tap_.get());
    UpdateStatus();
}

void TLineMonitorForm::SetDirectory(TMonitorDirectory directory)
{
    feed_ = std::make_unique<TMonitorFeed>(std::move(directory), codePage_);
}

void TLineMonitorForm::SetFileChooser(std::function<QString()> chooser)
{
    chooser_ = std::move(chooser);
}

void TLineMonitorForm::showEvent(QShowEvent *event)
{
    if (!centred_) {
        centred_ = true;
        CentreOnScreen(this);
    }
    Start();
    QWidget::showEvent(event);
}

void TLineMonitorForm::closeEvent(QCloseEvent *event)
{
    // Minimised or covered, the window goes on watching: an emergency sent meanwhile
    // is there when the operator looks. Only a close stops it, and gives the rows back.
    Stop();
    QWidget::closeEvent(event);
}

void TLineMonitorForm::NoteLine(TLineNote note, const QString &text)
{
    if (tap_)
        tap_->Note(note, text);
}

void TLineMonitorForm::Start()
{
    if (tap_)
        return;
    tap_ = std::make_unique<TLineTap>();
    if (port_)
        port_->SetLineTap(tap_.get());
    MonitorTimer->start();
    UpdateStatus();
}

void TLineMonitorForm::Stop()
{
    if (!tap_)
        return;
    MonitorTimer->stop();
    if (port_)
        port_->SetLineTap(nullptr);
    tap_.reset();
    // What the window held goes with it: opened again, it starts empty, and the bytes
    // before the first STX then are the rest of a frame it did not see begin.
    waiting_ = {};
    model_->Clear();
    feed_->Reset();
#ifdef __GLIBC__
    // The freed rows back to the system, not kept by the allocator for the next opening.
    malloc_trim(0);
#endif
    UpdateStatus();
}

void TLineMonitorForm::MonitorTimerTimer()
{
    if (!tap_)
        return;
    std::vector<TLineRow> rows = feed_->Process(tap_->Take(), TLineTap::NowUs());
    std::move(rows.begin(), rows.end(), std::back_inserter(waiting_));
    if (waiting_.empty())
        return;
    if (waiting_.size() > BusyRows && screenClock_.elapsed() < BusyScreenMs)
        return;
    ShowWaiting();
}

void TLineMonitorForm::ShowWaiting()
{
    screenClock_.restart();
    if (waiting_.empty())
        return;
    QScrollBar *bar = ui->LineView->verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    const int before = model_->rowCount();
    model_->Append(std::move(waiting_));
    waiting_.clear();
    if (following && model_->rowCount() != before)
        ui->LineView->scrollToBottom();
    UpdateStatus();
}

void TLineMonitorForm::PauseButtonClick(bool checked)
{
    model_->SetPaused(checked);
    if (!checked)
        ui->LineView->scrollToBottom();
    UpdateStatus();
}

void TLineMonitorForm::ClearButtonClick()
{
    waiting_.clear();
    model_->Clear();
    feed_->Reset();
    UpdateStatus();
}

void TLineMonitorForm::HideAcksCheckBoxClick(bool checked)
{
    model_->SetHideAcknowledgements(checked);
    ui->LineView->scrollToBottom();
}

void TLineMonitorForm::SaveButtonClick()
{
    const QString fileName =
        chooser_ ? chooser_()
                 : QFileDialog::getSaveFileName(this, QStringLiteral("Save Line Monitor"),
                                                QStringLiteral("line-monitor.txt"),
                                                QStringLiteral("Text files (*.txt);;All files (*)"));
    if (fileName.isEmpty())
        return;
    GuardedCall([&] { SaveToFile(fileName); });
}

void TLineMonitorForm::SaveToFile(const QString &fileName) const
{
    QSaveFile file(fileName);
    QString reason;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        reason = file.errorString();
    else if (!model_->WriteText(file) && file.error() == QFileDevice::NoError) {
        file.cancelWriting();
        reason = QStringLiteral("the text could not be written");
    } else {
        // A failed write left its reason in the file, which FinishSaveFile reports.
        reason = FinishSaveFile(file);
    }
    if (!reason.isEmpty())
        throw std::runtime_error(
            QStringLiteral("Cannot save the line monitor to %1: %2").arg(fileName, reason).toStdString());
}

const TLineCounts &TLineMonitorForm::Counts() const
{
    return feed_->Counts();
}

QString TLineMonitorForm::StatusText() const
{
    const QLocale locale;
    const TLineCounts &c = feed_->Counts();
    const auto in = std::size_t(TLineDirection::In), out = std::size_t(TLineDirection::Out);
    QString text =
        QStringLiteral("RX %1 frames, %2 bytes   TX %3 frames, %4 bytes   not frames %5")
            .arg(locale.toString(c.frames[in]), locale.toString(c.bytes[in]), locale.toString(c.frames[out]),
                 locale.toString(c.bytes[out]), locale.toString(c.notFrames));
    if (c.lostBytes > 0)
        text += QStringLiteral("   not shown %1 bytes").arg(locale.toString(c.lostBytes));
    text += QStringLiteral("   rows kept %1").arg(locale.toString(model_->StoredCount()));
    if (const qsizetype pending = feed_->PendingFrameSize(TLineDirection::In))
        text += QStringLiteral("   RX frame so far %1 bytes").arg(locale.toString(qint64(pending)));
    if (model_->Paused())
        text += QStringLiteral("   paused, %1 rows waiting").arg(locale.toString(model_->HeldCount()));
    if (!port_)
        text += QStringLiteral("   no port");
    return text;
}

void TLineMonitorForm::UpdateStatus()
{
    ui->StatusLabel->setText(StatusText());
}
