#include "SimCommand.h"

#include "Frame.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

QByteArray Digits(int value, int width)
{
    return QByteArray::number(value).rightJustified(width, '0');
}

QByteArray Station(int fleet, int ident)
{
    return Digits(fleet, 3) + Digits(ident, 4);
}

[[noreturn]] void Refuse(const QString &message)
{
    throw SimCommandError(message.toStdString());
}

// Splits on blanks and remembers where each word starts, so the message text can be taken
// from the line as typed, blanks and all.
struct Words {
    QStringList words;
    QList<qsizetype> starts;
};

Words SplitWords(const QString &line)
{
    Words w;
    static const QRegularExpression word(QStringLiteral("\\S+"));
    auto it = word.globalMatch(line);
    while (it.hasNext()) {
        const auto m = it.next();
        w.words << m.captured();
        w.starts << m.capturedStart();
    }
    return w;
}

int ParseNumber(const QString &text, const QString &what)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch())
        Refuse(QStringLiteral("%1 '%2' is not a number").arg(what, text));
    return text.toInt();
}

int ParseFleet(const QString &text)
{
    const int fleet = ParseNumber(text, QStringLiteral("Fleet"));
    if (fleet != 0 && (fleet < 100 || fleet > 349))
        Refuse(QStringLiteral("Fleet %1 is out of range: use 0 or 100 to 349").arg(text));
    return fleet;
}

int ParseIdent(const QString &text)
{
    const int ident = ParseNumber(text, QStringLiteral("Ident"));
    if (ident != 0 && (ident < 1000 || ident > 4999))
        Refuse(QStringLiteral("Ident %1 is out of range: use 0 or 1000 to 4999").arg(text));
    return ident;
}

void ExpectCount(const QString &command, const QStringList &args, int count, const QString &usage)
{
    if (args.size() != count)
        Refuse(QStringLiteral("%1 takes %2 (%3 given): %1 %4")
                   .arg(command)
                   .arg(count == 1 ? QStringLiteral("1 argument") : QStringLiteral("%1 arguments").arg(count))
                   .arg(args.size())
                   .arg(usage));
}

double ParseSeconds(const QString &command, const QString &text)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    static const QRegularExpression plain(QStringLiteral("^[0-9]+(\\.[0-9]+)?$"));
    if (!ok || !plain.match(text).hasMatch())
        Refuse(QStringLiteral("%1: '%2' is not a number of seconds").arg(command, text));
    if (seconds > 86400)
        Refuse(QStringLiteral("%1: %2 s is more than a day").arg(command, text));
    return seconds;
}

AckResult ParseAckResult(const QString &word)
{
    const QString w = word.toLower();
    if (w == QLatin1String("success") || w == QLatin1String("ok"))
        return AckResult::Success;
    if (w == QLatin1String("fail"))
        return AckResult::Fail;
    if (w == QLatin1String("busy"))
        return AckResult::Busy;
    if (w == QLatin1String("ng"))
        return AckResult::CommandNG;
    if (w == QLatin1String("none"))
        return AckResult::None;
    Refuse(QStringLiteral(
               "ack: '%1' is not an answer; use success, fail, busy, ng or none, or reset or delay MS")
               .arg(word));
}

QString MessageSummary(const QByteArray &frame, const WireCodec &codec)
{
    const QByteArray text = frame.mid(9, frame.size() - 10);
    return QStringLiteral("%1 %2 message from %3, %4 bytes: \"%5\"")
        .arg(QLatin1Char(frame.at(1)))
        .arg(frame.at(1) == 'F' ? QStringLiteral("Short") : QStringLiteral("Long"))
        .arg(StationText(frame.mid(2, 3), frame.mid(5, 4)))
        .arg(text.size())
        .arg(EscapeWireText(text, codec));
}

} // namespace

QString StationText(const QByteArray &fleet, const QByteArray &ident)
{
    return QString::fromLatin1(fleet) + QLatin1Char('/') + QString::fromLatin1(ident);
}

QByteArray CallFrame(int fleet, int ident)
{
    return BuildFrame('B' + Station(fleet, ident));
}

QByteArray CallEndFrame(int fleet, int ident)
{
    return BuildFrame('D' + Station(fleet, ident));
}

QByteArray StatusFrame(int fleet, int ident, int status)
{
    // The radio always sends the status number as two digits, 5 as "05".
    return BuildFrame('E' + Station(fleet, ident) + Digits(status, 2));
}

