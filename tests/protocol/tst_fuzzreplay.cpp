#include "DecoderFuzz.h"

#include <QDir>
#include <QFile>
#include <QTest>

// Replays the fuzz corpus of the decoder through the fuzz entry itself.
class TestFuzzReplay : public QObject {
    Q_OBJECT
private slots:
    void replay_data();
    void replay();
};

void TestFuzzReplay::replay_data()
{
    QTest::addColumn<QString>("path");
    const QDir corpus(QStringLiteral(CORVALINK_DECODER_CORPUS));
    const QStringList names = corpus.entryList(QDir::Files, QDir::Name);
    QVERIFY2(names.size() >= 20, qPrintable("corpus missing at " + corpus.path()));
    for (const QString &name : names)
        QTest::newRow(qPrintable(name)) << corpus.filePath(name);
}

void TestFuzzReplay::replay()
{
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray input = file.readAll();
    QCOMPARE(CheckDecoderInput(reinterpret_cast<const std::uint8_t *>(input.constData()), input.size()),
             QString());
}

QTEST_APPLESS_MAIN(TestFuzzReplay)
#include "tst_fuzzreplay.moc"
