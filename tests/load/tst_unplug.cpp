// The radio's side going away mid-session (a USB adapter pulled; here the
// pseudo-terminal's master closed): one error, no spinning reader, and the
// Config window opens another port on which traffic flows.
#include "Application.h"
#include "Config.h"
#include "ConsoleHarness.h"
#include "Frame.h"
#include "Main.h"
#include "SendCommand.h"

#include <QAbstractButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

namespace {

bool Logged(const TLogWatch &log, const QString &rx)
{
    for (const auto &e : log.entries)
        if (e.text.endsWith(QStringLiteral(" RX: ") + rx))
            return true;
    return false;
}

// Runs the Config window as the operator does: it opens modally; the port is
// picked and OK pressed.
void ChoosePortInConfig(const QString &radioName)
{
    bool acted = false;
    QTimer operatorHand;
    QObject::connect(&operatorHand, &QTimer::timeout, ConfigForm, [&] {
        if (acted || !ConfigForm->isVisible())
            return;
        acted = true;
        ConfigForm->findChild<QRadioButton *>(radioName)->click();
        ConfigForm->findChild<QAbstractButton *>(QStringLiteral("BitBtn1"))->click();
    });
    operatorHand.start(10);
    MainForm->ConfigBitBtnClick();
    QVERIFY(acted);
}

} // namespace

class TstUnplug : public QObject {
    Q_OBJECT
private slots:
    void unplugged_data();
    void unplugged();
};

void TstUnplug::unplugged_data()
{
    QTest::addColumn<QByteArray>("beforeClose");
    QTest::newRow("idle line") << QByteArray();
    QTest::newRow("mid-frame") << QByteArray("\x02"
                                             "E101110");
}

void TstUnplug::unplugged()
{
    QFETCH(QByteArray, beforeClose);
    TConsoleHarness console(0x0000, 2);
    QVERIFY2(console.Error().isEmpty(), qPrintable(console.Error()));
    TBoxWatch boxes;
    TLogWatch log(console.LogMemo());

    QVERIFY(console.Line(0).Write(BuildFrame("B1001000")));
    QTRY_VERIFY(Logged(log, QStringLiteral("Call from Base")));
    QCOMPARE(MainForm->StatusPanelText(0), QStringLiteral("Com1"));

    QVERIFY(console.Line(0).Write(beforeClose));
    console.Line(0).Close();
    QTRY_COMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes.at(0).text, QStringLiteral("Communication lost: COM1 disconnected"));
    QCOMPARE(boxes.boxes.at(0).caption, TApplication::ErrorCaption());

    // A reader that kept waking on the dead line would burn a core; a tenth of
    // the time is far above a waiting thread and far below a spinning one.
    const double before = WorkerThreadsCpuMs();
    QTest::qWait(1500);
    const double spent = WorkerThreadsCpuMs() - before;
    qInfo("threads other than the main one: %.0f ms of CPU in 1.5 s after the line went", spent);
    QVERIFY2(spent < 150, qPrintable(QStringLiteral("threads used %1 ms of CPU in 1.5 s").arg(spent)));
    QCOMPARE(boxes.boxes.size(), 1);

    ChoosePortInConfig(QStringLiteral("Com2RadioButton"));
    QCOMPARE(MainForm->Settings().CurrentComPort, 2);
    QCOMPARE(MainForm->StatusPanelText(0), QStringLiteral("Com2"));
    QCOMPARE(boxes.boxes.size(), 1);

    // Traffic flows both ways on the new port.
    QVERIFY(console.Line(1).Write(BuildFrame("E101110220")));
    QTRY_VERIFY(Logged(log, QStringLiteral("Status:20 from Car 2\n\t\"On duty\"")));
    SendCommand(MainForm->CommandContext(), 'B', QStringLiteral("102"), QStringLiteral("1203"));
    QByteArray out;
    QTRY_VERIFY((out += console.Line(1).Drain()).contains(BuildFrame("B1021203")));
    QCOMPARE(boxes.boxes.size(), 1);
}

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    TstUnplug test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_unplug.moc"
