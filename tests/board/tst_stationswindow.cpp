#include "CheckinDialog.h"
#include "StationBoard.h"
#include "StationsWindow.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

const QDateTime T0 = QDateTime(QDate(2026, 12, 9), QTime(8, 0), Qt::UTC);

TTrafficEvent Heard(TrafficKind kind, int fleet, int ident, int secondsAfter, int status = 0)
{
    TTrafficEvent e;
    e.time = T0.addSecs(secondsAfter);
    e.kind = kind;
    e.fleet = fleet;
    e.ident = ident;
    e.name = QStringLiteral("%1-%2").arg(fleet).arg(ident);
    if (status) {
        e.status = status;
        e.statusKnown = true;
        e.statusText = QStringLiteral("Help");
    }
    return e;
}

// Runs `act` on the modal window that opens next (a menu or a dialog).
template <typename TWindow, typename TAct> void OnNextModal(TAct act)
{
    QTimer::singleShot(0, qApp, [act] {
        QWidget *w = QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                       : QApplication::activeModalWidget();
        if (auto *window = qobject_cast<TWindow *>(w))
            act(window);
        else if (w)
            w->close();
    });
}

} // namespace

class TestStationsWindow : public QObject {
    Q_OBJECT
private slots:
    void filterSortSearchAndAct();
    void sortedByTimeRowsMoveOnceASecond();
};