QByteArray MessageFrame(int fleet, int ident, const QByteArray &text, MessageForm form)
{
    const bool isLong =
        form == MessageForm::Long || (form == MessageForm::Auto && text.size() > kShortMessageMax);
    return BuildFrame((isLong ? 'G' : 'F') + Station(fleet, ident) + text);
}

QByteArray PttFrame(int fleet, int ident, bool connect)
{
    // A PTT ID is the call-decode frame with the same station twice.
    return BuildFrame(QByteArray("I") + (connect ? '1' : '0') + Station(fleet, ident) +
                      Station(fleet, ident));
}

QByteArray CallDecodeFrame(bool start, int fleet1, int ident1, int fleet2, int ident2)
{
    return BuildFrame(QByteArray("I") + (start ? '1' : '0') + Station(fleet1, ident1) +
                      Station(fleet2, ident2));
}

AckRequest ParseAckArguments(const QStringList &args)
{
    AckRequest request;
    if (args.isEmpty())
        return request;
    const QString first = args.first().toLower();
    if (first == QLatin1String("reset")) {
        if (args.size() != 1)
            Refuse(QStringLiteral("ack reset takes no arguments"));
        request.kind = AckRequest::Kind::Reset;
        return request;
    }
    if (first == QLatin1String("delay")) {
        if (args.size() != 2)
            Refuse(QStringLiteral("ack delay takes 1 argument: ack delay MILLISECONDS"));
        static const QRegularExpression ms(QStringLiteral("^[0-9]{1,6}$"));
        if (!ms.match(args.at(1)).hasMatch() || args.at(1).toInt() > 60000)
            Refuse(QStringLiteral("ack delay: '%1' is not a number of milliseconds from 0 to 60000")
                       .arg(args.at(1)));
        request.kind = AckRequest::Kind::Delay;
        request.delayMs = args.at(1).toInt();
        return request;
    }
    request.result = ParseAckResult(args.first());
    request.kind = AckRequest::Kind::Count;
    request.count = 1;
    bool lettersSeen = false;
    bool amountSeen = false;
    static const QRegularExpression letters(QStringLiteral("^[BDEFGHbdefgh]+$"));
    static const QRegularExpression count(QStringLiteral("^[0-9]{1,7}$"));
    static const QRegularExpression percent(QStringLiteral("^([0-9]{1,3}(\\.[0-9]+)?)%$"));
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (letters.match(a).hasMatch() && !lettersSeen && !amountSeen) {
            lettersSeen = true;
            request.letters.clear();
            for (QChar c : a.toUpper())
                if (!request.letters.contains(c.toLatin1()))
                    request.letters += c.toLatin1();
            continue;
        }
        if (amountSeen)
            Refuse(QStringLiteral("ack: unexpected '%1' after '%2'").arg(a, args.at(i - 1)));
        amountSeen = true;
        if (a.toLower() == QLatin1String("always")) {
            request.kind = AckRequest::Kind::Always;
        } else if (count.match(a).hasMatch()) {
            request.count = a.toInt();
            if (request.count < 1)
                Refuse(QStringLiteral("ack: a count must be 1 or more"));
        } else if (const auto m = percent.match(a); m.hasMatch()) {
            request.kind = AckRequest::Kind::Rate;
            request.percent = m.captured(1).toDouble();
            if (request.percent > 100)
                Refuse(QStringLiteral("ack: the rate %1 is over 100 %").arg(a));
            if (request.result == AckResult::Success)
                Refuse(QStringLiteral(
                    "ack: a rate applies to fail, busy, ng or none; Success is what is left over"));
        } else {
            Refuse(
                QStringLiteral("ack: '%1' is neither command letters (B D E F G H), a count, 'always' nor a "
                               "rate like 20%")
                    .arg(a));
        }
    }
    return request;
}

