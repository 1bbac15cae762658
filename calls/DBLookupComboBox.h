#pragma once

#include <QComboBox>

// A list box over a table's rows that tells its window when the list is about to
// open and when it has closed again.
class TDBLookupComboBox final : public QComboBox {
    Q_OBJECT
public:
    explicit TDBLookupComboBox(QWidget *parent = nullptr);

    void showPopup() override;
    void hidePopup() override;

signals:
    // Before the list opens: the window re-reads its table here, so the list shows
    // what other windows wrote to the directory meanwhile.
    void DropDown();
    // Each time the list closes, whether or not a row was chosen. Delivered after
    // the chosen row has become current (the list closes before it reports the
    // choice), so the shown text is the final one.
    void CloseUp();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ListClosed();

    bool open_ = false;
};
