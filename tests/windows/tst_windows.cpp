#include "AuthenticationController.h"
#include "ClientSettings.h"
#include "DVAccountSetupView.h"
#include "DVDropboxLocationView.h"
#include "DVDropboxMissingWarning.h"
#include "DVPasswordCipher.h"
#include "DVSetupWindowController.h"
#include "DVWindow.h"
#include "DevServerInstance.h"
#include "PreferencesController.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "TestRows.h"
#include "UserDefaults.h"
#include "WSLogger.h"
#include "WindowTestSupport.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

const QString kUser = QStringLiteral("anna@example.com");
const QString kPassword = QStringLiteral("correct horse");
const QString kOldPassword = QStringLiteral("old password");
const QString kRefused = QStringLiteral("Invalid user name or password");
const QString kAuthenticating = QStringLiteral("Authenticating...");
const QString kChooserTitle = QStringLiteral("Choose a new place to put your Docuvane Fetch.");

UserDefaults& settings() {
    return UserDefaults::standardUserDefaults();
}

QString storedPasswordText() {
    const QVariant stored = settings().valueForKey(QStringLiteral("password"));
    return stored.isValid() ? decryptPassword(stored.toByteArray()) : QStringLiteral("(none)");
}

QString storedFolder() {
    return settings().valueForKey(QStringLiteral("dropboxFolderPath")).toString();
}

bool isRed(const QLabel* status) {
    return status->palette().color(QPalette::WindowText) == DVWindow::errorColor();
}

// Replaces a field's text by typing, as the user would.
void type(QLineEdit* field, const QString& text) {
    field->selectAll();
    if (text.isEmpty())
        QTest::keyClick(field, Qt::Key_Backspace);
    for (const QChar c : text) {
        // Key events with the text only: QTest's own typing knows Latin-1 letters alone.
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(field, &press);
    }
}

// The text a label shows, as the user would select and copy it: markup shown as such, or its rendering.
QString shownText(QLabel* label) {
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setSelection(0, int(label->text().size()));
    return label->selectedText();
}

template <typename T> T* part(QDialog* window, const char* name) {
    T* found = window->findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no %s in %s", name, qPrintable(window->objectName()));
    return found;
}

} // namespace

// The windows with real widgets, key presses and clicks, logging in to the development service.
class TestWindows : public QObject {
    Q_OBJECT

    QTemporaryDir _work;
    std::unique_ptr<DevServerInstance> _server;
    RecordingDelegate _delegate;
    ScriptedChooser _chooser;
    QString _defaultFolder;
    QString _logPath;

    QString currentPage(const DVSetupWindowController& setup) const {
        if (setup.currentView() == setup.welcomeView())
            return QStringLiteral("welcome");
        if (setup.currentView() == setup.accountView())
            return QStringLiteral("account");
        return setup.currentView() == setup.locationView() ? QStringLiteral("location") : QStringLiteral("?");
    }

    // Answers the next application-modal message box with its first button, recording its texts.
    void answerNextAlert(QStringList* texts) {
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [poll, texts] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            *texts << box->text() << box->informativeText();
            box->buttons().first()->click();
            poll->deleteLater();
        });
        poll->start(10);
    }

