#include "LogTime.h"

QString LongTimeFormat(const QLocale &locale)
{
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t')) {
            // Drop the zone and the blanks that joined it to the rest.
            while (!out.isEmpty() && out.back().isSpace())
                out.chop(1);
            while (i + 1 < format.size() && (format[i + 1] == QLatin1Char('t') || format[i + 1].isSpace()))
                ++i;
            if (!out.isEmpty() && i + 1 < format.size())
                out += QLatin1Char(' ');
            continue;
        }
        out += c;
    }
    return out.trimmed();
}

QString LongTimeText(const QTime &time, const QLocale &locale)
{
    return locale.toString(time, LongTimeFormat(locale));
}

QString LogTimeStamp()
{
    return LongTimeText(QTime::currentTime(), QLocale::system());
}
