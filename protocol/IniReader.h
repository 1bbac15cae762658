#pragma once

#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <QStringList>

// Reads one of the console's own INI files (preferences, check-in timers). A
// missing file is no fault: the defaults stand. A value that cannot be used
// keeps its default and adds a fault; Problem() then names the file and every
// fault in one message, as the console shows it once at start-up.
class TIniReader {
public:
    explicit TIniReader(const QString &fileName);

    bool Exists() const { return info_.exists(); }
    // Exists and can be read; otherwise "the file cannot be read" is the fault.
    bool Readable();
    QSettings &File() { return file_; }

    // on/true/1 or off/false/0, any case; absent keeps value.
    void Switch(const QString &key, bool &value);
    // A whole number from low to high; absent keeps value. unit names what is
    // counted in the fault ("days": "not a number of days from 0 to 36500").
    void Bounded(const QString &key, int low, int high, int &value, const QString &unit = {});
    void Fault(const QString &text) { faults_ << text; }

    // "The <what> <path> is not usable: <faults>. The defaults are used for it.",
    // or an empty text when nothing was wrong.
    QString Problem(const QString &what) const;

private:
    QFileInfo info_;
    QSettings file_;
    QStringList faults_;
};
