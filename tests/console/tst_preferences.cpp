#include "Preferences.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TstPreferences : public QObject {
    Q_OBJECT
private slots:
    void read_data();
    void read();
    void escalation_data();
    void escalation();
    void missingFileIsTheDefaults();
    void savedThenRead();
};

void TstPreferences::read_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("sound");
    QTest::addColumn<int>("days");
    QTest::addColumn<QString>("problem"); // a part of the message; empty for none
    QTest::newRow("both set") << QByteArray("[Alarms]\nSound=off\n[History]\nKeepDays=30\n") << false << 30
                              << "";
    QTest::newRow("keep everything") << QByteArray("[History]\nKeepDays=0\n") << true << 0 << "";
    QTest::newRow("words in any case") << QByteArray("[Alarms]\nSound=ON\n") << true << 90 << "";
    QTest::newRow("empty file") << QByteArray() << true << 90 << "";
    QTest::newRow("bad sound") << QByteArray("[Alarms]\nSound=maybe\n[History]\nKeepDays=7\n") << true << 7
                               << "Alarms/Sound is 'maybe'";
    QTest::newRow("negative days") << QByteArray("[History]\nKeepDays=-1\n") << true << 90
                                   << "History/KeepDays";
    QTest::newRow("days not a number")
        << QByteArray("[History]\nKeepDays=ninety\n") << true << 90 << "not a number of days";
}

void TstPreferences::escalation_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("problem"); // a part of the message; empty for none
    QTest::newRow("default") << QByteArray("[Alarms]\nSound=on\n") << 60 << "";
    QTest::newRow("set") << QByteArray("[Alarms]\nEscalateAfterSeconds=120\n") << 120 << "";
    QTest::newRow("never") << QByteArray("[Alarms]\nEscalateAfterSeconds=0\n") << 0 << "";
    QTest::newRow("negative") << QByteArray("[Alarms]\nEscalateAfterSeconds=-5\n") << 60
                              << "Alarms/EscalateAfterSeconds is '-5'";
    QTest::newRow("more than a day") << QByteArray("[Alarms]\nEscalateAfterSeconds=86401\n") << 60
                                     << "not a number of seconds";
    QTest::newRow("words") << QByteArray("[Alarms]\nEscalateAfterSeconds=soon\n") << 60
                           << "Alarms/EscalateAfterSeconds is 'soon'";
}

void TstPreferences::escalation()
{
    QFETCH(QByteArray, file);
    QFETCH(int, seconds);
    QFETCH(QString, problem);
    QTemporaryDir dir;
    const QString path = dir.filePath(PreferencesFileName);
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(file);
    f.close();
    QString message;
    QCOMPARE(LoadPreferences(path, &message).escalateAfterSeconds, seconds);
    if (problem.isEmpty())
        QVERIFY2(message.isEmpty(), qPrintable(message));
    else
        QVERIFY2(message.contains(problem), qPrintable(message));
}

void TstPreferences::read()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, sound);
    QFETCH(int, days);
    QFETCH(QString, problem);
    QTemporaryDir dir;
    const QString path = dir.filePath(PreferencesFileName);
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(file);
    f.close();
    QString message;
    const TPreferences p = LoadPreferences(path, &message);
    QCOMPARE(p.alarmSound, sound);
    QCOMPARE(p.historyDays, days);
    if (problem.isEmpty()) {
        QVERIFY2(message.isEmpty(), qPrintable(message));
    } else {
        QVERIFY2(message.contains(problem), qPrintable(message));
        QVERIFY2(message.contains(path), qPrintable(message)); // names the file
    }
    // Reading never rewrites the operator's file.
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), file);
}

void TstPreferences::missingFileIsTheDefaults()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(PreferencesFileName);
    QString message;
    QCOMPARE(LoadPreferences(path, &message), TPreferences{});
    QVERIFY(message.isEmpty());
    // Nothing is written until the operator changes a preference.
    QVERIFY(QDir(dir.path()).isEmpty());
}

void TstPreferences::savedThenRead()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(PreferencesFileName);
    QString message;
    QVERIFY(SavePreferences(path, {false, 14, 300}, &message));
    const TPreferences p = LoadPreferences(path, &message);
    QCOMPARE(p, (TPreferences{false, 14, 300}));
    QVERIFY(message.isEmpty());
    // A place no file can go (a plain file where the folder should be; root ignores permissions).
    QFile blocker(dir.filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(!SavePreferences(dir.filePath(QStringLiteral("blocker/x.ini")), p, &message));
    QVERIFY(message.contains(QLatin1String("cannot be written")));
}

QTEST_GUILESS_MAIN(TstPreferences)
#include "tst_preferences.moc"
