#include "DocuvaneDropboxUninstall.h"

#include "DVExceptionGuard.h"
#include "InvokingUser.h"
#include "ProcessManager.h"
#include "SharedFileListUtilities.h"
#include "UserDefaults.h"
#include "WSLogger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

namespace {

const QString kClientBundleName = QStringLiteral("Docuvane Fetch.app");
const QByteArray kClientProcessName = QByteArrayLiteral("Docuvane Fetch");
const QString kClientDomain = QStringLiteral("com.docuvane.DocuvaneFetch");
const QString kOlderClientDomain = QStringLiteral("com.docuvane.Docuvane_Fetch");

// Removes a file, a link (never what it points to) or a folder with its contents. Failures are ignored.
void removeItem(const QString& path) {
    struct stat info {};
    const QByteArray encoded = QFile::encodeName(path);
    if (::lstat(encoded.constData(), &info) != 0)
        return;
    if (S_ISDIR(info.st_mode))
        QDir(path).removeRecursively();
    else
        ::unlink(encoded.constData());
}

bool isMenuEntryName(const QString& name) {
    return name.startsWith(QStringLiteral("docuvane-fetch")) &&
           (name.endsWith(QStringLiteral(".desktop")) || name.endsWith(QStringLiteral(".svg")) ||
            name.endsWith(QStringLiteral(".png")));
}

} // namespace

DocuvaneDropboxUninstall* DocuvaneDropboxUninstall::sharedInstance() {
    static std::mutex classLock;
    static DocuvaneDropboxUninstall* instance = nullptr;
    std::lock_guard lock(classLock);
    if (!instance)
        instance = new DocuvaneDropboxUninstall(); // lives until the process ends
    return instance;
}

DocuvaneDropboxUninstall::DocuvaneDropboxUninstall()
    // Run as root for a user, the user's files are found in that user's home; this must happen before
    // anything reads the environment.
    : _userHomeKnown(InvokingUser::adoptHome()) {
    _sharedFileListUtilities = new SharedFileListUtilities(this);
}

void DocuvaneDropboxUninstall::uninstall() {
    quitDocuvaneDropbox();
    removeDocuvaneDropboxFromLoginItems();
    deleteUserDefaults();
    deleteApplicationFolder();
}

void DocuvaneDropboxUninstall::quitDocuvaneDropbox() {
    dvGuard(this, "quitDocuvaneDropbox", [&] {
        const pid_t pid = IsDocuvaneFetchRunning();
        if (pid != 0)
            ProcessManager::requestQuit(pid);
        else
            WSLogger::sharedInstance().logInfo(this, "quitDocuvaneDropbox",
                                               {QStringLiteral("Docuvane Fetch not running")});
    });
}

void DocuvaneDropboxUninstall::removeDocuvaneDropboxFromLoginItems() {
    dvGuard(this, "removeDocuvaneDropboxFromLoginItems", [&] {
        const QString client = clientBundlePath();
        const ActingAsInvokingUser user;
        if (client.isEmpty() || !_userHomeKnown || !user.isValid())
            return;
        const QUrl url = SharedFileListUtilities::fileURLWithPath(client);
        _sharedFileListUtilities->removeFromLoginItems(url);
        // With the bundle gone (another copy of the command removed it) the entry no longer resolves; it
        // would otherwise stay and make the desktop try to start a missing program at every login.
        _sharedFileListUtilities->removeUnresolvedFromLoginItems(url);
    });
}

void DocuvaneDropboxUninstall::deleteUserDefaults() {
    dvGuard(this, "deleteUserDefaults", [&] {
        const ActingAsInvokingUser user;
        if (!_userHomeKnown || !user.isValid())
            return;
        UserDefaults& defaults = UserDefaults::standardUserDefaults();
        defaults.removePersistentDomainForName(kClientDomain);
        defaults.removePersistentDomainForName(kOlderClientDomain);
    });
}

void DocuvaneDropboxUninstall::deleteApplicationFolder() {
    dvGuard(this, "deleteApplicationFolder", [&] {
        const QString uninstallBundle = uninstallBundlePath();
        if (uninstallBundle.isEmpty())
            return;
        const QString product = productFolderPath();
        const QStringList entries = menuEntries(uninstallBundle); // read before the bundle goes
        removeItem(clientBundlePath());
        removeItem(uninstallBundle);
        for (const QString& entry : entries)
            removeItem(entry);
        // Only a folder with nothing else in it: where the bundles were put into a folder that holds
        // other things (the system's application folder, a home folder), that folder stays.
        QDir().rmdir(product);
    });
}

QString DocuvaneDropboxUninstall::toolPath() {
    char buffer[4096];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer)
        return QString();
    QString path = QFile::decodeName(QByteArray(buffer, length));
    // A copy started from its open file after another copy removed it reads as "<path> (deleted)".
    const QString deleted = QStringLiteral(" (deleted)");
    if (path.endsWith(deleted) && !QFileInfo::exists(path))
        path.chop(deleted.size());
    return path;
}

QString DocuvaneDropboxUninstall::uninstallBundlePath() {
    const QString tool = toolPath();
    if (tool.isEmpty())
        return QString();
    const QString macOS = QFileInfo(tool).absolutePath();
    const QString contents = QFileInfo(macOS).absolutePath();
    const QString bundle = QFileInfo(contents).absolutePath();
    if (QFileInfo(macOS).fileName() != QStringLiteral("MacOS") ||
        QFileInfo(contents).fileName() != QStringLiteral("Contents") || !bundle.endsWith(QStringLiteral(".app")))
        return QString();
    return bundle;
}

QString DocuvaneDropboxUninstall::productFolderPath() {
    const QString bundle = uninstallBundlePath();
    return bundle.isEmpty() ? QString() : QFileInfo(bundle).absolutePath();
}

QString DocuvaneDropboxUninstall::clientBundlePath() {
    const QString product = productFolderPath();
    return product.isEmpty() ? QString() : product + QLatin1Char('/') + kClientBundleName;
}

QStringList DocuvaneDropboxUninstall::menuEntries(const QString& uninstallBundlePath) {
    QFile list(uninstallBundlePath + QStringLiteral("/Contents/Resources/MenuEntries"));
    if (!list.open(QIODevice::ReadOnly))
        return {};
    // The list names files only we put there; anything else it might name is not ours to remove.
    QStringList entries;
    for (const QByteArray& line : list.readAll().split('\n')) {
        const QString path = QFile::decodeName(line.trimmed());
        const QFileInfo info(path);
        if (QDir::isAbsolutePath(path) && QDir::cleanPath(path) == path && isMenuEntryName(info.fileName()) &&
            !info.isDir())
            entries.append(path);
    }
    return entries;
}

pid_t IsDocuvaneFetchRunning() {
    const QList<pid_t> running = ProcessManager::processesNamed(kClientProcessName, InvokingUser::userId());
    return running.isEmpty() ? 0 : running.first();
}
