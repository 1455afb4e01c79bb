#include "InvokingUser.h"

#include <QFile>

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace {

// A user id written in decimal, nothing else; -1 otherwise.
qint64 parseUserId(const QByteArray& text) {
    if (text.isEmpty() || text.size() > 10)
        return -1;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
    }
    const qint64 value = text.toLongLong();
    return value <= 0xfffffffe ? value : -1; // (uid_t)-1 means "no user"
}

struct Account {
    bool found = false;
    QByteArray home;
    gid_t group = 0;
};

Account accountOf(uid_t uid) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<size_t>(size > 0 ? size : 16384));
    struct passwd entry {};
    struct passwd* result = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result) != 0 || !result || !entry.pw_dir)
        return {};
    return {true, QByteArray(entry.pw_dir), entry.pw_gid};
}

} // namespace

uid_t InvokingUser::userIdFor(uid_t realUserId, const QByteArray& pkexecUid, const QByteArray& sudoUid) {
    if (realUserId != 0)
        return realUserId;
    for (const QByteArray& candidate : {pkexecUid, sudoUid}) {
        if (!candidate.isEmpty())
            return parseUserId(candidate) >= 0 ? static_cast<uid_t>(parseUserId(candidate)) : 0;
    }
    return 0;
}

uid_t InvokingUser::userId() {
    return userIdFor(::getuid(), qgetenv("PKEXEC_UID"), qgetenv("SUDO_UID"));
}

bool InvokingUser::isActingForAnotherUser() {
    return ::getuid() == 0 && userId() != 0;
}

bool InvokingUser::adoptHome() {
    if (!isActingForAnotherUser())
        return true;
    const Account account = accountOf(userId());
    if (!account.found || !account.home.startsWith('/'))
        return false;
    qputenv("HOME", account.home);
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");
    return true;
}

ActingAsInvokingUser::ActingAsInvokingUser() {
    if (!InvokingUser::isActingForAnotherUser() || ::geteuid() != 0)
        return;
    const uid_t user = InvokingUser::userId();
    const Account account = accountOf(user);
    _savedUser = ::geteuid();
    _savedGroup = ::getegid();
    if (!account.found || ::setegid(account.group) != 0) {
        _valid = false;
        return;
    }
    if (::seteuid(user) != 0) {
        _valid = false;
        [[maybe_unused]] const int restored = ::setegid(_savedGroup); // the effective user is still root
        return;
    }
    _switched = true;
}

ActingAsInvokingUser::~ActingAsInvokingUser() {
    if (!_switched)
        return;
    // Cannot fail: the saved set-user-id is root. Were it to, the work that needs root would merely fail.
    [[maybe_unused]] const int user = ::seteuid(_savedUser);
    [[maybe_unused]] const int group = ::setegid(_savedGroup);
}
