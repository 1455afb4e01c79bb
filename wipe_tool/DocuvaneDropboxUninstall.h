#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <sys/types.h>

class PackageManager;
class SharedFileListUtilities;

// The uninstall command's worker: quits the running client, removes its login item, its settings and
// the installed application files. It finds the installation from its own file, which lies in
// "<product folder>/Uninstall.app/Contents/MacOS/". Every step tolerates its target being gone already,
// because several copies of the command may run one after another or side by side.
//
// Run as root, it acts only on an installation that nobody but root can change (the command's file and
// every folder above it owned by root and writable by neither group nor others) and otherwise removes
// nothing; the steps for the user it runs for run in a child process that has wholly become that user.
class DocuvaneDropboxUninstall : public QObject {
    Q_OBJECT

public:
    // The one worker of the process, made on first use.
    static DocuvaneDropboxUninstall* sharedInstance();

    // The four steps in order, each whether or not the one before succeeded.
    void uninstall();

    // As root: whether the command's file and the folders above it are the administrator's alone;
    // problem says what is not.
    static bool installationIsTrusted(QString* problem);

    // Sends the first client process of the invoking user, in process-id order, the request to quit; it
    // is not awaited.
    void quitDocuvaneDropbox();
    // Removes the client's autostart entry, also when the client bundle is already gone.
    void removeDocuvaneDropboxFromLoginItems();
    // Removes the client's settings domain and its older one, of the invoking user.
    void deleteUserDefaults();
    // Removes the client bundle, the uninstaller's bundle, the menu launchers and icon the installation
    // put in (listed in the bundle's Resources/MenuEntries), then the product folder if nothing else is
    // left in it. Folders are reached through descriptors, never through a link. A product folder that
    // belongs to the product's package is removed with the package instead, through the package system;
    // that needs administrator rights, and without them nothing is removed.
    void deleteApplicationFolder();
    // That step for the installation around an uninstaller's bundle, acting as the administrator or as the
    // user, asking packages whether the installation is a package's. Says what happened when it was not a
    // plain removal of files; empty otherwise.
    static QString deleteApplicationFolder(const QString& uninstallBundle, bool administrator,
                                           const PackageManager& packages);

    // The command's own file, also after another copy of the command has removed it.
    static QString toolPath();
    // The bundle whose Contents/MacOS folder holds the command; empty when the command does not lie in
    // an application bundle, and then nothing of the installation is touched.
    static QString uninstallBundlePath();
    static QString productFolderPath();
    static QString clientBundlePath();

    // The launcher and icon paths listed in the uninstaller's bundle that are ours to remove: launchers in
    // a ".../share/applications" folder, icons in a ".../share/icons/hicolor/<size>/apps" folder. As root,
    // only from a list that nobody but root can have written.
    static QStringList menuEntries(const QString& uninstallBundlePath, bool administrator);

private:
    DocuvaneDropboxUninstall();

    // The first three steps: those that act on the user's own processes and files.
    void userSteps();

    SharedFileListUtilities* _sharedFileListUtilities;
    bool _userHomeKnown;
};

// The process id of the running client of the invoking user, or 0 when none runs.
pid_t IsDocuvaneFetchRunning();
