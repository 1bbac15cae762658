// Faults of the files and the line that need no windows: saves and posts cut by
// a killed process, table and settings files that are missing, read-only,
// locked or foreign, and the longest messages in both directions.
#include "BoxRecorder.h"
#include "Decoder.h"
#include "Frame.h"
#include "FrameIntake.h"
#include "MemoryTable.h"
#include "PortAdapters.h"
#include "RadioLine.h"
#include "Recorders.h"
#include "SampleTables.h"
#include "ScratchDir.h"
#include "SendCommand.h"
#include "Settings.h"
#include "Table.h"
#include "Zcomm.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray FileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Reads exactly size bytes from fd, giving up at the deadline or at end of file.
bool ReadFull(int fd, void *buffer, size_t size, QDeadlineTimer deadline)
{
    auto *p = static_cast<char *>(buffer);
    while (size > 0) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, int(deadline.remainingTime())) <= 0)
            return false;
        const ssize_t n = ::read(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

// A forked child: runs body, which reports through the pipe's write end, and
// never returns into the test framework.
struct Child {
    pid_t pid = -1;
    int fromChild = -1;

    template <typename Body> explicit Child(Body body)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            body(fds[1]);
            ::_exit(0);
        }
        ::close(fds[1]);
        fromChild = fds[0];
    }
    ~Child()
    {
        Kill();
        if (fromChild >= 0)
            ::close(fromChild);
    }
    // Kills the child (if it still runs) and reaps it; returns its wait status.
    int Kill()
    {
        int status = 0;
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            pid = -1;
        }
        return status;
    }
    int Wait()
    {
        int status = 0;
        if (pid > 0) {
            ::waitpid(pid, &status, 0);
            pid = -1;
        }
        return status;
    }
};

void Report(int fd, const QByteArray &text)
{
    const quint32 size = quint32(text.size());
    [[maybe_unused]] ssize_t n = ::write(fd, &size, sizeof size);
    n = ::write(fd, text.constData(), text.size());
}

QByteArray ReadReport(int fd)
{
    quint32 size = 0;
    const QDeadlineTimer deadline(30000);
    if (!ReadFull(fd, &size, sizeof size, deadline) || size > 65536)
        return "<no report>";
    QByteArray text(qsizetype(size), '\0');
    if (!ReadFull(fd, text.data(), size, deadline))
        return "<short report>";
    return text;
}

// What a fault did: the exception's message, or "" when there was none.
QString ErrorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what()).isEmpty() ? QStringLiteral("<empty message>")
                                                     : QString::fromUtf8(e.what());
    }
    return {};
}

// Opens the user table and posts one row: the console's first write to it.
QString OpenAndPost(const QString &file)
{
    return ErrorOf([&] {
        TTable users(file, UserTableDef());
        users.Append();
        users.SetFieldText(QStringLiteral("Name"), QStringLiteral("Added"));
        users.SetFieldText(QStringLiteral("Fleet"), QStringLiteral("200"));
        users.SetFieldText(QStringLiteral("Ident"), QStringLiteral("2000"));
        users.Post();
    });
}

using Line = TRadioDir;

QString LongText()
{
    // 4000 characters of readable text, line breaks included, ending in a letter
    // (trailing blanks and breaks are trimmed before sending).
    QString text;
    const QString words = QStringLiteral("Unit 7 to base: road closed at the north bridge, detour east.\r\n");
    while (text.size() < 4000)
        text += words;
    text.truncate(3999);
    text += u'Z';
    return text;
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT
    std::unique_ptr<TBoxRecorder> boxes_;
private slots:
    void initTestCase();
    void settingsSaveKilled();
    void tableRowsSurviveKill();
    void tableFileFaults_data();
    void tableFileFaults();
    void settingsFileFaults_data();
    void settingsFileFaults();
    void longMessageSentWhole();
    void longMessageReceivedWhole();
};

void TestFaults::initTestCase()
{
    // A message box would wait for an operator that is not there.
    boxes_ = std::make_unique<TBoxRecorder>();
}

