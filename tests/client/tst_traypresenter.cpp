#include "DVStatusItem.h"
#include "DVStatusWindow.h"
#include "FetchScheduler.h"
#include "TestMain.h"
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
    }
};

DV_TEST_WIDGETS_MAIN(TestTrayPresenter)
#include "tst_traypresenter.moc"
