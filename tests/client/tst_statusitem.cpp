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
    // Each entry at its place in the menu, reporting itself when triggered.
    void entries() {
        using E = DVStatusItem::Entry;
        const QList<QPair<E, int>> entries{
            {E::Status, 0},      {E::CheckForDocuments, 1}, {E::OpenFetchFolder, 2}, {E::Website, 3},
            {E::Preferences, 4}, {E::CheckForUpdates, 6},   {E::SignInAgain, 7},     {E::Quit, 9}};
        DVStatusItem item(nullptr, 0);
        QCOMPARE(item.menu()->actions().size(), 10);
        QSignalSpy triggered(&item, &DVStatusItem::triggered);
        for (const auto& [entry, index] : entries) {
            QCOMPARE(item.menu()->actions().indexOf(item.action(entry)), index);
            QVERIFY(!item.action(entry)->text().isEmpty());
            item.action(entry)->trigger();
            QCOMPARE(triggered.takeFirst().first().value<E>(), entry);
        }
    }

    // Exported menus show only the action's text, so it carries the row's words too.
    void rowTexts_data() {
        QTest::addColumn<bool>("progress");
        QTest::addColumn<QString>("message");
        QTest::newRow("progress file") << true << "Letter & Co <2024>.pdf";
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
        // Each row's indicator on its own: stopping one leaves the other going.
        item.setProgressAnimating(true);
        item.setDestinationAnimating(true);
        item.setProgressAnimating(false);
        item.setDestinationIndicatorHidden(true);
        QVERIFY(!item.progressIndicator()->isAnimating() && item.destinationIndicator()->isAnimating());
        QVERIFY(item.destinationIndicator()->isHidden());
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
        QStringList logged;
        UserNotificationCenter::Fallback fallback;
        {
            DVStatusItem item(nullptr, 0);
            QVERIFY(!item.showMessage("Docuvane Fetch", "No new documents")); // no tray: the caller logs it
            fallback = item.notificationFallback(
                [&logged](const UserNotification& n) { logged << n.title + ": " + n.informativeText; });
        }
        fallback({"Docuvane Fetch", "No new documents"});
        QCOMPARE(logged, QStringList{"Docuvane Fetch: No new documents"});
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
        const QString folder = qEnvironmentVariable("DV_SCREENSHOT_DIR");
        if (!folder.isEmpty() && settleMs == 0)
            QVERIFY(window->grab().save(folder + "/no-tray-window.png"));
    }
};

DV_TEST_WIDGETS_MAIN(TestStatusItem)
#include "tst_statusitem.moc"