void TestFaults::settingsSaveKilled()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(SettingsFileName);
    const QByteArray old = FormatSettings(1, 0x1F);
    WriteSettingsFile(file, old);
    // Large contents keep the write going long enough for kills to land inside it.
    const QByteArray a = FormatSettings(2, 0x3) + QByteArray(256 * 1024, 'a');
    const QByteArray b = FormatSettings(3, 0x7) + QByteArray(128 * 1024, 'b');

    QMap<QByteArray, int> seen;
    auto *random = QRandomGenerator::global();
    for (int round = 0; round < 30; ++round) {
        Child child([&](int out) {
            for (int i = 0;; ++i) {
                WriteSettingsFile(file, i % 2 ? b : a);
                const char done = 1;
                [[maybe_unused]] ssize_t n = ::write(out, &done, 1);
            }
        });
        QVERIFY(child.pid > 0);
        // Let a random number of saves complete, then kill at a random moment of the next.
        const int saves = int(random->bounded(3));
        for (int s = 0; s < saves; ++s) {
            char done = 0;
            QVERIFY(ReadFull(child.fromChild, &done, 1, QDeadlineTimer(30000)));
        }
        ::usleep(random->bounded(3000u));
        const int status = child.Kill();
        QVERIFY(WIFSIGNALED(status));

        const QByteArray now = FileBytes(file);
        QVERIFY2(now == old || now == a || now == b,
                 qPrintable(QStringLiteral("round %1: torn file of %2 bytes").arg(round).arg(now.size())));
        ++seen[now.left(7)];
    }
    // A kill inside a save leaves its temporary file behind: proof that kills landed
    // between the start of a write and the rename, not only between saves.
    const QStringList left =
        QDir(dir.path()).entryList({SettingsFileName + QStringLiteral(".*")}, QDir::Files);
    qInfo() << "settings after each kill (first bytes -> rounds):" << seen
            << "saves cut short:" << left.size();
    QVERIFY(!left.isEmpty());
}

void TestFaults::tableRowsSurviveKill()
{
    auto *random = QRandomGenerator::global();
    for (int round = 0; round < 4; ++round) {
        QTemporaryDir dir;
        const QString file = CopySampleTable(QStringLiteral("User.DB"), QDir(dir.path()));
        QVERIFY(!file.isEmpty());
        // The child posts rows until it is killed, reporting each one once Post returned.
        Child child([&](int out) {
            try {
                TTable users(file, UserTableDef());
                for (qint32 i = 0; i < 1000; ++i) {
                    users.Append();
                    users.SetFieldText(QStringLiteral("Name"), QStringLiteral("Unit %1").arg(i));
                    users.SetFieldText(QStringLiteral("Fleet"), QStringLiteral("200"));
                    users.SetFieldText(QStringLiteral("Ident"), QString::number(1000 + i));
                    users.Post();
                    [[maybe_unused]] ssize_t n = ::write(out, &i, sizeof i);
                }
            } catch (...) {
                ::_exit(3);
            }
        });
        QVERIFY(child.pid > 0);
        const qint32 killAfter = qint32(random->bounded(2, 12));
        qint32 last = -1;
        while (last < killAfter)
            QVERIFY2(ReadFull(child.fromChild, &last, sizeof last, QDeadlineTimer(30000)),
                     "child stopped posting");
        // The kill lands at a random point of a later post (not a wait for anything).
        ::usleep(random->bounded(20000u));
        QVERIFY(WIFSIGNALED(child.Kill()));
        // Posts reported before the kill but not yet read.
        qint32 more = 0;
        while (ReadFull(child.fromChild, &more, sizeof more, QDeadlineTimer(0)))
            last = more;

        TTable users(file, UserTableDef());
        const int sampleRows = 6;
        const int posted = users.RowCount() - sampleRows;
        // Every reported row is there; at most one more (posted, killed before reporting).
        QVERIFY2(posted == last + 1 || posted == last + 2,
                 qPrintable(QStringLiteral("%1 rows for %2 reported").arg(posted).arg(last + 1)));
        for (int i = 0; i < posted; ++i) {
            const int row = sampleRows + i;
            QCOMPARE(users.FieldText(row, users.FieldIndex(QStringLiteral("Name"))),
                     QStringLiteral("Unit %1").arg(i));
            QCOMPARE(users.FieldText(row, users.FieldIndex(QStringLiteral("Ident"))),
                     QString::number(1000 + i));
        }
    }
}

