#include "SettingsFuzz.h"

#include <QDir>
#include <QFile>
#include <QTest>

// Replays the fuzz corpus of the settings-file reader through the fuzz entry itself.
class TestSettingsReplay : public QObject {
    Q_OBJECT
private slots:
    void replay_data();
    void replay();
};

void TestSettingsReplay::replay_data()
{
    QTest::addColumn<QString>("path");
    const QDir corpus(QStringLiteral(CORVALINK_SETTINGS_CORPUS));
    const QStringList names = corpus.entryList(QDir::Files, QDir::Name);
    QVERIFY2(names.size() >= 10, qPrintable("corpus missing at " + corpus.path()));
    for (const QString &name : names)
        QTest::newRow(qPrintable(name)) << corpus.filePath(name);
}

void TestSettingsReplay::replay()
{
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray input = file.readAll();
    QCOMPARE(CheckSettingsInput(reinterpret_cast<const std::uint8_t *>(input.constData()),
                                static_cast<std::size_t>(input.size())),
             QString());
}

QTEST_APPLESS_MAIN(TestSettingsReplay)
#include "tst_settingsreplay.moc"
