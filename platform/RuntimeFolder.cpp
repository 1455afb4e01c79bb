#include "RuntimeFolder.h"

#include "FileSystem.h"

#include <QDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RuntimeFolder {

bool isPrivate(const QString& folder, bool exclusive, bool followLinks) {
    struct stat info {};
    const QByteArray encoded = FileSystem::encodedName(folder);
    const int looked = followLinks ? ::stat(encoded.constData(), &info) : ::lstat(encoded.constData(), &info);
    return looked == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & (exclusive ? 0077 : 0022)) == 0;
}

QString path() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    // The session manager made it, so the path may well pass through a link; the folder itself is checked.
    if (QDir::isAbsolutePath(runtime) && isPrivate(runtime, false, true))
        return runtime;
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!QDir::isAbsolutePath(cache))
        cache = QDir::homePath() + QStringLiteral("/.cache");
    const QString fallback = cache + QStringLiteral("/xdg-runtime");
    FileSystem::makeFolderChain(fallback, 0700);
    // Made less private by this user at some time: closed again. Another user's folder is left alone.
    const FileDescriptor folder(
        ::open(FileSystem::encodedName(fallback).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (folder && ::fstat(folder.get(), &info) == 0 && info.st_uid == ::geteuid() && (info.st_mode & 0077) != 0)
        ::fchmod(folder.get(), 0700);
    return isPrivate(fallback, true) ? fallback : QString();
}

} // namespace RuntimeFolder