void TestFaults::tableFileFaults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("missing") << "missing";
    QTest::newRow("not SQLite") << "text";
    QTest::newRow("empty file") << "empty";
    QTest::newRow("a directory") << "directory";
    QTest::newRow("read-only") << "read-only";
    QTest::newRow("locked by another process") << "locked";
}

void TestFaults::tableFileFaults()
{
    QFETCH(QString, fault);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("User.DB"));
    if (fault == "text") {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("Name,Fleet,Ident\r\nBase,100,1000\r\n");
    } else if (fault == "empty") {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else if (fault == "directory") {
        QVERIFY(QDir().mkpath(file));
    } else if (fault != "missing") {
        QVERIFY(!CopySampleTable(QStringLiteral("User.DB"), QDir(dir.path())).isEmpty());
    }
    const bool existed = QFileInfo::exists(file);
    const QByteArray before = QFileInfo(file).isFile() ? FileBytes(file) : QByteArray();

    QString error;
    if (fault == "read-only") {
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        if (::geteuid() == 0) {
            // Root writes to any file: the attempt runs in a child without root's rights.
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                          QFile::ReadOther | QFile::ExeOther));
            const passwd *nobody = ::getpwnam("nobody");
            QVERIFY(nobody);
            Child child([&](int out) {
                if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)
                    Report(out, "<cannot drop root>");
                else
                    Report(out, OpenAndPost(file).toUtf8());
            });
            QVERIFY(child.pid > 0);
            error = QString::fromUtf8(ReadReport(child.fromChild));
            child.Wait();
            QVERIFY(!error.startsWith(u'<'));
        } else {
            error = OpenAndPost(file);
        }
    } else if (fault == "locked") {
        // Another process holds the file's exclusive lock for the whole attempt.
        Child holder([&](int out) {
            {
                QSqlDatabase db =
                    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
                db.setDatabaseName(file);
                QSqlQuery q(db);
                const bool locked = db.open() && q.exec(QStringLiteral("BEGIN EXCLUSIVE")) &&
                                    q.exec(QStringLiteral("UPDATE \"User\" SET \"Name\" = \"Name\""));
                Report(out, locked ? "locked" : "not locked");
                ::pause();
            }
        });
        QVERIFY(holder.pid > 0);
        QCOMPARE(ReadReport(holder.fromChild), QByteArray("locked"));
        error = OpenAndPost(file);
        holder.Kill();
    } else {
        error = OpenAndPost(file);
    }

    QVERIFY2(!error.isEmpty(), "the fault went unnoticed");
    QVERIFY2(error.contains(file), qPrintable("the error does not name the file: " + error));
    QCOMPARE(QFileInfo::exists(file), existed);
    if (QFileInfo(file).isFile())
        QCOMPARE(FileBytes(file), before);
}

void TestFaults::settingsFileFaults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("a directory") << "directory";
    QTest::newRow("missing") << "missing";
    QTest::newRow("empty") << "empty";
    QTest::newRow("binary") << "binary";
}

