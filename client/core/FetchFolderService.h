#pragma once

#include "DVFolderMover.h"

#include <QString>

#include <functional>

class SharedFileListUtilities;

// The fetch folder the settings name: whether it is usable, making it, its icon and its place in the file
// managers' sidebars, and moving it elsewhere. Main thread.
class FetchFolderService {
public:
    // places: where the sidebar entries go; it outlives the service.
    explicit FetchFolderService(SharedFileListUtilities& places);

    QString path() const;
    // The icon file the folder is given, from the bundle's resources.
    static QString iconPath();

    // Usable when it exists. A usable folder gets its icon and sidebar place again, in case the user
    // removed them.
    bool isValid();
    // Makes the folder when it is missing, with its icon and sidebar place. A failure shows later, when
    // the folder checks find no folder.
    void create();
    void addToSidebar(const QString& path);

    // Whether a change of place moves the folder: something already at the new place becomes the fetch
    // folder as it is, and without an old folder there is nothing to move.
    static bool needsMove(const QString& oldPath, const QString& newPath);
    // Moves the folder on a worker thread (a copy across file systems); done runs on the main thread and
    // tells whether it moved. A problem is logged.
    void moveInBackground(const QString& from, const QString& to, std::function<void(bool moved)> done) const;
    // Makes `path` the fetch folder after a change of place from `oldPath`: the setting and the sidebar.
    void adopt(const QString& oldPath, const QString& path, bool moved);
    // Replaces the mover (tests play moves across file systems).
    void setMover(const DVFolderMover& mover) { _mover = mover; }

private:
    void dress(const QString& path);

    SharedFileListUtilities& _places;
    DVFolderMover _mover;
};
