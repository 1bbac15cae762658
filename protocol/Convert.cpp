#include "Convert.h"

#include <limits>

EConvertError::EConvertError(const QString &message) : std::runtime_error(message.toUtf8().toStdString()) {}

int StrToInt(const QString &text)
{
    const auto fail = [&text]() {
        return EConvertError(QLatin1Char('\'') + text + QLatin1String("' is not a valid integer value"));
    };
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == n)
        throw fail();
    // Accumulate as a negative number so that the most negative value fits too.
    long long value = 0;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            throw fail();
        value = value * 10 - (c - u'0');
        if (value < static_cast<long long>(std::numeric_limits<int>::min()))
            throw fail();
    }
    if (!negative) {
        value = -value;
        if (value > std::numeric_limits<int>::max())
            throw fail();
    }
    return static_cast<int>(value);
}