private slots:
    void initTestCase() {
        DevServerOptions options;
        options.documentsFolder = _work.path() + QStringLiteral("/documents");
        QDir().mkpath(options.documentsFolder);
        options.user = kUser;
        options.password = kPassword;
        _server = std::make_unique<DevServerInstance>(options);
        QString problem;
        QCOMPARE(_server->start(&problem), DevServerInstance::Failure::None);
        _defaultFolder = QDir::homePath() + QStringLiteral("/Desktop/Docuvane Fetch");
        WSLogger::sharedInstance().setFileName(_logPath = _work.filePath(QStringLiteral("client.log")));
    }

    void cleanupTestCase() { _server->stop(); }

    void init() {
        // What an earlier test's quit left queued.
        QCoreApplication::processEvents();
        settings().setPersistentDomain({{QStringLiteral("DocuvaneServerURL"), _server->baseUrl()},
                                        {QStringLiteral("dropboxFolderPath"), _defaultFolder}},
                                       UserDefaults::standardDomainName());
        _delegate.events.clear();
        _delegate.snapshot = [] { return QString(); };
        _chooser.answers.clear();
        _chooser.titles.clear();
        _chooser.sheetsOn.clear();
    }

    // --- Setup assistant ---

    void setupNextFollowsEdits_data() {
        QTest::addColumn<QString>("storedEmail");
        QTest::addColumn<QString>("storedPassword");
        QTest::addColumn<QString>("typedEmail"); // null: not touched
        QTest::addColumn<QString>("typedPassword");
        QTest::addColumn<bool>("nextEnabled");
        QTest::addColumn<QString>("expectedEmail");
        QTest::addColumn<QString>("expectedPassword");
        const QString none;
        row("filled in from the settings", kUser, kPassword, none, none, false, kUser, kPassword);
        row("one edit, both filled", kUser, kPassword, "anna@example.org", none, true, "anna@example.org", kPassword);
        row("password emptied", kUser, kPassword, none, "", false, kUser, "(none)");
        row("only an address", "", "", kUser, none, false, kUser, "(none)");
        row("both typed", "", "", kUser, "pässwörd", true, kUser, "pässwörd");
    }

    void setupNextFollowsEdits() {
        QFETCH(QString, storedEmail);
        QFETCH(QString, storedPassword);
        QFETCH(QString, typedEmail);
        QFETCH(QString, typedPassword);
        QFETCH(bool, nextEnabled);
        QFETCH(QString, expectedEmail);
        QFETCH(QString, expectedPassword);
        settings().setValue(storedEmail, QStringLiteral("email"));
        if (!storedPassword.isEmpty())
            settings().setValue(encryptPassword(storedPassword), QStringLiteral("password"));

        DVSetupWindowController setup(&_delegate);
        setup.showWindow();
        QTest::mouseClick(setup.welcomeView()->nextButton(), Qt::LeftButton);
        QCOMPARE(currentPage(setup), QStringLiteral("account"));
        DVAccountSetupView* page = setup.accountView();
        QCOMPARE(page->email(), storedEmail);
        QCOMPARE(page->password(), storedPassword);
        if (!typedEmail.isNull())
            type(page->emailField(), typedEmail);
        if (!typedPassword.isNull())
            type(page->passwordField(), typedPassword);

        QCOMPARE(page->nextButton()->isEnabled(), nextEnabled);
        QCOMPARE(settings().valueForKey(QStringLiteral("email")).toString(), expectedEmail);
        QCOMPARE(storedPasswordText(), expectedPassword);
        QVERIFY(_delegate.events.isEmpty());
    }

    void setupLogin_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("serviceAddress");
        QTest::addColumn<QString>("expectedPage");
        QTest::addColumn<QString>("expectedStatus"); // red when not empty
        row("refused", "wrong", true, "account", kRefused);
        row("accepted", kPassword, true, "location", "");
        row("no service address", kPassword, false, "account", "the address of the Docuvane service");
    }

    void setupLogin() {
        QFETCH(QString, password);
        QFETCH(bool, serviceAddress);
        QFETCH(QString, expectedPage);
        QFETCH(QString, expectedStatus);
        if (!serviceAddress)
            settings().removeObjectForKey(QStringLiteral("DocuvaneServerURL"));
        DVSetupWindowController setup(&_delegate);
        setup.showWindow();
        setup.moveToView(setup.accountView());
        DVAccountSetupView* page = setup.accountView();
        type(page->emailField(), kUser);
        type(page->passwordField(), password);

        // Return in a field presses Next.
        QTest::keyClick(page->passwordField(), Qt::Key_Return);
        if (serviceAddress) {
            QVERIFY(!page->nextButton()->isEnabled());
            QCOMPARE(page->status(), kAuthenticating);
            QVERIFY(!isRed(page->statusField()));
        }
        QTRY_VERIFY_WITH_TIMEOUT(page->status() != kAuthenticating, 20000);

        QCOMPARE(currentPage(setup), expectedPage);
        QVERIFY2(page->status().contains(expectedStatus), qPrintable(page->status()));
        QCOMPARE(page->status().isEmpty(), expectedStatus.isEmpty());
        QCOMPARE(isRed(page->statusField()), !expectedStatus.isEmpty());
        QVERIFY(page->nextButton()->isEnabled());
        QCOMPARE(settings().valueForKey(QStringLiteral("ticket")).isValid(), expectedPage == "location");
        QVERIFY(_delegate.events.isEmpty());
        // The setting's name is for the log, not for the user.
        QCOMPARE(readFile(_logPath).contains("\"DocuvaneServerURL\""), !serviceAddress);
    }

    // Escape, sent to whatever has the keyboard in the window, is the close box.
    void setupCloseBox_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("escape");
        QTest::addColumn<bool>("asks");
        QTest::newRow("welcome page") << 0 << false << true;
        QTest::newRow("account page") << 1 << false << true;
        QTest::newRow("last page") << 2 << false << false;
        QTest::newRow("welcome page, Escape") << 0 << true << true;
        QTest::newRow("account page, Escape") << 1 << true << true;
        QTest::newRow("last page, Escape") << 2 << true << false;
    }

    void setupCloseBox() {
        QFETCH(int, page);
        QFETCH(bool, escape);
        QFETCH(bool, asks);
        DVSetupWindowController setup(&_delegate);
        setup.showWindow();
        DVNavigationView* pages[] = {setup.welcomeView(), setup.accountView(), setup.locationView()};
        setup.moveToView(pages[page]);

        if (escape)
            QTest::keyClick(setup.window()->focusWidget(), Qt::Key_Escape);
        else
            setup.window()->close();
        QTRY_COMPARE(setup.window()->isVisible(), asks);
        QMessageBox* question = sheetOn(setup.window());
        QCOMPARE(question != nullptr, asks);
        if (question) {
            QVERIFY(hasFixedSize(question) && hasFixedSize(setup.window()));
            QCOMPARE(question->text(), QStringLiteral("Are you sure you want to Quit Docuvane Fetch?"));
            QCOMPARE(question->windowModality(), Qt::WindowModal);
            QCOMPARE(question->buttons().size(), 2);
            // A second click on the close box while the question is open asks nothing more.
            setup.window()->close();
            QCOMPARE(setup.window()->findChildren<QMessageBox*>().size(), 1);
            buttonTitled(question, QStringLiteral("Cancel"))->click();
            QTRY_VERIFY(!sheetOn(setup.window()));
            QVERIFY(setup.window()->isVisible());
        }
        // Leaving the last page finishes setup, as its Finish button does: the account and folder are stored.
        QCOMPARE(_delegate.events, asks ? QStringList() : QStringList{QStringLiteral("setupComplete")});
    }

    void quit_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("answer");
        // -1: no quit; otherwise the least time before it, in milliseconds.
        QTest::addColumn<int>("delay");
        row("setup question, Quit", "setup", "Quit", 500);
        row("setup question, Cancel", "setup", "Cancel", -1);
        row("setup question, Escape", "setup", "Escape", -1);
        row("authentication, Quit", "authentication", "Quit", 500);
        row("missing folder, Quit", "missing", "Quit", 0);
    }

    void quit() {
        QFETCH(QString, window);
        QFETCH(QString, answer);
        QFETCH(int, delay);
        DVSetupWindowController setup(&_delegate);
        AuthenticationController authentication(&_delegate);
        DVDropboxMissingWarning warning(&_delegate);
        std::function<void()> act;
        if (window == "setup") {
            setup.showWindow();
            setup.moveToView(setup.accountView());
            setup.window()->close();
            QMessageBox* question = sheetOn(setup.window());
            QVERIFY(question);
            if (answer == "Escape")
                act = [question] { QTest::keyClick(question, Qt::Key_Escape); };
            else
                act = [question, answer] { buttonTitled(question, answer)->click(); };
        } else if (window == "authentication") {
            authentication.showWindow();
            act = [&] { QTest::mouseClick(part<QPushButton>(authentication.window(), "_quit"), Qt::LeftButton); };
        } else {
            warning.showWindow();
            act = [&] { QTest::mouseClick(part<QPushButton>(warning.window(), "_quit"), Qt::LeftButton); };
        }
        QTimer::singleShot(0, act);

        const qint64 elapsed = millisecondsUntilQuit(delay < 0 ? 1500 : 10000);
        if (delay < 0) {
            QCOMPARE(elapsed, -1);
            QVERIFY(setup.window()->isVisible());
            QVERIFY(!sheetOn(setup.window()));
        } else {
            QVERIFY2(elapsed >= delay - 10 && elapsed < delay + 1500, qPrintable(QString::number(elapsed)));
        }
    }

    void setupFinishAndReopen() {
        DVSetupWindowController setup(&_delegate);
        setup.showWindow();
        setup.moveToView(setup.accountView());
        // Hidden and shown again, the assistant is where the user left it.
        setup.window()->hide();
        setup.showWindow();
        QCOMPARE(currentPage(setup), QStringLiteral("account"));
        QVERIFY(setup.accountView()->previousButton()->isVisible());

        setup.moveToView(setup.locationView());
        QTest::keyClick(setup.window(), Qt::Key_Return);
        QVERIFY(!setup.window()->isVisible());
        QCOMPARE(_delegate.events, QStringList{QStringLiteral("setupComplete")});
        setup.showWindow();
        QCOMPARE(currentPage(setup), QStringLiteral("location"));
        QTest::mouseClick(setup.locationView()->previousButton(), Qt::LeftButton);
        QCOMPARE(currentPage(setup), QStringLiteral("account"));
        QVERIFY(!setup.welcomeView()->previousButton()->isVisible());
    }

    void setupFolderChoice_data() {
        QTest::addColumn<QString>("chosen"); // null: cancelled
        QTest::addColumn<QString>("expected");
        row("a folder", "/srv/shared", "/srv/shared/Docuvane Fetch");
        row("with a trailing slash", "/srv/shared/", "/srv/shared/Docuvane Fetch");
        row("the root", "/", "/Docuvane Fetch");
        row("cancelled", QString(), QString());
    }

    void setupFolderChoice() {
        QFETCH(QString, chosen);
        QFETCH(QString, expected);
        if (expected.isNull())
            expected = _defaultFolder;
        DVSetupWindowController setup(&_delegate);
        setup.setFolderChooser(&_chooser);
        setup.showWindow();
        setup.moveToView(setup.locationView());
        DVDropboxLocationView* page = setup.locationView();
        QCOMPARE(page->dropboxFolderPathField()->toPlainText(), _defaultFolder);
        QVERIFY(!page->changeButton()->isEnabled());
        QTest::mouseClick(page->matrix()->button(1), Qt::LeftButton);
        QVERIFY(page->changeButton()->isEnabled());

        _chooser.answers.push_back(chosen.isNull() ? std::nullopt : std::optional<QString>(chosen));
        QTest::mouseClick(page->changeButton(), Qt::LeftButton);
        QCOMPARE(_chooser.titles, QStringList{kChooserTitle});
        QCOMPARE(storedFolder(), expected);
        QCOMPARE(page->dropboxFolderPathField()->toPlainText(), expected);

        // Back to the first row: the button goes off, the choice stays.
        QTest::mouseClick(page->matrix()->button(0), Qt::LeftButton);
        QVERIFY(!page->changeButton()->isEnabled());
        QCOMPARE(storedFolder(), expected);
        QCOMPARE(page->dropboxFolderPathField()->toPlainText(), expected);
        QVERIFY(_delegate.events.isEmpty());
    }

    void setupPathFieldGrowsAndShrinks() {
        DVSetupWindowController setup(&_delegate);
        setup.setFolderChooser(&_chooser);
        setup.showWindow();
        setup.moveToView(setup.locationView());
        DVDropboxLocationView* page = setup.locationView();
        QPlainTextEdit* field = page->dropboxFolderPathField();
        QWidget* window = setup.window();
        const int shortHeight = field->height();
        const int shortWindow = window->height();

        _chooser.answers = {QStringLiteral("/srv/") + QStringLiteral("household-documents-and-letters/").repeated(8),
                            QStringLiteral("/srv")};
        page->changeDropboxFolder();
        const int longHeight = field->height();
        QVERIFY2(longHeight > 2 * shortHeight, qPrintable(QStringLiteral("%1 %2").arg(longHeight).arg(shortHeight)));
        QCOMPARE(window->height() - shortWindow, longHeight - shortHeight);
        // Every line of the path is inside the field.
        QVERIFY(field->document()->size().height() * QFontMetricsF(field->font()).lineSpacing() <= longHeight + 1);

        page->changeDropboxFolder();
        QVERIFY(field->height() <= shortHeight);
        QCOMPARE(window->height() - shortWindow, field->height() - shortHeight);
    }

    void pathFieldsFollowTheSetting() {
        // Windows made before the launch stores the default path show it once it is stored.
        DVSetupWindowController setup(&_delegate);
        PreferencesController preferences(&_delegate);
        const QString path = QStringLiteral("/srv/later/Docuvane Fetch");
        ClientSettings::shared().setFetchFolderPath(path);
        QCOMPARE(setup.locationView()->dropboxFolderPathField()->toPlainText(), path);
        QCOMPARE(part<QPlainTextEdit>(preferences.window(), "_dropboxPath")->toPlainText(), path);
    }

    // --- Preferences ---

    void preferencesApply_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("serviceAddress");
        QTest::addColumn<QString>("expectedStatus");
        QTest::addColumn<QString>("expectedStored");
        QTest::addColumn<QString>("expectedTicket"); // "new", "none" or "old"
        QTest::addColumn<QStringList>("expectedEvents");
        const QString noAddress = QStringLiteral("the address of the Docuvane service");
        row("accepted", kPassword, true, "", kPassword, "new", QStringList{"accountInfo anna@example.com"});
        row("refused", "wrong", true, kRefused, kOldPassword, "none", QStringList());
        row("no service address", kPassword, false, noAddress, kOldPassword, "old", QStringList());
    }

    void preferencesApply() {
        QFETCH(QString, password);
        QFETCH(bool, serviceAddress);
        QFETCH(QString, expectedStatus);
        QFETCH(QString, expectedStored);
        QFETCH(QString, expectedTicket);
        QFETCH(QStringList, expectedEvents);
        const QString oldEmail = QStringLiteral("someone@example.com");
        settings().setValue(oldEmail, QStringLiteral("email"));
        settings().setValue(encryptPassword(kOldPassword), QStringLiteral("password"));
        settings().setValue(QStringLiteral("old-ticket"), QStringLiteral("ticket"));
        if (!serviceAddress)
            settings().removeObjectForKey(QStringLiteral("DocuvaneServerURL"));
        PreferencesController preferences(&_delegate);
        preferences.showWindow();
        QDialog* window = preferences.window();
        auto* status = part<QLabel>(window, "_status");
        QCOMPARE(part<QLineEdit>(window, "_password")->text(), kOldPassword);

        type(part<QLineEdit>(window, "_email"), kUser);
        type(part<QLineEdit>(window, "_password"), password);
        QTest::keyClick(part<QLineEdit>(window, "_password"), Qt::Key_Return);
        if (serviceAddress) {
            QCOMPARE(status->text(), kAuthenticating);
            QVERIFY(!part<QPushButton>(window, "_apply")->isEnabled());
            QVERIFY(!part<QPushButton>(window, "_revert")->isEnabled());
        }
        QTRY_VERIFY_WITH_TIMEOUT(status->text() != kAuthenticating, 20000);
        if (!expectedEvents.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(_delegate.events, expectedEvents, 20000);

        QVERIFY2(status->text().contains(expectedStatus), qPrintable(status->text()));
        QCOMPARE(status->text().isEmpty(), expectedStatus.isEmpty());
        QCOMPARE(isRed(status), !expectedStatus.isEmpty());
        QVERIFY(part<QPushButton>(window, "_apply")->isEnabled());
        QVERIFY(part<QPushButton>(window, "_revert")->isEnabled());
        QCOMPARE(storedPasswordText(), expectedStored);
        // Only what the service accepted is stored.
        QCOMPARE(settings().valueForKey(QStringLiteral("email")).toString(),
                 expectedTicket == "new" ? kUser : oldEmail);
        const QString ticket = settings().valueForKey(QStringLiteral("ticket")).toString();
        if (expectedTicket == "new")
            QVERIFY(!ticket.isEmpty() && ticket != "old-ticket");
        else
            QCOMPARE(ticket, expectedTicket == "old" ? QStringLiteral("old-ticket") : QString());
        QCOMPARE(_delegate.events, expectedEvents);

        // Revert shows what the window opened with and stores nothing; shown again, it shows what is stored.
        QTest::mouseClick(part<QPushButton>(window, "_revert"), Qt::LeftButton);
        QCOMPARE(part<QLineEdit>(window, "_email")->text(), oldEmail);
        QCOMPARE(part<QLineEdit>(window, "_password")->text(), kOldPassword);
        QCOMPARE(status->text(), QString());
        QCOMPARE(storedPasswordText(), expectedStored);
        window->hide();
        preferences.showWindow();
        QCOMPARE(part<QLineEdit>(window, "_password")->text(), expectedStored);
    }

    void preferencesFolderMove_data() {
        QTest::addColumn<QString>("chosen"); // null: chooser cancelled
        QTest::addColumn<QString>("answer"); // empty: no question expected
        QTest::addColumn<bool>("moves");
        row("the current folder's parent", QDir::homePath() + "/Desktop", "", false);
        row("another folder, Move", "/srv/shared", "Move", true);
        row("another folder, Cancel", "/srv/shared", "Cancel", false);
        row("another folder, Escape", "/srv/shared", "Escape", false);
        row("chooser cancelled", QString(), "", false);
    }

    void preferencesFolderMove() {
        QFETCH(QString, chosen);
        QFETCH(QString, answer);
        QFETCH(bool, moves);
        PreferencesController preferences(&_delegate);
        preferences.setFolderChooser(&_chooser);
        preferences.showWindow();
        QDialog* window = preferences.window();
        _delegate.snapshot = [] { return QStringLiteral("stored ") + storedFolder(); };
        _chooser.answers.push_back(chosen.isNull() ? std::nullopt : std::optional<QString>(chosen));
        QTest::mouseClick(part<QPushButton>(window, "_changeButton"), Qt::LeftButton);
        QCOMPARE(_chooser.titles, QStringList{kChooserTitle});

        QMessageBox* question = sheetOn(window);
        QCOMPARE(question != nullptr, !answer.isEmpty());
        if (question) {
            QCOMPARE(question->text(), QStringLiteral("Move your Docuvane Fetch?"));
            QCOMPARE(question->windowModality(), Qt::WindowModal);
            if (answer == "Escape")
                QTest::keyClick(question, Qt::Key_Escape);
            else
                buttonTitled(question, answer)->click();
            QTRY_VERIFY(!sheetOn(window));
        }
        const QString newPath = QStringLiteral("/srv/shared/Docuvane Fetch");
        QCOMPARE(storedFolder(), moves ? newPath : _defaultFolder);
        QCOMPARE(part<QPlainTextEdit>(window, "_dropboxPath")->toPlainText(), storedFolder());
        const QStringList expected{QStringLiteral("folderChanged %1 -> %2 (stored %2)").arg(_defaultFolder, newPath)};
        QCOMPARE(_delegate.events, moves ? expected : QStringList());
    }

    void preferencesCheckBoxes_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("key"); // empty: the updater's switch
        QTest::addColumn<QVariant>("before");
        QTest::addColumn<QVariant>("after");
        QTest::addColumn<QString>("event");
        const QVariant no(false), yes(true), zero(qint64(0)), one(qint64(1));
        const char* icons = "useBlackAndWhiteMenuBarIcons";
        row("launch at login on", "_launchAtStartup", "addToLoginItems", zero, one, "addToLaunchAtLogin 1");
        row("launch at login off", "_launchAtStartup", "addToLoginItems", one, zero, "removeFromLaunchAtLogin 0");
        row("black-and-white on", "_blackAndWhite", icons, no, yes, "useBlackAndWhiteMenuBarIcons true");
        row("automatic checks on", "_automaticallyCheckForUpdates", "", no, yes, "automaticChecks 1");
    }

    void preferencesCheckBoxes() {
        QFETCH(QString, box);
        QFETCH(QString, key);
        QFETCH(QVariant, before);
        QFETCH(QVariant, after);
        QFETCH(QString, event);
        if (key.isEmpty())
            _delegate.automaticChecks = before.toBool();
        else
            settings().setValue(before, key);
        // The report must find the new state stored already.
        _delegate.snapshot = [key] { return settings().valueForKey(key).toString(); };
        PreferencesController preferences(&_delegate);
        preferences.showWindow();
        auto* check = part<QCheckBox>(preferences.window(), qPrintable(box));
        QCOMPARE(check->isChecked(), before.toBool());
        QTest::mouseClick(check, Qt::LeftButton);
        QCOMPARE(_delegate.events, QStringList{event});
        if (key.isEmpty())
            QCOMPARE(_delegate.automaticChecks, after.toBool());
        else
            QCOMPARE(settings().valueForKey(key), after);
    }

    void preferencesWithoutProtocols() {
        // A delegate that adopts nothing is sent nothing; the settings still change.
        QObject plain;
        PreferencesController preferences(&plain);
        preferences.showWindow();
        QVERIFY(!part<QCheckBox>(preferences.window(), "_automaticallyCheckForUpdates")->isEnabled());
        QTest::mouseClick(part<QCheckBox>(preferences.window(), "_launchAtStartup"), Qt::LeftButton);
        QCOMPARE(settings().valueForKey(QStringLiteral("addToLoginItems")), QVariant(qint64(1)));
        QVERIFY(part<QLabel>(preferences.window(), "_version")->text().startsWith(QStringLiteral("Docuvane Fetch ")));
    }

    // --- Authentication ---

    void authenticationLogin_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("serviceAddress");
        QTest::addColumn<bool>("closeWhileWaiting");
        QTest::addColumn<QString>("expectedStatus");
        QTest::addColumn<QString>("expectedStored");
        QTest::addColumn<QStringList>("expectedEvents");
        const QStringList complete{QStringLiteral("authenticationComplete ") + kPassword};
        const QString noAddress = QStringLiteral("the address of the Docuvane service");
        row("accepted", kPassword, true, false, "", kPassword, complete);
        row("accepted after the close box", kPassword, true, true, "", kPassword, complete);
        row("refused", "wrong", true, false, kRefused, kOldPassword, QStringList());
        row("no service address", kPassword, false, false, noAddress, kOldPassword, QStringList());
    }

    void authenticationLogin() {
        QFETCH(QString, password);
        QFETCH(bool, serviceAddress);
        QFETCH(bool, closeWhileWaiting);
        QFETCH(QString, expectedStatus);
        QFETCH(QString, expectedStored);
        QFETCH(QStringList, expectedEvents);
        settings().setValue(kUser, QStringLiteral("email"));
        settings().setValue(encryptPassword(kOldPassword), QStringLiteral("password"));
        if (!serviceAddress)
            settings().removeObjectForKey(QStringLiteral("DocuvaneServerURL"));
        _delegate.snapshot = [] { return storedPasswordText(); };
        AuthenticationController authentication(&_delegate);
        authentication.showWindow();
        QDialog* window = authentication.window();
        auto* status = part<QLabel>(window, "_status");
        QTest::keyClicks(part<QLineEdit>(window, "_password"), password);
        QTest::keyClick(part<QLineEdit>(window, "_password"), Qt::Key_Return);
        if (serviceAddress) {
            QCOMPARE(status->text(), kAuthenticating);
            QVERIFY(!part<QPushButton>(window, "_ok")->isEnabled());
            QVERIFY(!part<QPushButton>(window, "_quit")->isEnabled());
        }
        if (closeWhileWaiting) {
            QVERIFY(window->close());
            QVERIFY(!window->isVisible());
        }
        QTRY_VERIFY_WITH_TIMEOUT(status->text() != kAuthenticating, 20000);

        QVERIFY2(status->text().contains(expectedStatus), qPrintable(status->text()));
        QCOMPARE(status->text().isEmpty(), expectedStatus.isEmpty());
        QCOMPARE(isRed(status), !expectedStatus.isEmpty());
        QCOMPARE(window->isVisible(), !expectedStatus.isEmpty());
        QVERIFY(hasFixedSize(window));
        QVERIFY(part<QPushButton>(window, "_ok")->isEnabled());
        QVERIFY(part<QPushButton>(window, "_quit")->isEnabled());
        QCOMPARE(storedPasswordText(), expectedStored);
        QCOMPARE(_delegate.events, expectedEvents);
        if (window->isVisible()) {
            // Shown again: the stored address, no password, and the last status, no longer red.
            window->close();
            settings().setValue(QStringLiteral("bert@example.com"), QStringLiteral("email"));
            authentication.showWindow();
            QCOMPARE(part<QLineEdit>(window, "_email")->text(), QStringLiteral("bert@example.com"));
            QCOMPARE(part<QLineEdit>(window, "_password")->text(), QString());
            QVERIFY2(status->text().contains(expectedStatus), qPrintable(status->text()));
            QVERIFY(!isRed(status));
        }
    }

    // --- Missing folder warning ---

    void missingMessage_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("a path holding the placeholder") << "/srv/50%@/Docuvane Fetch";
        QTest::newRow("no stored path") << "";
    }

    void missingMessage() {
        QFETCH(QString, path);
        settings().setValue(path, QStringLiteral("dropboxFolderPath"));
        DVDropboxMissingWarning warning(&_delegate);
        warning.showWindow();
        // The stored path goes in as it is, and the label shows the message's line breaks.
        const QString message = warning.message();
        QVERIFY2(message.contains("It used to be located at:\r\r  " + path + ".\r\rTo restore"), qPrintable(message));
        QCOMPARE(part<QLabel>(warning.window(), "_message")->text(), QString(message).replace('\r', '\n'));
        QVERIFY(warning.window()->isVisible());
        QVERIFY(hasFixedSize(warning.window()));
    }

    void missingChoices_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("chosen"); // null: cancelled
        QTest::addColumn<QStringList>("expectedEvents");
        QTest::addColumn<QStringList>("expectedAlert");
        const QStringList none;
        const QString cancelled;
        const auto invalid = [](const char* name) {
            return QStringList{"Docuvane Drop", QStringLiteral("Invalid Docuvane Drop Folder: ") + name};
        };
        row("create, a place", "_create", "/srv/shared", QStringList{"moved /srv/shared/Docuvane Fetch"}, none);
        row("create, cancelled", "_create", cancelled, none, none);
        row("select, the fetch folder", "_select", "/srv/Docuvane Fetch", QStringList{"selected /srv/Docuvane Fetch"},
            none);
        row("select, another letter case", "_select", "/srv/docuvane fetch", none, invalid("docuvane fetch"));
        row("select, cancelled", "_select", cancelled, none, none);
        row("remind me later", "_remind", cancelled, QStringList{"remind"}, none);
    }

    void missingChoices() {
        QFETCH(QString, button);
        QFETCH(QString, chosen);
        QFETCH(QStringList, expectedEvents);
        QFETCH(QStringList, expectedAlert);
        DVDropboxMissingWarning warning(&_delegate);
        warning.setFolderChooser(&_chooser);
        warning.showWindow();
        _chooser.answers.push_back(chosen.isNull() ? std::nullopt : std::optional<QString>(chosen));
        QStringList alert;
        if (!expectedAlert.isEmpty())
            answerNextAlert(&alert);

        QTest::mouseClick(part<QPushButton>(warning.window(), qPrintable(button)), Qt::LeftButton);

        QCOMPARE(alert, expectedAlert);
        QCOMPARE(_delegate.events, expectedEvents);
        QCOMPARE(warning.window()->isVisible(), expectedEvents.isEmpty());
        if (button != "_remind") {
            QCOMPARE(_chooser.titles, QStringList{kChooserTitle});
            // Creating asks on the warning itself; selecting asks in a chooser of its own.
            QCOMPARE(_chooser.sheetsOn.first(), button == "_create" ? warning.window() : nullptr);
        }
    }

    // --- All windows ---

    // Status lines and messages carry the service's words and file names: shown as they are, never as markup.
    void textsShownAsTheyAre() {
        const QString markup = QStringLiteral("<b>x</b> &amp;");
        DVSetupWindowController setup(&_delegate);
        PreferencesController preferences(&_delegate);
        AuthenticationController authentication(&_delegate);
        DVDropboxMissingWarning warning(&_delegate);
        QStringList checked;
        for (QDialog* window : {setup.window(), preferences.window(), authentication.window(), warning.window()}) {
            for (QLabel* label : window->findChildren<QLabel*>()) {
                if (!label->objectName().contains(QRegularExpression("^_message$|^_status$|Status$")))
                    continue;
                label->setText(markup);
                QCOMPARE(shownText(label), markup);
                checked << label->objectName();
            }
        }
        QCOMPARE(checked.size(), 6);
        const auto alert = DVDropboxMissingWarning::invalidFolderAlert(markup);
        auto* informative = alert->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
        QVERIFY(informative);
        QCOMPARE(shownText(informative), QStringLiteral("Invalid Docuvane Drop Folder: ") + markup);
    }
};

DV_TEST_WIDGETS_MAIN(TestWindows)
#include "tst_windows.moc"
