#include "CannedMessages.h"

#include "AnsiCodec.h"
#include "ListFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

namespace {

// The radio's two message commands and their limits, in bytes of the code page.
constexpr int ShortLimit = 48;
constexpr int LongLimit = 4000;

void Close(QList<TCannedMessage> &messages, QStringList &lines)
{
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    while (!lines.isEmpty() && lines.first().trimmed().isEmpty())
        lines.removeFirst();
    if (!messages.isEmpty())
        messages.last().text = lines.join(QLatin1Char('\n'));
    lines.clear();
}

bool IsTitleLine(const QString &line)
{
    const QString trimmed = line.trimmed();
    return trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']'));
}

} // namespace

QStringList MessageFields()
{
    return {QStringLiteral("{name}"), QStringLiteral("{fleet-ident}"), QStringLiteral("{time}"),
            QStringLiteral("{status-text}")};
}

QString ParseCanned(const QByteArray &text, QList<TCannedMessage> *messages)
{
    QList<TCannedMessage> read;
    QStringList lines;
    const QStringList all = QString::fromUtf8(text).split(QLatin1Char('\n'));
    for (int i = 0; i < all.size(); ++i) {
        QString line = all[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (IsTitleLine(line)) {
            Close(read, lines);
            const QString title = line.trimmed().mid(1, line.trimmed().size() - 2).trimmed();
            if (title.isEmpty())
                return QStringLiteral("line %1: the message has no title").arg(i + 1);
            read.append({title, {}});
            continue;
        }
        if (read.isEmpty()) {
            // Comments and blank lines may stand before the first title.
            if (line.trimmed().isEmpty() || line.trimmed().startsWith(QLatin1Char('#')))
                continue;
            return QStringLiteral("line %1: text before the first [title] line").arg(i + 1);
        }
        lines << line;
    }
    Close(read, lines);
    *messages = read;
    return {};
}

QByteArray FormatCanned(const QList<TCannedMessage> &messages)
{
    QString text = QStringLiteral("# Canned messages: a [title] line, then the text up to the next title.\n"
                                  "# Fields: %1\n")
                       .arg(MessageFields().join(QLatin1Char(' ')));
    for (const TCannedMessage &message : messages)
        text +=
            QLatin1String("\n[") + message.title + QLatin1String("]\n") + message.text + QLatin1Char('\n');
    return text.toUtf8();
}

QString ReadCannedFile(const QString &fileName, QList<TCannedMessage> *messages)
{
    return ReadListFile(fileName, messages, &ParseCanned);
}

TPreparedMessage PrepareMessage(const QString &text, const TFieldValues &values, int codePage)
{
    TPreparedMessage prepared;
    static const QRegularExpression field(QStringLiteral("\\{([^{}\\s]*)\\}"));
    QString filled;
    qsizetype from = 0;
    for (auto it = field.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString name = match.captured(1);
        QString value;
        if (name == QLatin1String("name"))
            value = values.name;
        else if (name == QLatin1String("fleet-ident"))
            value = values.fleetIdent;
        else if (name == QLatin1String("time"))
            value = values.time;
        else if (name == QLatin1String("status-text"))
            value = values.statusText;
        else {
            prepared.problem = QStringLiteral("%1 is not a field; the fields are %2")
                                   .arg(match.captured(0), MessageFields().join(QLatin1Char(' ')));
            return prepared;
        }
        filled += text.mid(from, match.capturedStart() - from) + value;
        from = match.capturedEnd();
    }
    filled += text.mid(from);
    prepared.text = ToCrLf(filled);

    // A character the code page lacks would reach the station as '?'. The whole
    // text first: only a text that does not come back whole is searched.
    const bool whole =
        AnsiCodec::FromAnsi(AnsiCodec::ToAnsi(prepared.text, codePage), codePage) == prepared.text;
    for (qsizetype i = 0; !whole && i < prepared.text.size(); ++i) {
        const qsizetype width = prepared.text.at(i).isHighSurrogate() && i + 1 < prepared.text.size() ? 2 : 1;
        const QString character = prepared.text.mid(i, width);
        if (AnsiCodec::FromAnsi(AnsiCodec::ToAnsi(character, codePage), codePage) != character) {
            prepared.problem =
                QStringLiteral("the radio's code page (%1) has no '%2'").arg(codePage).arg(character);
            return prepared;
        }
        i += width - 1;
    }
    prepared.bytes = MessageLength(prepared.text, codePage);
    if (prepared.bytes == 0)
        prepared.problem = QStringLiteral("the message is empty");
    else if (prepared.bytes > LongLimit)
        prepared.problem =
            QStringLiteral("%1 bytes; a message holds at most %2").arg(prepared.bytes).arg(LongLimit);
    else
        prepared.letter = prepared.bytes <= ShortLimit ? 'F' : 'G';
    return prepared;
}
