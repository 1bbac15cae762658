#include "HistoryExport.h"

#include "SaveFile.h"

#include <QElapsedTimer>
#include <QSaveFile>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr qint64 WriteBackBytes = 4 << 20;
constexpr qint64 ProgressEveryMs = 200;

} // namespace

THistoryExport::THistoryExport(const QString &historyFile, const THistoryFilter &filter,
                               const QString &csvFile, TCsvCells cells, QObject *parent)
    : QObject(parent), historyFile_(historyFile), filter_(filter), csvFile_(csvFile), cells_(cells)
{
}

THistoryExport::~THistoryExport()
{
    cancel_.store(true);
    if (thread_.joinable())
        thread_.join();
}

void THistoryExport::Start()
{
    if (!thread_.joinable())
        thread_ = std::thread([this] { Run(); });
}

void THistoryExport::Run()
{
    qint64 rows = -1;
    QString failure;
    bool cancelled = false;
    // The lowest priority: on a machine with two cores the export must not take the
    // CPU from the threads that read and decode frames.
    ::setpriority(PRIO_PROCESS, pid_t(::syscall(SYS_gettid)), 19);
    try {
        // Made on this thread: a connection belongs to the thread that opened it.
        THistoryQuery query(historyFile_);
        QSaveFile out(csvFile_);
        if (!out.open(QIODevice::WriteOnly)) {
            failure = QStringLiteral("%1 cannot be written: %2").arg(csvFile_, out.errorString());
        } else {
            int shown = -1;
            QElapsedTimer sinceShown;
            qint64 started = 0; // bytes handed to the disk so far
            try {
                rows = query.ExportCsv(filter_, out, cells_, [&](int permille) {
                    // A few updates a second: each is a repaint on the user-interface thread.
                    if (permille != shown && (permille == 1000 || !sinceShown.isValid() ||
                                              sinceShown.elapsed() >= ProgressEveryMs)) {
                        emit Progress(shown = permille);
                        sinceShown.start();
                    }
                    // A hundred megabytes of dirty pages make the kernel hold up every
                    // writer of the process, the console's log and history included:
                    // start the write-back of each few megabytes as they come.
                    if (out.pos() - started >= WriteBackBytes && out.flush()) {
                        ::sync_file_range(out.handle(), started, out.pos() - started, SYNC_FILE_RANGE_WRITE);
                        started = out.pos();
                    }
                    return !cancel_.load();
                });
                // A full disk shows only here: QSaveFile would rename an empty file over the old one.
                const QString reason = FinishSaveFile(out);
                if (!reason.isEmpty())
                    failure = QStringLiteral("%1 cannot be written: %2").arg(csvFile_, reason);
            } catch (const EHistoryCancelled &) {
                out.cancelWriting();
                cancelled = true;
            } catch (const EHistoryWriteError &error) {
                out.cancelWriting();
                failure =
                    QStringLiteral("%1 cannot be written: %2").arg(csvFile_, QString::fromUtf8(error.what()));
            }
        }
    } catch (const EHistoryError &error) {
        failure = QString::fromUtf8(error.what());
    }
    emit Finished(failure.isEmpty() && !cancelled ? rows : -1, failure, cancelled);
}
