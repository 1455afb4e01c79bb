#include "DVFolderMover.h"

#include "MainThread.h"
#include "WorkerPool.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <filesystem>

namespace {

bool renameWithoutReplacing(const QString& from, const QString& to) {
    // Qt renames without replacing an existing target (renameat2 with RENAME_NOREPLACE where the file
    // system has it), and fails across file systems rather than copying.
    return QDir().rename(from, to);
}

bool exists(const QString& path) {
    // A dangling link exists too: it occupies the name.
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
}

} // namespace

DVFolderMover::DVFolderMover()
    : _renamer(renameWithoutReplacing) {}

DVFolderMover::DVFolderMover(Renamer renamer)
    : _renamer(std::move(renamer)) {}

DVFolderMover::Result DVFolderMover::move(const QString& from, const QString& to, QString* problem) const {
    const QFileInfo source(from);
    if (!source.isDir() || source.isSymLink()) {
        *problem = QStringLiteral("%1 is not a folder").arg(from);
        return Result::Failed;
    }
    if (exists(to)) {
        *problem = QStringLiteral("%1 already exists").arg(to);
        return Result::Failed;
    }
    const QString target = QDir::cleanPath(QFileInfo(to).absoluteFilePath());
    const QString origin = QDir::cleanPath(source.absoluteFilePath());
    if (target.startsWith(origin + QLatin1Char('/'))) {
        *problem = QStringLiteral("%1 lies inside %2").arg(to, from);
        return Result::Failed;
    }
    const QString parent = QFileInfo(target).absolutePath();
    if (!QDir().mkpath(parent)) {
        *problem = QStringLiteral("cannot create %1").arg(parent);
        return Result::Failed;
    }
    if (_renamer(from, to))
        return Result::Renamed;

    // Another file system (or a rename refused for another reason): copy next to the target under a
    // hidden name, so that a half-made copy is never taken for the fetch folder.
    const QString staging =
        parent + QStringLiteral("/.docuvane-move-") + QUuid::createUuid().toString(QUuid::Id128).left(12);
    if (!copyTree(from, staging, problem) || !_renamer(staging, to)) {
        if (problem->isEmpty())
            *problem = QStringLiteral("cannot put the copy at %1").arg(to);
        QDir(staging).removeRecursively();
        return Result::Failed;
    }
    if (!QDir(from).removeRecursively())
        *problem = QStringLiteral("copied to %1, but %2 could not be removed completely").arg(to, from);
    return Result::Copied;
}

bool DVFolderMover::copyTree(const QString& from, const QString& to, QString* problem) const {
    if (!QDir().mkdir(to)) {
        *problem = QStringLiteral("cannot create %1").arg(to);
        return false;
    }
    QFile::setPermissions(to, QFileInfo(from).permissions());
    QDirIterator it(from, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    const QDir root(from);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        const QString copy = to + QLatin1Char('/') + root.relativeFilePath(path);
        if (info.isSymLink()) {
            // A link is copied as a link, with its target text as it is (a relative link keeps pointing
            // inside the folder): what it points to is not ours to copy.
            std::error_code error;
            std::filesystem::create_symlink(std::filesystem::read_symlink(path.toStdString(), error),
                                            copy.toStdString(), error);
            if (error) {
                *problem = QStringLiteral("cannot copy the link %1").arg(path);
                return false;
            }
        } else if (info.isDir()) {
            if (!QDir().mkdir(copy)) {
                *problem = QStringLiteral("cannot create %1").arg(copy);
                return false;
            }
            QFile::setPermissions(copy, info.permissions());
        } else if (info.isFile()) {
            if (!QFile::copy(path, copy) || !sameContent(path, copy)) {
                *problem = QStringLiteral("cannot copy %1").arg(path);
                return false;
            }
        } else {
            // A pipe, socket or device cannot be carried over; leaving it behind would lose it.
            *problem = QStringLiteral("cannot copy %1: not a file, folder or link").arg(path);
            return false;
        }
    }
    return true;
}

bool DVFolderMover::sameContent(const QString& a, const QString& b) {
    QFile first(a);
    QFile second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly) || first.size() != second.size())
        return false;
    constexpr qint64 kPiece = 1 << 20;
    while (!first.atEnd()) {
        const QByteArray x = first.read(kPiece);
        if (x.isEmpty() || x != second.read(kPiece))
            return false;
    }
    return second.atEnd();
}

void DVFolderMover::moveInBackground(const QString& from, const QString& to,
                                     std::function<void(Result, const QString&)> done) const {
    WorkerPool::post([mover = *this, from, to, done = std::move(done)] {
        QString problem;
        const Result result = mover.move(from, to, &problem);
        MainThread::perform([done, result, problem] { done(result, problem); });
    });
}
