#include "SharedFileListUtilities.h"

#include "AutostartFolder.h"
#include "DVExceptionGuard.h"
#include "GtkBookmarksFile.h"
#include "KdePlacesFile.h"
#include "WSLogger.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString xdgFolder(const char* variable, const QString& fallbackUnderHome) {
    const QString folder = qEnvironmentVariable(variable);
    if (!folder.isEmpty() && QDir::isAbsolutePath(folder))
        return QDir::cleanPath(folder);
    return QDir::homePath() + QLatin1Char('/') + fallbackUnderHome;
}

qsizetype indexOfResolved(const QList<SharedFileList::Entry>& entries, const QUrl& url) {
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (!entries[i].resolvedURL.isEmpty() && entries[i].resolvedURL == url)
            return i;
    }
    return -1;
}

QString listName(SharedFileListName list) {
    return list == SharedFileListName::SessionLoginItems ? QStringLiteral("login items") : QStringLiteral("favorites");
}

} // namespace

std::vector<std::unique_ptr<SharedFileList>> SharedFileListUtilities::stores(SharedFileListName list) {
    const QString config = xdgFolder("XDG_CONFIG_HOME", QStringLiteral(".config"));
    std::vector<std::unique_ptr<SharedFileList>> result;
    if (list == SharedFileListName::SessionLoginItems) {
        result.push_back(std::make_unique<AutostartFolder>(config + QStringLiteral("/autostart")));
    } else {
        result.push_back(std::make_unique<GtkBookmarksFile>(config + QStringLiteral("/gtk-3.0/bookmarks")));
        const QString kde =
            xdgFolder("XDG_DATA_HOME", QStringLiteral(".local/share")) + QStringLiteral("/user-places.xbel");
        if (QFileInfo::exists(kde))
            result.push_back(std::make_unique<KdePlacesFile>(kde));
    }
    return result;
}

bool SharedFileListUtilities::isInSharedFileList(const QUrl& url, SharedFileListName list) {
    bool found = false;
    dvGuard(this, "isInSharedFileList", [&] {
        for (const auto& store : stores(list)) {
            if (store->load() && indexOfResolved(store->entries(), url) >= 0) {
                found = true;
                return;
            }
        }
    });
    return found;
}

void SharedFileListUtilities::addToSharedFileList(const QUrl& url, SharedFileListName list) {
    dvGuard(this, "addToSharedFileList", [&] {
        for (const auto& store : stores(list)) {
            if (store->load() && indexOfResolved(store->entries(), url) < 0)
                store->insertAtFront(url);
        }
        WSLogger::sharedInstance().logDebug(this, "addToSharedFileList",
                                            {url.toString(), QStringLiteral("in"), listName(list)});
    });
}

void SharedFileListUtilities::removeFromSharedFileList(const QUrl& url, SharedFileListName list) {
    dvGuard(this, "removeFromSharedFileList", [&] {
        for (const auto& store : stores(list)) {
            if (!store->load())
                continue;
            const qsizetype index = indexOfResolved(store->entries(), url);
            if (index >= 0)
                store->removeEntryAt(index);
        }
        WSLogger::sharedInstance().logDebug(this, "removeFromSharedFileList",
                                            {url.toString(), QStringLiteral("from"), listName(list)});
    });
}

void SharedFileListUtilities::removeUnresolvedFromLoginItems(const QUrl& url) {
    dvGuard(this, "removeUnresolvedFromLoginItems", [&] {
        const QString path = SharedFileList::localPath(url);
        if (path.isEmpty())
            return;
        const QString wanted = QDir::cleanPath(path);
        for (const auto& store : stores(SharedFileListName::SessionLoginItems)) {
            if (!store->load())
                continue;
            const QList<SharedFileList::Entry>& entries = store->entries();
            for (qsizetype i = 0; i < entries.size(); ++i) {
                if (entries[i].resolvedURL.isEmpty() && !entries[i].writtenPath.isEmpty() &&
                    QDir::cleanPath(entries[i].writtenPath) == wanted) {
                    store->removeEntryAt(i);
                    break;
                }
            }
        }
    });
}

QUrl SharedFileListUtilities::fileURLWithPath(const QString& path) {
    return SharedFileList::fileURLWithPath(path);
}
