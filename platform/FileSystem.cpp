#include "FileSystem.h"

#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

void FileDescriptor::reset(int fd) {
    if (_fd >= 0)
        ::close(_fd);
    _fd = fd;
}

namespace {

FileDescriptor result(int fd, int* error) {
    if (error)
        *error = fd >= 0 ? 0 : errno;
    return FileDescriptor(fd);
}

int status(int returned) {
    return returned == 0 ? 0 : errno;
}

bool lookAt(int folder, const QByteArray& name, struct stat* info) {
    return ::fstatat(folder, name.constData(), info, AT_SYMLINK_NOFOLLOW) == 0;
}

bool readFully(int fd, char* buffer, size_t size, off_t offset) {
    size_t done = 0;
    while (done < size) {
        const ssize_t count = ::pread(fd, buffer + done, size - done, offset + off_t(done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += size_t(count);
    }
    return true;
}

// A file is looked at through a descriptor of its own, locked, and removed only while its name still
// leads to it: a writer that locked it meanwhile, or moved it to its final name, keeps it.
bool removeIfUnlocked(int folder, const QString& name, std::chrono::system_clock::time_point changed,
                      std::chrono::system_clock::time_point cutoff) {
    int error = 0;
    const FileDescriptor file = FileSystem::openRegularFileAt(folder, name, &error);
    if (!file)
        return false;
    const int locked = FileSystem::tryLock(file.get(), false);
    if (locked == EAGAIN || (locked != 0 && changed >= cutoff))
        return false;
    return FileSystem::isSameFileAt(folder, name, file.get()) && FileSystem::removeFileAt(folder, name) == 0;
}

// With byLock, a file nobody holds a lock on goes (by age only where the file system keeps no locks);
// without, a file last changed before the cutoff.
int removeFilesIn(int folder, const std::function<bool(const QString&)>& matches,
                  std::chrono::system_clock::time_point cutoff, int depthLeft, bool byLock) {
    const int listing = ::dup(folder);
    if (listing < 0)
        return 0;
    DIR* dir = ::fdopendir(listing);
    if (!dir) {
        ::close(listing);
        return 0;
    }
    int removed = 0;
    std::vector<QString> folders;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat info {};
        if (!lookAt(folder, name, &info))
            continue;
        const QString decoded = QFile::decodeName(name);
        if (S_ISDIR(info.st_mode))
            folders.push_back(decoded);
        else if (S_ISREG(info.st_mode) && matches(decoded)) {
            const auto changed = std::chrono::system_clock::from_time_t(info.st_mtim.tv_sec);
            if (byLock ? removeIfUnlocked(folder, decoded, changed, cutoff)
                       : changed < cutoff && ::unlinkat(folder, name.constData(), 0) == 0)
                ++removed;
        }
    }
    ::closedir(dir);
    if (depthLeft <= 0)
        return removed;
    for (const QString& name : folders) {
        int error = 0;
        const FileDescriptor inner = FileSystem::openFolderAt(folder, name, &error);
        if (inner)
            removed += removeFilesIn(inner.get(), matches, cutoff, depthLeft - 1, byLock);
    }
    return removed;
}

} // namespace

QByteArray FileSystem::encodedName(const QString& name) {
    return QFile::encodeName(name);
}

FileDescriptor FileSystem::openFolder(const QString& path, int* error) {
    return result(::open(encodedName(path).constData(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC), error);
}

FileDescriptor FileSystem::openFolderAt(int folder, const QString& name, int* error) {
    const QByteArray encoded = encodedName(name);
    FileDescriptor fd = result(
        ::openat(folder, encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC), error);
    // With O_DIRECTORY a link is refused as "not a folder"; say what it really is.
    if (!fd && error && *error == ENOTDIR && kindAt(folder, name) == Kind::SymbolicLink)
        *error = ELOOP;
    return fd;
}

int FileSystem::makeFolderAt(int folder, const QString& name, unsigned mode) {
    return status(::mkdirat(folder, encodedName(name).constData(), mode_t(mode)));
}

FileSystem::Kind FileSystem::kindAt(int folder, const QString& name) {
    struct stat info {};
    if (!lookAt(folder, encodedName(name), &info))
        return Kind::Missing;
    if (S_ISREG(info.st_mode))
        return Kind::RegularFile;
    if (S_ISDIR(info.st_mode))
        return Kind::Folder;
    if (S_ISLNK(info.st_mode))
        return Kind::SymbolicLink;
    return Kind::Other;
}

std::chrono::system_clock::time_point FileSystem::modificationTimeAt(int folder, const QString& name) {
    struct stat info {};
    if (!lookAt(folder, encodedName(name), &info))
        return {};
    return std::chrono::system_clock::from_time_t(info.st_mtim.tv_sec);
}

FileDescriptor FileSystem::createFileAt(int folder, const QString& name, unsigned mode, int* error) {
    return result(::openat(folder, encodedName(name).constData(),
                           O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode_t(mode)),
                  error);
}

FileDescriptor FileSystem::openRegularFileAt(int folder, const QString& name, int* error) {
    // Looked at first, so that a FIFO or a device is never opened at all (opening some has effects).
    const Kind kind = kindAt(folder, name);
    if (kind != Kind::RegularFile) {
        if (error)
            *error = kind == Kind::Missing ? ENOENT : kind == Kind::SymbolicLink ? ELOOP : EINVAL;
        return {};
    }
    // Something swapped in meanwhile is still never followed nor waited on, and is refused below.
    FileDescriptor fd = result(
        ::openat(folder, encodedName(name).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC),
        error);
    struct stat info {};
    if (fd && (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))) {
        if (error)
            *error = EINVAL;
        return {};
    }
    return fd;
}

int FileSystem::moveWithoutReplacingAt(int fromFolder, const QString& from, int toFolder, const QString& to) {
    const QByteArray source = encodedName(from);
    const QByteArray target = encodedName(to);
    if (::renameat2(fromFolder, source.constData(), toFolder, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    // A file system without the no-replace rename: a hard link fails the same way when the name is taken.
    if (::linkat(fromFolder, source.constData(), toFolder, target.constData(), 0) != 0)
        return errno;
    ::unlinkat(fromFolder, source.constData(), 0);
    return 0;
}

int FileSystem::removeFileAt(int folder, const QString& name) {
    return status(::unlinkat(folder, encodedName(name).constData(), 0));
}

int FileSystem::removeEmptyFolderAt(int folder, const QString& name) {
    return status(::unlinkat(folder, encodedName(name).constData(), AT_REMOVEDIR));
}

int FileSystem::writeAll(int fd, QByteArrayView bytes) {
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
        if (written == 0)
            return EIO;
        data += written;
        left -= written;
    }
    return 0;
}

int FileSystem::syncData(int fd) {
    if (::fdatasync(fd) == 0 || errno == EINVAL || errno == EROFS)
        return 0;
    return errno;
}

int FileSystem::close(FileDescriptor& fd) {
    return close(fd.release());
}

int FileSystem::close(int fd) {
    if (fd < 0)
        return 0;
    // Linux releases the descriptor even when close reports an error: never retried.
    return status(::close(fd));
}

bool FileSystem::sameContent(int a, int b) {
    struct stat infoA {};
    struct stat infoB {};
    if (::fstat(a, &infoA) != 0 || ::fstat(b, &infoB) != 0 || !S_ISREG(infoA.st_mode) || !S_ISREG(infoB.st_mode) ||
        infoA.st_size != infoB.st_size)
        return false;
    static constexpr size_t kChunk = 64 * 1024;
    std::vector<char> bufferA(kChunk);
    std::vector<char> bufferB(kChunk);
    for (off_t offset = 0; offset < infoA.st_size; offset += off_t(kChunk)) {
        const size_t size = size_t(std::min<off_t>(infoA.st_size - offset, off_t(kChunk)));
        if (!readFully(a, bufferA.data(), size, offset) || !readFully(b, bufferB.data(), size, offset) ||
            !std::equal(bufferA.data(), bufferA.data() + size, bufferB.data()))
            return false;
    }
    return true;
}

int FileSystem::tryLock(int fd, bool exclusive) {
    struct flock lock {};
    lock.l_type = exclusive ? F_WRLCK : F_RDLCK;
    lock.l_whence = SEEK_SET; // from the start to the end, however the file grows
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0)
        return 0;
    return errno == EACCES ? EAGAIN : errno;
}

bool FileSystem::isSameFileAt(int folder, const QString& name, int fd) {
    struct stat named {};
    struct stat open {};
    return lookAt(folder, encodedName(name), &named) && ::fstat(fd, &open) == 0 && named.st_dev == open.st_dev &&
           named.st_ino == open.st_ino;
}

int FileSystem::removeUnlockedFiles(const QString& root, const std::function<bool(const QString&)>& matches,
                                    std::chrono::system_clock::time_point cutoff, int maxDepth) {
    int error = 0;
    const FileDescriptor folder = openFolder(root, &error);
    return folder ? removeFilesIn(folder.get(), matches, cutoff, maxDepth, true) : 0;
}

int FileSystem::removeOldFiles(const QString& root, const std::function<bool(const QString&)>& matches,
                               std::chrono::system_clock::time_point cutoff, int maxDepth) {
    int error = 0;
    const FileDescriptor folder = openFolder(root, &error);
    return folder ? removeFilesIn(folder.get(), matches, cutoff, maxDepth, false) : 0;
}

FileDescriptor FileSystem::openForAppending(const QString& path, int* error) {
    const QByteArray encoded = encodedName(path);
    // A FIFO without a reader would hold the open up for ever: it is opened without waiting (and refused
    // then), and what did open writes as usual afterwards.
    const auto open = [&](int flags) {
        FileDescriptor fd = result(::open(encoded.constData(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600), error);
        if (fd)
            ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
        return fd;
    };
    FileDescriptor fd = open(O_WRONLY | O_APPEND);
    if (fd || !makeFolderChain(QFileInfo(path).absolutePath(), 0755))
        return fd;
    fd = open(O_WRONLY | O_APPEND | O_CREAT | O_EXCL);
    if (fd) {
        ::fchmod(fd.get(), 0600); // whatever the umask says
        return fd;
    }
    // Made by someone else in between: use it as it is.
    return open(O_WRONLY | O_APPEND);
}

bool FileSystem::makeFolderChain(const QString& path, unsigned mode, bool exactMode) {
    struct stat info {};
    const QByteArray encoded = encodedName(path);
    if (::stat(encoded.constData(), &info) == 0)
        return S_ISDIR(info.st_mode);
    const QString parent = QFileInfo(path).absolutePath();
    if (parent != path && !makeFolderChain(parent, mode, exactMode))
        return false;
    if (::mkdir(encoded.constData(), mode_t(mode)) != 0)
        return errno == EEXIST;
    if (exactMode)
        ::chmod(encoded.constData(), mode_t(mode));
    return true;
}
