#pragma once

#include "FrameDescriber.h"
#include "MonitorFeed.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

class QTimer;
class TLineModel;
class TLineTap;
class TZComm;

namespace Ui {
class TLineMonitorForm;
}

// The line monitor: every byte the port moves, as it happens. The tap is on the
// port from the moment the window is shown until it is closed, minimised or not;
// the rows reach the view in batches and are freed when the window closes.
class TLineMonitorForm final : public QWidget {
    Q_OBJECT
public:
    // The tap is emptied every BatchMs. The view gets the rows at once while the
    // line is calm; under heavy traffic (more than BusyRows waiting) at most every
    // BusyScreenMs: a repaint costs a few milliseconds of the thread the console's
    // own intake runs on, and no one reads faster than that anyway.
    static constexpr int BatchMs = 100;
    static constexpr int BusyScreenMs = 250;
    static constexpr std::size_t BusyRows = 16;

    explicit TLineMonitorForm(QWidget *parent = nullptr, int codePage = AnsiCodec::SystemCodePage());
    ~TLineMonitorForm() override;

    void SetPort(TZComm *port);
    void SetDirectory(TMonitorDirectory directory);
    // Asks for the file to save to (an empty text: nothing is saved). Default: a file dialog.
    void SetFileChooser(std::function<QString()> chooser);

    TLineModel *Model() const { return model_; }
    // What the console tells the monitor besides the bytes (the intake reset, the port
    // lost or back, a failed write), in its place among the bytes; on the window's
    // thread. Nothing while the window is closed.
    void NoteLine(TLineNote note, const QString &text = {});
    bool Tapping() const { return tap_ != nullptr; }
    // Writes the rows shown as text; throws naming the file when it cannot.
    void SaveToFile(const QString &fileName) const;
    QString StatusText() const;
    const TLineCounts &Counts() const;
    Ui::TLineMonitorForm *Ui() const { return ui; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void PauseButtonClick(bool checked);
    void ClearButtonClick();
    void SaveButtonClick();
    void HideAcksCheckBoxClick(bool checked);
    void MonitorTimerTimer();

private:
    void Start();
    void Stop();
    void UpdateStatus();
    // Hands the rows waiting to the view.
    void ShowWaiting();

    Ui::TLineMonitorForm *ui = nullptr;
    TLineModel *model_ = nullptr;
    std::unique_ptr<TMonitorFeed> feed_;
    std::unique_ptr<TLineTap> tap_;
    QPointer<TZComm> port_;
    QTimer *MonitorTimer = nullptr;
    std::vector<TLineRow> waiting_; // rows not yet handed to the view
    QElapsedTimer screenClock_;     // since the view last got rows
    std::function<QString()> chooser_;
    int codePage_;
    bool centred_ = false;
};

extern TLineMonitorForm *LineMonitorForm;
