#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

struct TGroupStation {
    int fleet = 0;
    int ident = 0;
    bool operator==(const TGroupStation &) const = default;
};

struct TStationGroup {
    QString name;
    QList<TGroupStation> stations; // each once, in the order written
    bool operator==(const TStationGroup &) const = default;
};

// The groups file, made to be read and edited by hand:
//   # a comment
//   [Shift B]
//   101-1101  Car 1
//   102-1203
// A [name] line starts a group; each station line is Fleet-Ident, and whatever
// follows it on the line (a name) is only for the reader. Returns the first
// fault as "line N: why", and then no groups at all: a file half read would be
// half lost at the next save.
QString ParseGroups(const QByteArray &text, QList<TStationGroup> *groups);
// The file's text for the groups, names of stations added by stationName.
QByteArray FormatGroups(const QList<TStationGroup> &groups,
                        const std::function<QString(int fleet, int ident)> &stationName = {});

// A missing file is no groups and no fault.
QString ReadGroupsFile(const QString &fileName, QList<TStationGroup> *groups);
// Replaces the file whole (a temporary file renamed over it); the fault, or empty.
QString WriteTextFile(const QString &fileName, const QByteArray &text);

// The group named (case-insensitively), or null.
const TStationGroup *FindGroup(const QList<TStationGroup> &groups, const QString &name);
