#pragma once

#include "ConsoleFiles.h"
#include "SampleTables.h"
#include "TableDef.h"

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

// A table file of the definition's kind holding the rows given as SQL value lists ("'Base', 100, 1000").
inline QString MakeTableFile(const QDir &dir, const TTableDef &def, const QStringList &values,
                             const QString &name)
{
    const QString file = dir.filePath(name);
    QFile::remove(file);
    QStringList columns;
    for (const auto &f : def.fields)
        columns << QuoteName(f.name);
    QStringList sql{CreateTableSql(def)};
    for (const auto &v : values)
        sql << QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                   .arg(QuoteName(def.table), columns.join(QStringLiteral(", ")), v);
    RunSql(file, sql);
    return file;
}

inline QString MakeUserFile(const QDir &dir, const QStringList &values, const QString &name = UserFileName)
{
    return MakeTableFile(dir, UserTableDef(), values, name);
}

inline QString MakeStatusFile(const QDir &dir, const QStringList &values,
                              const QString &name = StatusFileName)
{
    return MakeTableFile(dir, StatusTableDef(), values, name);
}
