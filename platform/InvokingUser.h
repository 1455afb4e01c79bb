#pragma once

#include <QByteArray>

#include <functional>

#include <sys/types.h>

// The user a command works for: its real user, or, when an ordinary user started it with administrator
// rights through pkexec or sudo, that user (PKEXEC_UID, else SUDO_UID). The variables count only for a
// process that really runs as root, so an ordinary user cannot name someone else through them.
class InvokingUser {
public:
    static uid_t userId();
    static uid_t userIdFor(uid_t realUserId, const QByteArray& pkexecUid, const QByteArray& sudoUid);

    // True when the process runs as root on behalf of another user.
    static bool isActingForAnotherUser();

    // For a command acting for another user: points HOME at that user's home and drops the XDG folder
    // variables, so that the user's settings and login items are found where they live by default.
    // Must run before anything reads the environment. False when that user's home is unknown.
    static bool adoptHome();

    // Runs work in a child process that first becomes the user for good: the user's groups, then the
    // user's group and the user as real, effective and saved ids, each checked, so that nothing the work
    // does can reach beyond what the user could do alone. Waits for the child. False when the user is
    // unknown, the child could not become the user (the work did not run), or it did not end normally.
    static bool runAsUser(uid_t uid, const std::function<void()>& work);
};
