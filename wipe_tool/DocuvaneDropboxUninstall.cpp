#include "DocuvaneDropboxUninstall.h"

#include "DVExceptionGuard.h"
#include "FileSystem.h"
#include "InvokingUser.h"
#include "PackageManager.h"
#include "ProcessManager.h"
#include "SharedFileListUtilities.h"
#include "TrustedPath.h"
#include "UserDefaults.h"
#include "WSLogger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace {

const QString kClientBundleName = QStringLiteral("Docuvane Fetch.app");
const QByteArray kClientProcessName = QByteArrayLiteral("Docuvane Fetch");
const QString kClientDomain = QStringLiteral("com.docuvane.DocuvaneFetch");
const QString kOlderClientDomain = QStringLiteral("com.docuvane.Docuvane_Fetch");
const QString kPackageName = QStringLiteral("docuvane-fetch");

bool isAdministratorRun() {
    return ::geteuid() == 0;
}

// A folder of the installation. As root only one that nobody but root can change, reached without
// following a link; the user's own run may follow the links the user made.
FileDescriptor openInstallationFolder(const QString& path, bool administrator) {
    int error = 0;
    return administrator ? TrustedPath::openFolder(path, nullptr) : FileSystem::openFolder(path, &error);
}

// Removes a file, a link (never what it points to) or, unless only a file is wanted, a folder with its
// contents. Failures are ignored.
void removeItem(const QString& path, bool administrator, bool fileOnly = false) {
    const QFileInfo item(path);
    const FileDescriptor folder = openInstallationFolder(item.absolutePath(), administrator);
    if (folder && fileOnly)
        FileSystem::removeFileAt(folder.get(), item.fileName());
    else if (folder)
        TrustedPath::removeAt(folder.get(), item.fileName());
}

// Runs a step so that no exception leaves it. As root an escaped exception goes unreported: the report
// would make the logger, and the logger reads the user's settings.
template <typename Body> void guarded(const LogSender& sender, const char* selector, Body&& body) {
    if (!isAdministratorRun()) {
        dvGuard(sender, selector, body);
        return;
    }
    try {
        body();
    } catch (...) {
    }
}

// Launchers only in an applications folder, icons only in an icon theme's applications folder: the
// names the installation gives them, in the places it puts them.
bool isMenuEntryPath(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    if (!name.startsWith(QStringLiteral("docuvane-fetch")))
        return false;
    const QString folder = QFileInfo(path).absolutePath();
    if (name.endsWith(QStringLiteral(".desktop")))
        return folder.endsWith(QStringLiteral("/share/applications"));
    if (!name.endsWith(QStringLiteral(".svg")) && !name.endsWith(QStringLiteral(".png")))
        return false;
    const QString themes = QFileInfo(QFileInfo(folder).absolutePath()).absolutePath();
    return QFileInfo(folder).fileName() == QStringLiteral("apps") &&
           themes.endsWith(QStringLiteral("/share/icons/hicolor"));
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
    if (!isAdministratorRun()) {
        userSteps();
        deleteApplicationFolder();
        return;
    }
    QString problem;
    if (!installationIsTrusted(&problem)) {
        std::fprintf(stderr,
                     "wipe_tool: %s. With administrator rights the command removes only an installation that "
                     "nobody but the administrator can change; nothing was removed.\n",
                     qPrintable(problem));
        return;
    }
    // Root reads, writes and follows nothing of the user's: the user's steps run in a process that is
    // wholly that user, which cannot be turned into root by any link or file the user placed.
    const uid_t user = InvokingUser::userId();
    if (user == 0)
        userSteps();
    else if (_userHomeKnown)
        InvokingUser::runAsUser(user, [this] { userSteps(); });
    deleteApplicationFolder();
}

void DocuvaneDropboxUninstall::userSteps() {
    quitDocuvaneDropbox();
    removeDocuvaneDropboxFromLoginItems();
    deleteUserDefaults();
}

bool DocuvaneDropboxUninstall::installationIsTrusted(QString* problem) {
    const FileDescriptor running(::open("/proc/self/exe", O_PATH | O_CLOEXEC));
    return TrustedPath::isTrustedFile(toolPath(), problem, running.get());
}

