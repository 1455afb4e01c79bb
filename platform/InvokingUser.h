#pragma once

#include <QByteArray>

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
};

// While alive, a root process acting for another user touches files with that user's rights (its
// effective user and group), so that work in the user's home can do nothing the user could not.
// Elsewhere it does nothing.
class ActingAsInvokingUser {
public:
    ActingAsInvokingUser();
    ~ActingAsInvokingUser();
    ActingAsInvokingUser(const ActingAsInvokingUser&) = delete;
    ActingAsInvokingUser& operator=(const ActingAsInvokingUser&) = delete;

    // False when the switch was needed but failed: the caller must then leave the user's files alone.
    bool isValid() const { return _valid; }

private:
    bool _switched = false;
    bool _valid = true;
    uid_t _savedUser = 0;
    gid_t _savedGroup = 0;
};
