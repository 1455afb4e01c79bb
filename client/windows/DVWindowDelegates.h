#pragma once

#include <QString>

class AuthenticationController;
class DVSetupWindowController;
class QObject;

// What the windows report to their delegate (the application controller). Every report is optional: the
// delegate adopts the protocol class of each report it wants, and a window sends a report only when
// dynamic_cast finds the protocol on its delegate. Delegates are non-owning and outlive the windows.
// Everything here is called on the main thread.

class DVSetupCompleteDelegate {
public:
    virtual ~DVSetupCompleteDelegate() = default;
    // The user pressed Next on the setup assistant's last page; the window is closed by then.
    virtual void setupComplete(DVSetupWindowController* sender) = 0;
};

class DVAuthenticationCompleteDelegate {
public:
    virtual ~DVAuthenticationCompleteDelegate() = default;
    // The service accepted the typed credentials; they are stored and the window is closed.
    virtual void authenticationComplete(AuthenticationController* sender) = 0;
};

class PreferencesDelegate {
public:
    virtual ~PreferencesDelegate() = default;
    // The user confirmed a move of the fetch folder. The new path is already stored as "dropboxFolderPath";
    // the folder itself has not moved yet.
    virtual void dropboxFolderChanged(const QString& oldPath, const QString& newPath) = 0;
};

class DVLaunchAtLoginDelegate {
public:
    virtual ~DVLaunchAtLoginDelegate() = default;
    // sender: the launch-at-login check box. "addToLoginItems" is stored before either call.
    virtual void addToLaunchAtLogin(QObject* sender) = 0;
    virtual void removeFromLaunchAtLogin(QObject* sender) = 0;
};

class DVMenuBarIconsDelegate {
public:
    virtual ~DVMenuBarIconsDelegate() = default;
    // sender: the preferences controller. "useBlackAndWhiteMenuBarIcons" is stored before the call.
    virtual void useBlackAndWhiteMenuBarIcons(QObject* sender) = 0;
};

class DVDropboxMissingDelegate {
public:
    virtual ~DVDropboxMissingDelegate() = default;
    // A place for a new fetch folder: the chosen folder with "Docuvane Fetch" appended (it need not exist).
    virtual void dropboxFolderMoved(const QString& newPath) = 0;
    // An existing folder named exactly "Docuvane Fetch".
    virtual void dropboxFolderSelected(const QString& path) = 0;
    virtual void dropboxFolderRemind() = 0;
};

// The updater's automatic-check switch, which the preferences window shows and sets.
class DVAutomaticUpdateChecks {
public:
    virtual ~DVAutomaticUpdateChecks() = default;
    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool on) = 0;
};

class DVUpdaterProvider {
public:
    virtual ~DVUpdaterProvider() = default;
    // Null while there is no updater; the preferences window then disables its check box.
    virtual DVAutomaticUpdateChecks* sparkleUpdater() = 0;
};
