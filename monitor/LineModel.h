#pragma once

#include "AnsiCodec.h"
#include "FrameDescriber.h"
#include "FrameSplitter.h"

#include <QAbstractTableModel>
#include <QString>
#include <deque>
#include <vector>

class QIODevice;

// One row as the monitor keeps it: the bytes and what they mean, made once.
struct TLineRow {
    TLineFrame frame;
    QString meaning;
    QString time; // local time of the first chunk, with milliseconds
    bool acknowledgement = false;
};

// The monitor's rows, newest last, bounded in count and in the memory they hold
// (rows kept and rows waiting while paused, together): the oldest go first.
// Acknowledgements can be hidden; while paused, new rows wait and the view stays
// still until the bound makes the oldest rows go.
class TLineModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { TimeColumn, DirectionColumn, HexColumn, TextColumn, MeaningColumn, ColumnCount };
    static constexpr int DefaultMaxRows = 10000;
    static constexpr qsizetype DefaultMaxBytes = qsizetype(16) << 20;
    // Cells show the first bytes of a frame (the tooltip more, a saved file all):
    // every glyph on screen is laid out at each repaint.
    static constexpr qsizetype ShownHexBytes = 16;
    static constexpr qsizetype ShownTextBytes = 32;

    explicit TLineModel(QObject *parent = nullptr, int codePage = AnsiCodec::SystemCodePage());

    void SetLimits(int maxRows, qsizetype maxBytes);
    void Append(std::vector<TLineRow> rows);
    void Clear();

    void SetHideAcknowledgements(bool hide);
    bool HideAcknowledgements() const { return hideAcks_; }
    void SetPaused(bool paused);
    bool Paused() const { return paused_; }
    int HeldCount() const { return int(held_.size()); }

    // Rows kept (shown or hidden), their weight, and rows let go for the bounds.
    // The weight is the memory a row holds, allocation headers included.
    int StoredCount() const { return int(rows_.size()); }
    qsizetype StoredBytes() const { return storedBytes_; }
    qsizetype HeldBytes() const { return heldBytes_; }
    quint64 DiscardedCount() const { return discarded_; }

    // A shown row.
    const TLineRow &RowAt(int row) const;
    // A shown row as one line of text, every byte included.
    QString RowText(int row) const;
    // Every shown row, one line each, with a heading line; returns false when the device fails.
    bool WriteText(QIODevice &device) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Bytes as hexadecimal pairs; past maxBytes, an ellipsis and the size.
    static QString HexText(const QByteArray &bytes, qsizetype maxBytes = -1);
    // Bytes as text in the code page, control bytes (STX, ETX, CR, ...) as a middle dot.
    static QString PrintableText(const QByteArray &bytes, int codePage, qsizetype maxBytes = -1);
    // Local time of day with milliseconds.
    static QString TimeText(qint64 timeUs);
    static QString DirectionText(TLineDirection direction);

private:
    static qsizetype Weight(const TLineRow &row);
    static void Compact(TLineRow &row);
    void DropOldestKept(std::size_t count);
    bool Shown(const TLineRow &row) const { return !(hideAcks_ && row.acknowledgement); }
    const TLineRow &Stored(quint64 serial) const { return rows_[std::size_t(serial - firstSerial_)]; }
    QString TimeCell(const TLineRow &row) const;

    int codePage_;
    int maxRows_ = DefaultMaxRows;
    qsizetype maxBytes_ = DefaultMaxBytes;
    std::deque<TLineRow> rows_;
    quint64 firstSerial_ = 0;   // serial of rows_.front()
    std::deque<quint64> shown_; // serials of the rows the view shows
    qsizetype storedBytes_ = 0;
    quint64 discarded_ = 0;
    std::deque<TLineRow> held_;
    qsizetype heldBytes_ = 0;
    bool hideAcks_ = false;
    bool paused_ = false;
};
