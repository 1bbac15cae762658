// The console's windows, in-process, against the real radio simulator program on a
// pseudo-terminal: commands go out through the serial line and come back acknowledged,
// and the simulator's traffic reaches the log, the popups and the emergency flash. And
// the radio on another machine: the simulator serving the line over TCP, socat making
// the COM1 link, as a serial server and socat do between two machines.
#include "AlarmDisplay.h"
#include "BoxRecorder.h"
#include "Console.h"
#include "ConsoleSession.h"
#include "DBLookupComboBox.h"
#include "ErrorReport.h"
#include "RadioLink.h"
#include "ScratchDir.h"
#include "SendCommand.h"
#include "Speech.h"
#include "Speechpopup.h"
#include "Statuspopup.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {

} // namespace

class TstE2e : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TScratchDir> scratch;
    std::unique_ptr<QProcess> sim;
    std::unique_ptr<QProcess> socat;
    QByteArray simOutput;
    TBoxRecorder recorder;
    QList<TBoxRecorder::TBox> &boxes = recorder.boxes;
    QStringList errors;
    ErrorReportRoutine previousError;

    QString Path(const QString &name) const { return scratch->Path(name); }

    // What the simulator printed so far.
    QString SimOutput()
    {
        simOutput += sim->readAllStandardOutput();
        return QString::fromUtf8(simOutput);
    }

    // socat making COM1 in the working directory, connected to the simulator's port.
    void StartSocat(const QString &port)
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("socat"));
        QVERIFY2(!program.isEmpty(), "socat is not installed; scripts/setup-deps --tools installs it");
        socat = std::make_unique<QProcess>();
        socat->setProgram(program);
        socat->setArguments({QStringLiteral("pty,link=%1,raw,echo=0").arg(Path(QStringLiteral("COM1"))),
                             QStringLiteral("tcp:127.0.0.1:%1").arg(port)});
        socat->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        socat->start();
        QVERIFY(socat->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(Path(QStringLiteral("COM1"))).isSymLink(), 10000);
    }

    // The working directory (sample tables, settings file, COM2..COM4 linked to nowhere so
    // that no device of this machine stands in), the simulator on COM1 there, and then the
    // console's windows. `input` goes to the simulator's standard input at once. Over TCP,
    // the simulator listens on a free loopback port and socat makes COM1.
    void StartConsole(const QStringList &simArgs, const QByteArray &input = {}, bool overTcp = false)
    {
        // COM1 is the simulator's to link.
        scratch = std::make_unique<TScratchDir>();
        QCOMPARE(scratch->Prepare("COM=1\r\nPOPUP=0x001F\r\n", {}, {1}), QString());

        sim = std::make_unique<QProcess>();
        sim->setProgram(QStringLiteral(RADIOSIM_PATH));
        sim->setArguments((overTcp ? QStringList{QStringLiteral("--tcp"), QStringLiteral("0")}
                                   : QStringList{QStringLiteral("--dir"), scratch->Path()}) +
                          simArgs);
        sim->setProcessChannelMode(QProcess::MergedChannels);
        sim->start();
        QVERIFY(sim->waitForStarted());
        if (!input.isEmpty())
            QCOMPARE(sim->write(input), input.size());
        if (overTcp) {
            // The whole line: a read may end in the middle of the number.
            const QRegularExpression listening(QStringLiteral("radio on tcp 127\\.0\\.0\\.1:(\\d+) "));
            QTRY_VERIFY_WITH_TIMEOUT(listening.match(SimOutput()).hasMatch(), 10000);
            StartSocat(listening.match(SimOutput()).captured(1));
            QTRY_VERIFY_WITH_TIMEOUT(SimOutput().contains(QStringLiteral("console opened tcp 127.0.0.1:")),
                                     10000);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(Path(QStringLiteral("COM1"))).isSymLink(), 10000);
        }

        QVERIFY(scratch->MakeCurrent());
        CreateConsoleWindows();
        QVERIFY(Console);
        QVERIFY2(!Console->EndRequested(), qPrintable(boxes.isEmpty() ? QString() : boxes.first().text));
        Console->Window()->show();
        if (!overTcp)
            QTRY_VERIFY_WITH_TIMEOUT(SimOutput().contains(QStringLiteral("console opened COM1")), 10000);
    }

    // Chooses a station in a call window's list the way the operator does.
    static void Pick(QWidget *window, const QString &name)
    {
        auto *list = window->findChild<TDBLookupComboBox *>(QStringLiteral("NameDBLookupComboBox"));
        QVERIFY(list);
        QSignalSpy closeUp(list, &TDBLookupComboBox::CloseUp);
        list->showPopup();
        const int row = list->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
        QVERIFY2(row >= 0, qPrintable(name));
        list->view()->setCurrentIndex(list->model()->index(row, list->modelColumn()));
        QTest::keyClick(list->view(), Qt::Key_Return);
        QTRY_COMPARE(closeUp.count(), 1);
    }

    static QAbstractButton *Button(QWidget *window, const char *name)
    {
        return window->findChild<QAbstractButton *>(QLatin1String(name));
    }

