#include "FetchFolderService.h"

#include "Bundle.h"
#include "ClientSettings.h"
#include "DVExceptionGuard.h"
#include "SharedFileListUtilities.h"
#include "WSLogger.h"
#include "Workspace.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The log's origin field names the class that first held this work.
const char* const kClassName = "AppController";

} // namespace

FetchFolderService::FetchFolderService(SharedFileListUtilities& places)
    : _places(places) {}

QString FetchFolderService::path() const {
    return ClientSettings::shared().fetchFolderPath();
}

QString FetchFolderService::iconPath() {
    return Bundle::mainBundle().resourcePath() + QStringLiteral("/FolderIcon.png");
}

bool FetchFolderService::isValid() {
    const QString folder = path();
    if (folder.isEmpty() || !QFileInfo::exists(folder))
        return false;
    dress(folder);
    return true;
}

void FetchFolderService::create() {
    dvGuard(kClassName, "createDocuvaneDropboxFolder", [&] {
        const QString folder = path();
        if (folder.isEmpty() || QFileInfo::exists(folder))
            return;
        QDir().mkpath(folder);
        dress(folder);
    });
}

void FetchFolderService::dress(const QString& folder) {
    Workspace::setFolderIcon(folder, iconPath());
    addToSidebar(folder);
}

void FetchFolderService::addToSidebar(const QString& folder) {
    _places.addToFavorites(SharedFileListUtilities::fileURLWithPath(folder));
}

bool FetchFolderService::needsMove(const QString& oldPath, const QString& newPath) {
    const bool occupied = QFileInfo::exists(newPath) || QFileInfo(newPath).isSymLink();
    return !occupied && !oldPath.isEmpty() && QFileInfo::exists(oldPath);
}

void FetchFolderService::moveInBackground(const QString& from, const QString& to,
                                          std::function<void(bool moved)> done) const {
    _mover.moveInBackground(from, to, [done = std::move(done)](DVFolderMover::Result result, const QString& problem) {
        if (!problem.isEmpty())
            WSLogger::sharedInstance().logError(kClassName, "dropboxFolderChanged",
                                                {QStringLiteral("Moving the fetch folder:"), problem});
        done(result != DVFolderMover::Result::Failed);
    });
}

void FetchFolderService::adopt(const QString& oldPath, const QString& path, bool moved) {
    if (path == oldPath && !moved)
        WSLogger::sharedInstance().logError(kClassName, "dropboxFolderChanged",
                                            {QStringLiteral("The fetch folder stays at"), oldPath});
    if (QFileInfo::exists(path))
        addToSidebar(path);
    ClientSettings::shared().setFetchFolderPath(path);
}
