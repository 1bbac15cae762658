#pragma once

#include "HistoryQuery.h"

#include <QWidget>
#include <functional>

namespace Ui {
class THistoryForm;
}
class THistoryModel;

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
    // Exports the filtered rows; returns the number written or -1.
    qint64 ExportTo(const QString &fileName);

protected:
    void showEvent(QShowEvent *event) override;

private slots:
    void FindBitBtnClick();
    void ExportBitBtnClick();
    void CopyBitBtnClick();
    void NameStationBitBtnClick();
    void CloseBitBtnClick();
    void HistoryGridSelectionChange();

private:
    void ShowRowCount();

    Ui::THistoryForm *ui;
    QString fileName_;
    THistoryModel *model_;
    TFileChooser chooseFile_;
    TNameStation nameStation_;
};

extern THistoryForm *HistoryForm;
