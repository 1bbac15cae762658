#include "AnsiCodec.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <algorithm>

namespace AnsiCodec {

int CodePageFor(const QLocale &locale)
{
    switch (locale.language()) {
    case QLocale::Japanese:
        return 932;
    case QLocale::Korean:
        return 949;
    case QLocale::Chinese: {
        const auto script = locale.script();
        const auto territory = locale.territory();
        if (script == QLocale::TraditionalHanScript || territory == QLocale::Taiwan ||
            territory == QLocale::HongKong || territory == QLocale::Macao)
            return 950;
        return 936;
    }
    case QLocale::Thai:
        return 874;
    case QLocale::Czech:
    case QLocale::Polish:
    case QLocale::Slovak:
    case QLocale::Hungarian:
    case QLocale::Slovenian:
    case QLocale::Croatian:
    case QLocale::Romanian:
    case QLocale::Albanian:
    case QLocale::Turkmen:
        return 1250;
    case QLocale::Bosnian:
    case QLocale::Serbian:
        return locale.script() == QLocale::CyrillicScript ? 1251 : 1250;
    case QLocale::Russian:
    case QLocale::Ukrainian:
    case QLocale::Belarusian:
    case QLocale::Bulgarian:
    case QLocale::Macedonian:
    case QLocale::Kazakh:
    case QLocale::Kyrgyz:
    case QLocale::Tatar:
    case QLocale::Mongolian:
    case QLocale::Bashkir:
    case QLocale::Sakha:
    case QLocale::Tajik:
        return 1251;
    case QLocale::Greek:
        return 1253;
    case QLocale::Turkish:
        return 1254;
    case QLocale::Azerbaijani:
    case QLocale::Uzbek:
        return locale.script() == QLocale::CyrillicScript ? 1251 : 1254;
    case QLocale::Hebrew:
    case QLocale::Yiddish:
        return 1255;
    case QLocale::Arabic:
    case QLocale::Persian:
    case QLocale::Urdu:
    case QLocale::Uyghur:
    case QLocale::Pashto:
    case QLocale::Sindhi:
        return 1256;
    case QLocale::Estonian:
    case QLocale::Latvian:
    case QLocale::Lithuanian:
        return 1257;
    case QLocale::Vietnamese:
        return 1258;
    default:
        return 1252;
    }
}

int SystemCodePage()
{
    static const int codePage = [] {
        for (const char *name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
            const QByteArray value = qgetenv(name);
            if (value.isEmpty())
                continue;
            // "de_DE.UTF-8@euro" -> "de_DE"; C and POSIX have no language.
            QByteArray tag = value;
            const qsizetype cut = tag.indexOf('.') >= 0 ? tag.indexOf('.') : tag.indexOf('@');
            if (cut >= 0)
                tag.truncate(cut);
            if (tag == "C" || tag == "POSIX")
                return 1252;
            return CodePageFor(QLocale(QString::fromLatin1(tag)));
        }
        return 1252;
    }();
    return codePage;
}

namespace {
QByteArray CodecName(int codePage)
{
    return "windows-" + QByteArray::number(codePage);
}

bool IsDoubleByte(int codePage)
{
    return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

bool IsLeadByte(int codePage, unsigned char b)
{
    if (codePage == 932)
        return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    return IsDoubleByte(codePage) && b >= 0x81 && b <= 0xFE;
}
} // namespace

QByteArray ToAnsi(const QString &text, int codePage)
{
    // Every one of these code pages keeps ASCII as it is; most traffic is ASCII.
    if (std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; }))
        return text.toLatin1();
    QStringEncoder encoder(CodecName(codePage).constData());
    if (!encoder.isValid())
        return text.toLatin1();
    QByteArray bytes = encoder.encode(text);
    if (!encoder.hasError())
        return bytes;
    // Some character has no place in the code page: encode one character at a
    // time so that each such character becomes a single '?', as Windows does.
    bytes.clear();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype len = (text[i].isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        QStringEncoder one(CodecName(codePage).constData());
        const QByteArray piece = one.encode(QStringView(text).mid(i, len));
        bytes += one.hasError() ? QByteArray("?") : piece;
        i += len - 1;
    }
    return bytes;
}

QString FromAnsi(const QByteArray &bytes, int codePage)
{
    if (std::all_of(bytes.cbegin(), bytes.cend(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return QString::fromLatin1(bytes);
    QStringDecoder decoder(CodecName(codePage).constData());
    if (!decoder.isValid())
        return QString::fromLatin1(bytes);
    return decoder.decode(bytes);
}

qsizetype CharBoundary(const QByteArray &bytes, qsizetype maxBytes, int codePage)
{
    if (maxBytes >= bytes.size())
        return bytes.size();
    if (!IsDoubleByte(codePage))
        return maxBytes;
    qsizetype i = 0;
    while (i < maxBytes) {
        const qsizetype step = IsLeadByte(codePage, static_cast<unsigned char>(bytes[i])) ? 2 : 1;
        if (i + step > maxBytes)
            break;
        i += step;
    }
    return i;
}

} // namespace AnsiCodec

QByteArray TrimTrailingControls(const QByteArray &bytes)
{
    qsizetype n = bytes.size();
    while (n > 0 && static_cast<unsigned char>(bytes[n - 1]) <= 0x20)
        --n;
    return bytes.left(n);
}

int MessageLength(const QString &text, int codePage)
{
    return static_cast<int>(TrimTrailingControls(AnsiCodec::ToAnsi(text, codePage)).size());
}

QString ToCrLf(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\n') && (i == 0 || text[i - 1] != QLatin1Char('\r')))
            out += QLatin1Char('\r');
        out += text[i];
    }
    return out;
}
