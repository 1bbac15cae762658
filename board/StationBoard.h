#pragma once

#include "Checkins.h"
#include "TrafficEvent.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QTimer>
#include <functional>
#include <optional>
#include <set>
#include <vector>

// A user directory entry as the board takes it.
struct TDirectoryStation {
    QString name;
    int fleet = 0;
    int ident = 0;
};

struct TOpenEmergency {
    int status = 0;
    QString text;
    bool operator==(const TOpenEmergency &) const = default;
};

// What the radio's traffic says about a station: the part the history can give back.
struct TStationTraffic {
    TStationKey key;
    QString heardName; // the name the last frame from it carried (not the number form)
    std::optional<int> status;
    QString statusText;
    bool statusKnown = false;
    QDateTime statusTime;
    QDateTime lastHeard;
    QString lastMessage;
    QDateTime messageTime;
    QList<TOpenEmergency> emergencies; // not yet acknowledged, oldest first

    bool operator==(const TStationTraffic &) const = default;
};

// A station not heard within its check-in time.
struct TOverdue {
    TStationKey key;
    QString label;       // "Name (101-1001)" or "101-1001"
    int minutes = 0;     // the check-in time
    QDateTime lastHeard; // invalid when not heard since the rule was set
    QDateTime deadline;  // when it fell due
    QDateTime raised;    // when the board noticed
    QString downtime;    // "console was down from .. to ..", when that is why
};
Q_DECLARE_METATYPE(TOverdue)

// What the alarm list says of an overdue station: its rule, when it fell due,
// when it was last heard, and the console's down time when that is why.
QString OverdueAlarmText(const TOverdue &overdue);

// One row per station in the user directory and per station heard, fed with the
// radio's events (never log text) and the directory's names. Only the radio's
// events move "last heard" and so the check-in timers; a directory edit names a
// row and nothing else. Widget-free: the Stations window and any other view sit on
// top of it.
class TStationBoard final : public QAbstractTableModel, public ITrafficObserver {
    Q_OBJECT
public:
    enum Column {
        NameColumn,
        StationColumn,
        StatusColumn,
        StatusTimeColumn,
        HeardColumn,
        AgeColumn,
        MessageColumn,
        CheckinColumn,
        AlarmColumn,
        ColumnCount
    };
    enum Role {
        SortRole = Qt::UserRole, // a value that sorts as the column means (times, numbers)
        AlarmRole,               // true while an emergency or an overdue is open: shown in red
        KeyRole,                 // the station as fleet * 10000 + ident
    };
    using TClock = std::function<QDateTime()>;

    // The clock gives UTC now (the system clock when empty); the start of this run
    // is taken from it here.
    explicit TStationBoard(QObject *parent = nullptr, TClock clock = {});
    ~TStationBoard() override;

    // ITrafficObserver: frames heard from stations; everything else is ignored.
    void TrafficEvent(const TTrafficEvent &event) override;
    // The user directory as it is now: names rows, adds its stations, drops rows of
    // stations that left it and were never heard. Never touches a timer.
    void SetDirectory(const QList<TDirectoryStation> &stations);
    // What history.db says, once at start-up: merged in, the newer of each field
    // wins; emergencies left open come before any raised since.
    void Rebuild(const QList<TStationTraffic> &stations);

    // Reads the check-in file (rules, the down time) and keeps it up to date from
    // now on. Returns a message when it could not be read (defaults are used).
    QString OpenCheckinFile(const QString &fileName);
    const TCheckinSettings &Checkins() const { return checkins_; }
    // New rules: saved (if a file is open) and every deadline worked out again.
    void SetCheckins(const TCheckinSettings &settings);
    // The clock it counts by was set by ms (a control-room position learning the
    // radio owner's): this run's start moves with it and every deadline is worked
    // out again.
    void ClockMoved(qint64 ms);
    // Checks the deadlines now: the timer calls it, and a test after moving its clock.
    void CheckDeadlines();
    // The next deadline the timer waits for (invalid when none).
    QDateTime NextDeadline() const;

    // Ages ("3 min ago") repaint once a second only while someone watches (a window
    // shown); each watcher calls this with true once and false once.
    void WatchAges(bool watching);
    bool AgesTicking() const { return ageTimer_.isActive(); }
    // Row changes closer together than this are told to views together (0: each
    // at once). 50 ms by default: a busy line repaints a view 20 times a second.
    void SetUpdateDelay(int ms);

    // QAbstractItemModel
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Lookups for views, tests and the rebuild's comparison.
    int RowOf(TStationKey key) const;
    TStationKey KeyAt(int row) const { return rows_[std::size_t(row)].traffic.key; }
    const TStationTraffic &TrafficAt(int row) const { return rows_[std::size_t(row)].traffic; }
    QString NameAt(int row) const; // the shown name: directory, radio, else the numbers
    QString LabelAt(int row) const;
    bool InDirectory(int row) const { return rows_[std::size_t(row)].inDirectory; }
    const std::optional<TOverdue> &OverdueAt(int row) const { return rows_[std::size_t(row)].overdue; }
    QList<TStationTraffic> Traffic() const; // every row's traffic, in key order

    // "12 s ago", "4 min ago", "2 h 5 min ago", "3 days ago (2026-12-07)".
    static QString AgeText(const QDateTime &then, const QDateTime &now);

signals:
    void OverdueRaised(const TOverdue &overdue);
    // Heard again (heard is when), or its rule was lifted (heard invalid).
    void OverdueCleared(const TOverdue &overdue, const QDateTime &heard);
    // The check-in file could not be written; once until a write succeeds again.
    void CheckinProblem(const QString &message);

private:
    struct TRow {
        TStationTraffic traffic;
        QString directoryName;
        bool inDirectory = false;
        QDateTime deadline; // invalid without a rule
        std::optional<TOverdue> overdue;
        int dirtyFirst = -1, dirtyLast = -1; // columns changed and not yet told
    };

    QDateTime Now() const;
    int EnsureRow(TStationKey key);
    void Heard(TStationKey key, const QString &name, const QDateTime &time, const TTrafficEvent *event);
    void RowChanged(int row, int firstColumn, int lastColumn);
    void FlushUpdates();
    // The deadline of a row under the current rules; arms the timer.
    void Schedule(int row);
    void Unschedule(int row);
    void ArmTimer();
    void Raise(int row, const QDateTime &now, const QString &downtime = {});
    void Clear(int row, const QDateTime &heard);
    void SaveCheckinFile();
    void AgeTick();
    void StillAlive();
    QString TimeText(const QDateTime &time) const;
    // The local time held as a UTC value, to format without asking the zone again.
    QDateTime Local(const QDateTime &utc) const;
    static QString AgeWords(qint64 ms, const std::function<QDate()> &localDate);
    QString AlarmText(const TRow &row) const;
    QString CheckinText(const TRow &row) const;

    TClock clock_;
    QDateTime started_;
    QDateTime downFrom_; // the last run's end, when the check-in file knew it
    std::vector<TRow> rows_;
    QHash<TStationKey, int> index_;
    TCheckinSettings checkins_;
    QString checkinFile_;
    bool checkinFailed_ = false;
    std::set<std::pair<qint64, TStationKey>> deadlines_; // ms since 1970, station
    QTimer deadlineTimer_;
    QTimer ageTimer_;
    QTimer aliveTimer_;
    int ageWatchers_ = 0;
    QTimer updateTimer_;
    int updateDelayMs_ = 50;
    std::vector<int> dirtyRows_;
    mutable QHash<qint64, int> localOffsets_; // hour since 1970 -> seconds east of UTC
};
