#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

// The desktop around the client: opening URLs in the user's handlers, showing a file in the file manager,
// a folder's custom icon, and the wake from sleep. The static calls are safe from any thread; the wake
// signal belongs to the shared instance on the main thread.
class Workspace : public QObject {
    Q_OBJECT

public:
    static Workspace& sharedWorkspace();

    // Opens the URL through the desktop's URL handler: Qt's desktop services in a GUI application,
    // xdg-open in a program without a GUI (the headless tools).
    static bool openURL(const QUrl& url);

    // Opens an http or https URL that carries a secret (a session ticket) without putting it on a command
    // line, where every local user could read it: the desktop is handed the file:// URL of a page that only
    // this user can read, in the runtime folder, which sends the browser on to the URL. Earlier pages are
    // removed once they are a few minutes old. False (nothing opened) for another scheme or without a
    // private folder; with a replaced opener, the opener gets the URL itself.
    static bool openURLPrivately(const QUrl& url);

    // Replaces how URLs are opened (a test records them instead); an empty function restores the default.
    using Opener = std::function<bool(const QUrl&)>;
    static void setOpener(Opener opener);

    // Shows the file or folder selected in a file manager window (org.freedesktop.FileManager1 ShowItems
    // on the session bus); where no file manager answers, opens the folder that holds it.
    static void selectFile(const QString& path);

    // Gives the folder a custom icon: GIO's "metadata::custom-icon" attribute (read by GNOME's and other
    // GIO-based file managers) and, where KDE is the desktop, Icon= in the folder's ".directory" file.
    // Nothing is written when the folder already carries this icon; failures are ignored.
    static void setFolderIcon(const QString& folderPath, const QString& iconPath);
    // The icon GIO records for the folder (empty when none or unreadable).
    static QString folderIcon(const QString& folderPath);

    // Starts listening for logind's PrepareForSleep(false) on the system bus, announced as didWake().
    // False when there is no system bus; the client then has no wake handling.
    bool observeWake();
    bool observeWake(const QDBusConnection& systemBus);

signals:
    // The machine woke from sleep.
    void didWake();

private slots:
    void prepareForSleep(bool sleeping);

private:
    Workspace() = default;
};
