#pragma once

#include <QString>

#include <functional>

// Moves the fetch folder with everything in it to a new place, also onto another file system, where a
// rename cannot go: the folder is then copied beside its new place, the copy compared with the original
// file by file, put at the new path with one rename, and only then is the original removed. Whatever
// fails on the way, the original stays complete where it was and no copy is left behind.
//
// Nothing is ever moved into or over something that exists at the new path.
class DVFolderMover {
public:
    enum class Result {
        Renamed, // one rename moved it (same file system)
        Copied,  // copied, verified, original removed
        Failed,  // the original is where it was, unchanged
    };

    // How a folder is renamed; replaceable so that tests can play a rename across file systems.
    // Returns false (without changing anything) when the rename cannot be made.
    using Renamer = std::function<bool(const QString& from, const QString& to)>;

    DVFolderMover();
    explicit DVFolderMover(Renamer renamer);

    // Runs on the calling thread and may take long for a big folder: call it off the main thread.
    // problem: what went wrong, for the log, when the result is Failed (or when only the removal of the
    // original after a verified copy failed: the result is then Copied, and problem says what was left).
    Result move(const QString& from, const QString& to, QString* problem) const;

    // move() on a worker thread; done runs on the main thread with the result and the problem text.
    void moveInBackground(const QString& from, const QString& to,
                          std::function<void(Result, const QString& problem)> done) const;

private:
    bool copyTree(const QString& from, const QString& to, QString* problem) const;
    static bool sameContent(const QString& a, const QString& b);

    Renamer _renamer;
};
