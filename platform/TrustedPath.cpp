#include "TrustedPath.h"

#include "FileSystem.h"

#include <QDir>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool isTrusted(const struct stat& info, const QString& path, QString* problem) {
    QString reason;
    if (info.st_uid != 0)
        reason = QStringLiteral("%1 is not owned by root").arg(path);
    else if (info.st_mode & (S_IWGRP | S_IWOTH))
        reason = QStringLiteral("%1 is writable by its group or by others").arg(path);
    if (problem && !reason.isEmpty())
        *problem = reason;
    return reason.isEmpty();
}

bool fail(QString* problem, const QString& path, int error) {
    if (problem)
        *problem =
            error == ELOOP
                ? QStringLiteral("%1 is a symbolic link").arg(path)
                : QStringLiteral("%1 cannot be opened: %2").arg(path, QString::fromLocal8Bit(std::strerror(error)));
    return false;
}

} // namespace

FileDescriptor TrustedPath::openFolder(const QString& path, QString* problem) {
    if (!QDir::isAbsolutePath(path) || QDir::cleanPath(path) != path) {
        fail(problem, path, EINVAL);
        return {};
    }
    int error = 0;
    FileDescriptor folder = FileSystem::openFolder(QStringLiteral("/"), &error);
    QString reached = QStringLiteral("/");
    struct stat info {};
    if (!folder || ::fstat(folder.get(), &info) != 0) {
        fail(problem, reached, folder ? errno : error);
        return {};
    }
    if (!isTrusted(info, reached, problem))
        return {};
    for (const QString& name : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        reached = reached.endsWith(QLatin1Char('/')) ? reached + name : reached + QLatin1Char('/') + name;
        FileDescriptor next = FileSystem::openFolderAt(folder.get(), name, &error);
        if (!next || ::fstat(next.get(), &info) != 0) {
            fail(problem, reached, next ? errno : error);
            return {};
        }
        if (!isTrusted(info, reached, problem))
            return {};
        folder = std::move(next);
    }
    return folder;
}

bool TrustedPath::isTrustedFile(const QString& path, QString* problem, int openFile) {
    if (!QDir::isAbsolutePath(path) || QDir::cleanPath(path) != path)
        return fail(problem, path, EINVAL);
    const QFileInfo file(path);
    const FileDescriptor folder = openFolder(file.absolutePath(), problem);
    if (!folder)
        return false;
    struct stat info {};
    if (::fstatat(folder.get(), FileSystem::encodedName(file.fileName()).constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return fail(problem, path, errno);
    if (S_ISLNK(info.st_mode))
        return fail(problem, path, ELOOP);
    if (!S_ISREG(info.st_mode))
        return fail(problem, path, EINVAL);
    struct stat opened {};
    if (openFile >= 0 &&
        (::fstat(openFile, &opened) != 0 || opened.st_dev != info.st_dev || opened.st_ino != info.st_ino)) {
        if (problem)
            *problem = QStringLiteral("%1 is no longer the file that runs").arg(path);
        return false;
    }
    return isTrusted(info, path, problem);
}

bool TrustedPath::removeAt(int folder, const QString& name) {
    const QByteArray encoded = FileSystem::encodedName(name);
    struct stat info {};
    if (::fstatat(folder, encoded.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(info.st_mode))
        return ::unlinkat(folder, encoded.constData(), 0) == 0 || errno == ENOENT;

    int error = 0;
    const FileDescriptor inside = FileSystem::openFolderAt(folder, name, &error);
    if (!inside) { // swapped for something else since: that is removed, never followed
        if (error == ELOOP || error == ENOTDIR)
            return ::unlinkat(folder, encoded.constData(), 0) == 0 || errno == ENOENT;
        return error == ENOENT;
    }
    struct stat parent {};
    struct stat opened {};
    if (::fstat(folder, &parent) != 0 || ::fstat(inside.get(), &opened) != 0 || opened.st_dev != parent.st_dev)
        return false;

    QStringList names;
    const int copy = ::dup(inside.get());
    DIR* listing = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!listing && copy >= 0)
        ::close(copy);
    if (listing) {
        while (const dirent* entry = ::readdir(listing)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.append(QFile::decodeName(entry->d_name));
        }
        ::closedir(listing);
    }
    bool removed = true;
    for (const QString& child : names)
        removed = removeAt(inside.get(), child) && removed;
    return (::unlinkat(folder, encoded.constData(), AT_REMOVEDIR) == 0 || errno == ENOENT) && removed;
}
