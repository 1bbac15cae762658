#pragma once

#include "HistoryStore.h"
#include "TrafficEvent.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTest>
#include <mutex>
#include <sys/mount.h>

// Collects the store's failure reports (they arrive on the writer thread).
class TFailures {
public:
    THistoryStore::TFailure Sink()
    {
        return [this](const QString &message) {
            std::lock_guard guard(lock_);
            messages_ << message;
        };
    }
    QStringList Messages()
    {
        std::lock_guard guard(lock_);
        return messages_;
    }

private:
    std::mutex lock_;
    QStringList messages_;
};

inline TTrafficEvent MakeEvent(TrafficKind kind, int fleet, int ident, const QString &name,
                               const QDateTime &time = {}, const QString &text = {})
{
    TTrafficEvent e;
    e.time = time;
    e.kind = kind;
    e.direction = TrafficDirection::In;
    e.fleet = fleet;
    e.ident = ident;
    e.name = name;
    e.text = text;
    e.frame = QByteArray("\x02X\x03");
    return e;
}

// One value read from the file through a connection of its own (a second program
// looking at it).
inline QVariant HistoryScalar(const QString &fileName, const QString &sql)
{
    static int counter = 0;
    const QString name = QStringLiteral("scalar-%1").arg(++counter);
    QVariant value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(fileName);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(sql) && query.next())
                value = query.value(0);
        }
    }
    QSqlDatabase::removeDatabase(name);
    return value;
}

// The text index lists exactly the rows that have a text.
inline bool TextIndexInStep(const QString &fileName)
{
    return HistoryScalar(fileName,
                         QStringLiteral("SELECT (SELECT count(*) FROM event_text_docsize) = "
                                        "(SELECT count(*) FROM event WHERE coalesce(text, '') <> '' "
                                        "OR coalesce(status_text, '') <> '')"))
               .toInt() == 1;
}

// A small tmpfs mounted in a scratch directory (needs root; Mounted() says whether
// it worked), unmounted when this goes. Fill() leaves `freeBytes` free.
class TSmallDisk {
public:
    explicit TSmallDisk(const QString &dir, const char *size = "size=64k") : dir_(dir)
    {
        QDir().mkpath(dir_);
        mounted_ = ::mount("tmpfs", QFile::encodeName(dir_).constData(), "tmpfs", 0, size) == 0;
    }
    ~TSmallDisk()
    {
        if (mounted_)
            ::umount2(QFile::encodeName(dir_).constData(), MNT_DETACH);
    }
    TSmallDisk(const TSmallDisk &) = delete;
    TSmallDisk &operator=(const TSmallDisk &) = delete;

    bool Mounted() const { return mounted_; }
    bool MakeReadOnly()
    {
        return ::mount(nullptr, QFile::encodeName(dir_).constData(), nullptr, MS_REMOUNT | MS_RDONLY,
                       nullptr) == 0;
    }
    QString FilePath(const QString &name) const { return QDir(dir_).filePath(name); }
    bool Fill(qint64 freeBytes)
    {
        QFile filler(FilePath(QStringLiteral(".filler")));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return false;
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size()) {
        }
        return filler.resize(std::max<qint64>(0, filler.size() - freeBytes));
    }

private:
    QString dir_;
    bool mounted_ = false;
};
