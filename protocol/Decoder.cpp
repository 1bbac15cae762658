#include "Decoder.h"

#include "AnsiCodec.h"
#include "Convert.h"
#include "Frame.h"
#include "LogTime.h"
#include "SendCommand.h"
#include "StationId.h"

#include <QVariantList>

namespace {

// The payload: the frame without its ETX. Offsets stay counted from the STX.
class TFields {
public:
    explicit TFields(const QByteArray &frame)
        : bytes_(frame.endsWith(ETX) ? frame.first(frame.size() - 1) : frame)
    {
    }
    char Command() const { return bytes_.size() > 1 ? bytes_[1] : '\0'; }
    // Bytes beyond the frame are absent, never taken from anywhere else.
    QByteArray Raw(qsizetype offset, qsizetype width) const
    {
        if (offset >= bytes_.size())
            return {};
        return bytes_.sliced(offset, std::min(width, bytes_.size() - offset));
    }
    QString Text(qsizetype offset, qsizetype width) const { return AnsiCodec::FromAnsi(Raw(offset, width)); }
    // Every byte from offset up to the first zero byte (or the end).
    QByteArray RawToZero(qsizetype offset) const
    {
        QByteArray rest = Raw(offset, bytes_.size());
        const qsizetype zero = rest.indexOf('\0');
        if (zero >= 0)
            rest.truncate(zero);
        return rest;
    }

private:
    QByteArray bytes_;
};

} // namespace

