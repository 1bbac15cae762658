#pragma once

#include <QByteArray>
#include <QString>

// Converts between the operator's text and the radio's 8-bit wire text (an ANSI code page,
// CP1252 unless told otherwise), through glibc's iconv.
class WireCodec {
public:
    // Throws std::runtime_error when iconv does not know the code page.
    explicit WireCodec(QByteArray codepage = "CP1252");

    const QByteArray &Codepage() const { return codepage_; }

    // Throws std::runtime_error naming the first character the code page cannot hold.
    QByteArray Encode(const QString &text) const;
    // Bytes the code page does not define come out as \xHH.
    QString Decode(const QByteArray &bytes) const;

private:
    QByteArray codepage_;
};

// The escape form of the command language, both ways. In a text, \n is a line break (CR LF on
// the wire), \r a lone CR, \t a TAB, \\ a backslash and \xHH any byte.
// Throws std::runtime_error on an unknown or cut escape.
QByteArray UnescapeText(const QString &text, const WireCodec &codec);
// Shows wire text on one line in the same escape form, so it can be pasted back into a command.
QString EscapeWireText(const QByteArray &bytes, const WireCodec &codec);

bool IsHexDigit(QChar c);
