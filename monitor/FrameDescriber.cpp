#include "FrameDescriber.h"

#include "Frame.h"

#include <algorithm>
#include <optional>

namespace {

constexpr qsizetype PreviewChars = 40;

QString Bytes(quint64 n)
{
    return n == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(n);
}

QString Letter(char c)
{
    const auto u = static_cast<unsigned char>(c);
    if (u > 0x20 && u < 0x7F)
        return QLatin1Char('\'') + QLatin1Char(c) + QLatin1Char('\'');
    return QLatin1String("0x") + QString::number(u, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

// A frame's fields at the offsets the console reads them (counted from the STX).
class TFields {
public:
    TFields(const TLineFrame &frame, const TMonitorDirectory &directory, int codePage)
        : directory_(directory), codePage_(codePage)
    {
        bytes_ = frame.bytes;
        if (bytes_.endsWith(ETX))
            bytes_.chop(1);
    }

    qsizetype Size() const { return bytes_.size() + 1; } // with the ETX
    char Command() const { return bytes_.size() > 1 ? bytes_[1] : '\0'; }
    QByteArray Raw(qsizetype offset, qsizetype width) const
    {
        if (offset >= bytes_.size())
            return {};
        return bytes_.mid(offset, width);
    }
    QByteArray Rest(qsizetype offset) const
    {
        return offset < bytes_.size() ? bytes_.mid(offset) : QByteArray();
    }

    // The first field, in order, that is not a number, as "a Fleet that is not a number ('1a0')".
    std::optional<QString> NotANumber(std::initializer_list<std::pair<const char *, QByteArray>> fields) const
    {
        for (const auto &[label, raw] : fields) {
            const bool digits = !raw.isEmpty() && std::all_of(raw.begin(), raw.end(),
                                                              [](char c) { return c >= '0' && c <= '9'; });
            if (!digits)
                return QStringLiteral("%1 that is not a number ('%2')")
                    .arg(QLatin1String(label), AnsiCodec::FromAnsi(raw, codePage_));
        }
        return std::nullopt;
    }

    QString Station(const QByteArray &fleet, const QByteArray &ident) const
    {
        QString name;
        if (directory_.stationName)
            name = directory_.stationName(fleet.toInt(), ident.toInt());
        return name.isEmpty() ? QString::fromLatin1(fleet) + QLatin1Char('-') + QString::fromLatin1(ident)
                              : name;
    }

    bool KnowsStatuses() const { return bool(directory_.statusText); }
    QString StatusText(int number) const
    {
        return directory_.statusText ? directory_.statusText(number) : QString();
    }

    // The message text as the console takes it (up to a zero byte), shortened to one line.
    QString Preview(const QByteArray &raw) const
    {
        QByteArray text = raw;
        const qsizetype zero = text.indexOf('\0');
        if (zero >= 0)
            text.truncate(zero);
        QString shown = AnsiCodec::FromAnsi(text, codePage_);
        shown.replace(QLatin1String("\r\n"), QLatin1String(" "));
        for (QChar &c : shown)
            if (c.unicode() < 0x20)
                c = QLatin1Char(' ');
        if (shown.size() > PreviewChars)
            shown = shown.left(PreviewChars) + QLatin1String("...");
        return QLatin1Char('"') + shown + QLatin1Char('"');
    }

private:
    QByteArray bytes_; // STX and payload
    const TMonitorDirectory &directory_;
    int codePage_;
};

QString CutShort(const QString &what, qsizetype size, qsizetype layout)
{
    return QStringLiteral("%1 cut short: %2 of %3 bytes").arg(what).arg(size).arg(layout);
}

// Bytes beyond a fixed layout, which the console never reads.
QString Beyond(qsizetype size, qsizetype layout)
{
    return size > layout ? QStringLiteral(" (%1 more, ignored)").arg(Bytes(quint64(size - layout)))
                         : QString();
}

QString DescribeStation(const TFields &f, const QString &what, const QString &words, qsizetype layout)
{
    if (f.Size() < layout)
        return CutShort(what, f.Size(), layout);
    const QByteArray fleet = f.Raw(2, 3), ident = f.Raw(5, 4);
    if (auto bad = f.NotANumber({{"a Fleet", fleet}, {"an Ident", ident}}))
        return what + QLatin1String(" with ") + *bad;
    return words + f.Station(fleet, ident) + Beyond(f.Size(), layout);
}

QString DescribeMessage(const TFields &f, bool incoming)
{
    const bool isShort = f.Command() == 'F';
    const QString what = QLatin1String(isShort ? "short message" : "long message");
    if (f.Size() < 10)
        return CutShort(what, f.Size(), 10);
    const QByteArray fleet = f.Raw(2, 3), ident = f.Raw(5, 4);
    if (auto bad = f.NotANumber({{"a Fleet", fleet}, {"an Ident", ident}}))
        return what + QLatin1String(" with ") + *bad;
    const QByteArray text = f.Rest(9);
    QString line = QLatin1String(isShort ? "Short message " : "Long message ") +
                   QLatin1String(incoming ? "from " : "to ") + f.Station(fleet, ident);
    if (!isShort)
        line += QLatin1String(", ") + Bytes(quint64(text.size()));
    return line + QLatin1String(": ") + f.Preview(text);
}

QString DescribeStatus(const TFields &f, const QByteArray &number, bool incoming)
{
    const QByteArray fleet = f.Raw(2, 3), ident = f.Raw(5, 4);
    if (auto bad = f.NotANumber({{"a Fleet", fleet}, {"an Ident", ident}, {"a status number", number}}))
        return QLatin1String("status with ") + *bad;
    const int value = number.toInt();
    QString line = QStringLiteral("Status %1 ").arg(value) + QLatin1String(incoming ? "from " : "to ") +
                   f.Station(fleet, ident);
    const QString text = f.StatusText(value);
    if (!text.isEmpty())
        line += QLatin1String(": ") + text;
    else if (incoming && f.KnowsStatuses())
        line += QLatin1String(" (not in the status directory)");
    return line;
}

QString DescribeIncoming(const TFields &f)
{
    switch (f.Command()) {
    case '0':
        return QStringLiteral("ack: Success");
    case '1':
        return QStringLiteral("ack: Fail");
    case '2':
        return QStringLiteral("ack: Busy");
    case '3':
        return QStringLiteral("ack: Command NG");
    case 'B':
        return DescribeStation(f, QStringLiteral("voice call"), QStringLiteral("Voice call from "), 10);
    case 'D':
        return DescribeStation(f, QStringLiteral("call end"), QStringLiteral("Call end from "), 10);
    case 'E':
        if (f.Size() < 12)
            return CutShort(QStringLiteral("status"), f.Size(), 12);
        return DescribeStatus(f, f.Raw(9, 2), true) + Beyond(f.Size(), 12);
    case 'F':
    case 'G':
        return DescribeMessage(f, true);
    case 'I': {
        if (f.Size() < 18)
            return CutShort(QStringLiteral("PTT ID or call"), f.Size(), 18);
        const QByteArray fleet1 = f.Raw(3, 3), ident1 = f.Raw(6, 4), fleet2 = f.Raw(10, 3),
                         ident2 = f.Raw(13, 4);
        if (auto bad = f.NotANumber(
                {{"a Fleet", fleet1}, {"an Ident", ident1}, {"a Fleet", fleet2}, {"an Ident", ident2}}))
            return QLatin1String("PTT ID or call with ") + *bad;
        const bool start = f.Raw(2, 1) == "1";
        QString line;
        if (fleet1 == fleet2 && ident1 == ident2)
            line = QLatin1String(start ? "PTT ID connect from " : "PTT ID disconnect from ") +
                   f.Station(fleet1, ident1);
        else
            line = QLatin1String(start ? "Call start from " : "Call end from ") + f.Station(fleet1, ident1) +
                   QLatin1String(" to ") + f.Station(fleet2, ident2);
        return line + Beyond(f.Size(), 18);
    }
    default:
        return QLatin1String("unknown command ") + Letter(f.Command()) + QLatin1String(", ignored");
    }
}

QString DescribeOutgoing(const TFields &f)
{
    switch (f.Command()) {
    case 'B':
        return DescribeStation(f, QStringLiteral("connect"), QStringLiteral("Connect to "), 10);
    case 'D':
        return DescribeStation(f, QStringLiteral("disconnect"), QStringLiteral("Disconnect to "), 10);
    case 'H':
        return DescribeStation(f, QStringLiteral("status request"), QStringLiteral("Status request to "), 10);
    case 'E':
        if (f.Size() < 11)
            return CutShort(QStringLiteral("status"), f.Size(), 11);
        return DescribeStatus(f, f.Rest(9), false);
    case 'F':
    case 'G':
        return DescribeMessage(f, false);
    default:
        return QLatin1String("unknown command ") + Letter(f.Command());
    }
}

} // namespace

QString DescribeLineFrame(const TLineFrame &frame, const TMonitorDirectory &directory, int codePage)
{
    const quint64 size = quint64(frame.bytes.size());
    switch (frame.reason) {
    case TNoiseReason::None:
        break;
    case TNoiseReason::BeforeStx:
        return QLatin1String("not a frame: ") + Bytes(size) + QLatin1String(" before STX dropped");
    case TNoiseReason::NoStx:
        return QLatin1String("not a frame: ") + Bytes(size) + QLatin1String(" without STX dropped");
    case TNoiseReason::NewStx:
        return QLatin1String("not a frame: ") + Bytes(size) +
               QLatin1String(" without ETX dropped (a new STX came)");
    case TNoiseReason::TooLong:
        return QLatin1String("not a frame: no ETX within ") + Bytes(size) + QLatin1String(", dropped");
    case TNoiseReason::Gap:
        return QLatin1String("not a frame: ") + Bytes(size) + QLatin1String(" cut off by bytes not shown");
    case TNoiseReason::Lost:
        return QLatin1String("not shown: ") + Bytes(frame.lost) + QLatin1String(" (the monitor fell behind)");
    }
    const TFields fields(frame, directory, codePage);
    if (fields.Size() <= 2)
        return QStringLiteral("empty frame");
    return frame.direction == TLineDirection::In ? DescribeIncoming(fields) : DescribeOutgoing(fields);
}

bool IsAcknowledgement(const TLineFrame &frame)
{
    return frame.IsFrame() && frame.direction == TLineDirection::In && frame.bytes.size() >= 3 &&
           frame.bytes[1] >= '0' && frame.bytes[1] <= '3';
}
