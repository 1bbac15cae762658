#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cerrno>
#include <sys/mount.h>

// A small tmpfs mounted in a scratch folder, for writes that meet a really full
// disk. Needs the right to mount (root in CI); Error() says why it could not.
class TFullDisk final {
public:
    explicit TFullDisk(const char *size = "size=64k")
    {
        if (!dir_.isValid()) {
            error_ = QStringLiteral("no scratch folder");
            return;
        }
        if (::mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", 0, size) != 0) {
            error_ = QStringLiteral("cannot mount a tmpfs: %1").arg(QString::fromLocal8Bit(strerror(errno)));
            return;
        }
        mounted_ = true;
    }
    ~TFullDisk()
    {
        if (mounted_)
            ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
    }
    TFullDisk(const TFullDisk &) = delete;
    TFullDisk &operator=(const TFullDisk &) = delete;

    QString Error() const { return error_; }
    QString Path(const QString &name) const { return QDir(dir_.path()).filePath(name); }

    // Writes a file of filler until the disk refuses more; true when it is full.
    bool Fill() const
    {
        QFile filler(Path(QStringLiteral(".filler")));
        if (!filler.open(QIODevice::WriteOnly))
            return false;
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        // Smaller pieces take the last partial block.
        while (filler.write("x", 1) == 1 && filler.flush()) {
        }
        return true;
    }

private:
    QTemporaryDir dir_;
    QString error_;
    bool mounted_ = false;
};
