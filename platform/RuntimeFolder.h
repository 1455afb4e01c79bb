#pragma once

#include <QString>

// The user's own folder for sockets, locks and short-lived private files.
namespace RuntimeFolder {

// $XDG_RUNTIME_DIR when it names a folder of this user that nobody else can write into; otherwise
// "xdg-runtime" in the user's cache folder ($XDG_CACHE_HOME, or ~/.cache), made with mode 0700. A
// folder in a shared place such as /tmp could be made first by another user. Empty when neither can be
// used.
QString path();

// Whether the folder belongs to this user and nobody else may write into it; with exclusive, nobody else
// may enter it either. Links are followed only with followLinks.
bool isPrivate(const QString& folder, bool exclusive, bool followLinks = false);

} // namespace RuntimeFolder
