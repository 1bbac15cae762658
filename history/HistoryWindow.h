#pragma once

#include "HistoryQuery.h"

#include <QDateTime>
#include <QWidget>
#include <functional>
#include <memory>

namespace Ui {
class THistoryForm;
}
class THistoryModel;
class THistoryExport;
class QLineEdit;
class QTimer;

// The traffic history: a table over the whole file, newest first, with filters,
// the selected entry's whole message, CSV export and copying of rows.
class THistoryForm final : public QWidget {
    Q_OBJECT
public:
    // Asks for the file to export to; empty cancels.
    using TFileChooser = std::function<QString()>;
    // Opens the user directory on a station that has no name yet.
    using TNameStation = std::function<void(int fleet, int ident)>;

    explicit THistoryForm(const QString &fileName, QWidget *parent = nullptr);
    ~THistoryForm() override;

    void SetFileChooser(TFileChooser chooser) { chooseFile_ = std::move(chooser); }
    void SetNameStation(TNameStation handler) { nameStation_ = std::move(handler); }

    // Opens the file if it is not open yet and shows the newest rows for the filter.
    void Reload();
    THistoryFilter CurrentFilter() const;
    THistoryModel *Model() const { return model_; }
    // The selected rows as CSV (header first), as Copy puts them on the clipboard.
    QByteArray SelectedCsv() const;
    // Starts exporting the filtered rows on a thread of its own; the row count (or
    // the failure, in a box) shows when it ends. False when one is running already.
    bool ExportTo(const QString &fileName);
    bool Exporting() const { return export_ != nullptr; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private slots:
    void FindBitBtnClick();
    void ExportBitBtnClick();
    void CopyBitBtnClick();
    void NameStationBitBtnClick();
    void CloseBitBtnClick();
    void CancelExportBitBtnClick();
    void DatePresetComboBoxChange(int index);
    void NewRowsBitBtnClick();
    void LookForNewRows();
    void ExportFinished(qint64 rows, const QString &failure, bool cancelled);
    void HistoryGridSelectionChange();

private:
    void ShowRowCount();
    // Today from midnight to midnight, unless the operator has set a date.
    void DefaultDates();
    // Why the ticked dates cannot be used (empty when they can); marks the fields at fault.
    QString CheckDates();
    static void SetDateField(QLineEdit *field, const QDateTime &value);

public:
    // What a date preset sets, for `now`: from, until (until exclusive).
    enum class TDatePreset { AnyTime, Today, Yesterday, Last7Days, ThisShift };
    static std::pair<QDateTime, QDateTime> PresetRange(TDatePreset preset, const QDateTime &now);
    // Filters apply this long after the last change, as one types.
    static constexpr int FilterPauseMs = 400;
    // How often the window looks for rows written since it showed its list.
    static constexpr int NewRowsMs = 1000;
    // How the From and Until fields show and read a date and time.
    static constexpr const char *DateFormat = "yyyy-MM-dd HH:mm";
    // The text's date and time in local time; invalid unless the text is exactly
    // one in DateFormat that exists.
    static QDateTime ParseDate(const QString &text);

private:
    Ui::THistoryForm *ui;
    QString fileName_;
    THistoryModel *model_;
    TFileChooser chooseFile_;
    TNameStation nameStation_;
    std::unique_ptr<THistoryExport> export_;
    QTimer *filterPause_;
    QTimer *newRows_;
    // The date field a mouse press has just put the focus in.
    QLineEdit *selectOnRelease_ = nullptr;
};

extern THistoryForm *HistoryForm;
