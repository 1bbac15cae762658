#include "ErrorReport.h"
#include "FullDisk.h"
#include "LineModel.h"
#include "LineMonitor.h"
#include "PortOnPty.h"
#include "RadioLine.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>

namespace {

TMonitorDirectory Directory()
{
    TMonitorDirectory d;
    d.stationName = [](int fleet, int ident) {
        return fleet == 101 && ident == 1102 ? QStringLiteral("Car 2") : QString();
    };
    d.statusText = [](int number) { return number == 95 ? QStringLiteral("Emergency") : QString(); };
    return d;
}

QAbstractButton *Button(TLineMonitorForm &form, const char *name)
{
    auto *button = form.findChild<QAbstractButton *>(QLatin1String(name));
    if (!button)
        qFatal("no %s", name);
    return button;
}

QStringList Meanings(const TLineMonitorForm &form)
{
    QStringList list;
    const TLineModel *model = form.Model();
    for (int row = 0; row < model->rowCount(); ++row)
        list << model->index(row, TLineModel::MeaningColumn).data().toString();
    return list;
}

} // namespace

class TstLineMonitor : public QObject {
    Q_OBJECT
private slots:
    void showsTheLineAsItHappens();
    void floodReachesTheViewWhole();
    void pauseAndResume();
    void closedWindowTapsNothing();
    void watchesWhileHiddenOrMinimised_data();
    void watchesWhileHiddenOrMinimised();
    void intakeResetCutsTheFrame();
    void saveFailureNamesTheFile();
    void saveToFullDiskKeepsTheOldFile();
};

void TstLineMonitor::showsTheLineAsItHappens()
{
    TPortOnPty line;
    TLineMonitorForm form(nullptr, 1252);
    form.SetPort(&line.port);
    form.SetDirectory(Directory());
    QVERIFY(!form.Tapping());
    form.show();
    QVERIFY(form.Tapping());

    QVERIFY(line.radio.Write(QByteArray("xyz\x02"
                                        "E101110295\x03\x02"
                                        "2\x03")));
    // Bytes before the first STX the monitor sees may be the end of a frame the console got whole.
    QTRY_COMPARE(
        Meanings(form),
        (QStringList{"rest of a frame that began before the monitor opened (or was cleared): 3 bytes",
                     "Status 95 from Car 2: Emergency", "ack: Busy"}));
    line.Send("B1011102");
    QVERIFY(line.radio.Write(QByteArray("\x02"
                                        "0\x03")));
    QTRY_COMPARE(form.Model()->rowCount(), 5);
    QCOMPARE(Meanings(form).at(3), QStringLiteral("Connect to Car 2"));
    QCOMPARE(form.Model()->index(3, TLineModel::DirectionColumn).data().toString(), QStringLiteral("TX"));
    QCOMPARE(form.Model()->index(3, TLineModel::HexColumn).data().toString(),
             QStringLiteral("02 42 31 30 31 31 31 30 32 03"));
    QVERIFY(form.StatusText().contains(QStringLiteral("TX 1 frames, 10 bytes")));

    Button(form, "HideAcksCheckBox")->click();
    QCOMPARE(Meanings(form),
             (QStringList{"rest of a frame that began before the monitor opened (or was cleared): 3 bytes",
                          "Status 95 from Car 2: Emergency", "Connect to Car 2"}));

    QTemporaryDir out;
    const QString saved = out.filePath(QStringLiteral("line.txt"));
    form.SetFileChooser([&] { return saved; });
    Button(form, "SaveButton")->click();
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[2].contains(QStringLiteral(" RX  02 45 31 30 31 31 31 30 32 39 35 03  |")));
    QVERIFY(lines[3].endsWith(QStringLiteral("Connect to Car 2")));

    Button(form, "ClearButton")->click();
    QCOMPARE(form.Model()->rowCount(), 0);
    QVERIFY(form.StatusText().startsWith(QStringLiteral("RX 0 frames")));
}

void TstLineMonitor::floodReachesTheViewWhole()
{
    // More rows than the calm-line batch: they wait for the busy screen period,
    // and every one of them arrives, in order, even when the line then goes quiet.
    TPortOnPty line;
    TLineMonitorForm form(nullptr, 1252);
    form.SetPort(&line.port);
    form.show();
    QByteArray flood;
    for (int i = 0; i < 300; ++i)
        flood += "\x02" + QByteArray::number(i % 4) + '\x03';
    QVERIFY(line.radio.Write(flood));
    QTRY_COMPARE(form.Model()->rowCount(), 300);
    const QStringList meanings = Meanings(form);
    QCOMPARE(meanings.first(), QStringLiteral("ack: Success"));
    QCOMPARE(meanings.last(), QStringLiteral("ack: Command NG"));
    QCOMPARE(meanings.count(QStringLiteral("ack: Busy")), 75);
}

void TstLineMonitor::pauseAndResume()
{
    TPortOnPty line;
    TLineMonitorForm form(nullptr, 1252);
    form.SetPort(&line.port);
    form.show();
    Button(form, "PauseButton")->click();
    QVERIFY(line.radio.Write(QByteArray("\x02"
                                        "1\x03\x02"
                                        "3\x03")));
    QTRY_COMPARE(form.Model()->HeldCount(), 2);
    QCOMPARE(form.Model()->rowCount(), 0);
    QVERIFY(form.StatusText().contains(QStringLiteral("paused, 2 rows waiting")));
    Button(form, "PauseButton")->click();
    QCOMPARE(Meanings(form), (QStringList{"ack: Fail", "ack: Command NG"}));
}

