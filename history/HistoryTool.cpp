// corvalink-history: the traffic history for scripts.
#include "ConsoleFiles.h"
#include "HistoryDatabase.h"
#include "HistoryQuery.h"
#include "SaveFile.h"

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <cstdio>
#include <optional>
#include <sys/stat.h>

namespace {

const char *const Usage =
    "Usage: corvalink-history export [--since DATE] [--until DATE] [--station X] [--kind K]\n"
    "                                [--history FILE] [--raw] --csv FILE\n"
    "\n"
    "Writes the console's traffic history (history.db in the working directory) as CSV,\n"
    "oldest first, with a header row; the same CSV as the History window's export.\n"
    "\n"
    "  --since DATE     from DATE on: YYYY-MM-DD (local midnight) or YYYY-MM-DDTHH:MM[:SS]\n"
    "  --until DATE     up to and including the day YYYY-MM-DD, or before YYYY-MM-DDTHH:MM[:SS]\n"
    "  --station X      a name or part of it, FLEET-IDENT, or one Fleet or Ident number\n"
    "  --kind K         call, call end, status, status request, short message, long message,\n"
    "                   PTT ID, call decode, acknowledgement, emergency acknowledged,\n"
    "                   port lost, port back, warning\n"
    "  --history FILE   read FILE instead of history.db\n"
    "  --raw            cells as stored; without it a cell beginning with = + - @ TAB or CR\n"
    "                   gets a leading ' so that spreadsheets take it for text\n"
    "  --csv FILE       write to FILE; - writes to standard output\n"
    "\n"
    "Exit status: 0 done, 1 the history or the output could not be used, 2 wrong usage.\n";

void Error(const QString &text)
{
    std::fprintf(stderr, "corvalink-history: %s\n", text.toLocal8Bit().constData());
}

// A day means its local midnight (until: the next one); a time means itself.
std::optional<QDateTime> ParseMoment(const QString &text, bool endOfDay)
{
    const QDate day = text.size() == 10 ? QDate::fromString(text, Qt::ISODate) : QDate();
    if (day.isValid())
        return QDateTime(endOfDay ? day.addDays(1) : day, QTime(0, 0));
    const QDateTime moment = QDateTime::fromString(text, Qt::ISODate);
    if (moment.isValid())
        return moment;
    return std::nullopt;
}

// Writes the CSV where the operator asked: standard output for "-", a device or a
// FIFO in place (replacing /dev/null or a pipe's name with a plain file would break
// the system or the reader), anything else through a temporary file that replaces
// the old one only when every byte reached the disk. Nothing when it fails.
std::optional<qint64> Export(THistoryQuery &query, const THistoryFilter &filter, TCsvCells cells,
                             const QString &csvFile)
{
    const QByteArray path = QFile::encodeName(csvFile);
    struct stat st {};
    const bool exists = csvFile != QStringLiteral("-") && ::stat(path.constData(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        Error(QStringLiteral("%1 is a directory; --csv needs a file name").arg(csvFile));
        return std::nullopt;
    }
    // /dev/stdout and /proc/self/fd/N may lead to a plain file the shell opened.
    const bool inPlace = csvFile == QStringLiteral("-") ||
                         (exists && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) ||
                         csvFile.startsWith(QStringLiteral("/dev/")) ||
                         csvFile.startsWith(QStringLiteral("/proc/"));
    const QString shown = csvFile == QStringLiteral("-") ? QStringLiteral("standard output") : csvFile;
    if (inPlace) {
        QFile out;
        const bool open =
            csvFile == QStringLiteral("-")
                ? out.open(stdout, QIODevice::WriteOnly)
                : (out.setFileName(csvFile), out.open(QIODevice::WriteOnly | QIODevice::Append));
        if (!open) {
            Error(QStringLiteral("%1: %2").arg(shown, out.errorString()));
            return std::nullopt;
        }
        qint64 rows = 0;
        bool written = true;
        try {
            rows = query.ExportCsv(filter, out, cells);
        } catch (const EHistoryWriteError &) {
            written = false;
        }
        if (!written || out.error() != QFileDevice::NoError || !out.flush()) {
            Error(QStringLiteral("%1: %2").arg(shown, out.errorString()));
            return std::nullopt;
        }
        return rows;
    }
    QSaveFile out(csvFile);
    if (!out.open(QIODevice::WriteOnly)) {
        Error(QStringLiteral("%1: %2").arg(csvFile, out.errorString()));
        return std::nullopt;
    }
    qint64 rows = 0;
    QString failure;
    try {
        rows = query.ExportCsv(filter, out, cells);
    } catch (const EHistoryWriteError &error) {
        failure = QString::fromUtf8(error.what());
    }
    // Gives the system's reason for a failed write too, and discards the temporary file.
    const QString finish = failure.isEmpty() ? FinishSaveFile(out) : (out.cancelWriting(), QString());
    if (failure.isEmpty())
        failure = finish;
    if (!failure.isEmpty()) {
        Error(QStringLiteral("%1: %2").arg(csvFile, failure));
        return std::nullopt;
    }
    return rows;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (args.isEmpty() || args.takeFirst() != QStringLiteral("export")) {
        std::fputs(Usage, stderr);
        return 2;
    }

    THistoryFilter filter;
    QString historyFile = HistoryFileName;
    QString csvFile;
    TCsvCells cells = TCsvCells::Neutralised;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &option = args[i];
        if (option == QStringLiteral("--raw")) {
            cells = TCsvCells::Raw;
            continue;
        }
        if (i + 1 >= args.size()) {
            Error(QStringLiteral("%1 needs a value (or is not an option)").arg(option));
            return 2;
        }
        const QString value = args[++i];
        if (option == QStringLiteral("--since") || option == QStringLiteral("--until")) {
            const bool until = option == QStringLiteral("--until");
            const auto moment = ParseMoment(value, until);
            if (!moment) {
                Error(QStringLiteral("%1: '%2' is not a date (YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS)")
                          .arg(option, value));
                return 2;
            }
            (until ? filter.until : filter.since) = *moment;
        } else if (option == QStringLiteral("--station")) {
            filter.station = value;
        } else if (option == QStringLiteral("--kind")) {
            filter.kind = TrafficKindFromText(value);
            if (!filter.kind) {
                Error(QStringLiteral("--kind: '%1' is not a kind of entry").arg(value));
                return 2;
            }
        } else if (option == QStringLiteral("--history")) {
            historyFile = value;
        } else if (option == QStringLiteral("--csv")) {
            csvFile = value;
        } else {
            Error(QStringLiteral("unknown option %1").arg(option));
            return 2;
        }
    }
    if (csvFile.isEmpty()) {
        Error(QStringLiteral("--csv FILE is required"));
        return 2;
    }

    try {
        THistoryQuery query(historyFile);
        const std::optional<qint64> rows = Export(query, filter, cells, csvFile);
        if (!rows)
            return 1;
        if (csvFile != QStringLiteral("-"))
            std::fprintf(stderr, "%lld rows written to %s\n", static_cast<long long>(*rows),
                         csvFile.toLocal8Bit().constData());
    } catch (const EHistoryError &error) {
        Error(QString::fromUtf8(error.what()));
        return 1;
    }
    return 0;
}
