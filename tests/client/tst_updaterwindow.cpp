#include "DVUpdaterWindow.h"
#include "TestMain.h"
#include "TestRows.h"
#include "Updater.h"
#include "UserDefaults.h"
#include "Workspace.h"

#include <QApplication>
#include <QPushButton>

// What the window shows for each answer of the updater, and what its buttons do.
class TestUpdaterWindow : public QObject {
    Q_OBJECT

private slots:
    void answers_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("headline");
        QTest::addColumn<QString>("detailContains");
        QTest::addColumn<bool>("offersDownload");
        row("update", "found", "A new version of Docuvane Fetch is available", "2.0 (200)", true);
        row("up to date", "none", "You're up to date", "1.0", false);
        row("failure", "failed", "Update check failed", "status 500", false);
    }
    void answers() {
        QFETCH(QString, answer);
        QFETCH(QString, headline);
        QFETCH(QString, detailContains);
        QFETCH(bool, offersDownload);
        QList<QUrl> opened;
        Workspace::setOpener([&opened](const QUrl& url) {
            opened << url;
            return true;
        });
        QTemporaryDir settings;
        UserDefaults defaults(UserDefaults::standardDomainName(), settings.path());
        Updater updater(QString(), "1.0", &defaults);
        DVUpdaterWindow window(&updater);
        // The signals as the updater sends them; the window listens on its own.
        if (answer == "found")
            emit updater.updateFound("200", "2.0", QUrl("https://docuvane.example/fetch"));
        else if (answer == "none")
            emit updater.noUpdateFound();
        else
            emit updater.checkFailed("The update server answered with status 500.");
        QVERIFY(window.isVisible());
        QCOMPARE(window.headline(), headline);
        QVERIFY2(window.detail().contains(detailContains), qPrintable(window.detail()));
        QCOMPARE(window.downloadButton()->isVisible(), offersDownload);
        (offersDownload ? window.downloadButton() : window.closeButton())->click();
        QVERIFY(!window.isVisible());
        QCOMPARE(opened, offersDownload ? QList<QUrl>{QUrl("https://docuvane.example/fetch")} : QList<QUrl>{});
        Workspace::setOpener({});
    }
};

DV_TEST_WIDGETS_MAIN(TestUpdaterWindow)
#include "tst_updaterwindow.moc"
