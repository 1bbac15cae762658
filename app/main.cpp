#include "Main.h"

#include "Application.h"
#include "Console.h"
#include "ConsoleMessageBox.h"

#include <cstdio>
#include <cstring>

namespace {

void PrintHelp()
{
    std::fputs("Usage: corvalink-demo\n"
               "\n"
               "The Corvalink Console: runs a fleet of two-way radios through the radio on the\n"
               "serial port. It reads CorvalinkDemo.ini, User.DB and Status.db from the working\n"
               "directory and opens the port named there (COM1..COM4: an entry of that name in\n"
               "the working directory, usually a link to the device, else /dev/ttyS0..3).\n"
               "\n"
               "  --help     show this text\n"
               "  --version  show the version\n",
               stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintHelp();
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("corvalink-demo 1.02");
            return 0;
        }
    }

    TApplication app(argc, argv);
    TApplication::setApplicationName(QStringLiteral("corvalink-demo"));
    TApplication::setApplicationDisplayName(QStringLiteral("Corvalink Demonstration Software"));
    TApplication::setDesktopFileName(QStringLiteral("corvalink-demo"));
    InstallConsoleMessageBox();

    try {
        CreateConsoleWindows();
    } catch (...) {
        // A settings or table file that cannot be used: say which, and end.
        app.ShowException(std::current_exception());
        return 0;
    }

    if (!MainForm->EndRequested()) {
        MainForm->show();
        app.exec();
    }
    DeleteConsoleWindows();
    return 0;
}
