#include "BoxRecorder.h"
#include "Recorders.h"
#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

namespace {

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<missing>";
    return f.readAll();
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

    TBoxRecorder recorder;
    QList<TBoxRecorder::TBox> &boxes = recorder.boxes;
    QTemporaryDir dir;

    QString Path(const QString &name) const { return dir.filePath(name); }

private slots:
    void init() { boxes.clear(); }

    void integerSyntax_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");
        QTest::newRow("decimal") << "3" << true << 3;
        QTest::newRow("plus") << "+5" << true << 5;
        QTest::newRow("minus") << "-12" << true << -12;
        QTest::newRow("leading spaces") << " 7" << true << 7;
        QTest::newRow("leading zeros") << "007" << true << 7;
        QTest::newRow("max") << "2147483647" << true << 2147483647;
        QTest::newRow("min") << "-2147483648" << true << int(-2147483647 - 1);
        QTest::newRow("above max") << "2147483648" << false << 0;
        QTest::newRow("below min") << "-2147483649" << false << 0;
        QTest::newRow("huge") << "99999999999999999999" << false << 0;
        QTest::newRow("dollar") << "$1F" << true << 31;
        QTest::newRow("0x padded") << "0x001F" << true << 31;
        QTest::newRow("0X") << "0X1f" << true << 31;
        QTest::newRow("x lower") << "x1f" << true << 31;
        QTest::newRow("X upper") << "X1F" << true << 31;
        QTest::newRow("spaces then hex") << "  0x10" << true << 16;
        QTest::newRow("all ones pattern") << "0xFFFFFFFF" << true << -1;
        QTest::newRow("high bit pattern") << "$80000000" << true << int(-2147483647 - 1);
        QTest::newRow("nine hex digits") << "0x000000001" << false << 0;
        QTest::newRow("prefix only") << "0x" << false << 0;
        QTest::newRow("dollar only") << "$" << false << 0;
        QTest::newRow("sign before hex") << "-0x1" << false << 0;
        QTest::newRow("bad hex digit") << "0x1G" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("spaces only") << "   " << false << 0;
        QTest::newRow("sign only") << "+" << false << 0;
        QTest::newRow("trailing letter") << "12a" << false << 0;
        QTest::newRow("trailing space") << "12 " << false << 0;
        QTest::newRow("leading tab") << "\t12" << false << 0;
        QTest::newRow("word") << "abc" << false << 0;
        QTest::newRow("arabic digits") << QString::fromUtf8("\u0661") << false << 0;
    }
    void integerSyntax()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, value);
        if (valid) {
            QCOMPARE(ParseIntegerValue(text), value);
        } else {
            try {
                ParseIntegerValue(text);
                QFAIL("accepted an invalid integer");
            } catch (const EConvertError &e) {
                QCOMPARE(QString::fromUtf8(e.what()),
                         QStringLiteral("'%1' is not a valid integer value").arg(text));
            }
        }
    }

    void lineLookup_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("com");
        QTest::addColumn<QString>("popup");
        QTest::newRow("written form") << QByteArray("COM=2\r\nPOPUP=0x001F\r\n") << "2"
                                      << "0x001F";
        QTest::newRow("lower case names") << QByteArray("com=2\r\nPopup=0x10\r\n") << "2"
                                          << "0x10";
        QTest::newRow("blanks around =") << QByteArray("COM =3\r\nPOPUP = 0x10\r\n") << ""
                                         << "";
        QTest::newRow("first line wins") << QByteArray("COM=4\nCOM=1\n") << "4"
                                         << "";
        QTest::newRow("value keeps blanks") << QByteArray("COM= 3 \r\n") << " 3 "
                                            << "";
        QTest::newRow("value after first =") << QByteArray("POPUP=a=b\r\n") << ""
                                             << "a=b";
        QTest::newRow("lone CR ends") << QByteArray("COM=1\rPOPUP=5\r") << "1"
                                      << "5";
        QTest::newRow("lone LF, no final end") << QByteArray("COM=1\nPOPUP=5") << "1"
                                               << "5";
        QTest::newRow("line without =") << QByteArray("COM\r\nCOM=2\r\n") << "2"
                                        << "";
        QTest::newRow("leading blank on name") << QByteArray(" COM=2\r\n") << ""
                                               << "";
        QTest::newRow("empty file") << QByteArray() << ""
                                    << "";
        QTest::newRow("extra lines") << QByteArray("[x]\r\nFOO=1\r\nCOM=3\r\n\r\nPOPUP=0x5\r\n") << "3"
                                     << "0x5";
    }
    void lineLookup()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, com);
        QFETCH(QString, popup);
        WriteFile(Path("a.ini"), file);
        const QStringList lines = ReadSettingsLines(Path("a.ini"));
        QCOMPARE(SettingValue(lines, "COM"), com);
        QCOMPARE(SettingValue(lines, "POPUP"), popup);
    }

    void missingFileNamesIt()
    {
        try {
            ReadSettingsLines(Path("absent.ini"));
            QFAIL("no error for a missing file");
        } catch (const ESettingsFileError &e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains("absent.ini"), e.what());
        }
    }

    void format_data()
    {
        QTest::addColumn<int>("com");
        QTest::addColumn<uint>("flags");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("four digits") << 2 << 0x1Fu << QByteArray("COM=2\r\nPOPUP=0x001F\r\n");
        QTest::newRow("zero") << 1 << 0u << QByteArray("COM=1\r\nPOPUP=0x0000\r\n");
        QTest::newRow("five digits") << 4 << 0xABCDEu << QByteArray("COM=4\r\nPOPUP=0xABCDE\r\n");
        QTest::newRow("eight digits") << 3 << 0xFFFFFFFFu << QByteArray("COM=3\r\nPOPUP=0xFFFFFFFF\r\n");
        QTest::newRow("port out of range") << 12 << 0x3u << QByteArray("COM=12\r\nPOPUP=0x0003\r\n");
    }
    void format()
    {
        QFETCH(int, com);
        QFETCH(uint, flags);
        QFETCH(QByteArray, text);
        QCOMPARE(FormatSettings(com, flags), text);
    }

    void loadAndSaveRoundTrip()
    {
        // Decimal POPUP, other case, extra lines: written back in the fixed form.
        WriteFile(Path("CorvalinkDemo.ini"), "; note\r\ncom=3\r\nPOPUP=31\r\nOTHER=1\r\n");
        TRecordingSelector port;
        port.usable = {"COM3"};
        QString panel;
        TSettings settings(port, [&](const QString &t) { panel = t; });
        QVERIFY(settings.LoadSettings(Path("CorvalinkDemo.ini")));
        QCOMPARE(settings.CurrentComPort, 3);
        QCOMPARE(settings.PopupFlags, 31u);
        QCOMPARE(panel, QStringLiteral("Com3"));
        QVERIFY(boxes.isEmpty());
        QVERIFY(settings.SaveSettings(Path("CorvalinkDemo.ini")));
        QCOMPARE(ReadFile(Path("CorvalinkDemo.ini")), QByteArray("COM=3\r\nPOPUP=0x001F\r\n"));
        // No temporary file is left behind.
        QCOMPARE(QDir(dir.path()).entryList({"CorvalinkDemo.ini*"}, QDir::Files | QDir::Hidden),
                 QStringList{"CorvalinkDemo.ini"});
    }

    void loadErrors_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("portOpened");
        // The value is quoted, then the setting and the file are named.
        QTest::newRow("no COM line") << QByteArray("POPUP=0x1\r\n")
                                     << "'' is not a valid integer value (COM in" << false;
        QTest::newRow("COM not a number")
            << QByteArray("COM=abc\r\nPOPUP=1\r\n") << "'abc' is not a valid integer value (COM in" << false;
        QTest::newRow("POPUP with blanks")
            << QByteArray("COM=1\r\nPOPUP = 0x10\r\n") << "'' is not a valid integer value (POPUP in" << true;
        QTest::newRow("POPUP invalid")
            << QByteArray("COM=1\r\nPOPUP=0x\r\n") << "'0x' is not a valid integer value (POPUP in" << true;
    }
    void loadErrors()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, message);
        QFETCH(bool, portOpened);
        WriteFile(Path("bad.ini"), file);
        TRecordingSelector port;
        port.usable = {"COM1"};
        TSettings settings(port);
        try {
            settings.LoadSettings(Path("bad.ini"));
            QFAIL("no error");
        } catch (const EConvertError &e) {
            const QString what = QString::fromUtf8(e.what());
            QCOMPARE(what,
                     QStringLiteral("%1 \"%2\")").arg(message, QDir::toNativeSeparators(Path("bad.ini"))));
        }
        QCOMPARE(port.calls.contains("open"), portOpened);
        QCOMPARE(settings.PopupFlags, 0u);
    }

    void loadWithoutUsablePortSkipsPopup()
    {
        WriteFile(Path("c.ini"), "COM=2\r\nPOPUP=garbage\r\n");
        TRecordingSelector port;
        TSettings settings(port);
        QVERIFY(!settings.LoadSettings(Path("c.ini"))); // POPUP never read, so no error
        QCOMPARE(settings.CurrentComPort, 0);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].caption, QStringLiteral("Comport error"));
    }

    void selectCommPort_data()
    {
        QTest::addColumn<int>("wanted");
        QTest::addColumn<QStringList>("usable");
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("current");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("boxText");
        QTest::addColumn<QString>("boxCaption");
        QTest::addColumn<int>("boxIcon");

        QTest::newRow("wanted usable") << 3 << QStringList{"COM1", "COM3"} << true << 3
                                       << QStringList{"check COM3", "set 2", "open"} << ""
                                       << "" << 0;
        QTest::newRow("fallback to COM1")
            << 3 << QStringList{"COM1"} << true << 1
            << QStringList{"check COM3", "check COM1", "set 0", "open"} << "COM1 is used."
            << "Comport Warning" << int(MsgIcon::Warning);
        QTest::newRow("fallback to COM4")
            << 2 << QStringList{"COM4"} << true << 4
            << QStringList{"check COM2", "check COM1", "check COM2", "check COM3",
                           "check COM4", "set 3",      "open"}
            << "COM4 is used."
            << "Comport Warning" << int(MsgIcon::Warning);
        QTest::newRow("none usable") << 2 << QStringList{} << false << 7
                                     << QStringList{"check COM2", "check COM1", "check COM2", "check COM3",
                                                    "check COM4"}
                                     << "All COMs are invalid.\nPlease check the COM"
                                     << "Comport error" << int(MsgIcon::Stop);
        QTest::newRow("out of range keeps choice")
            << 9 << QStringList{"COM9"} << true << 9 << QStringList{"check COM9", "open"} << ""
            << "" << 0;
    }
    void selectCommPort()
    {
        QFETCH(int, wanted);
        QFETCH(QStringList, usable);
        QFETCH(bool, result);
        QFETCH(int, current);
        QFETCH(QStringList, calls);
        QFETCH(QString, boxText);
        QFETCH(QString, boxCaption);
        QFETCH(int, boxIcon);

        TRecordingSelector port;
        port.usable = usable;
        QString panel = "unchanged";
        TSettings settings(port, [&](const QString &t) { panel = t; });
        settings.CurrentComPort = 7;
        QCOMPARE(settings.SelectCommPort(wanted), result);
        QCOMPARE(settings.CurrentComPort, current);
        QCOMPARE(port.calls, calls);
        QCOMPARE(panel, result ? QStringLiteral("Com%1").arg(current) : QStringLiteral("unchanged"));
        if (boxText.isEmpty()) {
            QVERIFY(boxes.isEmpty());
        } else {
            QCOMPARE(boxes.size(), 1);
            QCOMPARE(boxes[0].text, boxText);
            QCOMPARE(boxes[0].caption, boxCaption);
            QCOMPARE(int(boxes[0].icon), boxIcon);
        }
    }

    void writeOverDirectoryNamesIt()
    {
        QVERIFY(QDir(dir.path()).mkpath("isdir.ini"));
        try {
            WriteSettingsFile(Path("isdir.ini"), FormatSettings(1, 0));
            QFAIL("wrote over a directory");
        } catch (const ESettingsFileError &e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains("isdir.ini"), e.what());
        }
        QVERIFY(QFileInfo(Path("isdir.ini")).isDir());
    }

    void failedWriteKeepsOldFile()
    {
        // A file-size limit below the new content makes the write itself fail
        // (also for root, who ignores permissions).
        const QByteArray old = "COM=2\r\nPOPUP=0x0001\r\n";
        WriteFile(Path("keep.ini"), old);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit small = saved;
        small.rlim_cur = 8;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        bool threw = false;
        QString message;
        try {
            WriteSettingsFile(Path("keep.ini"), FormatSettings(4, 0xFFFFFFFFu));
        } catch (const ESettingsFileError &e) {
            threw = true;
            message = QString::fromUtf8(e.what());
        }
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        QVERIFY2(threw, ReadFile(Path("keep.ini")).constData());
        QVERIFY2(message.contains("keep.ini"), qPrintable(message));
        QCOMPARE(ReadFile(Path("keep.ini")), old);
        QCOMPARE(QDir(dir.path()).entryList({"keep.ini*"}, QDir::Files), QStringList{"keep.ini"});
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
