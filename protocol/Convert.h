#pragma once

#include <QString>
#include <stdexcept>

// The conversion error of every text-to-number conversion. Its message quotes
// the text that failed, e.g. 'abc' is not a valid integer value.
class EConvertError : public std::runtime_error {
public:
    explicit EConvertError(const QString &message);
    QString Message() const { return QString::fromUtf8(what()); }
};

// Whole-number conversion: optional leading blanks, an optional sign, then one
// or more decimal digits and nothing else; the value must fit a 32-bit integer.
// Throws EConvertError otherwise.
int StrToInt(const QString &text);
