#include "StationGroups.h"

#include "ListFile.h"
#include "SaveFile.h"
#include "StationId.h"

#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>

namespace {

QString LineFault(int line, const QString &why)
{
    return QStringLiteral("line %1: %2").arg(line).arg(why);
}

} // namespace

QString ParseGroups(const QByteArray &text, QList<TStationGroup> *groups)
{
    static const QRegularExpression stationPattern(QStringLiteral("^(\\d{1,3})-(\\d{1,4})(\\s.*)?$"));
    QList<TStationGroup> read;
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        const int number = i + 1;
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']')))
                return LineFault(number, QStringLiteral("a group's name is written [name]"));
            const QString name = line.mid(1, line.size() - 2).trimmed();
            if (name.isEmpty())
                return LineFault(number, QStringLiteral("the group has no name"));
            if (FindGroup(read, name))
                return LineFault(number, QStringLiteral("a second group named %1").arg(name));
            read.append({name, {}});
            continue;
        }
        const QRegularExpressionMatch match = stationPattern.match(line);
        if (!match.hasMatch())
            return LineFault(number, QStringLiteral("'%1' is not a station written Fleet-Ident (101-1101)")
                                         .arg(line.section(QLatin1Char(' '), 0, 0)));
        const QString fleet = match.captured(1), ident = match.captured(2);
        if (!IsValidFleet(fleet))
            return LineFault(number, QStringLiteral("Fleet %1 is not 0 or from 100 to 349").arg(fleet));
        if (!IsValidIdent(ident))
            return LineFault(number, QStringLiteral("Ident %1 is not 0 or from 1000 to 4999").arg(ident));
        if (read.isEmpty())
            return LineFault(number, QStringLiteral("a station before the first [group] line"));
        const TGroupStation station{fleet.toInt(), ident.toInt()};
        // Written twice is sent once.
        if (!read.last().stations.contains(station))
            read.last().stations.append(station);
    }
    *groups = read;
    return {};
}

QByteArray FormatGroups(const QList<TStationGroup> &groups,
                        const std::function<QString(int fleet, int ident)> &stationName)
{
    QString text = QStringLiteral("# Station groups: a [name] line, then one station a line as Fleet-Ident.\n"
                                  "# What follows a station on its line is only for the reader.\n");
    for (const TStationGroup &group : groups) {
        text += QLatin1String("\n[") + group.name + QLatin1String("]\n");
        for (const TGroupStation &station : group.stations) {
            text += ZeroPad3(station.fleet) + QLatin1Char('-') + ZeroPad4(station.ident);
            const QString name = stationName ? stationName(station.fleet, station.ident) : QString();
            if (!name.isEmpty())
                text += QLatin1String("  ") + name;
            text += QLatin1Char('\n');
        }
    }
    return text.toUtf8();
}

QString ReadGroupsFile(const QString &fileName, QList<TStationGroup> *groups)
{
    return ReadListFile(fileName, groups, &ParseGroups);
}

QString WriteTextFile(const QString &fileName, const QByteArray &text)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("%1 cannot be written: %2").arg(fileName, file.errorString());
    file.write(text);
    const QString fault = FinishSaveFile(file);
    return fault.isEmpty() ? QString() : QStringLiteral("%1 cannot be written: %2").arg(fileName, fault);
}

const TStationGroup *FindGroup(const QList<TStationGroup> &groups, const QString &name)
{
    for (const TStationGroup &group : groups)
        if (group.name.compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return &group;
    return nullptr;
}
