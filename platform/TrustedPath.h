#pragma once

#include "FileDescriptor.h"

#include <QString>

// Places that only the administrator can change, and removal that never follows a link. A root process
// that acts on a path must know that no other user can swap a folder on the way for a link or another
// folder between a check and the act; it reaches every folder through the descriptor of the one above.
class TrustedPath {
public:
    // Opens the folder at an absolute path one name at a time from "/", never through a symbolic link,
    // and checks that "/", every folder on the way and the folder itself are owned by root and writable by
    // neither group nor others. On failure returns no descriptor and says in problem which path failed
    // and why.
    static FileDescriptor openFolder(const QString& path, QString* problem);

    // The same for a regular file and every folder above it. With a descriptor of the file (the running
    // program's own, for instance), the path must also name that very file.
    static bool isTrustedFile(const QString& path, QString* problem, int openFile = -1);

    // Removes name inside folder: a file or a link itself, a folder with everything in it. Every folder
    // is opened through its parent's descriptor without following a link, so a folder swapped for a link
    // loses the link only, and nothing on another file system mounted inside is touched. False when
    // something could not be removed; a name already gone counts as removed.
    static bool removeAt(int folder, const QString& name);
};
