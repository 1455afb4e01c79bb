#pragma once

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>

// Folder contents as one line of text, and the same notation to make them: "a/" a folder, "a=text" a
// file, "a|" a FIFO, "a#" a socket, "a@/abs/target" a symbolic link.

// Every entry under a folder, hidden ones and links included (never followed), sorted and joined by ", ";
// a link shows as "a@", without its target.
inline QString tree(const QString& root) {
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QString entry = QDir(root).relativeFilePath(path);
        struct stat info {};
        ::lstat(QFile::encodeName(path).constData(), &info);
        if (S_ISLNK(info.st_mode))
            entry += "@";
        else if (S_ISDIR(info.st_mode))
            entry += "/";
        else if (S_ISFIFO(info.st_mode))
            entry += "|";
        else if (S_ISSOCK(info.st_mode))
            entry += "#";
        else if (QFile file(path); file.open(QIODevice::ReadOnly))
            entry += "=" + QString::fromUtf8(file.readAll());
        entries.append(entry);
    }
    entries.sort();
    return entries.join(", ");
}

// Makes one entry below root, with the folders on its way; false when it cannot be made.
inline bool plant(const QString& root, const QString& entry) {
    const auto at = [&](qsizetype end) {
        const QString path = root + "/" + entry.left(end);
        QDir().mkpath(QFileInfo(path).path());
        return path;
    };
    if (entry.endsWith('/'))
        return QDir().mkpath(at(entry.size() - 1));
    if (const qsizetype link = entry.indexOf('@'); link > 0)
        return QFile::link(entry.mid(link + 1), at(link));
    if (const qsizetype equals = entry.indexOf('='); equals > 0) {
        QFile file(at(equals));
        return file.open(QIODevice::WriteOnly) && file.write(entry.mid(equals + 1).toUtf8()) >= 0;
    }
    const QByteArray path = QFile::encodeName(at(entry.size() - 1));
    if (entry.endsWith('|'))
        return ::mkfifo(path.constData(), 0600) == 0;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!entry.endsWith('#') || size_t(path.size()) >= sizeof(address.sun_path))
        return false;
    std::copy(path.begin(), path.end(), address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound;
}
