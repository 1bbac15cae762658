#include "IniReader.h"

TIniReader::TIniReader(const QString &fileName) : info_(fileName), file_(fileName, QSettings::IniFormat) {}

bool TIniReader::Readable()
{
    if (!info_.exists())
        return false;
    if (info_.isReadable() && file_.status() == QSettings::NoError)
        return true;
    faults_ << QStringLiteral("the file cannot be read");
    return false;
}

void TIniReader::Switch(const QString &key, bool &value)
{
    if (!file_.contains(key))
        return;
    const QString text = file_.value(key).toString().trimmed().toLower();
    if (text == QLatin1String("on") || text == QLatin1String("true") || text == QLatin1String("1"))
        value = true;
    else if (text == QLatin1String("off") || text == QLatin1String("false") || text == QLatin1String("0"))
        value = false;
    else
        faults_ << QStringLiteral("%1 is '%2', not on or off").arg(key, text);
}

void TIniReader::Bounded(const QString &key, int low, int high, int &value, const QString &unit)
{
    if (!file_.contains(key))
        return;
    bool ok = false;
    const QString text = file_.value(key).toString();
    const int read = text.trimmed().toInt(&ok);
    if (ok && read >= low && read <= high)
        value = read;
    else
        faults_ << QStringLiteral("%1 is '%2', not a number %3from %4 to %5")
                       .arg(key, text, unit.isEmpty() ? QString() : QStringLiteral("of %1 ").arg(unit))
                       .arg(low)
                       .arg(high);
}

QString TIniReader::Problem(const QString &what) const
{
    if (faults_.isEmpty())
        return {};
    return QStringLiteral("The %1 %2 is not usable: %3. The defaults are used for it.")
        .arg(what, info_.absoluteFilePath(), faults_.join(QStringLiteral("; ")));
}