void TestFaults::settingsFileFaults()
{
    QFETCH(QString, fault);
    QTemporaryDir dir;
    const QString file = dir.filePath(SettingsFileName);
    QByteArray content;
    if (fault == "directory") {
        QVERIFY(QDir().mkpath(file));
    } else if (fault != "missing") {
        if (fault == "binary") {
            for (int i = 0; i < 512; ++i)
                content += char((i * 37 + 11) & 0xFF);
        }
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }

    TRecordingSelector port;
    TSettings settings(port);
    const QString error = ErrorOf([&] { settings.LoadSettings(file); });
    QVERIFY2(!error.isEmpty(), "the fault went unnoticed");
    QCOMPARE(port.calls, QStringList{}); // no port touched before the file was understood
    QCOMPARE(settings.CurrentComPort, 0);

    // The error names the file, whether the file could not be read or holds no number.
    QVERIFY2(error.contains(QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath())),
             qPrintable("the error does not name the file: " + error));

    if (fault == "directory")
        QVERIFY(QFileInfo(file).isDir());
    else if (fault == "missing")
        QVERIFY(!QFileInfo::exists(file));
    else
        QCOMPARE(FileBytes(file), content);
}

void TestFaults::longMessageSentWhole()
{
    Line line;
    QVERIFY(line.radio.IsValid());
    TZComm comm;
    comm.SetStopBits(TStopBits::_2bit);
    comm.OpenCommport();
    TZCommCommandPort port(&comm);
    TRecordingLog log;
    TMemoryTable users = TMemoryTable::Users();
    users.AddRow({"Base", "100", "1000"});
    TCommandContext context{&port, &log, &users, [] { return QStringLiteral("12:00:00"); }};
    TCommandTexts texts;
    texts.message = LongText();
    QCOMPARE(texts.message.size(), 4000);

    SendCommand(context, 'G', QStringLiteral("100"), QStringLiteral("1000"), texts);
    const QByteArray expected = BuildFrame("G1001000" + texts.message.toLatin1());
    QCOMPARE(line.radio.Receive(expected.size(), 10000), expected);
    QCOMPARE(log.entries.size(), 1);
    comm.CloseCommport();
}

void TestFaults::longMessageReceivedWhole()
{
    Line line;
    QVERIFY(line.radio.IsValid());
    TZComm comm;
    comm.SetStopBits(TStopBits::_2bit);
    comm.SetEventType(TEventType::CharEvent);
    comm.SetRxThreshold(1);
    comm.SetEventChar(3);
    std::mutex lock;
    QList<QByteArray> frames;
    TFrameIntake intake;
    // As the console's comm event does: read every waiting byte, cut frames.
    comm.OnCommEvent = [&](TZComm *sender, uint32_t &) {
        const int count = sender->CountInBuff();
        if (count <= 0)
            return;
        QByteArray bytes(count, Qt::Uninitialized);
        sender->ReadData(bytes.data(), uint32_t(count));
        const QList<QByteArray> got = intake.Feed(bytes);
        std::lock_guard guard(lock);
        frames += got;
    };
    comm.OpenCommport();

    const QString text = LongText();
    const QByteArray frame = BuildFrame("G1001000" + text.toLatin1());
    // An acknowledgement first, then the long message in the pieces a line delivers.
    QVERIFY(line.radio.Write(BuildFrame("0")));
    for (qsizetype off = 0; off < frame.size(); off += 1000)
        QVERIFY(line.radio.Write(frame.mid(off, 1000)));
    const auto count = [&] {
        std::lock_guard guard(lock);
        return frames.size();
    };
    QTRY_COMPARE_WITH_TIMEOUT(count(), 2, 10000);
    comm.CloseCommport();
    QCOMPARE(frames.at(1), frame);

    TMemoryTable users = TMemoryTable::Users();
    users.AddRow({"Yard", "100", "1000"});
    TMemoryTable statuses = TMemoryTable::Statuses();
    const TDecodeResult result =
        DecodeReceivedFrame(frames.at(1), users, statuses, QStringLiteral("12:00:00"));
    QCOMPARE(result.effects.size(), 2);
    const auto *append = std::get_if<TAppendMessageText>(&result.effects.at(1));
    QVERIFY(append);
    QCOMPARE(append->text.size(), 4000);
    QCOMPARE(append->text, text);
    QVERIFY(result.logEntry.has_value());
    QVERIFY(result.logEntry->startsWith(QStringLiteral("12:00:00 RX: Long Message from Yard\r\n\t\"")));
}

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
