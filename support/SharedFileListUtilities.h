#pragma once

#include <QObject>
#include <QUrl>

#include <memory>
#include <vector>

class SharedFileList;

// The lists an application keeps itself or a folder in.
enum class SharedFileListName {
    SessionLoginItems, // the XDG autostart entries in $XDG_CONFIG_HOME/autostart
    FavoriteItems,     // the sidebar places: $XDG_CONFIG_HOME/gtk-3.0/bookmarks, and KDE's
                       // $XDG_DATA_HOME/user-places.xbel where that exists
};

// Keeps an application among the login items and a folder among the file manager's sidebar places.
// An entry is identified by the file URL it resolves to, compared as a whole (a folder's URL ends in a
// slash; the same folder without one is a different URL). Entries that do not resolve are passed over.
// Nothing is ever reported as a failure: a list that cannot be read or written is left as it is. Every
// call reads the lists afresh; nothing is kept between calls.
class SharedFileListUtilities : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // True when an entry of the list resolves to the URL. With several stores behind a list (GTK and
    // KDE places), an entry in any of them counts.
    bool isInSharedFileList(const QUrl& url, SharedFileListName list);
    // Puts the URL first in each store of the list that does not hold it yet.
    void addToSharedFileList(const QUrl& url, SharedFileListName list);
    // Removes the first entry that resolves to the URL from each store of the list.
    void removeFromSharedFileList(const QUrl& url, SharedFileListName list);

    void addToLoginItems(const QUrl& url) { addToSharedFileList(url, SharedFileListName::SessionLoginItems); }
    void removeFromLoginItems(const QUrl& url) { removeFromSharedFileList(url, SharedFileListName::SessionLoginItems); }
    bool isInLoginItems(const QUrl& url) { return isInSharedFileList(url, SharedFileListName::SessionLoginItems); }
    void addToFavorites(const QUrl& url) { addToSharedFileList(url, SharedFileListName::FavoriteItems); }
    void removeFromFavorites(const QUrl& url) { removeFromSharedFileList(url, SharedFileListName::FavoriteItems); }
    bool isInFavorites(const QUrl& url) { return isInSharedFileList(url, SharedFileListName::FavoriteItems); }

    // Removes the first login item that names the application at url but does not resolve: its program
    // is gone, or the entry is switched off. An autostart entry outliving its program makes the desktop
    // fail to start it at every login. Such an entry is matched by the path it names, trailing slash aside.
    void removeUnresolvedFromLoginItems(const QUrl& url);

    // The URL a file or folder is known by: absolute, and with a trailing slash for an existing folder.
    static QUrl fileURLWithPath(const QString& path);

private:
    static std::vector<std::unique_ptr<SharedFileList>> stores(SharedFileListName list);
};
