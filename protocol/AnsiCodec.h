#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>

// The radio speaks 8-bit text in the ANSI code page an operator's locale has on
// Windows (1252 for Western locales, 932 Japanese, ...). Lengths on the wire and
// in the log preview are counted in bytes of that code page.
namespace AnsiCodec {

// The Windows ANSI code page of a locale (1252 when the language has no other).
int CodePageFor(const QLocale &locale);
// The code page of this process: the locale of LC_ALL, LC_CTYPE or LANG.
int SystemCodePage();

// Encodes to the code page; a character it cannot hold becomes '?'.
QByteArray ToAnsi(const QString &text, int codePage = SystemCodePage());
// Decodes from the code page; a byte sequence it does not define becomes U+FFFD.
QString FromAnsi(const QByteArray &bytes, int codePage = SystemCodePage());

// The largest prefix of at most maxBytes bytes that does not split a double-byte
// character of the code page.
qsizetype CharBoundary(const QByteArray &bytes, qsizetype maxBytes, int codePage = SystemCodePage());

} // namespace AnsiCodec

// Drops every trailing byte whose code is 0x20 or below (blanks, tabs, line breaks).
QByteArray TrimTrailingControls(const QByteArray &bytes);

// The message measure: bytes of the ANSI text after trailing bytes <= 0x20 are
// dropped. Line breaks are to be given as CR LF (see ToCrLf), so each counts 2.
int MessageLength(const QString &text, int codePage = AnsiCodec::SystemCodePage());

// A text edit gives its lines separated by LF alone; the radio and the measure
// expect CR LF. Every LF not already preceded by CR gets one.
QString ToCrLf(const QString &text);
