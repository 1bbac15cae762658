#include "Application.h"
#include "Console.h"
#include "ConsoleMessageBox.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QMainWindow>
#include <QTimer>
#include <cstdio>
#include <cstring>

namespace {

void PrintHelp()
{
    std::fputs("Usage: corvalink-demo [--position NAME]\n"
               "\n"
               "The Corvalink Console: runs a fleet of two-way radios through the radio on the\n"
               "serial port. It reads CorvalinkDemo.ini, User.DB and Status.db from the working\n"
               "directory and opens the port named there (COM1..COM4: an entry of that name in\n"
               "the working directory, usually a link to the device, else /dev/ttyS0..3).\n"
               "\n"
               "  --help               show this text\n"
               "  --version            show the version\n"
               "  --position NAME      a control-room position: no port of its own; the radio\n"
               "                       is followed through the broker named in\n"
               "                       CorvalinkPreferences.ini [Bus] (see README)\n"
               "  --benchmark-startup  start as usual, print the milliseconds from the start of\n"
               "                       the program to the main window's first paint, and end\n"
               "                       (nothing is saved)\n",
               stdout);
}

// For --benchmark-startup: the first paint of the main window is the moment the
// operator sees the console.
class TFirstPaint final : public QObject {
public:
    explicit TFirstPaint(const QElapsedTimer &clock) : clock_(clock) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            std::printf("main window shown after %.1f ms\n", double(clock_.nsecsElapsed()) / 1e6);
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer &clock_;
    bool seen_ = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer startClock;
    startClock.start();
    bool benchmarkStartup = false;
    QString position;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--position") == 0) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                std::fputs("corvalink-demo: --position needs a name\n", stderr);
                return 2;
            }
            position = QString::fromLocal8Bit(argv[++i]);
            continue;
        }
        if (std::strcmp(argv[i], "--benchmark-startup") == 0) {
            benchmarkStartup = true;
            continue;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintHelp();
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("corvalink-demo " CORVALINK_VERSION_TEXT);
            return 0;
        }
    }

    TApplication app(argc, argv);
    InstallConsoleMessageBox();

    try {
        CreateConsoleWindows(position);
    } catch (...) {
        // A settings or table file that cannot be used: say which, and end.
        app.ShowException(std::current_exception());
        return 0;
    }

    if (!Console->EndRequested()) {
        TFirstPaint firstPaint(startClock);
        if (benchmarkStartup)
            Console->Window()->installEventFilter(&firstPaint);
        Console->Window()->show();
        app.exec();
    }
    DeleteConsoleWindows();
    return 0;
}
