// A directory file up to the size limit, read, planned and shown in the preview:
// the time it takes and the memory it costs. Each case runs in a child process of
// its own so that its peak resident size is its own.
#include "ConsoleFiles.h"
#include "DirectoryCsv.h"
#include "ImportPlan.h"
#include "ImportPreview.h"
#include "TableFixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct TCase {
    const char *name;
    bool users;
    std::function<QByteArray()> make;
};

QByteArray Fill(const QByteArray &head, const std::function<QByteArray(int)> &line)
{
    QByteArray out = head;
    for (int i = 0;; ++i) {
        const QByteArray next = line(i);
        if (next.isEmpty() || out.size() + next.size() > MaxDirectoryFileSize)
            return out;
        out += next;
    }
}

long StatusKb(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// The peak resident size from now on (the kernel's high-water mark, reset).
void ResetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

void Run(const TCase &c, const QDir &dir)
{
    const TTableDef &def = c.users ? UserTableDef() : StatusTableDef();
    const QString csv = dir.filePath(QStringLiteral("in.csv"));
    {
        QFile f(csv);
        const QByteArray bytes = c.make();
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write");
    }
    const QString table = CopySample(c.users ? UserFileName : StatusFileName, dir);
    ResetPeak();
    const long baseKb = StatusKb("VmRSS:");
    QElapsedTimer clock;
    clock.start();
    QString outcome;
    try {
        const QList<TCsvRecord> records = ReadDirectoryFile(csv, def);
        TTable t(table, def);
        const QList<TTableRowTexts> current = CurrentRows(t);
        TImportPreviewForm preview(
            [&](const TImportOptions &o) { return PlanImport(def, current, records, csv, o); }, def);
        preview.show();
        QApplication::processEvents();
        outcome = QStringLiteral("previewed, %1 rows").arg(preview.Plan().rows.size());
    } catch (const std::exception &e) {
        outcome =
            QStringLiteral("refused: ") + QString::fromUtf8(e.what()).section(QLatin1Char('"'), 2).trimmed();
    }
    const qint64 ms = clock.elapsed();
    std::printf("| %-44s | %6lld ms | %6ld MB | %s |\n", c.name, static_cast<long long>(ms),
                (StatusKb("VmHWM:") - baseKb) / 1024, qPrintable(outcome.left(70)));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::vector<TCase> cases{
        {"users: 8 MB of short lines (1.4M)", true,
         [] { return Fill("Name,Fleet,Ident\n", [](int) { return QByteArray("a,1,2\n"); }); }},
        {"users: 1,000 records, 8 KB names", true,
         [] {
             return Fill("Name,Fleet,Ident\n", [](int i) {
                 return i < 1000
                            ? QByteArray(8000, 'n') + ",110," + QByteArray::number(1000 + i % 4000) + "\n"
                            : QByteArray();
             });
         }},
        {"users: 8 MB of commas on one line", true,
         [] { return QByteArray("Name,Fleet,Ident\n" + QByteArray(MaxDirectoryFileSize - 20, ',')); }},
        {"users: one quoted field of 8 MB", true,
         [] {
             return QByteArray("Name,Fleet,Ident\n\"" + QByteArray(MaxDirectoryFileSize - 30, 'q') +
                               "\",110,1100\n");
         }},
        {"statuses: 65,536 records, 8 MB", false,
         [] {
             return Fill("No.,Text\n", [](int i) {
                 return i < 65536 ? QByteArray::number(i - 32768) + "," + QByteArray(110, 't') + "\n"
                                  : QByteArray();
             });
         }},
        {"statuses: 65,536 malformed lines", false,
         [] {
             return Fill("No.,Text\n", [](int i) {
                 return i < 65536 ? "x" + QByteArray::number(i) + "," + QByteArray(110, 't') + "\n"
                                  : QByteArray();
             });
         }},
        {"statuses: 8 MB of short lines (1.6M)", false,
         [] { return Fill("No.,Text\n", [](int) { return QByteArray("1,a\n"); }); }},
    };
    std::printf("| case | time | peak above start | outcome |\n|---|---|---|---|\n");
    std::fflush(stdout);
    // One case in this process (for a debugger): its number.
    if (argc > 1) {
        QApplication app(argc, argv);
        QTemporaryDir dir;
        Run(cases.at(std::size_t(std::atoi(argv[1]))), QDir(dir.path()));
        return 0;
    }
    for (const TCase &c : cases) {
        const pid_t child = fork();
        if (child == 0) {
            QApplication app(argc, argv);
            QTemporaryDir dir;
            Run(c, QDir(dir.path()));
            std::_Exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            std::printf("| %-44s | failed: status %d |\n", c.name, status);
        std::fflush(stdout);
    }
    return 0;
}
