// A long message of 4000 characters from the radio reaches the message popup
// whole, and the log shows its first 30 characters, however the line delivers it.
#include "Application.h"
#include "Console.h"
#include "ConsoleHarness.h"
#include "Frame.h"
#include "Messagepopup.h"

#include <QTest>
#include <thread>

namespace {

// 4000 characters of printable text; with line breaks every so often when asked.
QByteArray LongText(char first, bool lineBreaks)
{
    QByteArray text;
    text.reserve(4000);
    int i = 0;
    while (text.size() < 4000) {
        if (lineBreaks && i % 97 == 96 && text.size() <= 3997) {
            text += "\r\n";
        } else {
            text += char(first + i % 26);
        }
        ++i;
    }
    return text.left(4000);
}

QString PopupLines(const QByteArray &text)
{
    return QString::fromLatin1(text).replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

QString LogEntry(const QByteArray &text)
{
    QByteArray preview = text;
    preview.replace("\r\n", " ");
    return QStringLiteral(" RX: Long Message from Car 2\n\t\"") + QString::fromLatin1(preview.left(30)) +
           QStringLiteral("...\"");
}

int Count(const TLogWatch &log, const QString &tail)
{
    int n = 0;
    for (const auto &e : log.entries)
        n += e.text.endsWith(tail) ? 1 : 0;
    return n;
}

} // namespace

class TstLongMessage : public QObject {
    Q_OBJECT
private slots:
    void arrivesWhole_data();
    void arrivesWhole();
};

void TstLongMessage::arrivesWhole_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<int>("piece"); // bytes a write, 0 for one write
    QTest::addColumn<int>("copies");
    QTest::addColumn<bool>("lineBreaks");

    QTest::newRow("one write") << QByteArray() << 0 << 1 << false;
    QTest::newRow("line breaks") << QByteArray() << 0 << 1 << true;
    QTest::newRow("in pieces of 100") << QByteArray() << 100 << 1 << false;
    QTest::newRow("pieces of 4000, frame start mid-piece")
        << QByteArray(BuildFrame("0") + BuildFrame("E101110221")) << 4000 << 1 << false;
    QTest::newRow("behind other frames in one write")
        << QByteArray(BuildFrame("B1011102") + BuildFrame("I110111021011102")) << 0 << 1 << false;
    QTest::newRow("three back to back in one write") << QByteArray() << 0 << 3 << false;
}

void TstLongMessage::arrivesWhole()
{
    QFETCH(QByteArray, before);
    QFETCH(int, piece);
    QFETCH(int, copies);
    QFETCH(bool, lineBreaks);

    TConsoleHarness console(0x0004);
    QVERIFY2(console.Error().isEmpty(), qPrintable(console.Error()));
    TBoxRecorder boxes;
    TLogWatch log(console.LogMemo());

    QByteArray stream = before;
    QList<QByteArray> texts;
    for (int i = 0; i < copies; ++i) {
        texts << LongText(char('A' + i), lineBreaks);
        stream += BuildFrame("G1011102" + texts.last());
    }
    if (piece <= 0) {
        QVERIFY(console.Line(0).Write(stream));
    } else {
        for (qsizetype off = 0; off < stream.size(); off += piece) {
            QVERIFY(console.Line(0).Write(stream.mid(off, piece)));
            // Each piece arrives on its own, as from a slower line.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    QTRY_VERIFY(Count(log, LogEntry(texts.last())) == 1);
    for (const QByteArray &text : std::as_const(texts))
        QCOMPARE(Count(log, LogEntry(text)), 1);
    QVERIFY(boxes.boxes.isEmpty());
    QVERIFY(MessagePopupForm->isVisible());
    // The popup holds the last message only, each of its characters.
    const QString shown = MessagePopupForm->MessageText();
    QCOMPARE(shown.size(), PopupLines(texts.last()).size());
    QCOMPARE(shown, PopupLines(texts.last()));
}

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    TstLongMessage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_longmessage.moc"
