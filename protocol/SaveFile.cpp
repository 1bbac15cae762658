#include "SaveFile.h"

#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <unistd.h>

QString FinishSaveFile(QSaveFile &file)
{
    const auto fail = [&file](const QString &reason) {
        file.cancelWriting();
        return reason.isEmpty() ? QStringLiteral("Unknown error") : reason;
    };
    if (file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    if (!file.flush())
        return fail(file.errorString());
    // Data the kernel accepted can still fail to reach the disk (a quota, a network
    // file system): fsync reports it before the rename makes it the file.
    const int fd = file.handle();
    if (fd >= 0 && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (!file.commit())
        return file.errorString().isEmpty() ? QStringLiteral("Unknown error") : file.errorString();
    return {};
}
