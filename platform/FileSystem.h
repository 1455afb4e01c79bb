#pragma once

#include "FileDescriptor.h"

#include <QByteArrayView>
#include <QString>

#include <chrono>
#include <functional>

// The process's file-system calls. Names passed with a folder descriptor ("…At") are single path
// components resolved inside that folder and never through a symbolic link, so that what a folder holds
// can never carry a write elsewhere; nothing here opens a FIFO or a device in a way that can block.
// Failures come back as errno values (0: success).
class FileSystem {
public:
    enum class Kind { Missing, RegularFile, Folder, SymbolicLink, Other };

    // The file-system encoding of a path or name.
    static QByteArray encodedName(const QString& name);

    // A folder by its full path; links in the path are followed (the user chose it).
    static FileDescriptor openFolder(const QString& path, int* error);
    // A folder inside another; ELOOP when the name is a symbolic link, ENOTDIR when it is something else
    // that is no folder.
    static FileDescriptor openFolderAt(int folder, const QString& name, int* error);
    // Makes a folder (mode less the umask); EEXIST when something is at the name.
    static int makeFolderAt(int folder, const QString& name, unsigned mode = 0777);
    // What is at the name, without following a link; Missing also when it cannot be looked at.
    static Kind kindAt(int folder, const QString& name);
    // The modification time of a name, without following a link (the epoch when it cannot be looked at).
    static std::chrono::system_clock::time_point modificationTimeAt(int folder, const QString& name);

    // A new file, read-write, never over anything at the name (links included).
    static FileDescriptor createFileAt(int folder, const QString& name, unsigned mode, int* error);
    // An existing regular file for reading; anything else (link, FIFO, socket, device, folder) is refused
    // with ELOOP or EINVAL without blocking.
    static FileDescriptor openRegularFileAt(int folder, const QString& name, int* error);

    // Moves a name to another inside folders without replacing anything at the target (EEXIST), also on
    // file systems without the no-replace rename.
    static int moveWithoutReplacingAt(int fromFolder, const QString& from, int toFolder, const QString& to);
    static int removeFileAt(int folder, const QString& name);
    // Removes a folder only when it is empty (ENOTEMPTY otherwise).
    static int removeEmptyFolderAt(int folder, const QString& name);

    static int writeAll(int fd, QByteArrayView bytes);
    // Forces the file's data to disk; a descriptor that cannot be synced (a pipe, a terminal) is no error.
    static int syncData(int fd);
    static int close(FileDescriptor& fd);
    static int close(int fd);
    // Whether two open regular files have the same size and bytes (read from the start, positions kept).
    static bool sameContent(int a, int b);

    // Tries to lock a whole open file, without waiting: shared or exclusive, held by the open file itself
    // (not by the process), so it conflicts with every other open of the file, in this process or another,
    // and ends when the file is closed or its process ends, however it ends. 0: locked; EAGAIN: someone
    // holds a conflicting lock; another errno: the file system keeps no locks.
    static int tryLock(int fd, bool exclusive);
    // Whether a name in a folder (a link not followed) is this open file.
    static bool isSameFileAt(int folder, const QString& name, int fd);

    // For each regular file under root (links never followed, at most maxDepth folders deep) whose name
    // matches and on which nobody holds a lock: removes it. On a file system that keeps no locks, only
    // when last changed before the cutoff. Returns how many were removed.
    static int removeUnlockedFiles(const QString& root, const std::function<bool(const QString& name)>& matches,
                                   std::chrono::system_clock::time_point cutoff, int maxDepth = 32);
    // The same for files nobody locks, such as pages left for another program to read: each goes once
    // last changed before the cutoff, held or not.
    static int removeOldFiles(const QString& root, const std::function<bool(const QString& name)>& matches,
                              std::chrono::system_clock::time_point cutoff, int maxDepth = 32);

    // Appending to a file by its full path: opens it, or creates it with mode 0600 (owner only) together
    // with its missing folders (mode 0755).
    static FileDescriptor openForAppending(const QString& path, int* error);
    // Makes a folder and its missing parents with the given mode: exactly, or less the umask.
    static bool makeFolderChain(const QString& path, unsigned mode, bool exactMode = true);
};
