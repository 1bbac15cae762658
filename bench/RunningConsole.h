#pragma once

// The real console program for the benchmarks that measure the process itself:
// started offscreen in a scratch directory with the sample tables, a settings file
// and COM1 linked to a pseudo-terminal; read from /proc while it runs.

#include "ConsoleHarness.h"
#include "ScratchDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

inline QString LoadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

// A scratch working directory for one console: tables, CorvalinkDemo.ini, COM1.
class TConsoleDir final {
public:
    explicit TConsoleDir(unsigned popupFlags)
    {
        if (const QString error = dir_.Prepare(TScratchDir::Settings(1, popupFlags), {1}); !error.isEmpty())
            Fail(qPrintable(error));
    }

    // A fresh line for each console: a console killed without closing its port
    // leaves the line exclusive.
    void NewLine()
    {
        if (const QString error = dir_.Replug(1); !error.isEmpty())
            Fail(qPrintable(error));
    }

    QString Path() const { return dir_.Path(); }
    TRadioLine &Line() { return *dir_.Line(1); }

    [[noreturn]] static void Fail(const char *what)
    {
        std::fprintf(stderr, "%s\n", what);
        std::exit(1);
    }

private:
    TScratchDir dir_;
};

// One run of corvalink-demo in such a directory.
class TConsoleProcess final {
public:
    TConsoleProcess(TConsoleDir &dir, const QStringList &arguments = {}) : dir_(dir)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process_.setProcessEnvironment(env);
        process_.setWorkingDirectory(dir.Path());
        // CORVALINK_BENCH_WRAP runs the console under another program, e.g.
        // "valgrind --tool=callgrind" for a profile of the same traffic.
        QStringList wrap =
            env.value(QStringLiteral("CORVALINK_BENCH_WRAP")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        wrap << QStringLiteral(CORVALINK_DEMO_PATH) << arguments;
        process_.setProgram(wrap.takeFirst());
        process_.setArguments(wrap);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        // Nobody reads the console's warnings (offscreen, every popup's raise()
        // draws one): a full pipe would stop the console at its next warning.
        process_.setStandardErrorFile(QProcess::nullDevice());
        clock_.start();
        process_.start();
        if (!process_.waitForStarted(10000))
            TConsoleDir::Fail("corvalink-demo did not start");
    }
    ~TConsoleProcess()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000)) {
                process_.kill();
                process_.waitForFinished(5000);
            }
        }
    }

    QProcess &Process() { return process_; }
    qint64 Pid() const { return process_.processId(); }
    // Nanoseconds since the program was started.
    qint64 Elapsed() const { return clock_.nsecsElapsed(); }

    // Waits until the console holds its line open (it opens the port while starting).
    bool WaitForPortOpen(int timeoutMs = 20000)
    {
        const QString slave = dir_.Line().SlavePath();
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs && process_.state() == QProcess::Running) {
            const QDir fds(QStringLiteral("/proc/%1/fd").arg(Pid()));
            for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
                if (QFile::symLinkTarget(fds.filePath(fd)) == slave)
                    return true;
            QThread::msleep(5);
        }
        return false;
    }

    // CPU time of the process in nanoseconds: the sum over its threads, or the
    // process's own count where that is more (it keeps threads that have ended,
    // but only in clock ticks).
    qint64 CpuNs() const
    {
        qint64 sum = 0;
        for (const auto &thread : ThreadCpuNs())
            sum += thread.second;
        return std::max(sum, StatCpuNs(QStringLiteral("/proc/%1").arg(Pid())));
    }

    // CPU time of each thread: name and nanoseconds.
    QList<QPair<QString, qint64>> ThreadCpuNs() const
    {
        QList<QPair<QString, qint64>> threads;
        const QDir tasks(QStringLiteral("/proc/%1/task").arg(Pid()));
        for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
            QString name =
                comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
            threads.append({tid + QLatin1Char(' ') + name, TaskCpuNs(tasks.filePath(tid))});
        }
        return threads;
    }

    // A line of /proc/PID/status in kB (VmRSS, VmHWM).
    qint64 StatusKb(const char *field) const
    {
        QFile file(QStringLiteral("/proc/%1/status").arg(Pid()));
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray key = QByteArray(field) + ':';
        for (const QByteArray &line : file.readAll().split('\n'))
            if (line.startsWith(key))
                return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
        return -1;
    }

    // Waits until the process has used no more than idleNs of CPU in each of two
    // consecutive windows of windowMs: the console has worked off what came.
    void WaitIdle(qint64 idleNs, int windowMs = 500, int timeoutMs = 120000)
    {
        QElapsedTimer t;
        t.start();
        int quiet = 0;
        qint64 before = CpuNs();
        while (quiet < 2 && t.elapsed() < timeoutMs) {
            QThread::msleep(windowMs);
            const qint64 now = CpuNs();
            quiet = now - before <= idleNs ? quiet + 1 : 0;
            before = now;
        }
    }

private:
    static qint64 TaskCpuNs(const QString &dir)
    {
        // schedstat: nanoseconds on the CPU; stat's clock ticks where it is missing.
        QFile sched(dir + QStringLiteral("/schedstat"));
        if (sched.open(QIODevice::ReadOnly)) {
            bool ok = false;
            const qint64 ns = sched.readAll().split(' ').value(0).toLongLong(&ok);
            if (ok)
                return ns;
        }
        return StatCpuNs(dir);
    }

    static qint64 StatCpuNs(const QString &dir)
    {
        QFile stat(dir + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 13)
            return 0;
        const double tick = 1e9 / double(sysconf(_SC_CLK_TCK));
        return qint64((fields[11].toDouble() + fields[12].toDouble()) * tick);
    }

    TConsoleDir &dir_;
    QProcess process_;
    QElapsedTimer clock_;
};
