#include "DVActivityIndicator.h"
#include "DVStatusItem.h"
#include "DVStatusWindow.h"
#include "TestMain.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QToolButton>
#include <QWidgetAction>

Q_DECLARE_METATYPE(DVStatusItem::Entry)

namespace {

// A row put in as the tray presenter does, on the plain action list.
void insertAt(QMenu* menu, int index, QAction* action) {
    menu->insertAction(menu->actions().value(index), action);
}

} // namespace

class TestStatusItem : public QObject {
    Q_OBJECT

private slots:
    void entries_data() {
        QTest::addColumn<DVStatusItem::Entry>("entry");
        QTest::addColumn<int>("index");
        QTest::newRow("status") << DVStatusItem::Entry::Status << 0;
        QTest::newRow("check for documents") << DVStatusItem::Entry::CheckForDocuments << 1;
        QTest::newRow("open folder") << DVStatusItem::Entry::OpenFetchFolder << 2;
        QTest::newRow("website") << DVStatusItem::Entry::Website << 3;
        QTest::newRow("preferences") << DVStatusItem::Entry::Preferences << 4;
        QTest::newRow("check for updates") << DVStatusItem::Entry::CheckForUpdates << 6;
        QTest::newRow("sign in again") << DVStatusItem::Entry::SignInAgain << 7;
        QTest::newRow("quit") << DVStatusItem::Entry::Quit << 9;
    }
    void entries() {
        QFETCH(DVStatusItem::Entry, entry);
        QFETCH(int, index);
        DVStatusItem item(nullptr, 0);
        QCOMPARE(item.menu()->actions().size(), 10);
        QAction* action = item.action(entry);
        QCOMPARE(item.menu()->actions().indexOf(action), index);
        QVERIFY(!action->text().isEmpty());
        QSignalSpy triggered(&item, &DVStatusItem::triggered);
        action->trigger();
        QCOMPARE(triggered.size(), 1);
        QCOMPARE(triggered.first().first().value<DVStatusItem::Entry>(), entry);
    }

    // Exported menus show only the action's text, so it carries the row's words too.
    void rowTexts_data() {
        QTest::addColumn<bool>("progress");
        QTest::addColumn<QString>("message");
        QTest::newRow("progress start") << true << "Download Starting";
        QTest::newRow("progress file") << true << "Letter & Co <2024>.pdf";
        QTest::newRow("progress end") << true << "Download Complete";
        QTest::newRow("account lookup") << false << "Getting Account Info...";
    }
    void rowTexts() {
        QFETCH(bool, progress);
        QFETCH(QString, message);
        DVStatusItem item(nullptr, 0);
        progress ? item.setProgressMessage(message) : item.setDestinationMessage(message);
        QWidgetAction* row = progress ? item.progressItem() : item.destinationItem();
        QCOMPARE(row->text(), message);
        QCOMPARE(progress ? item.progressMessage() : item.destinationMessage(), message);
        // Shown as plain text: a file name is never markup.
        QLabel* label = row->defaultWidget()->findChild<QLabel*>();
        QCOMPARE(label->text(), message);
        QCOMPARE(label->textFormat(), Qt::PlainText);
    }

    void indicators() {
        DVStatusItem item(nullptr, 0);
        QVERIFY(!item.progressIndicator()->isAnimating());
        item.setProgressAnimating(true);
        item.setDestinationAnimating(true);
        QVERIFY(item.progressIndicator()->isAnimating() && item.destinationIndicator()->isAnimating());
        item.setProgressAnimating(false);
        QVERIFY(!item.progressIndicator()->isAnimating() && item.destinationIndicator()->isAnimating());
        item.setDestinationIndicatorHidden(true);
        QVERIFY(item.destinationIndicator()->isHidden());
        item.setDestinationIndicatorHidden(false);
        QVERIFY(!item.destinationIndicator()->isHidden());
    }

    // The owner hears of each opening before the menu is shown, and rows inserted then appear in it.
    void openingShowsInsertedRows() {
        DVStatusItem item(nullptr, 0);
        QSignalSpy opening(&item, &DVStatusItem::menuWillOpen);
        connect(&item, &DVStatusItem::menuWillOpen, this, [&item] {
            if (!item.menu()->actions().contains(item.progressItem()))
                insertAt(item.menu(), 6, item.progressItem());
            item.setProgressMessage("Download Starting");
            item.setProgressAnimating(true);
        });
        item.menu()->popup(QPoint(10, 10));
        QTRY_VERIFY(item.menu()->isVisible());
        QCOMPARE(opening.size(), 1);
        QTRY_VERIFY(item.progressItem()->defaultWidget()->isVisible());
        const QString folder = qEnvironmentVariable("DV_SCREENSHOT_DIR");
        if (!folder.isEmpty())
            QVERIFY(item.menu()->grab().save(folder + "/status-menu-fetching.png"));
        item.menu()->hide();
        item.menu()->popup(QPoint(10, 10));
        QTRY_COMPARE(opening.size(), 2);
        QCOMPARE(item.menu()->actions().count(item.progressItem()), 1);
        item.menu()->hide();
    }

    // The notification center keeps the fallback for the whole run; the item may be gone by then.
    void fallbackOutlivesItem() {
        int logged = 0;
        UserNotificationCenter::Fallback fallback;
        {
            DVStatusItem item(nullptr, 0);
            fallback = item.notificationFallback([&logged](const UserNotification&) { ++logged; });
        }
        fallback({"Docuvane Fetch", "late"});
        QCOMPARE(logged, 1);
    }

    // Offscreen there is no tray: after the wait, a window with the icon, the status line and the menu.
    void windowWithoutTray_data() {
        QTest::addColumn<int>("settleMs");
        QTest::newRow("no wait") << 0;
        QTest::newRow("short wait") << 150;
    }
    void windowWithoutTray() {
        QFETCH(int, settleMs);
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        DVStatusItem item(nullptr, settleMs);
        item.setImage(DVStatusImage::ColorWarning, false);
        item.action(DVStatusItem::Entry::Status)->setText("Status:  Disabled...");
        if (settleMs > 0)
            QVERIFY(!item.statusWindow() || !item.statusWindow()->isVisible());
        QTRY_VERIFY(item.statusWindow() && item.statusWindow()->isVisible());
        QVERIFY(!item.isInTray());
        DVStatusWindow* window = item.statusWindow();
        QCOMPARE(window->statusText(), "Status:  Disabled...");
        QCOMPARE(window->menuButton()->menu(), item.menu());
        QVERIFY(!window->windowIcon().isNull());
        item.action(DVStatusItem::Entry::Status)->setText("Status:  Enabled");
        QCOMPARE(window->statusText(), "Status:  Enabled");
        QVERIFY(!item.showMessage("Docuvane Fetch", "No new documents to download")); // the caller logs it
        QStringList logged;
        const auto fallback = item.notificationFallback(
            [&logged](const UserNotification& n) { logged << n.title + ": " + n.informativeText; });
        fallback({"Docuvane Fetch", "No new documents to download"});
        QCOMPARE(logged, QStringList{"Docuvane Fetch: No new documents to download"});
        const QString folder = qEnvironmentVariable("DV_SCREENSHOT_DIR");
        if (!folder.isEmpty() && settleMs == 0)
            QVERIFY(window->grab().save(folder + "/no-tray-window.png"));
    }
};

DV_TEST_WIDGETS_MAIN(TestStatusItem)
#include "tst_statusitem.moc"
