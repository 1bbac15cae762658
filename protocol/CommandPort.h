#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// Where outgoing frames go: the serial component, adapted. Failures are thrown
// (the component's ECommError).
class ICommandPort {
public:
    virtual ~ICommandPort() = default;
    virtual void WriteData(const char *data, uint32_t size) = 0;
    virtual void WriteStringData(const QByteArray &data) = 0;
};

// The main window's log: inserts one finished entry as its first line (an entry
// with CR LF becomes two lines) and keeps itself to its length.
class ILog {
public:
    virtual ~ILog() = default;
    virtual void InsertEntry(const QString &entry) = 0;
};
