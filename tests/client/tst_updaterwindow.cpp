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
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("kept"); // the answer the updater keeps in the settings
        const char* found = "A new version of Docuvane Fetch is available";
        row("update, download", "found", found, "2.0 (200)", true, "download", "");
        row("update, skip", "found", found, "2.0 (200)", true, "skip", "SUSkippedVersion=200");
        row("update, remind", "found", found, "2.0 (200)", true, "close", "SURemindLaterVersion=200");
        row("update, Escape", "found", found, "2.0 (200)", true, "escape", "SURemindLaterVersion=200");
        row("up to date", "none", "You're up to date", "1.0", false, "close", "");
        row("failure", "failed", "Update check failed", "status 500", false, "close", "");
    }
    void answers() {
        QFETCH(QString, answer);
        QFETCH(QString, headline);
        QFETCH(QString, detailContains);
        QFETCH(bool, offersDownload);
        QFETCH(QString, button);
        QFETCH(QString, kept);
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
        QCOMPARE(window.skipButton()->isVisible(), offersDownload);
        if (button == "escape")
            QTest::keyClick(&window, Qt::Key_Escape);
        else
            (button == "download" ? window.downloadButton()
             : button == "skip"   ? window.skipButton()
                                  : window.closeButton())
                ->click();
        QVERIFY(!window.isVisible());
        QCOMPARE(opened, button == "download" ? QList<QUrl>{QUrl("https://docuvane.example/fetch")} : QList<QUrl>{});
        QStringList answers;
        for (const char* key : {"SUSkippedVersion", "SURemindLaterVersion"})
            if (defaults.valueForKey(key).isValid())
                answers << key + ("=" + defaults.valueForKey(key).toString());
        QCOMPARE(answers.join(' '), kept);
        Workspace::setOpener({});
    }
};

DV_TEST_WIDGETS_MAIN(TestUpdaterWindow)
#include "tst_updaterwindow.moc"
