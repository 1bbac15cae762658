#include "ConsoleFrame.h"

#include "Frame.h"
#include "SimCommand.h"

#include <QRegularExpression>

QList<FrameSplitter::Piece> FrameSplitter::Feed(const QByteArray &bytes)
{
    QList<Piece> pieces;
    QByteArray junk;
    auto flushJunk = [&] {
        if (!junk.isEmpty())
            pieces.append({false, junk});
        junk.clear();
    };
    for (char b : bytes) {
        if (b == STX) {
            if (inFrame_)
                junk += current_; // a new start byte: the frame before it never ended
            flushJunk();
            current_ = QByteArray(1, STX);
            inFrame_ = true;
        } else if (!inFrame_) {
            junk += b;
        } else {
            current_ += b;
            if (b == ETX) {
                pieces.append({true, current_});
                current_.clear();
                inFrame_ = false;
            } else if (current_.size() >= kMaxFrame) {
                junk += current_;
                flushJunk();
                current_.clear();
                inFrame_ = false;
            }
        }
    }
    flushJunk();
    return pieces;
}

namespace {

QString CommandName(char letter)
{
    switch (letter) {
    case 'B':
        return QStringLiteral("Connect");
    case 'D':
        return QStringLiteral("Disconnect");
    case 'E':
        return QStringLiteral("Status");
    case 'F':
        return QStringLiteral("Short message");
    case 'G':
        return QStringLiteral("Long message");
    case 'H':
        return QStringLiteral("Status request");
    default:
        return QString();
    }
}

bool AllDigits(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return false;
    for (char c : bytes)
        if (c < '0' || c > '9')
            return false;
    return true;
}

QString Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace

ConsoleCommand DescribeConsoleFrame(const QByteArray &frame, const WireCodec &codec)
{
    ConsoleCommand cmd;
    if (frame.size() < 2 || frame.front() != STX || frame.back() != ETX) {
        cmd.text = QStringLiteral("not a frame: %1").arg(Hex(frame));
        return cmd;
    }
    const QByteArray payload = frame.mid(1, frame.size() - 2);
    if (payload.isEmpty()) {
        cmd.text = QStringLiteral("empty frame");
        return cmd;
    }
    cmd.letter = payload.at(0);
    const QString name = CommandName(cmd.letter);
    if (name.isEmpty()) {
        cmd.text = QStringLiteral("unknown command %1: %2").arg(Hex(payload.left(1)), Hex(frame));
        return cmd;
    }
    const QString head = QStringLiteral("%1 %2").arg(QString(QLatin1Char(cmd.letter)), name);
    if (payload.size() < 8 || !AllDigits(payload.mid(1, 7))) {
        cmd.text = QStringLiteral("%1 without Fleet and Ident (7 digits): %2").arg(head, Hex(frame));
        return cmd;
    }
    const QByteArray fleet = payload.mid(1, 3);
    const QByteArray ident = payload.mid(4, 4);
    const QByteArray tail = payload.mid(8);
    QString line = QStringLiteral("%1  Fleet %2  Ident %3")
                       .arg(head, QString::fromLatin1(fleet), QString::fromLatin1(ident));
    QString problem;
    const int f = fleet.toInt();
    const int i = ident.toInt();
    if (f != 0 && (f < 100 || f > 349))
        problem = QStringLiteral("Fleet out of range");
    else if (i != 0 && (i < 1000 || i > 4999))
        problem = QStringLiteral("Ident out of range");

    switch (cmd.letter) {
    case 'B':
    case 'D':
    case 'H':
        if (!tail.isEmpty())
            problem = QStringLiteral("%1 unexpected bytes after Ident: %2").arg(tail.size()).arg(Hex(tail));
        break;
    case 'E':
        // The console sends the status number without leading zeros: one or two digits.
        if (tail.size() < 1 || tail.size() > 2 || !AllDigits(tail))
            problem = QStringLiteral("status number not 1 or 2 digits: %1").arg(Hex(tail));
        else
            line += QStringLiteral("  status %1").arg(QString::fromLatin1(tail));
        break;
    case 'F':
    case 'G': {
        const qsizetype breaks = tail.count("\r\n");
        line += QStringLiteral("  text (%1 bytes%2): \"%3\"")
                    .arg(tail.size())
                    .arg(breaks ? QStringLiteral(", %1 lines").arg(breaks + 1) : QString())
                    .arg(EscapeWireText(tail, codec));
        if (cmd.letter == 'F' && tail.size() > kShortMessageMax)
            problem = QStringLiteral("a short message over %1 bytes").arg(kShortMessageMax);
        else if (cmd.letter == 'G' && tail.size() > kLongMessageMax)
            problem = QStringLiteral("a long message over %1 bytes").arg(kLongMessageMax);
        break;
    }
    default:
        break;
    }
    if (!problem.isEmpty()) {
        cmd.text = line + QStringLiteral("  -- malformed: ") + problem;
        return cmd;
    }
    cmd.wellFormed = true;
    cmd.text = line;
    return cmd;
}
