#pragma once

#include <QDir>
#include <QFile>

#include <unistd.h>

// How many inotify instances this process holds and how many watches they carry, read from /proc.
struct InotifyUsage {
    int descriptors = 0;
    int watches = 0;

    static InotifyUsage current() {
        InotifyUsage usage;
        const QStringList fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System);
        for (const QString& fd : fds) {
            char target[64] = {};
            const QByteArray link = QByteArrayLiteral("/proc/self/fd/") + fd.toLatin1();
            if (::readlink(link.constData(), target, sizeof target - 1) < 0 || qstrcmp(target, "anon_inode:inotify"))
                continue;
            ++usage.descriptors;
            QFile info(QStringLiteral("/proc/self/fdinfo/") + fd);
            if (!info.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray& line : info.readAll().split('\n'))
                usage.watches += line.startsWith("inotify wd:") ? 1 : 0;
        }
        return usage;
    }
};
