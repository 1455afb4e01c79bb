// docuvane-window-snapshots: renders every window of the client in its main states to PNG files, for
// reviewing layouts and for the documentation. Runs against a temporary home and an in-process
// development service, so it touches neither the user's settings nor a real service.
#include "AuthenticationController.h"
#include "ClientSettings.h"
#include "DVAccountSetupView.h"
#include "DVDropboxLocationView.h"
#include "DVDropboxMissingWarning.h"
#include "DVFolderChooser.h"
#include "DVPasswordCipher.h"
#include "DVSetupWindowController.h"
#include "DVWindowDelegates.h"
#include "DevServerInstance.h"
#include "DocuvaneFetchIdentity.h"
#include "PreferencesController.h"
#include "UserDefaults.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

const QString kUser = QStringLiteral("anna@example.com");
const QString kPassword = QStringLiteral("correct horse");

// Answers every folder question with one folder.
class FixedChooser : public DVFolderChooser {
public:
    QString folder;
    void chooseFolder(const QString&, QWidget*, Completion completion) override { completion(folder); }
};

// An updater whose automatic checks are on, so that its check box is shown as it usually is.
class UpdaterOwner : public QObject, public DVUpdaterProvider, public DVAutomaticUpdateChecks {
public:
    DVAutomaticUpdateChecks* sparkleUpdater() override { return this; }
    bool automaticallyChecksForUpdates() const override { return true; }
    void setAutomaticallyChecksForUpdates(bool) override {}
};

class Snapshots {
public:
    explicit Snapshots(QString folder)
        : _folder(std::move(folder)) {}

    bool save(QWidget* widget, const QString& name) {
        // Past the pages' fade.
        QTest::qWait(300);
        const QString path = _folder + QLatin1Char('/') + name + QStringLiteral(".png");
        if (!widget->grab().save(path)) {
            std::fprintf(stderr, "docuvane-window-snapshots: could not write %s\n", qPrintable(path));
            return false;
        }
        std::printf("%s\n", qPrintable(path));
        return true;
    }

    // Waits until a status line no longer says "Authenticating...".
    static bool waitForStatus(const QLabel* status) {
        QDeadlineTimer deadline(20000);
        while (status->text() == QStringLiteral("Authenticating...") && !deadline.hasExpired())
            QTest::qWait(20);
        return !deadline.hasExpired();
    }

private:
    QString _folder;
};

template <typename T> T* part(const QDialog* window, const char* name) {
    return window->findChild<T*>(QLatin1String(name));
}

int run(const QString& outputFolder) {
    QTemporaryDir work;
    DevServerOptions options;
    options.documentsFolder = work.path() + QStringLiteral("/documents");
    QDir().mkpath(options.documentsFolder);
    options.user = kUser;
    options.password = kPassword;
    DevServerInstance server(options);
    QString problem;
    if (server.start(&problem) != DevServerInstance::Failure::None) {
        std::fprintf(stderr, "docuvane-window-snapshots: %s\n", qPrintable(problem));
        return 1;
    }
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    defaults.setValue(server.baseUrl(), QStringLiteral("DocuvaneServerURL"));
    defaults.setInteger(1, QStringLiteral("addToLoginItems"));
    defaults.setBool(true, QStringLiteral("useBlackAndWhiteMenuBarIcons"));

    Snapshots shots(outputFolder);
    bool ok = true;
    FixedChooser chooser;
    chooser.folder = QStringLiteral("/home/anna/Documents/Scanned letters/From the service/2026");

    DVSetupWindowController setup(nullptr);
    setup.setFolderChooser(&chooser);
    // A first launch fills in the default path after the windows are made.
    ClientSettings::shared().setFetchFolderPath(QStringLiteral("/home/anna/Desktop/Docuvane Fetch"));
    setup.showWindow();
    ok &= shots.save(setup.window(), QStringLiteral("setup-welcome"));
    setup.nextView();
    ok &= shots.save(setup.window(), QStringLiteral("setup-account"));
    setup.accountView()->emailField()->setText(kUser);
    setup.accountView()->passwordField()->setText(QStringLiteral("wrong password"));
    setup.accountView()->textDidChange();
    setup.nextView();
    ok &= Snapshots::waitForStatus(setup.accountView()->statusField());
    ok &= shots.save(setup.window(), QStringLiteral("setup-account-error"));
    setup.windowShouldClose();
    if (QMessageBox* question = setup.quitQuestion()) {
        ok &= shots.save(question, QStringLiteral("setup-quit-question"));
        question->reject();
    }
    setup.accountView()->passwordField()->setText(kPassword);
    setup.nextView();
    ok &= Snapshots::waitForStatus(setup.accountView()->statusField());
    ok &= shots.save(setup.window(), QStringLiteral("setup-folder-page"));
    setup.locationView()->matrix()->button(1)->click();
    setup.locationView()->changeDropboxFolder();
    ok &= shots.save(setup.window(), QStringLiteral("setup-folder-chosen"));
    setup.window()->hide();

    defaults.setValue(kUser, QStringLiteral("email"));
    defaults.setValue(encryptPassword(kPassword), QStringLiteral("password"));
    UpdaterOwner owner;
    PreferencesController preferences(&owner);
    preferences.showWindow();
    ok &= shots.save(preferences.window(), QStringLiteral("preferences"));
    part<QLineEdit>(preferences.window(), "_password")->setText(QStringLiteral("wrong password"));
    preferences.apply();
    ok &= Snapshots::waitForStatus(part<QLabel>(preferences.window(), "_status"));
    ok &= shots.save(preferences.window(), QStringLiteral("preferences-error"));
    preferences.revert();
    chooser.folder = QStringLiteral("/home/anna/Documents");
    preferences.setFolderChooser(&chooser);
    preferences.changeDropboxFolder();
    if (QMessageBox* question = preferences.moveQuestion()) {
        ok &= shots.save(question, QStringLiteral("preferences-move-question"));
        question->reject();
    }
    preferences.window()->hide();

    AuthenticationController authentication(nullptr);
    authentication.showWindow();
    ok &= shots.save(authentication.window(), QStringLiteral("authentication"));
    part<QLineEdit>(authentication.window(), "_password")->setText(QStringLiteral("wrong password"));
    authentication.ok();
    ok &= Snapshots::waitForStatus(part<QLabel>(authentication.window(), "_status"));
    ok &= shots.save(authentication.window(), QStringLiteral("authentication-error"));
    authentication.window()->hide();

    DVDropboxMissingWarning warning(nullptr);
    warning.showWindow();
    ok &= shots.save(warning.window(), QStringLiteral("missing-folder"));
    warning.window()->hide();

    auto alert = DVDropboxMissingWarning::invalidFolderAlert(QStringLiteral("docuvane fetch"));
    alert->show();
    ok &= shots.save(alert.get(), QStringLiteral("docuvane-drop-alert"));
    alert->hide();

    server.stop();
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
    DocuvaneFetchIdentity::install();
    // A home of its own before anything reads the environment: the windows read and write the settings.
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/.config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/.local/share")));
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 2) {
        std::fprintf(stderr, "usage: docuvane-window-snapshots <output folder>\n");
        return 2;
    }
    const QString output = QDir(arguments.at(1)).absolutePath();
    QDir().mkpath(output);
    return run(output);
}
