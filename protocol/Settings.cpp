#include "Settings.h"

#include "MessageBox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Quoted(const QString &fileName)
{
    return QStringLiteral("\"%1\"").arg(QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath()));
}

[[noreturn]] void ThrowNotInteger(const QString &value)
{
    throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(value));
}

int HexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// After the rename the directory entry must reach the disk too, or a power cut
// could bring back the old name.
void SyncDirectoryOf(const QString &fileName)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(fileName).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

QStringList ReadSettingsLines(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw ESettingsFileError(QStringLiteral("Cannot open file %1. %2")
                                     .arg(Quoted(fileName), file.errorString())
                                     .toStdString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ESettingsFileError(QStringLiteral("Cannot read file %1. %2")
                                     .arg(Quoted(fileName), file.errorString())
                                     .toStdString());

    // CR LF, a lone CR and a lone LF each end a line.
    QStringList lines;
    const QString text = QString::fromUtf8(bytes);
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.mid(start));
    return lines;
}

QString SettingValue(const QStringList &lines, const QString &name)
{
    for (const QString &line : lines) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        if (QStringView(line).left(eq).compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1);
    }
    return {};
}

std::int32_t ParseIntegerValue(const QString &value)
{
    qsizetype i = 0;
    const qsizetype n = value.size();
    while (i < n && value.at(i) == u' ')
        ++i;
    if (i == n)
        ThrowNotInteger(value);

    qsizetype hexStart = -1;
    if (value.at(i) == u'$' || value.at(i) == u'x' || value.at(i) == u'X')
        hexStart = i + 1;
    else if (value.at(i) == u'0' && i + 1 < n && (value.at(i + 1) == u'x' || value.at(i + 1) == u'X'))
        hexStart = i + 2;

    if (hexStart >= 0) {
        const qsizetype digits = n - hexStart;
        if (digits < 1 || digits > 8)
            ThrowNotInteger(value);
        std::uint32_t pattern = 0;
        for (qsizetype k = hexStart; k < n; ++k) {
            const int d = HexDigit(value.at(k));
            if (d < 0)
                ThrowNotInteger(value);
            pattern = (pattern << 4) | static_cast<std::uint32_t>(d);
        }
        return static_cast<std::int32_t>(pattern);
    }

    bool negative = false;
    if (value.at(i) == u'+' || value.at(i) == u'-') {
        negative = value.at(i) == u'-';
        ++i;
    }
    if (i == n)
        ThrowNotInteger(value);
    // Accumulate in 64 bits; the limit stops long before overflow.
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
                                        : std::numeric_limits<std::int32_t>::max();
    std::int64_t magnitude = 0;
    for (; i < n; ++i) {
        const char16_t u = value.at(i).unicode();
        if (u < u'0' || u > u'9')
            ThrowNotInteger(value);
        magnitude = magnitude * 10 + (u - u'0');
        if (magnitude > limit)
            ThrowNotInteger(value);
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

QByteArray FormatSettings(int comPort, std::uint32_t popupFlags)
{
    return QByteArray("COM=") + QByteArray::number(comPort) + "\r\n" + "POPUP=0x" +
           QByteArray::number(popupFlags, 16).toUpper().rightJustified(4, '0') + "\r\n";
}

void WriteSettingsFile(const QString &fileName, const QByteArray &content)
{
    // Written by hand rather than with QSaveFile: a short write (disk full, file
    // size limit) must never get renamed over the good file, and every step's
    // result is checked.
    const QFileInfo target(fileName);
    const QByteArray finalName = QFile::encodeName(target.absoluteFilePath());
    QByteArray tempName = finalName + ".XXXXXX";
    const auto fail = [&](const char *what, int err) -> void {
        throw ESettingsFileError(
            QStringLiteral("Cannot %1 file %2. %3")
                .arg(QLatin1String(what), Quoted(fileName), QString::fromLocal8Bit(std::strerror(err)))
                .toStdString());
    };

    const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
    if (fd < 0)
        fail("create", errno);
    const auto discard = [&](const char *what) {
        const int err = errno;
        ::close(fd);
        ::unlink(tempName.constData());
        fail(what, err);
    };

    // Keep the old file's permissions; a new file gets the usual 0644.
    struct stat old {};
    ::fchmod(fd,
             ::stat(finalName.constData(), &old) == 0 && S_ISREG(old.st_mode) ? old.st_mode & 07777 : 0644);

    const char *data = content.constData();
    qsizetype left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            discard("write");
        }
        data += n;
        left -= n;
    }
    if (::fsync(fd) != 0)
        discard("write");
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tempName.constData());
        fail("write", err);
    }
    if (::rename(tempName.constData(), finalName.constData()) != 0) {
        const int err = errno;
        ::unlink(tempName.constData());
        fail("write", err);
    }
    SyncDirectoryOf(fileName);
}

TSettings::TSettings(IPortSelector &port, std::function<void(const QString &)> portText)
    : port_(port), portText_(std::move(portText))
{
}

bool TSettings::LoadSettings(const QString &fileName)
{
    const QStringList lines = ReadSettingsLines(fileName);
    // A value that is not a number is reported quoting the value, and naming the
    // setting and the file, so that the operator knows where to look.
    const auto value = [&](const QString &name) {
        try {
            return ParseIntegerValue(SettingValue(lines, name));
        } catch (const EConvertError &e) {
            throw EConvertError(QStringLiteral("%1 (%2 in %3)").arg(e.Message(), name, Quoted(fileName)));
        }
    };
    const int com = value(QStringLiteral("COM"));
    if (!SelectCommPort(com))
        return false;
    PopupFlags = static_cast<std::uint32_t>(value(QStringLiteral("POPUP")));
    return true;
}

bool TSettings::SaveSettings(const QString &fileName) const
{
    WriteSettingsFile(fileName, FormatSettings(CurrentComPort, PopupFlags));
    return true;
}

bool TSettings::SelectCommPort(int portNumber)
{
    int number = portNumber;
    if (port_.CheckCommportValid(QStringLiteral("COM%1").arg(number))) {
        // A number outside 1..4 still opens its device, with the port choice
        // left as it was.
        if (number >= 1 && number <= 4)
            port_.SetCommPort(number - 1);
        port_.OpenCommport();
    } else {
        int fallback = 0;
        for (int k = 1; k <= 4; ++k) {
            if (port_.CheckCommportValid(QStringLiteral("COM%1").arg(k))) {
                fallback = k;
                break;
            }
        }
        if (fallback == 0) {
            ShowMessageBox(QStringLiteral("All COMs are invalid.\nPlease check the COM"),
                           QStringLiteral("Comport error"), MsgIcon::Stop, MsgButtons::Ok);
            return false;
        }
        number = fallback;
        port_.SetCommPort(number - 1);
        port_.OpenCommport();
        ShowMessageBox(QStringLiteral("COM%1 is used.").arg(number), QStringLiteral("Comport Warning"),
                       MsgIcon::Warning, MsgButtons::Ok);
    }
    CurrentComPort = number;
    if (portText_)
        portText_(QStringLiteral("Com%1").arg(number));
    return true;
}
