#include "LineModel.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QIODevice>
#include <QTextStream>
#include <limits>

namespace {

// Outgoing rows warm, incoming cool, anything that is not a frame reddish.
const QColor OutInk(0x7a, 0x3e, 0x00);
const QColor InInk(0x0d, 0x3c, 0x8c);
const QColor NoiseInk(0xb0, 0x10, 0x10);
const QColor OutPaper(0xff, 0xf4, 0xdc);
const QColor InPaper(0xe6, 0xf0, 0xff);
const QColor NoisePaper(0xff, 0xe4, 0xe4);
// What the console told the monitor: grey, red ink for what went wrong.
const QColor NotePaper(0xee, 0xee, 0xee);
const QColor NoteInk(0x30, 0x30, 0x30);

constexpr qsizetype TipBytes = 256;

} // namespace

TLineModel::TLineModel(QObject *parent, int codePage) : QAbstractTableModel(parent), codePage_(codePage) {}

void TLineModel::SetLimits(int maxRows, qsizetype maxBytes)
{
    maxRows_ = std::max(1, maxRows);
    maxBytes_ = std::max<qsizetype>(1, maxBytes);
    Append({});
}

qsizetype TLineModel::Weight(const TLineRow &row)
{
    // What the row really holds: each block as allocated (capacity, not size) with the
    // allocator's and Qt's headers, the row itself in the deque, and its place in shown_.
    constexpr qsizetype Block = 48;
    const auto held = [](qsizetype capacity, qsizetype unit) {
        return capacity > 0 ? capacity * unit + Block : 0;
    };
    return held(row.frame.bytes.capacity(), 1) + held(row.meaning.capacity(), 2) +
           held(row.time.capacity(), 2) + held(row.frame.text.capacity(), 2) + qsizetype(sizeof(TLineRow)) +
           qsizetype(sizeof(quint64));
}

void TLineModel::Compact(TLineRow &row)
{
    // The splitter grows a frame chunk by chunk and a meaning is put together piece
    // by piece: their spare capacity would be kept for as long as the row.
    row.frame.bytes.squeeze();
    row.meaning.squeeze();
    row.time.squeeze();
    row.frame.text.squeeze();
}

void TLineModel::DropOldestKept(std::size_t count)
{
    if (count == 0)
        return;
    const quint64 keepFrom = firstSerial_ + count;
    int gone = 0;
    while (std::size_t(gone) < shown_.size() && shown_[std::size_t(gone)] < keepFrom)
        ++gone;
    if (gone > 0)
        beginRemoveRows({}, 0, gone - 1);
    shown_.erase(shown_.begin(), shown_.begin() + gone);
    for (std::size_t i = 0; i < count; ++i) {
        storedBytes_ -= Weight(rows_.front());
        rows_.pop_front();
    }
    firstSerial_ = keepFrom;
    discarded_ += count;
    if (gone > 0)
        endRemoveRows();
}

