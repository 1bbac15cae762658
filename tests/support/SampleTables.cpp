#include "SampleTables.h"

#include "ConsoleFiles.h"

#include <QFile>

QString CopySampleTable(const QString &name, const QDir &dir)
{
    const QString target = dir.filePath(name);
    QFile::remove(target);
    if (!QFile::copy(QStringLiteral(CORVALINK_SAMPLE_DATA_DIR "/") + name, target))
        return {};
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    return target;
}

bool CopySampleTables(const QDir &dir)
{
    return !CopySampleTable(UserFileName, dir).isEmpty() && !CopySampleTable(StatusFileName, dir).isEmpty();
}
