#pragma once

#include "Convert.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <stdexcept>

// The settings file could not be read or written; the message names the file.
class ESettingsFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline const QString SettingsFileName = QStringLiteral("CorvalinkDemo.ini");

// The file as lines; CR LF, CR and LF all end a line. Throws ESettingsFileError
// naming the file when it cannot be opened or read.
QStringList ReadSettingsLines(const QString &fileName);

// The value of the first line whose part before its first "=" equals the name,
// ignoring letter case but not blanks ("COM =3" is not COM). Empty when no line
// matches.
QString SettingValue(const QStringList &lines, const QString &name);

// Integer syntax of the file: leading spaces, then an optional sign and decimal
// digits in the 32-bit signed range, or "$", "0x", "0X", "x" or "X" and one to
// eight hex digits taken as a 32-bit pattern. Nothing may follow.
// Throws EConvertError quoting the value.
std::int32_t ParseIntegerValue(const QString &value);

// The two lines written at exit: "COM=n" and "POPUP=0x" + at least four
// upper-case hex digits, each ending in CR LF.
QByteArray FormatSettings(int comPort, std::uint32_t popupFlags);

// Replaces the file atomically: the new text goes to a temporary file in the same
// directory, is flushed to disk and renamed over the old one. On any failure the
// old file stays as it was and ESettingsFileError naming the file is thrown.
void WriteSettingsFile(const QString &fileName, const QByteArray &content);

// What port selection needs of the serial component. The console's adapter
// forwards to ZComm1; tests use a fake.
class IPortSelector {
public:
    virtual ~IPortSelector() = default;
    virtual bool CheckCommportValid(const QString &deviceName) = 0;
    // index 0..3 stands for Com1..Com4
    virtual void SetCommPort(int index) = 0;
    virtual void OpenCommport() = 0;
    virtual void CloseCommport() = 0;
    // The port in use is to be opened again even though its number is unchanged:
    // it is not open, or its device went away and is there again.
    virtual bool NeedsReopen() const { return false; }
};

// The port in use and the enabled popups, read at start-up and written at exit.
class TSettings final {
public:
    // portText receives the status-bar text ("Com3") after each successful
    // port selection; it may be empty.
    explicit TSettings(IPortSelector &port, std::function<void(const QString &)> portText = {});

    int CurrentComPort = 0;       // 0 until a port has been selected
    std::uint32_t PopupFlags = 0; // PopupFlagBits

    IPortSelector &Port() const { return port_; }

    // Reads the file, selects and opens the port, loads PopupFlags. Returns false
    // when no port is usable (PopupFlags is then not read). File and value errors
    // are thrown.
    bool LoadSettings(const QString &fileName = SettingsFileName);

    // Writes the two lines; returns true, throws ESettingsFileError on failure.
    bool SaveSettings(const QString &fileName = SettingsFileName) const;

    // Opens the wanted port, or the first usable of COM1..COM4 with a
    // "COMn is used." box. With none usable: the "Comport error" box, false, and
    // CurrentComPort unchanged.
    bool SelectCommPort(int portNumber);

private:
    IPortSelector &port_;
    std::function<void(const QString &)> portText_;
};
