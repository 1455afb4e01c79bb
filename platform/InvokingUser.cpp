#include "InvokingUser.h"

#include <QFile>

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

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
    QByteArray name;
};

constexpr int kCannotBecomeUser = 125;

Account accountOf(uid_t uid) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<size_t>(size > 0 ? size : 16384));
    struct passwd entry {};
    struct passwd* result = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result) != 0 || !result || !entry.pw_dir)
        return {};
    return {true, QByteArray(entry.pw_dir), entry.pw_gid, QByteArray(entry.pw_name ? entry.pw_name : "")};
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

bool InvokingUser::runAsUser(uid_t uid, const std::function<void()>& work) {
    const Account account = accountOf(uid);
    if (!account.found || uid == 0)
        return false;
    // Looked up before the fork: the child does nothing but drop its rights and work.
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    while (::getgrouplist(account.name.constData(), account.group, groups.data(), &count) < 0)
        groups.resize(static_cast<size_t>(count));
    groups.resize(static_cast<size_t>(count));

    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        // Nothing the root parent holds open goes along into the user's process.
        ::close_range(3, ~0U, 0);
        if (::setgroups(groups.size(), groups.data()) != 0 ||
            ::setresgid(account.group, account.group, account.group) != 0 || ::setresuid(uid, uid, uid) != 0)
            ::_exit(kCannotBecomeUser);
        uid_t real = 0, effective = 0, saved = 0;
        gid_t realGroup = 0, effectiveGroup = 0, savedGroup = 0;
        if (::getresuid(&real, &effective, &saved) != 0 || real != uid || effective != uid || saved != uid ||
            ::getresgid(&realGroup, &effectiveGroup, &savedGroup) != 0 || realGroup != account.group ||
            effectiveGroup != account.group || savedGroup != account.group ||
            ::getgroups(0, nullptr) != static_cast<int>(groups.size()) || ::setuid(0) == 0 || ::setgid(0) == 0 ||
            ::chdir("/") != 0)
            ::_exit(kCannotBecomeUser);
        work();
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
