#include "LogTime.h"

#include <QDateTime>
#include <limits>

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
    // The text changes once a second, but making it costs a time-zone lookup (a
    // stat of the zone file) and a locale query: more than decoding the frame.
    // Each thread keeps the last text made, for the wall-clock second it was made in.
    thread_local qint64 cachedSecond = std::numeric_limits<qint64>::min();
    thread_local QString cachedText;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = now >= 0 ? now / 1000 : (now - 999) / 1000;
    if (second != cachedSecond) {
        cachedText = LongTimeText(QDateTime::fromMSecsSinceEpoch(now).time(), QLocale::system());
        cachedSecond = second;
    }
    return cachedText;
}
