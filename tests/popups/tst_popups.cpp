#include "AccessibleNames.h"
#include "Anipopup.h"
#include "Messagepopup.h"
#include "Popup.h"
#include "Pttidpopup.h"
#include "Speechpopup.h"
#include "Statuspopup.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <memory>

namespace {

QLineEdit *Edit(QWidget *w, const char *name)
{
    return w->findChild<QLineEdit *>(QLatin1String(name));
}

QAbstractButton *CloseButton(QWidget *w)
{
    return w->findChild<QAbstractButton *>(QStringLiteral("CloseBitBtn"));
}

std::unique_ptr<QWidget> MakeWindow(const QString &kind)
{
    if (kind == "speech")
        return std::make_unique<TSpeechPopupForm>();
    if (kind == "status")
        return std::make_unique<TStatusPopupForm>();
    if (kind == "message")
        return std::make_unique<TMessagePopupForm>();
    if (kind == "pttid")
        return std::make_unique<TPttidPopupForm>();
    if (kind == "ani")
        return std::make_unique<TAniPopupForm>();
    return std::make_unique<TPopupForm>();
}

} // namespace

class TestPopups : public QObject {
    Q_OBJECT
private slots:
    void windows_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QSize>("fixedSize"); // empty: resizable
        QTest::addColumn<QString>("button");
        QTest::newRow("speech") << "speech"
                                << "Voice Call From" << QSize(225, 73) << "&OK";
        QTest::newRow("status") << "status"
                                << "Status Call From" << QSize() << "&OK";
        QTest::newRow("message") << "message"
                                 << "Message Call From" << QSize() << "&OK";
        QTest::newRow("pttid") << "pttid"
                               << "PTT ID" << QSize(224, 72) << "&OK";
        QTest::newRow("ani") << "ani"
                             << "Call Decode" << QSize(266, 134) << "&OK";
        QTest::newRow("generic") << "generic"
                                 << "PopupForm" << QSize() << "&Close";
    }
    // Captions, sizes, the close button, read-only station fields, names for
    // assistive tools, and controls inside the client area.
    void windows()
    {
        QFETCH(QString, kind);
        QFETCH(QString, caption);
        QFETCH(QSize, fixedSize);
        QFETCH(QString, button);
        auto w = MakeWindow(kind);
        QCOMPARE(w->windowTitle(), caption);
        if (fixedSize.isValid()) {
            QCOMPARE(w->size(), fixedSize);
            QCOMPARE(w->minimumSize(), fixedSize);
            QCOMPARE(w->maximumSize(), fixedSize);
        } else {
            QVERIFY(w->maximumWidth() > w->width());
        }
        QCOMPARE(CloseButton(w.get())->text(), button);
        QCOMPARE(CloseButton(w.get())->size(), QSize(65, 57));
        QVERIFY(!CloseButton(w.get())->icon().isNull());
        for (QLineEdit *edit : w->findChildren<QLineEdit *>())
            QCOMPARE(edit->isReadOnly(), edit->objectName() != "TextEdit");
        for (QWidget *child : w->findChildren<QWidget *>()) {
            if (child->objectName().isEmpty() || child->objectName().startsWith("qt_"))
                continue; // the toolkit's own inner parts
            if (child->parent() != w.get() && child->parentWidget()->objectName() != "Panel1")
                continue;
            QVERIFY2(QRect(QPoint(), w->size()).contains(child->geometry()), qPrintable(child->objectName()));
        }
        const QString faults = AccessibleNameFaults(w.get());
        QVERIFY2(faults.isEmpty(), qPrintable(faults));
    }

    void closeButtonHidesAndKeepsContents()
    {
        TSpeechPopupForm w;
        w.SetStation("Base", "100", "1000");
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        CloseButton(&w)->click();
        QVERIFY(!w.isVisible());
        QCOMPARE(Edit(&w, "NameEdit")->text(), QStringLiteral("Base"));
        QCOMPARE(Edit(&w, "FleetEdit")->text(), QStringLiteral("100"));
        QCOMPARE(Edit(&w, "IdentEdit")->text(), QStringLiteral("1000"));
    }

    void enterOnFocusedOkCloses()
    {
        TAniPopupForm w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        CloseButton(&w)->setFocus();
        QTest::keyClick(CloseButton(&w), Qt::Key_Return);
        QVERIFY(!w.isVisible());
    }

    void textsArePlain()
    {
        const QString markup = QStringLiteral("<b>x</b>&amp;");
        TAniPopupForm ani;
        ani.SetFrom(markup, "101", "1001");
        ani.SetTo("B", "102", "1002");
        QCOMPARE(Edit(&ani, "NameEdit")->text(), markup);
        QCOMPARE(Edit(&ani, "Name2Edit")->text(), QStringLiteral("B"));
        QCOMPARE(Edit(&ani, "Fleet2Edit")->text(), QStringLiteral("102"));
        QCOMPARE(Edit(&ani, "Ident2Edit")->text(), QStringLiteral("1002"));
        for (QLabel *label : ani.findChildren<QLabel *>())
            QCOMPARE(label->textFormat(), Qt::PlainText);

        TMessagePopupForm msg;
        msg.SetMessageText(markup + "\r\nsecond\rthird\nfourth");
        auto *memo = msg.findChild<QPlainTextEdit *>("MessageMemo");
        QCOMPARE(memo->toPlainText(), markup + "\nsecond\nthird\nfourth");
        QCOMPARE(memo->blockCount(), 4);
        msg.ClearMessage();
        QCOMPARE(memo->toPlainText(), QString());
        msg.AddMessageLine("a\r\nb");
        QCOMPARE(memo->blockCount(), 2);

        TPttidPopupForm ptt;
        ptt.SetCaption("PTT ID Connect");
        QCOMPARE(ptt.windowTitle(), QStringLiteral("PTT ID Connect"));

        TStatusPopupForm status;
        status.SetText(markup);
        QCOMPARE(Edit(&status, "TextEdit")->text(), markup);
    }

    void statusResizeKeepsNinePixels_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("design width") << 234;
        QTest::newRow("wider") << 400;
        QTest::newRow("narrower") << 180;
    }
    void statusResizeKeepsNinePixels()
    {
        QFETCH(int, width);
        TStatusPopupForm w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.resize(width, 140);
        QTRY_COMPARE(w.width(), width);
        QLineEdit *text = Edit(&w, "TextEdit");
        QCOMPARE(text->x(), 8);
        QCOMPARE(w.width() - (text->x() + text->width()), 9);
    }

    void statusCloseRunsHook()
    {
        TStatusPopupForm w;
        int calls = 0;
        connect(&w, &TStatusPopupForm::closed, &w, [&] { ++calls; });
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        CloseButton(&w)->click(); // OK button
        QCOMPARE(calls, 1);
        QVERIFY(!w.isVisible());
        w.show();
        QVERIFY(w.close()); // the window's close box
        QCOMPARE(calls, 2);
        w.show();
        w.hide(); // hiding alone is no close
        QCOMPARE(calls, 2);
    }

    void statusFlashColour()
    {
        TStatusPopupForm w;
        const QColor normal = w.palette().color(QPalette::Window);
        w.SetFlashColour(true);
        QCOMPARE(w.palette().color(QPalette::Window), QColor(Qt::red));
        QVERIFY(w.autoFillBackground());
        w.SetFlashColour(false);
        QCOMPARE(w.palette().color(QPalette::Window), normal);
    }

    void messageMemoFillsBelowBand()
    {
        TMessagePopupForm w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.resize(400, 300);
        QTRY_COMPARE(w.size(), QSize(400, 300));
        auto *memo = w.findChild<QPlainTextEdit *>("MessageMemo");
        QCOMPARE(memo->geometry(), QRect(0, 73, 400, 300 - 73));
        QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
        QVERIFY(!memo->isReadOnly());
        QCOMPARE(CloseButton(&w)->geometry().right(), 400 - 8 - 1);
    }

    void genericRemembersSize()
    {
        TPopupForm w;
        w.SetRememberedSize(100, 230);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_COMPARE(w.size(), QSize(230, 100));
        w.resize(300, 160);
        QTRY_COMPARE(w.RememberedSize(), QSize(300, 160));
        w.close();
        w.resize(250, 90); // while hidden; the next show takes the remembered size
        w.SetRememberedSize(120, 280);
        w.show();
        QTRY_COMPARE(w.size(), QSize(280, 120));
    }
};

QTEST_MAIN(TestPopups)
#include "tst_popups.moc"
