#pragma once

#include "SampleTables.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <stdexcept>

// A writable copy of a sample table file in a scratch directory; throws when it fails.
inline QString CopySample(const QString &name, const QDir &dir)
{
    const QString target = CopySampleTable(name, dir);
    if (target.isEmpty())
        throw std::runtime_error("cannot copy sample table " + name.toStdString());
    return target;
}

// Runs SQL statements on a file through a connection of its own, closed again afterwards.
inline void RunSql(const QString &file, const QStringList &statements)
{
    const QString name = QStringLiteral("fixture:") + file;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        if (!db.open())
            throw std::runtime_error(db.lastError().text().toStdString());
        QSqlQuery q(db);
        for (const auto &s : statements) {
            if (!q.exec(s))
                throw std::runtime_error(
                    QString(s + QStringLiteral(": ") + q.lastError().text()).toStdString());
        }
    }
    QSqlDatabase::removeDatabase(name);
}

inline QString MakeUserFile(const QDir &dir, const QStringList &values,
                            const QString &name = QStringLiteral("User.DB"))
{
    const QString file = dir.filePath(name);
    QFile::remove(file);
    QStringList sql{QStringLiteral("CREATE TABLE \"User\" (id INTEGER PRIMARY KEY, \"Name\" TEXT, \"Fleet\" "
                                   "INTEGER, \"Ident\" INTEGER)")};
    for (const auto &v : values)
        sql << QStringLiteral("INSERT INTO \"User\" (\"Name\", \"Fleet\", \"Ident\") VALUES (%1)").arg(v);
    RunSql(file, sql);
    return file;
}

inline QString MakeStatusFile(const QDir &dir, const QStringList &values,
                              const QString &name = QStringLiteral("Status.db"))
{
    const QString file = dir.filePath(name);
    QFile::remove(file);
    QStringList sql{
        QStringLiteral("CREATE TABLE \"Status\" (id INTEGER PRIMARY KEY, \"No.\" INTEGER, \"Text\" TEXT)")};
    for (const auto &v : values)
        sql << QStringLiteral("INSERT INTO \"Status\" (\"No.\", \"Text\") VALUES (%1)").arg(v);
    RunSql(file, sql);
    return file;
}
