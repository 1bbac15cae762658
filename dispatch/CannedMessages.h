#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

struct TCannedMessage {
    QString title;
    QString text; // lines separated by LF, as typed
    bool operator==(const TCannedMessage &) const = default;
};

// The canned messages file, made to be read and edited by hand:
//   [Return to base]
//   {name}, return to base please.
// A [title] line starts a message; the lines after it, up to the next title, are
// its text (blank lines at its ends dropped). Returns the first fault as "line
// N: why", and then no messages at all.
QString ParseCanned(const QByteArray &text, QList<TCannedMessage> *messages);
QByteArray FormatCanned(const QList<TCannedMessage> &messages);
// A missing file is no messages and no fault.
QString ReadCannedFile(const QString &fileName, QList<TCannedMessage> *messages);

// What the fields of a text stand for, for one station.
struct TFieldValues {
    QString name;       // {name}: the station's name in the directory
    QString fleetIdent; // {fleet-ident}: 101-1101
    QString time;       // {time}: now, hours and minutes
    QString statusText; // {status-text}: the station's last status
};

// A message made ready for the radio: the fields filled in, line breaks as CR
// LF, and the command it goes as (F up to 48 bytes, G up to 4000). problem says
// why it cannot go (an unknown field, a character the radio's code page lacks,
// too long, empty); then letter is 0.
struct TPreparedMessage {
    QString text;
    char letter = 0;
    int bytes = 0;
    QString problem;
};
TPreparedMessage PrepareMessage(const QString &text, const TFieldValues &values, int codePage);

// The fields a text may hold, as written in it.
QStringList MessageFields();