void DocuvaneDropboxUninstall::quitDocuvaneDropbox() {
    dvGuard(this, "quitDocuvaneDropbox", [&] {
        const pid_t pid = IsDocuvaneFetchRunning();
        if (pid != 0)
            ProcessManager::requestQuit(pid, kClientProcessName, InvokingUser::userId());
        else
            WSLogger::sharedInstance().logInfo(this, "quitDocuvaneDropbox",
                                               {QStringLiteral("Docuvane Fetch not running")});
    });
}

void DocuvaneDropboxUninstall::removeDocuvaneDropboxFromLoginItems() {
    dvGuard(this, "removeDocuvaneDropboxFromLoginItems", [&] {
        const QString client = clientBundlePath();
        if (client.isEmpty() || !_userHomeKnown)
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
        if (!_userHomeKnown)
            return;
        UserDefaults& defaults = UserDefaults::standardUserDefaults();
        defaults.removePersistentDomainForName(kClientDomain);
        defaults.removePersistentDomainForName(kOlderClientDomain);
    });
}

void DocuvaneDropboxUninstall::deleteApplicationFolder() {
    guarded(this, "deleteApplicationFolder", [&] {
        const QString report = deleteApplicationFolder(uninstallBundlePath(), isAdministratorRun(), PackageManager());
        if (!report.isEmpty())
            std::fprintf(stderr, "wipe_tool: %s\n", qPrintable(report));
    });
}

QString DocuvaneDropboxUninstall::deleteApplicationFolder(const QString& uninstallBundle, bool administrator,
                                                          const PackageManager& packages) {
    if (uninstallBundle.isEmpty())
        return QString();
    const QString product = QFileInfo(uninstallBundle).absolutePath();
    // Asked before anything is removed: the package system must never be left listing files that are gone.
    if (packages.owners(product).contains(kPackageName)) {
        if (!administrator)
            return QStringLiteral("%1 belongs to the package %2, which only an administrator can remove; nothing "
                                  "was removed")
                .arg(product, kPackageName);
        QString problem;
        if (!packages.remove(kPackageName, &problem))
            return QStringLiteral("removing the package %1 failed, and nothing was removed by hand, so that the "
                                  "package system stays consistent. %2")
                .arg(kPackageName, problem);
        return QStringLiteral("removed the package %1").arg(kPackageName);
    }
    const QStringList entries = menuEntries(uninstallBundle, administrator); // read before the bundle goes
    removeItem(product + QLatin1Char('/') + kClientBundleName, administrator);
    removeItem(uninstallBundle, administrator);
    for (const QString& entry : entries)
        removeItem(entry, administrator, true);
    // Only a folder with nothing else in it: where the bundles were put into a folder that holds
    // other things (the system's application folder, a home folder), that folder stays.
    if (const FileDescriptor above = openInstallationFolder(QFileInfo(product).absolutePath(), administrator))
        FileSystem::removeEmptyFolderAt(above.get(), QFileInfo(product).fileName());
    return QString();
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

QStringList DocuvaneDropboxUninstall::menuEntries(const QString& uninstallBundlePath, bool administrator) {
    const QString path = uninstallBundlePath + QStringLiteral("/Contents/Resources/MenuEntries");
    // As root the list counts only when nobody else could have written it.
    if (administrator && !TrustedPath::isTrustedFile(path, nullptr))
        return {};
    QFile list(path);
    if (!list.open(QIODevice::ReadOnly))
        return {};
    // The list names files only we put there; anything else it might name is not ours to remove.
    QStringList entries;
    for (const QByteArray& line : list.readAll().split('\n')) {
        const QString entry = QFile::decodeName(line.trimmed());
        if (QDir::isAbsolutePath(entry) && QDir::cleanPath(entry) == entry && isMenuEntryPath(entry))
            entries.append(entry);
    }
    return entries;
}

pid_t IsDocuvaneFetchRunning() {
    const QList<pid_t> running = ProcessManager::processesNamed(kClientProcessName, InvokingUser::userId());
    return running.isEmpty() ? 0 : running.first();
}
