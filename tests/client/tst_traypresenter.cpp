#include "DVFetchWebServices.h"
#include "DVStatusItem.h"
#include "DVStatusWindow.h"
#include "FetchScheduler.h"
#include "TestMain.h"
#include "TestRows.h"
#include "TrayPresenter.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QWidgetAction>

namespace {

// The menu's entries by name, as the tables below write them: fixed entries by title, "-" for a
// separator, the dynamic rows as "[progress]" and "[destination]".
QStringList layout(DVStatusItem& item) {
    QStringList names;
    for (QAction* action : item.menu()->actions()) {
        if (action == item.progressItem())
            names << "[progress]";
        else if (action == item.destinationItem())
            names << "[destination]";
        else
            names << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    return names;
}

} // namespace

class TestTrayPresenter : public QObject {
    Q_OBJECT

private slots:
    // The theme name decides the icon's appearance here: GNOME's setting would start glib's settings thread,
    // which runs in uninstrumented code.
    void initTestCase() { qputenv("GTK_THEME", "Adwaita"); }

    // The rows go in and out at indices 5 and 6 of the flat list, ahead of every other fixed entry, each
    // at most once.
    void rows_data() {
        QTest::addColumn<QStringList>("operations");
        QTest::addColumn<QStringList>("expected");
        const QStringList head{"Status:", "Check for Documents", "Open Docuvane Fetch Folder", "Docuvane Website",
                               "Preferences…"};
        const QStringList tail{"-", "Check for Updates…", "Sign In Again…", "-", "Quit Docuvane Fetch"};
        QTest::newRow("none") << QStringList() << head + tail;
        QTest::newRow("progress with its separator, once")
            << QStringList{"progress", "progress"} << head + QStringList{"-", "[progress]"} + tail;
        QTest::newRow("destination") << QStringList{"destination"}
                                     << head + QStringList{"-", "[destination]"} + tail.mid(1);
        QTest::newRow("both") << QStringList{"destination", "progress"}
                              << head + QStringList{"-", "[progress]", "-", "[destination]"} + tail.mid(1);
        QTest::newRow("progress in and out") << QStringList{"progress", "clear"} << head + tail;
        QTest::newRow("destination in and out") << QStringList{"destination", "remove-destination"} << head + tail;
    }
    void rows() {
        QFETCH(QStringList, operations);
        QFETCH(QStringList, expected);
        FetchScheduler scheduler;
        TrayPresenter tray(scheduler, nullptr, 0);
        for (const QString& operation : operations) {
            if (operation == "progress")
                tray.showProgressRows();
            else if (operation == "destination")
                tray.showDestinationRow();
            else if (operation == "clear")
                tray.clearRows();
            else if (operation == "remove-destination")
                tray.removeDestinationRow();
        }
        QCOMPARE(layout(*tray.statusItem()), expected);
    }

    // The entries' enable rules follow every change of the state and of the running check, also while the
    // menu stays open.
    void enableRulesFollowTheScheduler() {
        FetchScheduler scheduler;
        TrayPresenter tray(scheduler, nullptr, 0);
        QAction* status = tray.statusItem()->action(DVStatusItem::Entry::Status);
        QAction* check = tray.statusItem()->action(DVStatusItem::Entry::CheckForDocuments);
        QAction* updates = tray.statusItem()->action(DVStatusItem::Entry::CheckForUpdates);
        tray.setUpdateChecksAvailable(false); // no update feed
        scheduler.setState(ClientState::Enabled);
        QVERIFY(!status->isEnabled());
        QVERIFY(check->isEnabled());
        scheduler.checkForDocumentsStart();
        QVERIFY(!check->isEnabled());
        scheduler.setState(ClientState::InvalidCredentials);
        QVERIFY(status->isEnabled());
        QVERIFY(!check->isEnabled());
        QCOMPARE(status->text(), QStringLiteral("Status:  Disabled..."));
        scheduler.windowWatcherCheckFinished();
        QVERIFY(check->isEnabled());
        QCOMPARE(tray.statusItem()->progressMessage(), QStringLiteral("Download Complete"));
        tray.menuWillOpen();
        QVERIFY(!updates->isEnabled());
    }

    // The icon's tooltip: the state in words and the last check that ended, as the scheduler and the
    // coordinators report them.
    void toolTip_data() {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("expected"); // after "Docuvane Fetch\n"
        const QStringList none;
        row("never checked", none, 1, "Enabled");
        row("checking", QStringList{"start", "ok"}, 1, "Enabled\nChecking for documents…");
        row("five new", QStringList{"start", "ok", "ok", "ok", "ok", "ok", "end"}, 1,
            "Enabled\nLast checked 14:45: 5 new documents");
        row("one new", QStringList{"start", "ok", "end"}, 1, "Enabled\nLast checked 14:45: 1 new document");
        row("nothing new", QStringList{"start", "end"}, 1, "Enabled\nLast checked 14:45: no new documents");
        row("some not downloaded", QStringList{"start", "ok", "ok", "fail", "end"}, 1,
            "Enabled\nLast checked 14:45: 2 of 3 new documents downloaded");
        row("no list", QStringList{"start", "ok", "unlisted"}, 5,
            "Disabled: the service reported an error\nLast checked 14:45: the check failed");
        row("an account lookup is no check", QStringList{"ok", "end"}, 1, "Enabled");
        row("a later check counts afresh", QStringList{"start", "ok", "end", "start", "end"}, 1,
            "Enabled\nLast checked 14:45: no new documents");
    }
    void toolTip() {
        QFETCH(QStringList, events);
        QFETCH(int, state);
        QFETCH(QString, expected);
        FetchScheduler scheduler;
        DVFetchWebServices& services = *scheduler.webServices();
        scheduler.setWatcherServices(&services); // with no document list
        TrayPresenter tray(scheduler, nullptr, 0);
        tray.follow(services);
        tray.setClock([] { return QDateTime(QDate(2026, 12, 7), QTime(14, 45, 59)); });
        for (const QString& event : events) {
            if (event == "start")
                scheduler.checkForDocumentsStart();
            else if (event == "ok" || event == "fail")
                emit services.documentDownloaded({}, event == "ok");
            else if (event == "end")
                emit scheduler.cycleEnded(true);
            else
                scheduler.windowWatcherCheckFinished();
        }
        scheduler.setState(ClientState(state));
        QCOMPARE(tray.statusItem()->toolTip(), "Docuvane Fetch\n" + expected);
    }
};

DV_TEST_WIDGETS_MAIN(TestTrayPresenter)
#include "tst_traypresenter.moc"
