#include "SettingsFuzz.h"

#include "Settings.h"

#include <QStringList>
#include <charconv>
#include <optional>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// A file that lives in memory only, so that each input costs no disk access.
class TMemoryFile {
public:
    explicit TMemoryFile(const std::uint8_t *data, std::size_t size)
    {
        m_fd = ::memfd_create("settings", MFD_CLOEXEC);
        if (m_fd < 0)
            return;
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(m_fd, data + done, size - done);
            if (n <= 0) {
                ::close(m_fd);
                m_fd = -1;
                return;
            }
            done += static_cast<std::size_t>(n);
        }
    }
    ~TMemoryFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    TMemoryFile(const TMemoryFile &) = delete;
    TMemoryFile &operator=(const TMemoryFile &) = delete;
    bool Valid() const { return m_fd >= 0; }
    QString Path() const { return QStringLiteral("/proc/self/fd/%1").arg(m_fd); }

private:
    int m_fd = -1;
};

// The file's integer syntax written out independently: blanks, then a sign and
// decimal digits within 32 bits, or a hex prefix and 1..8 hex digits.
std::optional<std::int32_t> ReferenceInteger(const QString &value)
{
    std::string s;
    for (const QChar c : value) {
        if (c.unicode() > 0x7F)
            return std::nullopt;
        s += static_cast<char>(c.unicode());
    }
    std::size_t i = s.find_first_not_of(' ');
    if (i == std::string::npos)
        return std::nullopt;
    std::string_view rest(s);
    rest.remove_prefix(i);
    const auto whole = [](std::string_view digits, int base, std::uint64_t &out) {
        if (digits.empty())
            return false;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), out, base);
        return ec == std::errc() && end == digits.data() + digits.size();
    };
    std::uint64_t n = 0;
    std::string_view hex;
    if (rest.starts_with("0x") || rest.starts_with("0X"))
        hex = rest.substr(2);
    else if (rest.starts_with('$') || rest.starts_with('x') || rest.starts_with('X'))
        hex = rest.substr(1);
    if (hex.data() != nullptr) {
        if (hex.size() > 8 || !whole(hex, 16, n))
            return std::nullopt;
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(n));
    }
    const bool negative = rest.starts_with('-');
    if (negative || rest.starts_with('+'))
        rest.remove_prefix(1);
    if (rest.starts_with('+') || rest.starts_with('-') || !whole(rest, 10, n))
        return std::nullopt;
    if (n > (negative ? 2147483648ULL : 2147483647ULL))
        return std::nullopt;
    return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(n) : static_cast<std::int64_t>(n));
}

std::optional<std::int32_t> Parsed(const QString &value)
{
    try {
        return ParseIntegerValue(value);
    } catch (const EConvertError &) {
        return std::nullopt;
    }
}

} // namespace

QString CheckSettingsInput(const std::uint8_t *data, std::size_t size)
{
    const TMemoryFile file(data, size);
    if (!file.Valid())
        return {}; // no memory file on this system: nothing to check
    QStringList lines;
    try {
        lines = ReadSettingsLines(file.Path());
    } catch (const ESettingsFileError &e) {
        return QStringLiteral("readable file refused: ") + QString::fromUtf8(e.what());
    }

    // Every CR and LF ends a line and nothing else is lost.
    QString joined;
    for (const QString &line : lines) {
        if (line.contains(u'\r') || line.contains(u'\n'))
            return QStringLiteral("line break inside a line: ") + line;
        joined += line;
    }
    QString expected = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    expected.remove(u'\r').remove(u'\n');
    if (joined != expected)
        return QStringLiteral("lines do not hold the file's text");

    for (const QString &line : lines) {
        const qsizetype eq = line.indexOf(u'=');
        const QString value = eq >= 0 ? line.mid(eq + 1) : line;
        if (Parsed(value) != ReferenceInteger(value))
            return QStringLiteral("integer syntax differs from the reference for '%1'").arg(value);
    }

    // What the console would load, saved and loaded again, gives the same values.
    const std::optional<std::int32_t> com = Parsed(SettingValue(lines, QStringLiteral("COM")));
    const std::optional<std::int32_t> popup = Parsed(SettingValue(lines, QStringLiteral("POPUP")));
    if (!com || !popup)
        return {};
    const QByteArray saved = FormatSettings(*com, static_cast<std::uint32_t>(*popup));
    const TMemoryFile again(reinterpret_cast<const std::uint8_t *>(saved.constData()),
                            static_cast<std::size_t>(saved.size()));
    if (!again.Valid())
        return {};
    const QStringList reread = ReadSettingsLines(again.Path());
    if (Parsed(SettingValue(reread, QStringLiteral("COM"))) != com ||
        Parsed(SettingValue(reread, QStringLiteral("POPUP"))) != popup)
        return QStringLiteral("saved settings read back differently: ") + QString::fromLatin1(saved);
    return {};
}
