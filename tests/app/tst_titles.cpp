// What the title bars say, read from the X server as a window manager reads them
// (WM_NAME and _NET_WM_NAME), not from windowTitle(): the toolkit may add to a
// caption on its way to the screen. Runs on a private Xvfb display.

#include "Application.h"
#include "Console.h"
#include "ConsoleFixture.h"
#include "ConsoleMessageBox.h"
#include "ConsoleSession.h"
#include "End.h"
#include "ErrorReport.h"
#include "SendCommand.h"
#include "Speech.h"
#include "Speechpopup.h"
#include "Statuspopup.h"

#include <QApplication>
#include <QDialog>
#include <QMainWindow>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Xvfb on a display number of its own choosing (-displayfd), ended at exit.
class TXvfb final {
public:
    TXvfb()
    {
        // Another server going away at the same moment can take the display's
        // socket with it: only a display that answers counts.
        for (int attempt = 0; attempt < 3 && display_.isEmpty(); ++attempt) {
            Start();
            const std::string check = "xprop -display " + display_.toStdString() + " -root >/dev/null 2>&1";
            if (!display_.isEmpty() && std::system(check.c_str()) != 0) {
                Stop();
                display_.clear();
            }
        }
    }
    ~TXvfb() { Stop(); }
    QString Display() const { return display_; }

private:
    void Start()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            const int devnull = ::open("/dev/null", O_WRONLY);
            dup2(devnull, 2);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
                   "tcp", static_cast<char *>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char buf[32] = {};
        const ssize_t n = pid_ > 0 ? read(fds[0], buf, sizeof buf - 1) : -1;
        close(fds[0]);
        if (n > 0)
            display_ = QStringLiteral(":%1").arg(QString::fromLatin1(buf, int(n)).trimmed());
    }
    void Stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

    pid_t pid_ = -1;
    QString display_;
};

// The title the X server holds for a window: both the old and the UTF-8 property.
QStringList TitleOnScreen(QWidget *window)
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window->winId()),
                                          QStringLiteral("WM_NAME"), QStringLiteral("_NET_WM_NAME")});
    if (!xprop.waitForFinished(10000))
        return {QStringLiteral("<xprop did not answer>")};
    QStringList titles;
    // WM_NAME(STRING) = "Voice Call"
    for (const QString &line : QString::fromUtf8(xprop.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        const int q = line.indexOf(QLatin1String("= \""));
        if (q >= 0 && line.endsWith(QLatin1Char('"')))
            titles << line.mid(q + 3, line.size() - q - 4);
        else if (!line.trimmed().isEmpty())
            titles << line;
    }
    return titles;
}

} // namespace

class TstTitles : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("no X display could be started (Xvfb missing)");
        if (QStandardPaths::findExecutable(QStringLiteral("xprop")).isEmpty())
            QSKIP("xprop missing");
        QVERIFY(dir.Prepare("COM=1\r\nPOPUP=0x001F\r\n", {1}));
        InstallConsoleMessageBox();
        CreateConsoleWindows();
        QVERIFY(Console && !Console->EndRequested());
    }
    void cleanupTestCase() { DeleteConsoleWindows(); }

    void titleBarShowsCaption_data();
    void titleBarShowsCaption();

private:
    TConsoleDir dir;
};

void TstTitles::titleBarShowsCaption_data()
{
    using TShow = std::function<QWidget *()>;
    QTest::addColumn<TShow>("show");
    QTest::addColumn<QString>("caption");
    QTest::newRow("main window") << TShow([] { return static_cast<QWidget *>(Console->Window()); })
                                 << "Corvalink Demonstration Software";
    QTest::newRow("voice call") << TShow([] { return static_cast<QWidget *>(SpeechForm); }) << "Voice Call";
    QTest::newRow("voice popup") << TShow([] { return static_cast<QWidget *>(SpeechPopupForm); })
                                 << "Voice Call From";
    QTest::newRow("status popup") << TShow([] { return static_cast<QWidget *>(StatusPopupForm); })
                                  << "Status Call From";
    // Modal windows: opened for real; their title is read inside their own loop.
    QTest::newRow("exit question") << TShow([] {
        Console->Window()->close();
        return nullptr;
    }) << "End";
    QTest::newRow("warning box") << TShow([] {
        GuardedCall([] {
            SendCommand(Console->Session().CommandContext(), 'B', QStringLiteral("1"),
                        QStringLiteral("1000"));
        });
        return nullptr;
    }) << "Warning";
}

void TstTitles::titleBarShowsCaption()
{
    using TShow = std::function<QWidget *()>;
    QFETCH(TShow, show);
    QFETCH(QString, caption);
    QStringList seen;
    // A modal window is read and closed from a timer inside its loop.
    QTimer reader;
    connect(&reader, &QTimer::timeout, this, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || !QTest::qWaitForWindowExposed(modal))
            return;
        reader.stop();
        seen = TitleOnScreen(modal);
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
    });
    reader.start(20);
    if (QWidget *window = show()) {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        seen = TitleOnScreen(window);
    }
    QCOMPARE(seen, (QStringList{caption, caption}));
}

int main(int argc, char **argv)
{
    TXvfb xvfb;
    if (!xvfb.Display().isEmpty()) {
        qputenv("DISPLAY", xvfb.Display().toLocal8Bit());
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
        std::fputs("Xvfb could not be started; the test is skipped\n", stderr);
    }
    TApplication app(argc, argv);
    TstTitles test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_titles.moc"