SimCommand ParseCommandLine(const QString &line, const WireCodec &codec)
{
    SimCommand cmd;
    const Words w = SplitWords(line);
    if (w.words.isEmpty() || w.words.first().startsWith(QLatin1Char('#')))
        return cmd;
    const QString name = w.words.first().toLower();
    const QStringList args = w.words.mid(1);

    if (name == QLatin1String("call") || name == QLatin1String("callend")) {
        ExpectCount(name, args, 2, QStringLiteral("FLEET IDENT"));
        const int fleet = ParseFleet(args.at(0));
        const int ident = ParseIdent(args.at(1));
        cmd.kind = SimCommand::Kind::Send;
        const bool end = name == QLatin1String("callend");
        cmd.frame = end ? CallEndFrame(fleet, ident) : CallFrame(fleet, ident);
        cmd.summary = QStringLiteral("%1 Call %2%3")
                          .arg(end ? QLatin1Char('D') : QLatin1Char('B'))
                          .arg(end ? QStringLiteral("end from ") : QStringLiteral("from "))
                          .arg(StationText(cmd.frame.mid(2, 3), cmd.frame.mid(5, 4)));
        return cmd;
    }
    if (name == QLatin1String("status")) {
        ExpectCount(name, args, 3, QStringLiteral("FLEET IDENT NUMBER"));
        const int fleet = ParseFleet(args.at(0));
        const int ident = ParseIdent(args.at(1));
        const int status = ParseNumber(args.at(2), QStringLiteral("status number"));
        if (status > 99)
            Refuse(QStringLiteral("status number %1 is out of range: use 0 to 99").arg(args.at(2)));
        cmd.kind = SimCommand::Kind::Send;
        cmd.frame = StatusFrame(fleet, ident, status);
        cmd.summary = QStringLiteral("E Status:%1 from %2%3")
                          .arg(QString::fromLatin1(cmd.frame.mid(9, 2)),
                               StationText(cmd.frame.mid(2, 3), cmd.frame.mid(5, 4)),
                               status >= 95 ? QStringLiteral(" (emergency)") : QString());
        return cmd;
    }
    if (name == QLatin1String("msg")) {
        MessageForm form = MessageForm::Auto;
        int first = 1;
        if (!args.isEmpty() && args.at(0).toLower() == QLatin1String("short")) {
            form = MessageForm::Short;
            first = 2;
        } else if (!args.isEmpty() && args.at(0).toLower() == QLatin1String("long")) {
            form = MessageForm::Long;
            first = 2;
        }
        if (w.words.size() < first + 2)
            Refuse(QStringLiteral("msg takes FLEET IDENT and the text: msg [short|long] FLEET IDENT TEXT"));
        const int fleet = ParseFleet(w.words.at(first));
        const int ident = ParseIdent(w.words.at(first + 1));
        // The text runs from its first non-blank character to the end of the line, inner and
        // trailing blanks kept; a leading blank can be written \x20.
        QString text;
        if (w.words.size() > first + 2)
            text = line.mid(w.starts.at(first + 2));
        QByteArray bytes;
        try {
            bytes = UnescapeText(text, codec);
        } catch (const std::runtime_error &e) {
            Refuse(QStringLiteral("msg: ") + QString::fromUtf8(e.what()));
        }
        if (bytes.contains(STX) || bytes.contains(ETX))
            Refuse(
                QStringLiteral("msg: the text may not hold STX (\\x02) or ETX (\\x03), which would cut the "
                               "frame; use raw for that"));
        if (form == MessageForm::Short && bytes.size() > kShortMessageMax)
            Refuse(QStringLiteral("msg short: the text is %1 bytes; a short message holds at most %2")
                       .arg(bytes.size())
                       .arg(kShortMessageMax));
        if (bytes.size() > kLongMessageMax)
            Refuse(QStringLiteral("msg: the text is %1 bytes; a long message holds at most %2")
                       .arg(bytes.size())
                       .arg(kLongMessageMax));
        cmd.kind = SimCommand::Kind::Send;
        cmd.frame = MessageFrame(fleet, ident, bytes, form);
        cmd.summary = MessageSummary(cmd.frame, codec);
        return cmd;
    }
    if (name == QLatin1String("ptt")) {
        ExpectCount(name, args, 3, QStringLiteral("FLEET IDENT on|off"));
        const int fleet = ParseFleet(args.at(0));
        const int ident = ParseIdent(args.at(1));
        const QString state = args.at(2).toLower();
        if (state != QLatin1String("on") && state != QLatin1String("off"))
            Refuse(QStringLiteral("ptt: '%1' is neither on nor off").arg(args.at(2)));
        const bool on = state == QLatin1String("on");
        cmd.kind = SimCommand::Kind::Send;
        cmd.frame = PttFrame(fleet, ident, on);
        cmd.summary = QStringLiteral("I PTT ID %1 from %2")
                          .arg(on ? QStringLiteral("Connect") : QStringLiteral("Disconnect"),
                               StationText(cmd.frame.mid(3, 3), cmd.frame.mid(6, 4)));
        return cmd;
    }
    if (name == QLatin1String("ani")) {
        ExpectCount(name, args, 5, QStringLiteral("start|end FLEET1 IDENT1 FLEET2 IDENT2"));
        const QString what = args.at(0).toLower();
        if (what != QLatin1String("start") && what != QLatin1String("end"))
            Refuse(QStringLiteral("ani: '%1' is neither start nor end").arg(args.at(0)));
        const int f1 = ParseFleet(args.at(1));
        const int i1 = ParseIdent(args.at(2));
        const int f2 = ParseFleet(args.at(3));
        const int i2 = ParseIdent(args.at(4));
        if (f1 == f2 && i1 == i2)
            Refuse(QStringLiteral("ani: both stations are %1/%2; the console reads that as a PTT ID, use ptt")
                       .arg(args.at(1), args.at(2)));
        const bool start = what == QLatin1String("start");
        cmd.kind = SimCommand::Kind::Send;
        cmd.frame = CallDecodeFrame(start, f1, i1, f2, i2);
        cmd.summary = QStringLiteral("I Call %1 from %2 to %3")
                          .arg(start ? QStringLiteral("start") : QStringLiteral("end"),
                               StationText(cmd.frame.mid(3, 3), cmd.frame.mid(6, 4)),
                               StationText(cmd.frame.mid(10, 3), cmd.frame.mid(13, 4)));
        return cmd;
    }
    if (name == QLatin1String("raw")) {
        if (args.isEmpty())
            Refuse(QStringLiteral("raw takes hex bytes: raw 02 30 03"));
        QByteArray bytes;
        for (const QString &a : args) {
            bool good = a.size() % 2 == 0;
            for (QChar c : a)
                good = good && IsHexDigit(c);
            if (!good)
                Refuse(QStringLiteral("raw: '%1' is not hex bytes (pairs of 0-9 A-F, e.g. 02 30 03)").arg(a));
            bytes += QByteArray::fromHex(a.toLatin1());
        }
        cmd.kind = SimCommand::Kind::Send;
        cmd.frame = bytes;
        cmd.summary = QStringLiteral("raw %1 bytes: %2")
                          .arg(bytes.size())
                          .arg(QString::fromLatin1(bytes.toHex(' ').toUpper()));
        return cmd;
    }
    if (name == QLatin1String("sleep")) {
        ExpectCount(name, args, 1, QStringLiteral("SECONDS"));
        cmd.kind = SimCommand::Kind::Sleep;
        cmd.seconds = ParseSeconds(name, args.at(0));
        return cmd;
    }
    if (name == QLatin1String("wait")) {
        if (args.size() > 1)
            Refuse(
                QStringLiteral("wait takes at most 1 argument (%1 given): wait [SECONDS]").arg(args.size()));
        cmd.kind = SimCommand::Kind::Wait;
        cmd.seconds = args.isEmpty() ? 0 : ParseSeconds(name, args.at(0));
        return cmd;
    }
    if (name == QLatin1String("ack")) {
        cmd.kind = SimCommand::Kind::Ack;
        cmd.ack = ParseAckArguments(args);
        return cmd;
    }
    if (name == QLatin1String("demo")) {
        if (args.size() > 1 || (args.size() == 1 && args.at(0).toLower() != QLatin1String("on") &&
                                args.at(0).toLower() != QLatin1String("off")))
            Refuse(QStringLiteral("demo takes on or off: demo [on|off]"));
        cmd.kind = SimCommand::Kind::Demo;
        cmd.on = args.isEmpty() || args.at(0).toLower() == QLatin1String("on");
        return cmd;
    }
    if (name == QLatin1String("help") || name == QLatin1String("?")) {
        cmd.kind = SimCommand::Kind::Help;
        return cmd;
    }
    if (name == QLatin1String("quit") || name == QLatin1String("exit")) {
        if (!args.isEmpty())
            Refuse(QStringLiteral("%1 takes no arguments").arg(name));
        cmd.kind = SimCommand::Kind::Quit;
        return cmd;
    }
    Refuse(QStringLiteral("unknown command '%1'; type help for the list").arg(w.words.first()));
}