private slots:
    void init()
    {
        boxes.clear();
        errors.clear();
        simOutput.clear();
        previousError = SetErrorReportRoutine([this](const QString &message) { errors << message; });
    }

    void cleanup()
    {
        DeleteConsoleWindows();
        if (scratch)
            scratch->RestoreCurrent();
        if (socat && socat->state() != QProcess::NotRunning) {
            socat->terminate();
            QVERIFY(socat->waitForFinished(10000));
        }
        socat.reset();
        if (sim) {
            // The simulator ends on SIGTERM and takes its link away.
            sim->terminate();
            QVERIFY2(sim->waitForFinished(10000), qPrintable(SimOutput()));
            QCOMPARE(sim->exitStatus(), QProcess::NormalExit);
            QVERIFY(!QFileInfo(Path(QStringLiteral("COM1"))).isSymLink());
            sim.reset();
        }
        scratch.reset();
        SetErrorReportRoutine(previousError);
    }

    void commandIsAcknowledged_data()
    {
        QTest::addColumn<QByteArray>("simInput");
        QTest::addColumn<QString>("station");
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<QString>("txEntry");
        QTest::addColumn<QString>("simLine");
        QTest::addColumn<QString>("rxEntry");

        QTest::newRow("connect-success")
            << QByteArray() << "Car 2" << QByteArray("ConnectBitBtn") << " TX: Connect To Car 2"
            << "console> B Connect  Fleet 101  Ident 1102"
            << " RX: Success";
        QTest::newRow("disconnect-success")
            << QByteArray() << "Truck 3" << QByteArray("DisconnectBitBtn") << " TX: Disconnect To Truck 3"
            << "console> D Disconnect  Fleet 102  Ident 1203"
            << " RX: Success";
        QTest::newRow("connect-busy")
            << QByteArray("ack busy B\n") << "Base" << QByteArray("ConnectBitBtn") << " TX: Connect To Base"
            << "console> B Connect  Fleet 100  Ident 1000"
            << " RX: Busy";
        QTest::newRow("connect-fail")
            << QByteArray("ack fail\n") << "Yard" << QByteArray("ConnectBitBtn") << " TX: Connect To Yard"
            << "console> B Connect  Fleet 100  Ident 1001"
            << " RX: Fail";
        QTest::newRow("disconnect-ng") << QByteArray("ack ng D\n") << "Car 1"
                                       << QByteArray("DisconnectBitBtn") << " TX: Disconnect To Car 1"
                                       << "console> D Disconnect  Fleet 101  Ident 1101"
                                       << " RX: Command NG";
    }

    // The voice window sends its command over the line; the simulator reads the frame,
    // names it, and answers; the answer is decoded into the log.
    void commandIsAcknowledged()
    {
        QFETCH(QByteArray, simInput);
        QFETCH(QString, station);
        QFETCH(QByteArray, button);
        QFETCH(QString, txEntry);
        QFETCH(QString, simLine);
        QFETCH(QString, rxEntry);

        StartConsole({QStringLiteral("--ack-delay"), QStringLiteral("20"), QStringLiteral("--stay")},
                     simInput);
        if (!simInput.isEmpty()) // the rule is in force before the command goes out
            QTRY_VERIFY(SimOutput().contains(QStringLiteral("answers (after")));

        Button(Console->Window(), "SpeechBitBtn")->click();
        QTRY_VERIFY(SpeechForm->isVisible());
        Pick(SpeechForm, station);
        QAbstractButton *send = Button(SpeechForm, button.constData());
        QVERIFY(send);
        send->click();

        QVERIFY2(Console->LogText().contains(txEntry), qPrintable(Console->LogText()));
        QTRY_VERIFY2_WITH_TIMEOUT(Console->LogText().contains(rxEntry), qPrintable(Console->LogText()),
                                  10000);
        QVERIFY2(SimOutput().contains(simLine), qPrintable(SimOutput()));
        // The answer is the newest line: it came after the command.
        QVERIFY2(Console->LogText().section(QLatin1Char('\n'), 0, 0).contains(rxEntry),
                 qPrintable(Console->LogText()));
        QCOMPARE(Console->LogText().count(QStringLiteral(" RX: ")), 1);
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.isEmpty() ? QString() : boxes.first().text));
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    }

    // The demonstration's first events: a voice call from Car 1 (the voice popup shows the
    // caller) and its end, named from the sample user table, newest on top.
    void demoFirstEvents()
    {
        StartConsole({QStringLiteral("--demo")});
        QTRY_VERIFY_WITH_TIMEOUT(Console->LogText().contains(QStringLiteral(" RX: Call from Car 1")), 10000);
        QTRY_VERIFY(SpeechPopupForm->isVisible());
        const auto edits = SpeechPopupForm->findChildren<QLineEdit *>();
        QStringList texts;
        for (const QLineEdit *e : edits)
            texts << e->text();
        QVERIFY2(texts.contains(QStringLiteral("Car 1")) && texts.contains(QStringLiteral("1101")),
                 qPrintable(texts.join(QLatin1Char('|'))));

        QTRY_VERIFY_WITH_TIMEOUT(Console->LogText().contains(QStringLiteral(" RX: Call end from Car 1")),
                                 15000);
        const QStringList lines = Console->LogText().split(QLatin1Char('\n'));
        QVERIFY2(lines.size() >= 2, qPrintable(Console->LogText()));
        QVERIFY2(lines.at(0).contains(QStringLiteral("Call end from Car 1")), qPrintable(Console->LogText()));
        QVERIFY2(lines.at(1).contains(QStringLiteral("Call from Car 1")), qPrintable(Console->LogText()));
        QVERIFY(SimOutput().contains(QStringLiteral("demo>    B Call from 101/1101")));
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    }

    // An emergency status from the simulator, held back by wait until the console has the
    // port open: the flash starts, and the status popup shows the station; closing the popup
    // ends it.
    void emergencyStartsFlash()
    {
        StartConsole({QStringLiteral("--stay")}, "wait\nstatus 100 1000 95\n");
        QTRY_VERIFY_WITH_TIMEOUT(Console->Alarm().EmergencyTimer->isActive(), 10000);
        QVERIFY2(Console->LogText().contains(QStringLiteral(" RX: Status:95 from Base")),
                 qPrintable(Console->LogText()));
        QVERIFY2(Console->LogText().contains(QStringLiteral("\"Emergency\"")),
                 qPrintable(Console->LogText()));
        QTRY_VERIFY(StatusPopupForm->isVisible());

        StatusPopupForm->close();
        QTRY_VERIFY(!Console->Alarm().EmergencyTimer->isActive());

        // An ordinary status afterwards does not flash.
        QCOMPARE(sim->write("status 101 1101 21\n"), qint64(19));
        QTRY_VERIFY2_WITH_TIMEOUT(Console->LogText().contains(QStringLiteral(" RX: Status:21 from Car 1")),
                                  qPrintable(Console->LogText() + SimOutput()), 10000);
        QVERIFY(!Console->Alarm().EmergencyTimer->isActive());
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    }

    // Frames both ways through simulator, TCP, socat and the pseudo-terminal socat made.
    void overTcpFramesBothWays()
    {
        StartConsole({QStringLiteral("--ack-delay"), QStringLiteral("20"), QStringLiteral("--stay")}, {},
                     true);
        Button(Console->Window(), "SpeechBitBtn")->click();
        QTRY_VERIFY(SpeechForm->isVisible());
        Pick(SpeechForm, QStringLiteral("Car 2"));
        Button(SpeechForm, "ConnectBitBtn")->click();
        QTRY_VERIFY2_WITH_TIMEOUT(Console->LogText().contains(QStringLiteral(" RX: Success")),
                                  qPrintable(Console->LogText()), 10000);
        QVERIFY2(SimOutput().contains(QStringLiteral("console> B Connect  Fleet 101  Ident 1102")),
                 qPrintable(SimOutput()));
        QCOMPARE(sim->write("status 101 1101 21\n"), qint64(19));
        QTRY_VERIFY2_WITH_TIMEOUT(Console->LogText().contains(QStringLiteral(" RX: Status:21 from Car 1")),
                                  qPrintable(Console->LogText()), 10000);
        // Bytes a terminal would take for flow control pass unchanged.
        const QByteArray msg("msg 100 1000 a\\x11b\\x13c\n");
        QCOMPARE(sim->write(msg), msg.size());
        QTRY_VERIFY2_WITH_TIMEOUT(Console->LogText().contains(QStringLiteral(" RX: Short Message from Base")),
                                  qPrintable(Console->LogText() + SimOutput()), 10000);
        QVERIFY2(Console->LogText().contains(QStringLiteral("\"a\x11"
                                                            "b\x13"
                                                            "c\"")),
                 qPrintable(Console->LogText()));
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.isEmpty() ? QString() : boxes.first().text));
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    }

    void overTcpConnectionDrops_data()
    {
        QTest::addColumn<bool>("radioSide");
        QTest::newRow("socat ends") << false;
        QTest::newRow("the radio's server ends") << true;
    }
    // The TCP connection goes: socat ends and takes COM1 with it; the console reports the
    // lost line once. A new socat finds the radio still serving.
    void overTcpConnectionDrops()
    {
        QFETCH(bool, radioSide);
        StartConsole({QStringLiteral("--stay")}, {}, true);
        QCOMPARE(sim->write("status 101 1101 21\n"), qint64(19));
        QTRY_VERIFY2_WITH_TIMEOUT(Console->LogText().contains(QStringLiteral(" RX: Status:21 from Car 1")),
                                  qPrintable(Console->LogText() + SimOutput()), 10000);
        const QString port = QRegularExpression(QStringLiteral("radio on tcp 127\\.0\\.0\\.1:(\\d+) "))
                                 .match(SimOutput())
                                 .captured(1);

        if (radioSide) {
            sim->terminate();
            QVERIFY2(sim->waitForFinished(10000), qPrintable(SimOutput()));
        } else {
            socat->terminate();
        }
        QVERIFY(socat->waitForFinished(10000));
        QTRY_VERIFY(!QFileInfo(Path(QStringLiteral("COM1"))).isSymLink());
        const QString lost = QStringLiteral("Communication lost: COM1 disconnected");
        QTRY_COMPARE_WITH_TIMEOUT(errors.count(lost), 1, 10000);
        // A second report would come from the reader thread within a poll or two.
        QTest::qWait(500);
        QCOMPARE(errors, QStringList{lost});
        QVERIFY(boxes.isEmpty());

        if (radioSide) {
            QVERIFY(!QFileInfo(Path(QStringLiteral("COM1"))).isSymLink());
            sim.reset();
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(SimOutput().contains(QStringLiteral("console closed tcp 127.0.0.1:")),
                                 10000);
        StartSocat(port);
        QTRY_VERIFY_WITH_TIMEOUT(SimOutput().count(QStringLiteral("console opened tcp 127.0.0.1:")) == 2,
                                 10000);
        // socat's new COM1 is a new pseudo-terminal: the console opens it by itself
        // and traffic flows both ways again, with no second report.
        QTRY_VERIFY_WITH_TIMEOUT(!Console->Link().WaitingForPort(), 3000);
        QCOMPARE(sim->write("status 101 1101 22\n"), qint64(19));
        QTRY_VERIFY2_WITH_TIMEOUT(Console->LogText().contains(QStringLiteral(" RX: Status:22 from Car 1")),
                                  qPrintable(Console->LogText() + SimOutput()), 10000);
        const int acks = Console->LogText().count(QStringLiteral(" RX: Success"));
        SendCommand(Console->Session().CommandContext(), 'B', QStringLiteral("100"), QStringLiteral("1000"));
        QTRY_VERIFY2_WITH_TIMEOUT(Console->LogText().count(QStringLiteral(" RX: Success")) == acks + 1,
                                  qPrintable(Console->LogText() + SimOutput()), 10000);
        QCOMPARE(errors, QStringList{lost});
    }
};

QTEST_MAIN(TstE2e)
#include "tst_e2e.moc"
