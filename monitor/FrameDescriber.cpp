#include "FrameDescriber.h"

#include "Convert.h"
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

// A frame's fields where the console reads them (offsets from the STX; a field the
// frame cuts short holds the bytes present), converted as the console converts them.
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
    QString Text(qsizetype offset, qsizetype width) const
    {
        return AnsiCodec::FromAnsi(Raw(offset, width), codePage_);
    }
    QByteArray Rest(qsizetype offset) const
    {
        return offset < bytes_.size() ? bytes_.mid(offset) : QByteArray();
    }

    // The first field, in order, that the console cannot read as a number, as
    // "a Fleet '1a0' that is not a number".
    static std::optional<QString> NotANumber(std::initializer_list<std::pair<const char *, QString>> fields)
    {
        for (const auto &[label, text] : fields) {
            if (!Number(text))
                return QStringLiteral("%1 '%2' that is not a number").arg(QLatin1String(label), text);
        }
        return std::nullopt;
    }
    static std::optional<int> Number(const QString &text)
    {
        try {
            return StrToInt(text);
        } catch (const EConvertError &) {
            return std::nullopt;
        }
    }

    // The name the console gives the station: the directory's, else the texts as read.
    QString Station(const QString &fleet, const QString &ident) const
    {
        QString name;
        if (directory_.stationName)
            name = directory_.stationName(*Number(fleet), *Number(ident));
        return name.isEmpty() ? fleet + QLatin1Char('-') + ident : name;
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

// A frame shorter than its layout: the console reads what is there all the same.
QString Short(const TFields &f, qsizetype layout)
{
    return f.Size() < layout ? QStringLiteral(" (cut short: %1 of %2 bytes)").arg(f.Size()).arg(layout)
                             : QString();
}

// Bytes beyond a fixed layout, which the console never reads.
QString Beyond(qsizetype size, qsizetype layout)
{
    return size > layout ? QStringLiteral(" (%1 more, ignored)").arg(Bytes(quint64(size - layout)))
                         : QString();
}

QString Dropped(const QString &what, const QString &why)
{
    return what + QLatin1String(" with ") + why + QLatin1String(": the console acts on none of it");
}

QString DescribeStation(const TFields &f, const QString &what, const QString &words, qsizetype layout)
{
    const QString fleet = f.Text(2, 3), ident = f.Text(5, 4);
    if (auto bad = TFields::NotANumber({{"a Fleet", fleet}, {"an Ident", ident}}))
        return Dropped(what, *bad);
    return words + f.Station(fleet, ident) + Short(f, layout) + Beyond(f.Size(), layout);
}

QString DescribeMessage(const TFields &f, bool incoming)
{
    const bool isShort = f.Command() == 'F';
    const QString what = QLatin1String(isShort ? "short message" : "long message");
    const QString fleet = f.Text(2, 3), ident = f.Text(5, 4);
    if (auto bad = TFields::NotANumber({{"a Fleet", fleet}, {"an Ident", ident}}))
        return Dropped(what, *bad);
    const QByteArray text = f.Rest(9);
    QString line = QLatin1String(isShort ? "Short message " : "Long message ") +
                   QLatin1String(incoming ? "from " : "to ") + f.Station(fleet, ident) + Short(f, 10);
    if (!isShort)
        line += QLatin1String(", ") + Bytes(quint64(text.size()));
    return line + QLatin1String(": ") + f.Preview(text);
}

QString DescribeStatus(const TFields &f, const QString &number, bool incoming, qsizetype layout)
{
    const QString fleet = f.Text(2, 3), ident = f.Text(5, 4);
    if (auto bad =
            TFields::NotANumber({{"a Fleet", fleet}, {"an Ident", ident}, {"a status number", number}}))
        return Dropped(QStringLiteral("status"), *bad);
    const int value = *TFields::Number(number);
    QString line = QStringLiteral("Status %1 ").arg(value) + QLatin1String(incoming ? "from " : "to ") +
                   f.Station(fleet, ident);
    const QString text = f.StatusText(value);
    if (!text.isEmpty())
        line += QLatin1String(": ") + text;
    else if (incoming && f.KnowsStatuses())
        line += QLatin1String(" (not in the status directory)");
    // An outgoing status's number runs to the end of the frame: nothing lies beyond it.
    return line + Short(f, layout) + (incoming ? Beyond(f.Size(), layout) : QString());
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
        return DescribeStatus(f, f.Text(9, 2), true, 12);
    case 'F':
    case 'G':
        return DescribeMessage(f, true);
    case 'I': {
        const QString fleet1 = f.Text(3, 3), ident1 = f.Text(6, 4), fleet2 = f.Text(10, 3),
                      ident2 = f.Text(13, 4);
        if (auto bad = TFields::NotANumber(
                {{"a Fleet", fleet1}, {"an Ident", ident1}, {"a Fleet", fleet2}, {"an Ident", ident2}}))
            return Dropped(QStringLiteral("PTT ID or call"), *bad);
        const bool start = f.Raw(2, 1) == "1";
        QString line;
        if (fleet1 == fleet2 && ident1 == ident2)
            line = QLatin1String(start ? "PTT ID connect from " : "PTT ID disconnect from ") +
                   f.Station(fleet1, ident1);
        else
            line = QLatin1String(start ? "Call start from " : "Call end from ") + f.Station(fleet1, ident1) +
                   QLatin1String(" to ") + f.Station(fleet2, ident2);
        return line + Short(f, 18) + Beyond(f.Size(), 18);
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
        return DescribeStatus(f, AnsiCodec::FromAnsi(f.Rest(9)), false, 11);
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
    case TNoiseReason::Joined:
        return QLatin1String("rest of a frame that began before the monitor opened (or was cleared): ") +
               Bytes(size);
    case TNoiseReason::Cut:
        return QLatin1String("not a frame: ") + Bytes(size) +
               QLatin1String(" dropped, cut off when the console started reading afresh");
    case TNoiseReason::Note:
        return frame.text;
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
