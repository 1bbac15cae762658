#pragma once

// Stand-ins that record what the code under test does with its port, its log and
// its popups.

#include "BoxRecorder.h"
#include "CommandPort.h"
#include "PopupDispatch.h"
#include "Settings.h"
#include "TrafficEvent.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <stdexcept>

// Records every write as one item, so the three writes of a frame can be told apart.
class TRecordingPort final : public ICommandPort {
public:
    QList<QByteArray> writes;
    int failAtWrite = -1; // index of the write that throws, -1 for none
    void WriteData(const char *data, uint32_t size) override { Record(QByteArray(data, size)); }
    void WriteStringData(const QByteArray &data) override { Record(data); }
    QByteArray Joined() const { return writes.join(); }

private:
    void Record(const QByteArray &bytes)
    {
        if (failAtWrite == writes.size())
            throw std::runtime_error("Have not started communications");
        writes.append(bytes);
    }
};

// Stands in for the serial port behind port selection: a set of usable device
// names, and a record of the calls, one readable line each.
class TRecordingSelector final : public IPortSelector {
public:
    QStringList usable;
    QStringList calls;
    bool openFails = false;
    bool needsReopen = false;
    bool NeedsReopen() const override { return needsReopen; }
    bool CheckCommportValid(const QString &name) override
    {
        calls << QStringLiteral("check %1").arg(name);
        return usable.contains(name);
    }
    void SetCommPort(int index) override { calls << QStringLiteral("set %1").arg(index); }
    void OpenCommport() override
    {
        calls << QStringLiteral("open");
        if (openFails)
            throw std::runtime_error("CommOpen Error,invalid HANDLE:0xFFFFFFFF");
    }
    void CloseCommport() override { calls << QStringLiteral("close"); }
};

// The log's entries, newest first as the log shows them; onEntry runs at each.
class TRecordingLog final : public ILog {
public:
    QStringList entries;
    std::function<void(const QString &)> onEntry;
    void InsertEntry(const QString &entry) override
    {
        entries.prepend(entry);
        if (onEntry)
            onEntry(entry);
    }
};

// Counts the entries and their characters and keeps none (benchmarks, fuzzing).
class TCountingLog final : public ILog {
public:
    qint64 entries = 0;
    qint64 chars = 0;
    void InsertEntry(const QString &entry) override
    {
        ++entries;
        chars += entry.size();
    }
};

// Every traffic event, in the order told.
class TRecordingTraffic final : public ITrafficObserver {
public:
    QList<TTrafficEvent> events;
    void TrafficEvent(const TTrafficEvent &event) override { events.append(event); }
};

// Records the calls the popup dispatch makes, one readable line each.
class TRecordingHost final : public IPopupHost {
public:
    QStringList calls;
    void SetStationFields(PopupKind kind, const QString &name, const QString &fleet,
                          const QString &ident) override
    {
        calls << QStringLiteral("fields %1 %2|%3|%4").arg(int(kind)).arg(name, fleet, ident);
    }
    void SetCallDecodeTo(const QString &name2, const QString &fleet2, const QString &ident2) override
    {
        calls << QStringLiteral("to %1|%2|%3").arg(name2, fleet2, ident2);
    }
    void SetStatusText(const QString &text) override { calls << QStringLiteral("statustext ") + text; }
    void ClearMessageMemo() override { calls << QStringLiteral("clearmemo"); }
    void AppendMessageText(const QString &text) override { calls << QStringLiteral("append ") + text; }
    void SetPttIdCaption(const QString &caption) override { calls << QStringLiteral("caption ") + caption; }
    void ShowPopup(PopupKind kind) override { calls << QStringLiteral("show %1").arg(int(kind)); }
    void StartEmergency() override { calls << QStringLiteral("emergency"); }
    bool emergencyRunning = false;
    bool EmergencyRunning() const override { return emergencyRunning; }
    void HoldStatus(const QString &name, const QString &fleet, const QString &ident,
                    const QString &text) override
    {
        calls << QStringLiteral("hold %1|%2|%3 %4").arg(name, fleet, ident, text);
    }
};

// Counts the popups shown and ignores everything else (benchmarks, fuzzing).
class TCountingHost final : public TNullPopupHost {
public:
    int shown = 0;
    void ShowPopup(PopupKind) override { ++shown; }
};