void TestStationsWindow::filterSortSearchAndAct()
{
    QDateTime now = T0.addSecs(600);
    TStationBoard board(nullptr, [&] { return now; });
    board.SetDirectory({{QStringLiteral("Car 1"), 101, 1001},
                        {QStringLiteral("Truck 7"), 102, 1007},
                        {QStringLiteral("Tower"), 100, 1000}});
    board.TrafficEvent(Heard(TrafficKind::Call, 101, 1001, 10));
    board.TrafficEvent(Heard(TrafficKind::Status, 102, 1007, 20, 97));
    board.TrafficEvent(Heard(TrafficKind::Call, 105, 2500, 30));
    TStationsForm form(board);
    form.SetClock([&] { return now; });
    QVERIFY(!board.AgesTicking());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(board.AgesTicking());
    TStationProxy *proxy = form.Proxy();
    TStationGrid *grid = form.Grid();
    QCOMPARE(proxy->rowCount(), 4);

    // Sorted by name; the newest heard first when sorted by age.
    QCOMPARE(proxy->index(0, TStationBoard::NameColumn).data().toString(), QStringLiteral("105-2500"));
    grid->sortByColumn(TStationBoard::AgeColumn, Qt::AscendingOrder);
    QCOMPARE(proxy->index(0, TStationBoard::StationColumn).data().toString(), QStringLiteral("105-2500"));
    QCOMPARE(proxy->index(3, TStationBoard::NameColumn).data().toString(), QStringLiteral("Tower"));
    grid->sortByColumn(TStationBoard::NameColumn, Qt::AscendingOrder);

    // The summary counts the emergency, also one raised while the window is open.
    const auto summary = [&] { return form.findChild<QLabel *>(QStringLiteral("SummaryLabel"))->text(); };
    QCOMPARE(summary(), QStringLiteral("4 of 4 stations, 1 with an emergency"));
    board.TrafficEvent(Heard(TrafficKind::Status, 101, 1001, 25, 98));
    QTRY_COMPARE(summary(), QStringLiteral("4 of 4 stations, 2 with an emergency"));

    // The emergency row is red, and says so in words.
    const QModelIndex truck =
        proxy->mapFromSource(board.index(board.RowOf({102, 1007}), TStationBoard::AlarmColumn));
    QVERIFY(truck.data(Qt::ForegroundRole).isValid());
    QCOMPARE(truck.data().toString(), QStringLiteral("EMERGENCY 97 Help"));
    QVERIFY(!proxy->index(0, 0).data(Qt::ForegroundRole).isValid());

    // Filter as you type: a name part, a number, the number without its zeros.
    const auto filtered = [&](const char *text) {
        QLineEdit *edit = form.findChild<QLineEdit *>(QStringLiteral("FilterEdit"));
        edit->clear();
        QTest::keyClicks(edit, QString::fromLatin1(text));
        QStringList names;
        for (int row = 0; row < proxy->rowCount(); ++row)
            names << proxy->index(row, 0).data().toString();
        return names;
    };
    QCOMPARE(filtered("car"), QStringList{"Car 1"});
    QCOMPARE(filtered("1007"), QStringList{"Truck 7"});
    QCOMPARE(filtered("105-2500"), QStringList{"105-2500"});
    QCOMPARE(filtered("101"), (QStringList{"Car 1"}));
    QCOMPARE(filtered(""), (QStringList{"105-2500", "Car 1", "Tower", "Truck 7"}));

    // The keyboard reaches a station by its first characters from any column...
    grid->setFocus();
    grid->setCurrentIndex(proxy->index(0, TStationBoard::StatusColumn));
    QTest::keyClicks(grid, QStringLiteral("tru"));
    QCOMPARE(form.SelectedStation(), (TStationKey{102, 1007}));
    // ...and Enter opens its actions, which carry the station.
    QSignalSpy status(&form, &TStationsForm::StatusWanted);
    OnNextModal<QMenu>([](QMenu *menu) {
        for (QAction *action : menu->actions())
            if (action->text() == QStringLiteral("&Status"))
                menu->setActiveAction(action);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    QTest::keyClick(grid, Qt::Key_Return);
    QCOMPARE(status.size(), 1);
    QCOMPARE(status.first(), (QVariantList{102, 1007}));

    // The check-in dialog sets the selected station's time; the row shows it.
    OnNextModal<TCheckinForm>([](TCheckinForm *dialog) {
        dialog->Choose(TCheckinScope::Station, 5, false);
        dialog->accept();
    });
    QVERIFY(form.EditCheckins());
    QCOMPARE(board.Checkins().stations.value({102, 1007}).minutes, 5);
    QCOMPARE(board.Checkins().stations.value({102, 1007}).since, now);
    QVERIFY(proxy->mapFromSource(board.index(board.RowOf({102, 1007}), TStationBoard::CheckinColumn))
                .data()
                .toString()
                .startsWith(QStringLiteral("every 5 min")));

    form.hide();
    QVERIFY(!board.AgesTicking());
    QCOMPARE(proxy->rowCount(), 0);
    // Shown again: the same order and the same station selected.
    board.TrafficEvent(Heard(TrafficKind::Call, 100, 1001, 40));
    form.show();
    QCOMPARE(proxy->rowCount(), 5);
    QCOMPARE(proxy->index(0, TStationBoard::NameColumn).data().toString(), QStringLiteral("100-1001"));
    QCOMPARE(form.SelectedStation(), (TStationKey{102, 1007}));
}

void TestStationsWindow::sortedByTimeRowsMoveOnceASecond()
{
    QDateTime now = T0.addSecs(600);
    TStationBoard board(nullptr, [&] { return now; });
    board.SetUpdateDelay(0);
    board.SetDirectory({{QStringLiteral("Car 1"), 101, 1001}, {QStringLiteral("Tower"), 100, 1000}});
    board.TrafficEvent(Heard(TrafficKind::Call, 100, 1000, 10));
    board.TrafficEvent(Heard(TrafficKind::Call, 101, 1001, 20));
    TStationsForm form(board);
    form.SetClock([&] { return now; });
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    TStationProxy *proxy = form.Proxy();
    const auto first = [&] { return proxy->index(0, TStationBoard::NameColumn).data().toString(); };
    form.Grid()->sortByColumn(TStationBoard::AgeColumn, Qt::AscendingOrder);
    QVERIFY(proxy->Calm());
    QCOMPARE(first(), QStringLiteral("Car 1"));

    // Tower is heard: its cells change at once, its row moves up within a second.
    QSignalSpy moved(proxy, &QAbstractItemModel::layoutChanged);
    board.TrafficEvent(Heard(TrafficKind::Call, 100, 1000, 30));
    QCoreApplication::processEvents();
    QCOMPARE(proxy->index(1, TStationBoard::NameColumn).data().toString(), QStringLiteral("Tower"));
    QVERIFY(
        proxy->index(1, TStationBoard::HeardColumn).data().toString().contains(QLatin1String("08:00:30")));
    QTRY_COMPARE_WITH_TIMEOUT(first(), QStringLiteral("Tower"), 2 * TStationProxy::CalmResortMs);
    QCOMPARE(moved.size(), 1);
    // Nothing new in the sort column: the ages' ticks move nothing.
    QTest::qWait(TStationProxy::CalmResortMs + 200);
    QCOMPARE(moved.size(), 1);

    // Hidden and shown again, the rows are in order at once.
    form.hide();
    board.TrafficEvent(Heard(TrafficKind::Call, 101, 1001, 40));
    form.show();
    QCOMPARE(first(), QStringLiteral("Car 1"));

    // Sorted by name, a change moves its row at once again.
    form.Grid()->sortByColumn(TStationBoard::NameColumn, Qt::AscendingOrder);
    QVERIFY(!proxy->Calm());
}

QTEST_MAIN(TestStationsWindow)
#include "tst_stationswindow.moc"
