#include "WireText.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace {

class Iconv {
public:
    Iconv(const char *to, const char *from) : handle_(iconv_open(to, from))
    {
        if (handle_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("unknown code page: ") +
                                     (std::string(to) == "UTF-8" ? from : to));
    }
    ~Iconv() { iconv_close(handle_); }
    Iconv(const Iconv &) = delete;
    Iconv &operator=(const Iconv &) = delete;
    iconv_t get() const { return handle_; }

private:
    iconv_t handle_;
};

QString HexByte(unsigned char byte)
{
    return QLatin1String("\\x") + QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

bool IsHexDigit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

WireCodec::WireCodec(QByteArray codepage) : codepage_(std::move(codepage))
{
    Iconv probe(codepage_.constData(), "UTF-8");
}

QByteArray WireCodec::Encode(const QString &text) const
{
    Iconv cd(codepage_.constData(), "UTF-8");
    QByteArray in = text.toUtf8();
    QByteArray out(in.size() * 4 + 16, '\0');
    char *inPtr = in.data();
    size_t inLeft = static_cast<size_t>(in.size());
    char *outPtr = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    while (inLeft > 0) {
        if (iconv(cd.get(), &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
            const QString rest = QString::fromUtf8(inPtr, static_cast<qsizetype>(inLeft));
            const QString bad =
                rest.isEmpty()
                    ? QString()
                    : QString(rest.at(0).isHighSurrogate() && rest.size() > 1 ? rest.left(2) : rest.left(1));
            throw std::runtime_error(QStringLiteral("the character '%1' has no place in code page %2")
                                         .arg(bad, QString::fromLatin1(codepage_))
                                         .toStdString());
        }
    }
    iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft);
    out.truncate(outPtr - out.data());
    return out;
}

QString WireCodec::Decode(const QByteArray &bytes) const
{
    Iconv cd("UTF-8", codepage_.constData());
    QString result;
    QByteArray in = bytes;
    char *inPtr = in.data();
    size_t inLeft = static_cast<size_t>(in.size());
    QByteArray out(in.size() * 4 + 16, '\0');
    while (inLeft > 0) {
        char *outPtr = out.data();
        size_t outLeft = static_cast<size_t>(out.size());
        const size_t rc = iconv(cd.get(), &inPtr, &inLeft, &outPtr, &outLeft);
        result += QString::fromUtf8(out.constData(), outPtr - out.data());
        if (rc == static_cast<size_t>(-1) && inLeft > 0) {
            // An undefined byte, or a lead byte cut off at the end: show it and go on.
            result += HexByte(static_cast<unsigned char>(*inPtr));
            ++inPtr;
            --inLeft;
            iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return result;
}

QByteArray UnescapeText(const QString &text, const WireCodec &codec)
{
    QByteArray out;
    QString plain;
    auto flush = [&] {
        out += codec.Encode(plain);
        plain.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\\')) {
            plain += c;
            continue;
        }
        if (i + 1 >= text.size())
            throw std::runtime_error("the text ends in a lone backslash; write \\\\ for a backslash");
        const QChar e = text.at(++i);
        flush();
        switch (e.unicode()) {
        case 'n':
            out += "\r\n";
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        case 'x': {
            const QString digits = text.mid(i + 1, 2);
            if (digits.size() != 2 || !IsHexDigit(digits.at(0)) || !IsHexDigit(digits.at(1)))
                throw std::runtime_error(QStringLiteral("\\x needs two hex digits, got '\\x%1'")
                                             .arg(text.mid(i + 1, 2))
                                             .toStdString());
            out += static_cast<char>(digits.toInt(nullptr, 16));
            i += 2;
            break;
        }
        default:
            throw std::runtime_error(QStringLiteral("unknown escape '\\%1'; use \\n, \\r, \\t, \\\\ or \\xHH")
                                         .arg(e)
                                         .toStdString());
        }
    }
    flush();
    return out;
}

QString EscapeWireText(const QByteArray &bytes, const WireCodec &codec)
{
    QString result;
    QByteArray run;
    auto flush = [&] {
        result += codec.Decode(run);
        run.clear();
    };
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes.at(i));
        if (b >= 0x20 && b != 0x7F && b != '\\') {
            run += static_cast<char>(b);
            continue;
        }
        flush();
        if (b == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n') {
            result += QLatin1String("\\n");
            ++i;
        } else if (b == '\r') {
            result += QLatin1String("\\r");
        } else if (b == '\t') {
            result += QLatin1String("\\t");
        } else if (b == '\\') {
            result += QLatin1String("\\\\");
        } else {
            result += HexByte(b);
        }
    }
    flush();
    return result;
}
