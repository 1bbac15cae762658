// The desktop launcher corvalink-console, run from an installed layout (bin/ with the two
// programs, share/corvalink-console/ with the sample tables): it sets up the console's
// working directory once, never replaces the operator's files, and with --simulator runs
// the simulator beside the console and stops it with the console.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

const QByteArray DefaultSettings("COM=1\r\nPOPUP=0x001F\r\n");

} // namespace

class TstLauncher : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> tmp;
    std::unique_ptr<QProcess> running_;

    QString Path(const QString &name) const { return QDir(tmp->path()).filePath(name); }

    // bin/ holds a copy of the launcher and links to the built programs, as an install does.
    void MakeLayout()
    {
        tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(tmp->isValid());
        QVERIFY(QDir(tmp->path()).mkpath(QStringLiteral("prefix/bin")));
        QVERIFY(QDir(tmp->path()).mkpath(QStringLiteral("prefix/share/corvalink-console")));
        QVERIFY(QDir(tmp->path()).mkpath(QStringLiteral("home")));
        QVERIFY(
            QFile::copy(QStringLiteral(LAUNCHER_PATH), Path(QStringLiteral("prefix/bin/corvalink-console"))));
        QVERIFY(QFile::link(QStringLiteral(CONSOLE_PATH), Path(QStringLiteral("prefix/bin/corvalink-demo"))));
        QVERIFY(QFile::link(QStringLiteral(RADIOSIM_PATH),
                            Path(QStringLiteral("prefix/bin/corvalink-radiosim"))));
        for (const char *name : {"User.DB", "Status.db"}) {
            const QString to = Path(QStringLiteral("prefix/share/corvalink-console/") + QLatin1String(name));
            QVERIFY(QFile::copy(QStringLiteral(CORVALINK_SAMPLE_DATA_DIR "/") + QLatin1String(name), to));
            // Installed files are read-only to the user; the copies must not stay so.
            QVERIFY(QFile::setPermissions(to, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        }
    }

    QProcess *Launcher(const QStringList &args, const QStringList &env)
    {
        running_ = std::make_unique<QProcess>();
        QProcess *p = running_.get();
        p->setProgram(Path(QStringLiteral("prefix/bin/corvalink-console")));
        p->setArguments(args);
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.remove(QStringLiteral("XDG_DATA_HOME"));
        e.remove(QStringLiteral("CORVALINK_CONSOLE_DIR"));
        e.insert(QStringLiteral("HOME"), Path(QStringLiteral("home")));
        e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        for (const QString &kv : env)
            e.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
        p->setProcessEnvironment(e);
        return p;
    }

    // Ends a running launcher as a session's end does, and checks that the simulator went
    // with the console and took its link along.
    void Stop(QProcess &launcher, const QString &dir)
    {
        launcher.terminate();
        QVERIFY(launcher.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(ReadAll(dir + QStringLiteral("/radiosim.log")).contains("TERM: ending"),
                                 10000);
        QVERIFY(!QFileInfo(dir + QStringLiteral("/COM1")).isSymLink());
    }

private slots:
    void cleanup()
    {
        // After a failure: SIGTERM lets the launcher stop the simulator too (SIGKILL would not).
        if (running_ && running_->state() != QProcess::NotRunning) {
            running_->terminate();
            if (!running_->waitForFinished(5000))
                running_->kill();
        }
        running_.reset();
        tmp.reset();
    }

    void firstRunSetsUpDirectory_data()
    {
        QTest::addColumn<QString>("env");
        QTest::addColumn<QString>("dir");
        QTest::newRow("home") << QString() << "home/.local/share/corvalink-console";
        QTest::newRow("xdg-data-home") << "XDG_DATA_HOME=@/data"
                                       << "data/corvalink-console";
        QTest::newRow("explicit") << "CORVALINK_CONSOLE_DIR=@/here/console"
                                  << "here/console";
    }

    // The first start makes the directory, copies the sample tables (writable) and writes the
    // settings; the console opens the simulator's COM1 there.
    void firstRunSetsUpDirectory()
    {
        QFETCH(QString, env);
        QFETCH(QString, dir);
        MakeLayout();
        env.replace(QLatin1Char('@'), tmp->path());
        dir = Path(dir);

        auto launcher =
            Launcher({QStringLiteral("--simulator")}, env.isEmpty() ? QStringList() : QStringList{env});
        launcher->start();
        QVERIFY(launcher->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(
            ReadAll(dir + QStringLiteral("/radiosim.log")).contains("console opened COM1"), 20000);
        for (const char *name : {"User.DB", "Status.db"}) {
            const QString copy = dir + QLatin1Char('/') + QLatin1String(name);
            QCOMPARE(ReadAll(copy),
                     ReadAll(QStringLiteral(CORVALINK_SAMPLE_DATA_DIR "/") + QLatin1String(name)));
            QVERIFY(QFileInfo(copy).isWritable());
        }
        QCOMPARE(ReadAll(dir + QStringLiteral("/CorvalinkDemo.ini")), DefaultSettings);
        Stop(*launcher, dir);
    }

    // The operator's tables and settings stay as they are.
    void existingFilesKept()
    {
        MakeLayout();
        const QString dir = Path(QStringLiteral("home/.local/share/corvalink-console"));
        QVERIFY(QDir().mkpath(dir));
        const QByteArray settings("COM=1\r\nPOPUP=0x0003\r\n");
        QVERIFY(WriteAll(dir + QStringLiteral("/CorvalinkDemo.ini"), settings));
        const QString users = dir + QStringLiteral("/User.DB");
        QVERIFY(QFile::copy(QStringLiteral(CORVALINK_SAMPLE_DATA_DIR "/User.DB"), users));
        QVERIFY(QFile::setPermissions(users, QFile::ReadOwner | QFile::WriteOwner));
        const QDateTime old = QDateTime::currentDateTime().addDays(-30);
        {
            QFile f(users);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(old, QFileDevice::FileModificationTime));
        }

        QProcess *launcher = Launcher({QStringLiteral("--simulator")}, {});
        launcher->start();
        QVERIFY(launcher->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(
            ReadAll(dir + QStringLiteral("/radiosim.log")).contains("console opened COM1"), 20000);
        QCOMPARE(ReadAll(dir + QStringLiteral("/CorvalinkDemo.ini")), settings);
        QCOMPARE(QFileInfo(users).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());
        // The missing one is still supplied.
        QVERIFY(QFileInfo::exists(dir + QStringLiteral("/Status.db")));
        Stop(*launcher, dir);
    }

    // A plain file named COM1 is the operator's, not a link the simulator may replace: the
    // launcher says why it cannot run the simulator and does not start the console.
    void simulatorRefused()
    {
        MakeLayout();
        const QString dir = Path(QStringLiteral("home/.local/share/corvalink-console"));
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(WriteAll(dir + QStringLiteral("/COM1"), "not a link"));

        QProcess *launcher = Launcher({QStringLiteral("--simulator")}, {});
        launcher->start();
        QVERIFY(launcher->waitForFinished(20000));
        QCOMPARE(launcher->exitCode(), 1);
        const QByteArray err = launcher->readAllStandardError();
        QVERIFY2(err.contains("the radio simulator did not start"), err.constData());
        QVERIFY2(err.contains("COM1"), err.constData());
        QCOMPARE(ReadAll(dir + QStringLiteral("/COM1")), QByteArray("not a link"));
    }

    void badOption()
    {
        MakeLayout();
        QProcess *launcher = Launcher({QStringLiteral("--simulater")}, {});
        launcher->start();
        QVERIFY(launcher->waitForFinished(10000));
        QCOMPARE(launcher->exitCode(), 2);
        QVERIFY(launcher->readAllStandardError().contains("--simulater"));
        // Nothing was set up for a mistyped command.
        QVERIFY(!QFileInfo::exists(Path(QStringLiteral("home/.local/share/corvalink-console"))));
    }
};

QTEST_MAIN(TstLauncher)
#include "tst_launcher.moc"