TDecodeResult DecodeReceivedFrame(const QByteArray &frame, ITableCursor &users, ITableCursor &statuses,
                                  const QString &timeStamp)
{
    const TFields f(frame);
    TDecodeResult result;
    QString entry = timeStamp + QLatin1String(" RX: ");
    TTrafficEvent event;
    event.direction = TrafficDirection::In;
    event.frame = frame;
    const auto station = [&event](const QString &fleet, const QString &ident, const QString &name) {
        event.fleet = TrafficNumber(fleet);
        event.ident = TrafficNumber(ident);
        event.name = name;
    };

    switch (f.Command()) {
    case '0':
        entry += QLatin1String("Success");
        event.kind = TrafficKind::Acknowledgement;
        event.text = QStringLiteral("Success");
        break;
    case '1':
        entry += QLatin1String("Fail");
        event.kind = TrafficKind::Acknowledgement;
        event.text = QStringLiteral("Fail");
        break;
    case '2':
        entry += QLatin1String("Busy");
        event.kind = TrafficKind::Acknowledgement;
        event.text = QStringLiteral("Busy");
        break;
    case '3':
        entry += QLatin1String("Command NG");
        event.kind = TrafficKind::Acknowledgement;
        event.text = QStringLiteral("Command NG");
        break;
    case 'B': {
        const QString fleet = f.Text(2, 3), ident = f.Text(5, 4);
        const QString name = LookupStationName(users, fleet, ident);
        entry += QLatin1String("Call from ") + name;
        event.kind = TrafficKind::Call;
        station(fleet, ident, name);
        result.effects.append(
            TPopupRequest{.kind = PopupKind::Voice, .fleet = fleet, .ident = ident, .name = name});
        break;
    }
    case 'D': {
        const QString fleet = f.Text(2, 3), ident = f.Text(5, 4);
        const QString name = LookupStationName(users, fleet, ident);
        entry += QLatin1String("Call end from ") + name;
        event.kind = TrafficKind::CallEnd;
        station(fleet, ident, name);
        break;
    }
    case 'E': {
        const QString number = f.Text(9, 2);
        const QString fleet = f.Text(2, 3), ident = f.Text(5, 4);
        const QString name = LookupStationName(users, fleet, ident);
        entry +=
            QLatin1String("Status:") + number + QLatin1String(" from ") + name + QLatin1String("\r\n\t\"");
        event.kind = TrafficKind::Status;
        station(fleet, ident, name);
        event.status = TrafficNumber(number);
        if (statuses.Locate(QStringLiteral("No."), QVariantList{StrToInt(number)})) {
            const QString text = statuses.FieldAsText(QStringLiteral("Text"));
            entry += text + QLatin1Char('"');
            event.statusText = text;
            event.statusKnown = true;
            result.effects.append(TPopupRequest{.kind = PopupKind::Status,
                                                .fleet = fleet,
                                                .ident = ident,
                                                .name = name,
                                                .name2 = number,
                                                .text = text});
        } else {
            // A number the table does not know is passed on as "0": it never
            // starts the emergency state.
            const QString text = QLatin1String("Status:") + number;
            entry += text + QLatin1Char('"');
            event.statusText = text;
            result.effects.append(TPopupRequest{.kind = PopupKind::Status,
                                                .fleet = fleet,
                                                .ident = ident,
                                                .name = name,
                                                .name2 = QStringLiteral("0"),
                                                .text = text});
        }
        break;
    }
    case 'F':
    case 'G': {
        entry +=
            QLatin1String(f.Command() == 'F' ? "Short Message" : "Long Message") + QLatin1String(" from ");
        const QString fleet = f.Text(2, 3), ident = f.Text(5, 4);
        const QString name = LookupStationName(users, fleet, ident);
        entry += name;
        const QByteArray text = f.RawToZero(9);
        result.effects.append(
            TPopupRequest{.kind = PopupKind::Message, .fleet = fleet, .ident = ident, .name = name});
        result.effects.append(TAppendMessageText{AnsiCodec::FromAnsi(text)});
        entry += MessagePreviewLine(text);
        event.kind = f.Command() == 'F' ? TrafficKind::ShortMessage : TrafficKind::LongMessage;
        station(fleet, ident, name);
        event.text = AnsiCodec::FromAnsi(text).left(TrafficTextLimit);
        break;
    }
    case 'I': {
        const QByteArray subKind = f.Raw(2, 1);
        const QString fleet1 = f.Text(3, 3), ident1 = f.Text(6, 4);
        const QString fleet2 = f.Text(10, 3), ident2 = f.Text(13, 4);
        const QString name1 = LookupStationName(users, fleet1, ident1);
        const QString name2 = LookupStationName(users, fleet2, ident2);
        const bool start = subKind == "1";
        station(fleet1, ident1, name1);
        event.fleet2 = TrafficNumber(fleet2);
        event.ident2 = TrafficNumber(ident2);
        event.name2 = name2;
        if (fleet1 == fleet2 && ident1 == ident2) {
            const QString caption = QLatin1String(start ? "PTT ID Connect" : "PTT ID Disconnect");
            entry += caption + QLatin1String(" from ") + name1;
            event.kind = TrafficKind::PttId;
            event.text = QLatin1String(start ? "Connect" : "Disconnect");
            result.effects.append(TSetPttIdCaption{caption});
            if (start)
                result.effects.append(TPopupRequest{.kind = PopupKind::PttId,
                                                    .fleet = fleet1,
                                                    .ident = ident1,
                                                    .name = name1,
                                                    .fleet2 = fleet2,
                                                    .ident2 = ident2,
                                                    .name2 = name2});
        } else {
            entry += QLatin1String(start ? "Call start from " : "Call end from ") + name1 +
                     QLatin1String(" to ") + name2;
            event.kind = TrafficKind::CallDecode;
            event.text = QLatin1String(start ? "start" : "end");
            result.effects.append(TSetCallDecodeFrom{name1, fleet1, ident1});
            if (start)
                result.effects.append(TPopupRequest{.kind = PopupKind::CallDecode,
                                                    .fleet = fleet1,
                                                    .ident = ident1,
                                                    .name = name1,
                                                    .fleet2 = fleet2,
                                                    .ident2 = ident2,
                                                    .name2 = name2});
        }
        break;
    }
    default:
        // Not a frame this console knows: nothing is logged and no window changes.
        return result;
    }
    result.logEntry = entry;
    result.event = event;
    return result;
}

TDecodeResult DecodeReceivedFrame(const QByteArray &frame, ITableCursor &users, ITableCursor &statuses)
{
    return DecodeReceivedFrame(frame, users, statuses, LogTimeStamp());
}

QString DescribeEffect(const TWindowEffect &effect)
{
    struct Visitor {
        QString operator()(const TSetPttIdCaption &e) const
        {
            return QLatin1String("PttIdCaption(") + e.caption + ')';
        }
        QString operator()(const TSetCallDecodeFrom &e) const
        {
            return QLatin1String("CallDecodeFrom(") + e.name + ',' + e.fleet + ',' + e.ident + ')';
        }
        QString operator()(const TAppendMessageText &e) const
        {
            return QLatin1String("AppendMessage(") + e.text + ')';
        }
        QString operator()(const TPopupRequest &e) const
        {
            return QLatin1String("Popup(") + QString::number(static_cast<int>(e.kind)) + ';' + e.fleet + ',' +
                   e.ident + ',' + e.name + ',' + e.fleet2 + ',' + e.ident2 + ',' + e.name2 + ',' + e.text +
                   ')';
        }
    };
    return std::visit(Visitor{}, effect);
}
