#pragma once

#include <QLocale>
#include <QString>
#include <QTime>

// The time stamp that starts every log entry: hours, minutes and seconds in the
// locale's long time form (12- or 24-hour as the locale has it), without the
// time zone that Qt's long form carries.
QString LongTimeFormat(const QLocale &locale);
QString LongTimeText(const QTime &time, const QLocale &locale = QLocale::system());
// The current local time of day as LongTimeText gives it.
QString LogTimeStamp();