void TLineModel::Append(std::vector<TLineRow> incoming)
{
    for (TLineRow &row : incoming)
        Compact(row);
    if (paused_) {
        // One bound for everything held: the rows kept and the rows waiting. The
        // oldest go first, kept ones before waiting ones; the newest always stays.
        for (TLineRow &row : incoming) {
            heldBytes_ += Weight(row);
            held_.push_back(std::move(row));
        }
        const auto over = [this] {
            return qsizetype(rows_.size() + held_.size()) > maxRows_ || storedBytes_ + heldBytes_ > maxBytes_;
        };
        std::size_t dropOld = 0;
        qsizetype rows = qsizetype(rows_.size() + held_.size());
        qsizetype bytes = storedBytes_ + heldBytes_;
        while (dropOld < rows_.size() && (rows > maxRows_ || bytes > maxBytes_)) {
            bytes -= Weight(rows_[dropOld++]);
            --rows;
        }
        DropOldestKept(dropOld);
        while (held_.size() > 1 && over()) {
            heldBytes_ -= Weight(held_.front());
            held_.pop_front();
            ++discarded_;
        }
        return;
    }

    // What must go for the bounds: the oldest kept rows first, then the oldest
    // new ones; the newest row always stays.
    qsizetype rows = qsizetype(rows_.size() + incoming.size());
    qsizetype bytes = storedBytes_;
    for (const TLineRow &row : incoming)
        bytes += Weight(row);
    std::size_t dropOld = 0;
    while (dropOld < rows_.size() && rows > 1 && (rows > maxRows_ || bytes > maxBytes_)) {
        bytes -= Weight(rows_[dropOld++]);
        --rows;
    }
    std::size_t dropNew = 0;
    while (dropNew + 1 < incoming.size() && (rows > maxRows_ || bytes > maxBytes_)) {
        bytes -= Weight(incoming[dropNew++]);
        --rows;
    }
    discarded_ += dropNew;
    DropOldestKept(dropOld);

    int added = 0;
    for (std::size_t i = dropNew; i < incoming.size(); ++i)
        added += Shown(incoming[i]) ? 1 : 0;
    if (added > 0)
        beginInsertRows({}, int(shown_.size()), int(shown_.size()) + added - 1);
    for (std::size_t i = dropNew; i < incoming.size(); ++i) {
        const quint64 serial = firstSerial_ + rows_.size();
        if (Shown(incoming[i]))
            shown_.push_back(serial);
        storedBytes_ += Weight(incoming[i]);
        rows_.push_back(std::move(incoming[i]));
    }
    if (added > 0)
        endInsertRows();
}

void TLineModel::Clear()
{
    beginResetModel();
    firstSerial_ += rows_.size();
    // Swapped out rather than cleared: a cleared deque keeps a block of its own.
    std::deque<TLineRow>().swap(rows_);
    std::deque<quint64>().swap(shown_);
    std::deque<TLineRow>().swap(held_);
    storedBytes_ = 0;
    heldBytes_ = 0;
    endResetModel();
}

void TLineModel::SetHideAcknowledgements(bool hide)
{
    if (hide == hideAcks_)
        return;
    beginResetModel();
    hideAcks_ = hide;
    shown_.clear();
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (Shown(rows_[i]))
            shown_.push_back(firstSerial_ + i);
    endResetModel();
}

void TLineModel::SetPaused(bool paused)
{
    if (paused == paused_)
        return;
    paused_ = paused;
    if (!paused_) {
        std::vector<TLineRow> rows(std::make_move_iterator(held_.begin()),
                                   std::make_move_iterator(held_.end()));
        held_.clear();
        heldBytes_ = 0;
        Append(std::move(rows));
    }
}

const TLineRow &TLineModel::RowAt(int row) const
{
    return Stored(shown_.at(std::size_t(row)));
}

QString TLineModel::DirectionText(TLineDirection direction)
{
    return direction == TLineDirection::Out ? QStringLiteral("TX") : QStringLiteral("RX");
}

QString TLineModel::TimeText(qint64 timeUs)
{
    // The local time of a second is worked out once; the clock's zone lookup
    // costs more than the rest of a row.
    thread_local qint64 second = std::numeric_limits<qint64>::min();
    thread_local QString prefix;
    const qint64 ms = timeUs >= 0 ? timeUs / 1000 : (timeUs - 999) / 1000;
    const qint64 s = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    if (s != second) {
        second = s;
        prefix = QDateTime::fromSecsSinceEpoch(s).toString(QStringLiteral("HH:mm:ss."));
    }
    return prefix + QString::number(ms - s * 1000).rightJustified(3, QLatin1Char('0'));
}

QString TLineModel::HexText(const QByteArray &bytes, qsizetype maxBytes)
{
    static const char digits[] = "0123456789ABCDEF";
    const qsizetype n = maxBytes < 0 ? bytes.size() : std::min(bytes.size(), maxBytes);
    QString text;
    text.reserve(n * 3 + 24);
    for (qsizetype i = 0; i < n; ++i) {
        if (i > 0)
            text += QLatin1Char(' ');
        const auto b = static_cast<unsigned char>(bytes[i]);
        text += QLatin1Char(digits[b >> 4]);
        text += QLatin1Char(digits[b & 15]);
    }
    if (n < bytes.size())
        text += QStringLiteral(" \u2026 (%1 bytes)").arg(bytes.size());
    return text;
}

