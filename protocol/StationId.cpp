#include "StationId.h"

#include <QVariantList>

bool IsValidFleet(const QString &fleet)
{
    const int n = StrToInt(fleet);
    return n == 0 || (n >= 100 && n <= 349);
}

bool IsValidIdent(const QString &ident)
{
    const int n = StrToInt(ident);
    return n == 0 || (n >= 1000 && n <= 4999);
}

QString ZeroPad3(int value)
{
    const QString s = QString::number(value);
    if (s.size() == 1)
        return QLatin1String("00") + s;
    if (s.size() == 2)
        return QLatin1String("0") + s;
    return s;
}

QString ZeroPad4(int value)
{
    const QString s = QString::number(value);
    if (s.size() == 1)
        return QLatin1String("000") + s;
    if (s.size() == 2)
        return QLatin1String("00") + s;
    if (s.size() == 3)
        return QLatin1String("0") + s;
    return s;
}

QString LookupStationName(ITableCursor &users, const QString &fleet, const QString &ident)
{
    const int f = StrToInt(fleet);
    const int i = StrToInt(ident);
    const QString fallback = fleet + QLatin1Char('-') + ident;
    if (users.Locate(QStringLiteral("Fleet;Ident"), QVariantList{f, i})) {
        const QString name = users.FieldAsText(QStringLiteral("Name"));
        return name.isEmpty() ? fallback : name;
    }
    if (users.RecordCount() < MaxUserEntries) {
        users.Append();
        try {
            users.SetFieldText(QStringLiteral("Name"), fallback);
            // The converted values, so that the table stores exactly what was looked
            // up even where its own text conversion is stricter (" 100", "+100").
            users.SetFieldText(QStringLiteral("Fleet"), QString::number(f));
            users.SetFieldText(QStringLiteral("Ident"), QString::number(i));
            users.Post();
        } catch (...) {
            // A row left pending would be written again before every later lookup
            // and fail each time: no station could be named until a restart. The
            // caller hears of this failure; the next sighting tries again.
            users.Cancel();
            throw;
        }
    }
    return fallback;
}
