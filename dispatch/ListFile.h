#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

// Reads a hand-edited list file (station groups, canned messages) whole with
// its parser: an empty list when the file is not there; "<file> cannot be
// read: …" or "<file>, <the parser's fault>" when it cannot be used, and then
// the list is left as it was.
template <typename T>
QString ReadListFile(const QString &fileName, QList<T> *items,
                     QString (*parse)(const QByteArray &, QList<T> *))
{
    QFile file(fileName);
    if (!file.exists()) {
        items->clear();
        return {};
    }
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1 cannot be read: %2").arg(fileName, file.errorString());
    const QString fault = parse(file.readAll(), items);
    return fault.isEmpty() ? QString() : fileName + QLatin1String(", ") + fault;
}