void TstLineMonitor::closedWindowTapsNothing()
{
    TPortOnPty line;
    TLineMonitorForm form(nullptr, 1252);
    form.SetPort(&line.port);
    form.show();
    // Half a frame when the window closes: it is not finished by what comes later.
    QVERIFY(line.radio.Write(QByteArray("\x02"
                                        "0\x03\x02"
                                        "B101")));
    QTRY_COMPARE(form.Model()->rowCount(), 1);
    QTRY_COMPARE(line.drained.load(), 8);
    form.close();
    QVERIFY(!form.Tapping());
    // The rows go with the window.
    QCOMPARE(form.Model()->rowCount(), 0);
    QCOMPARE(form.Model()->StoredBytes(), 0);
    QVERIFY(line.radio.Write(QByteArray("1102\x03\x02"
                                        "1\x03")));
    QTRY_COMPARE(line.drained.load(), 16);
    form.show();
    QVERIFY(line.radio.Write(QByteArray("\x02"
                                        "2\x03")));
    QTRY_COMPARE(form.Model()->rowCount(), 1);
    QCOMPARE(Meanings(form).at(0), QStringLiteral("ack: Busy"));
}

void TstLineMonitor::watchesWhileHiddenOrMinimised_data()
{
    QTest::addColumn<bool>("minimise");
    QTest::newRow("minimised") << true;
    QTest::newRow("hidden") << false;
}

// An emergency sent while the window is minimised or hidden is there when the
// operator looks again: only a close stops the watching.
void TstLineMonitor::watchesWhileHiddenOrMinimised()
{
    QFETCH(bool, minimise);
    TPortOnPty line;
    TLineMonitorForm form(nullptr, 1252);
    form.SetPort(&line.port);
    form.SetDirectory(Directory());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    if (minimise)
        form.showMinimized();
    else
        form.hide();
    QVERIFY(form.Tapping());
    QVERIFY(line.radio.Write(QByteArray("\x02"
                                        "E101110295\x03")));
    QTRY_COMPARE(line.drained.load(), 12);
    form.showNormal();
    QTRY_COMPARE(Meanings(form), QStringList{"Status 95 from Car 2: Emergency"});
}

// The console's intake forgets a half frame when the port is opened again; the
// monitor cuts there too instead of splicing it onto the bytes after the reopen.
void TstLineMonitor::intakeResetCutsTheFrame()
{
    TPortOnPty line;
    TLineMonitorForm form(nullptr, 1252);
    form.SetPort(&line.port);
    form.SetDirectory(Directory());
    form.show();
    QVERIFY(line.radio.Write(QByteArray("\x02"
                                        "0\x03\x02"
                                        "E1011")));
    QTRY_VERIFY(form.StatusText().contains(QStringLiteral("RX frame so far 6 bytes")));
    form.NoteLine(TLineNote::IntakeReset);
    QVERIFY(line.radio.Write(QByteArray("10295\x03\x02"
                                        "2\x03")));
    QTRY_COMPARE(form.Model()->rowCount(), 5);
    QCOMPARE(
        Meanings(form),
        (QStringList{"ack: Success",
                     "not a frame: 6 bytes dropped, cut off when the console started reading afresh",
                     "the console starts reading afresh (port opened again); a frame in progress is dropped",
                     "not a frame: 6 bytes before STX dropped", "ack: Busy"}));
}

void TstLineMonitor::saveFailureNamesTheFile()
{
    QStringList errors;
    const ErrorReportRoutine previous = SetErrorReportRoutine([&](const QString &m) { errors << m; });
    TLineMonitorForm form(nullptr, 1252);
    const QString path = QStringLiteral("/nonexistent-dir/line.txt");
    form.SetFileChooser([&] { return path; });
    Button(form, "SaveButton")->click();
    SetErrorReportRoutine(previous);
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].contains(path), qPrintable(errors[0]));
}

// A save that meets a full disk says so, with the system's reason, and leaves the
// file saved before as it was.
void TstLineMonitor::saveToFullDiskKeepsTheOldFile()
{
    TFullDisk disk;
    if (!disk.Error().isEmpty())
        QSKIP(qPrintable(disk.Error()));
    const QString path = disk.Path(QStringLiteral("line.txt"));
    TPortOnPty line;
    TLineMonitorForm form(nullptr, 1252);
    form.SetPort(&line.port);
    form.show();
    QVERIFY(line.radio.Write(QByteArray("\x02"
                                        "0\x03")));
    QTRY_COMPARE(form.Model()->rowCount(), 1);
    form.SaveToFile(path);
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray before = saved.readAll();
    saved.close();
    QVERIFY(before.contains("ack: Success"));

    QVERIFY(line.radio.Write(QByteArray("\x02"
                                        "1\x03")));
    QTRY_COMPARE(form.Model()->rowCount(), 2);
    QVERIFY(disk.Fill());
    QStringList errors;
    const ErrorReportRoutine previous = SetErrorReportRoutine([&](const QString &m) { errors << m; });
    form.SetFileChooser([&] { return path; });
    Button(form, "SaveButton")->click();
    SetErrorReportRoutine(previous);
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].contains(path) && errors[0].contains(QStringLiteral("No space left on device")),
             qPrintable(errors[0]));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), before);
}

QTEST_MAIN(TstLineMonitor)
#include "tst_linemonitor.moc"
