#include "AccessibleNames.h"
#include "BoxRecorder.h"
#include "Config.h"
#include "End.h"
#include "Recorders.h"
#include "Settings.h"
#include "Statuspopup.h"
#include "Version.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QTest>
#include <optional>
#include <stdexcept>

namespace {

template <typename T> T *Child(QWidget *w, const QString &name)
{
    T *child = w->findChild<T *>(name);
    if (!child)
        qFatal("no child %s", qPrintable(name));
    return child;
}

void PressKey(QDialog &dialog, Qt::Key key)
{
    QWidget *target = dialog.focusWidget() ? dialog.focusWidget() : &dialog;
    QTest::keyClick(target, key);
}

} // namespace

class TestAppDialogs : public QObject {
    Q_OBJECT

    std::optional<TBoxRecorder> recorder;

private slots:
    void init() { recorder.emplace(); }
    void cleanup() { recorder.reset(); }

    void configShowsSettings()
    {
        TRecordingSelector port;
        TSettings settings(port);
        settings.CurrentComPort = 3;
        settings.PopupFlags = 0x05;
        TConfigForm form(settings);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.windowTitle(), QStringLiteral("Configuration"));
        QCOMPARE(form.size(), QSize(213, 227));
        QVERIFY(Child<QRadioButton>(&form, "Com3RadioButton")->isChecked());
        QVERIFY(Child<QCheckBox>(&form, "SpeechCheckBox")->isChecked());
        QVERIFY(!Child<QCheckBox>(&form, "StatusCheckBox")->isChecked());
        QVERIFY(Child<QCheckBox>(&form, "MessageCheckBox")->isChecked());
        QVERIFY(!Child<QCheckBox>(&form, "PhotoCheckBox")->isVisible());
        QVERIFY(Child<QCheckBox>(&form, "AniCheckBox")->isVisible());
        const QString faults = AccessibleNameFaults(&form);
        QVERIFY2(faults.isEmpty(), qPrintable(faults));
    }

    void configOk_data()
    {
        QTest::addColumn<int>("pick"); // radio item 0..3, or -1 to leave it
        QTest::addColumn<QStringList>("usable");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<int>("current");
        QTest::addColumn<QStringList>("expectBoxes");
        QTest::addColumn<bool>("endRequested");
        QTest::addColumn<bool>("needsReopen"); // closed, or lost and its device back

        QTest::newRow("unchanged port untouched")
            << -1 << QStringList{"COM3"} << QStringList{} << 3 << QStringList{} << false << false;
        QTest::newRow("other port") << 1 << QStringList{"COM2", "COM3"}
                                    << QStringList{"close", "check COM2", "set 1", "open"} << 2
                                    << QStringList{} << false << false;
        QTest::newRow("unusable port falls back")
            << 3 << QStringList{"COM1"} << QStringList{"close", "check COM4", "check COM1", "set 0", "open"}
            << 1 << QStringList{"Comport Warning: COM1 is used."} << false << false;
        QTest::newRow("no port at all")
            << 0 << QStringList{}
            << QStringList{"close", "check COM1", "check COM1", "check COM2", "check COM3", "check COM4"} << 1
            << QStringList{"Comport error: All COMs are invalid.\nPlease check the COM"} << true << false;
        QTest::newRow("unchanged port opened again after a loss")
            << -1 << QStringList{"COM3"} << QStringList{"close", "check COM3", "set 2", "open"} << 3
            << QStringList{} << false << true;
    }
    void configOk()
    {
        QFETCH(int, pick);
        QFETCH(QStringList, usable);
        QFETCH(QStringList, calls);
        QFETCH(int, current);
        QFETCH(QStringList, expectBoxes);
        QFETCH(bool, endRequested);
        QFETCH(bool, needsReopen);

        TRecordingSelector port;
        port.usable = usable;
        port.needsReopen = needsReopen;
        TSettings settings(port);
        settings.CurrentComPort = 3;
        settings.PopupFlags = 0x40 | 0x20 | 0x02; // 0x40 is no box's bit
        TConfigForm form(settings);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        if (pick >= 0)
            Child<QRadioButton>(&form, QStringLiteral("Com%1RadioButton").arg(pick + 1))->click();
        Child<QCheckBox>(&form, "AniCheckBox")->click();
        Child<QAbstractButton>(&form, "BitBtn1")->click();
        // What the main window does once the window is closed with OK.
        const bool ended = !ApplyConfigValues(settings, form.Values());
        const QStringList boxes = recorder->Lines();

        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(!form.isVisible());
        QCOMPARE(port.calls, calls);
        QCOMPARE(settings.CurrentComPort, current);
        QCOMPARE(boxes, expectBoxes);
        QCOMPARE(ended, endRequested);
        // Rebuilt from the boxes: the hidden Photograph bit stays, 0x40 goes.
        QCOMPARE(settings.PopupFlags, std::uint32_t(0x20 | 0x10 | 0x02));

        // The next opening shows the port now in use.
        form.show();
        QVERIFY(Child<QRadioButton>(&form, QStringLiteral("Com%1RadioButton").arg(current))->isChecked());
    }

    // The port was taken between the check and the open: the error goes on to
    // the application, the window still closes, the new number is kept and the
    // popup bits are not touched.
    void configOpenFailure()
    {
        TRecordingSelector port;
        port.usable = {"COM1", "COM2"};
        port.openFails = true;
        TSettings settings(port);
        settings.CurrentComPort = 1;
        settings.PopupFlags = 0x01;
        TConfigForm form(settings);
        QStringList reported;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        Child<QRadioButton>(&form, "Com2RadioButton")->click();
        Child<QCheckBox>(&form, "StatusCheckBox")->click();
        Child<QAbstractButton>(&form, "BitBtn1")->click();
        try {
            ApplyConfigValues(settings, form.Values());
        } catch (const std::exception &e) {
            reported << QString::fromUtf8(e.what());
        }
        QCOMPARE(reported, QStringList{"CommOpen Error,invalid HANDLE:0xFFFFFFFF"});
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(!form.isVisible());
        QCOMPARE(port.calls, (QStringList{"close", "check COM2", "set 1", "open"}));
        QCOMPARE(settings.CurrentComPort, 2);
        QCOMPARE(settings.PopupFlags, 0x01u);
    }

    void configCancelChangesNothing()
    {
        TRecordingSelector port;
        port.usable = {"COM1", "COM2", "COM3", "COM4"};
        TSettings settings(port);
        settings.CurrentComPort = 2;
        settings.PopupFlags = 0x1F;
        TConfigForm form(settings);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        Child<QRadioButton>(&form, "Com4RadioButton")->click();
        Child<QCheckBox>(&form, "SpeechCheckBox")->click();
        PressKey(form, Qt::Key_Escape);
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QVERIFY(port.calls.isEmpty());
        QCOMPARE(settings.CurrentComPort, 2);
        QCOMPARE(settings.PopupFlags, 0x1Fu);
        form.show();
        QVERIFY(Child<QRadioButton>(&form, "Com2RadioButton")->isChecked());
        QVERIFY(Child<QCheckBox>(&form, "SpeechCheckBox")->isChecked());
        Child<QAbstractButton>(&form, "BitBtn2")->click();
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QCOMPARE(settings.PopupFlags, 0x1Fu);
    }

    void configEnterIsOk()
    {
        TRecordingSelector port;
        TSettings settings(port);
        settings.CurrentComPort = 1;
        TConfigForm form(settings);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        Child<QCheckBox>(&form, "StatusCheckBox")->setFocus();
        QTest::keyClick(Child<QCheckBox>(&form, "StatusCheckBox"), Qt::Key_Return);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(!Child<QCheckBox>(&form, "StatusCheckBox")->isChecked()); // Enter did not tick it
    }

    void endAnswers_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("result");
        QTest::newRow("Enter") << "enter" << int(QDialog::Accepted);
        QTest::newRow("Esc") << "esc" << int(QDialog::Rejected);
        QTest::newRow("close box") << "close" << int(QDialog::Rejected);
        QTest::newRow("OK button") << "ok" << int(QDialog::Accepted);
        QTest::newRow("Cancel button") << "cancel" << int(QDialog::Rejected);
        QTest::newRow("Enter on Cancel") << "enter-on-cancel" << int(QDialog::Rejected);
    }
    void endAnswers()
    {
        QFETCH(QString, action);
        QFETCH(int, result);
        TEndForm form;
        QCOMPARE(form.windowTitle(), QStringLiteral("End"));
        QCOMPARE(form.size(), QSize(162, 103));
        QCOMPARE(Child<QLabel>(&form, "Label1")->text(), QStringLiteral("Exit?"));
        QCOMPARE(Child<QAbstractButton>(&form, "BitBtn2")->geometry(), QRect(8, 40, 65, 57));
        QCOMPARE(Child<QAbstractButton>(&form, "BitBtn1")->geometry(), QRect(88, 40, 65, 57));
        // A result of the other kind first, so each row proves its own answer.
        form.setResult(result == QDialog::Accepted ? QDialog::Rejected : QDialog::Accepted);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        if (action == "enter") {
            PressKey(form, Qt::Key_Return);
        } else if (action == "esc") {
            PressKey(form, Qt::Key_Escape);
        } else if (action == "close") {
            QVERIFY(form.close());
        } else if (action == "ok") {
            Child<QAbstractButton>(&form, "BitBtn2")->click();
        } else if (action == "cancel") {
            Child<QAbstractButton>(&form, "BitBtn1")->click();
        } else {
            Child<QAbstractButton>(&form, "BitBtn1")->setFocus();
            QTest::keyClick(Child<QAbstractButton>(&form, "BitBtn1"), Qt::Key_Return);
        }
        QCOMPARE(form.result(), result);
        QVERIFY(!form.isVisible());
    }

    void endCreationClosesPopups()
    {
        TStatusPopupForm status;
        QWidget other;
        int closes = 0;
        QObject::connect(&status, &TStatusPopupForm::closed, &status, [&] { ++closes; });
        status.show();
        other.show();
        TEndForm form({nullptr, &other, &status});
        QVERIFY(!status.isVisible());
        QVERIFY(!other.isVisible());
        QCOMPARE(closes, 1); // the popup's own close handling ran
    }

    void versionWindow()
    {
        TVersionForm form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Version"));
        QCOMPARE(form.size(), QSize(285, 157));
        QCOMPARE(Child<QLabel>(&form, "Label1")->text(), QStringLiteral("Corvalink"));
        QCOMPARE(Child<QLabel>(&form, "Label5")->text(), QStringLiteral("TM"));
        QCOMPARE(Child<QLabel>(&form, "Label2")->text(), QStringLiteral("Demonstration Software"));
        QCOMPARE(Child<QLabel>(&form, "Label3")->text(), QStringLiteral("Version 1.02 beta"));
        QVERIFY(!Child<QLabel>(&form, "Label4")->text().isEmpty());
        // The trademark sign follows the name without overlapping it.
        QVERIFY(Child<QLabel>(&form, "Label5")->x() > Child<QLabel>(&form, "Label1")->geometry().right());
        for (QLabel *label : form.findChildren<QLabel *>())
            QVERIFY2(QRect(QPoint(), form.size()).contains(label->geometry()),
                     qPrintable(label->objectName()));
        for (int round = 0; round < 2; ++round) { // shown twice, no reset needed
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            Child<QAbstractButton>(&form, "CloseBitBtn")->click();
            QCOMPARE(form.result(), int(QDialog::Accepted));
            QVERIFY(!form.isVisible());
        }
    }
};

QTEST_MAIN(TestAppDialogs)
#include "tst_appdialogs.moc"