QString TLineModel::PrintableText(const QByteArray &bytes, int codePage, qsizetype maxBytes)
{
    const bool cut = maxBytes >= 0 && bytes.size() > maxBytes;
    // A double-byte character is not split at the cut.
    const QByteArray part = cut ? bytes.first(AnsiCodec::CharBoundary(bytes, maxBytes, codePage)) : bytes;
    QString text = AnsiCodec::FromAnsi(part, codePage);
    // Control bytes as a middle dot, as hex dumps do (the hex beside says which);
    // every font has one, unlike the control pictures.
    for (QChar &c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QChar(0x00B7);
    if (cut)
        text += QChar(0x2026);
    return text;
}

QString TLineModel::TimeCell(const TLineRow &row) const
{
    const qint64 spanMs = (row.frame.lastUs - row.frame.firstUs) / 1000;
    if (spanMs < 1)
        return row.time;
    return row.time + QStringLiteral(" +%1 ms").arg(spanMs);
}

QString TLineModel::RowText(int row) const
{
    const TLineRow &r = RowAt(row);
    QString line = TimeCell(r).leftJustified(20) + DirectionText(r.frame.direction) + QLatin1String("  ");
    if (!r.frame.bytes.isEmpty())
        line += HexText(r.frame.bytes) + QLatin1String("  |") + PrintableText(r.frame.bytes, codePage_) +
                QLatin1String("|  ");
    return line + r.meaning;
}

bool TLineModel::WriteText(QIODevice &device) const
{
    QTextStream out(&device);
    out.setEncoding(QStringConverter::Utf8);
    out << "time                dir hex  |text|  meaning\n";
    for (int i = 0; i < rowCount(); ++i)
        out << RowText(i) << '\n';
    out.flush();
    return out.status() == QTextStream::Ok;
}

int TLineModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(shown_.size());
}

int TLineModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TLineModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount)
        return {};
    const TLineRow &row = RowAt(index.row());
    const TLineFrame &f = row.frame;
    const bool noise = !f.IsFrame();
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case TimeColumn:
            return TimeCell(row);
        case DirectionColumn:
            return DirectionText(f.direction);
        case HexColumn:
            return HexText(f.bytes, ShownHexBytes);
        case TextColumn:
            return PrintableText(f.bytes, codePage_, ShownTextBytes);
        case MeaningColumn:
            return row.meaning;
        }
        break;
    case Qt::ToolTipRole:
        switch (index.column()) {
        case TimeColumn:
            return f.chunks > 1
                       ? QStringLiteral("%1 chunks, %2 to %3").arg(f.chunks).arg(row.time, TimeText(f.lastUs))
                       : QStringLiteral("1 chunk at %1").arg(row.time);
        case HexColumn:
            return f.bytes.size() > ShownHexBytes ? HexText(f.bytes, TipBytes) : QVariant();
        case TextColumn:
            return f.bytes.size() > ShownTextBytes ? PrintableText(f.bytes, codePage_, TipBytes) : QVariant();
        case MeaningColumn:
            return row.meaning;
        }
        break;
    case Qt::ForegroundRole:
        if (f.reason == TNoiseReason::Note)
            return QBrush(f.note == TLineNote::PortBack || f.note == TLineNote::IntakeReset ? NoteInk
                                                                                            : NoiseInk);
        if (noise && index.column() == MeaningColumn)
            return QBrush(NoiseInk);
        return QBrush(f.direction == TLineDirection::Out ? OutInk : InInk);
    case Qt::BackgroundRole:
        if (f.reason == TNoiseReason::Note)
            return QBrush(NotePaper);
        if (noise)
            return QBrush(NoisePaper);
        return QBrush(f.direction == TLineDirection::Out ? OutPaper : InPaper);
    }
    return {};
}

QVariant TLineModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case TimeColumn:
        return QStringLiteral("Time");
    case DirectionColumn:
        return QStringLiteral("Dir");
    case HexColumn:
        return QStringLiteral("Hex");
    case TextColumn:
        return QStringLiteral("Text");
    case MeaningColumn:
        return QStringLiteral("Meaning");
    }
    return {};
}
