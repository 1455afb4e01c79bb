#include "PackageManager.h"

#include "FileDescriptor.h"
#include "FileSystem.h"

#include <QFile>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

// Runs a program and collects what it writes to both outputs; its exit status, or -1 when it could not be
// started or did not end normally.
int run(const QString& program, const QStringList& arguments, QByteArray* output) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return -1;
    FileDescriptor reading(pipe[0]);
    FileDescriptor writing(pipe[1]);

    std::vector<QByteArray> words{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        words.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    // The package system's maintainer scripts expect the system's programs on the path, and apt-get must
    // not stop to ask.
    char path[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    char frontend[] = "DEBIAN_FRONTEND=noninteractive";
    char locale[] = "LC_ALL=C";
    char* environment[] = {path, frontend, locale, nullptr};

    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, writing.get(), 1);
    ::posix_spawn_file_actions_adddup2(&actions, writing.get(), 2);
    ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environment);
    ::posix_spawn_file_actions_destroy(&actions);
    writing.reset();
    if (spawned != 0)
        return -1;

    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(reading.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        output->append(buffer, count);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// dpkg-query takes a pattern in which '*', '?', '[' and '\' are special; a path is meant literally.
QString literalPattern(const QString& path) {
    QString pattern;
    for (const QChar c : path) {
        if (c == QLatin1Char('*') || c == QLatin1Char('?') || c == QLatin1Char('[') || c == QLatin1Char(']') ||
            c == QLatin1Char('\\'))
            pattern += QLatin1Char('\\');
        pattern += c;
    }
    return pattern;
}

} // namespace

PackageManager::PackageManager()
    : PackageManager(Programs()) {}

PackageManager::PackageManager(Programs programs)
    : _programs(std::move(programs)) {}

QStringList PackageManager::owners(const QString& path) const {
    QByteArray output;
    if (run(_programs.query, {QStringLiteral("--search"), literalPattern(path)}, &output) != 0)
        return {};
    // "package[, package…]: path" per owned path; diversion notes and other paths are not answers.
    const QByteArray suffix = ": " + QFile::encodeName(path);
    QStringList packages;
    for (const QByteArray& line : output.split('\n')) {
        if (!line.endsWith(suffix) || line.startsWith("diversion by "))
            continue;
        for (const QByteArray& name : line.chopped(suffix.size()).split(','))
            packages.append(QString::fromUtf8(name.trimmed()));
    }
    return packages;
}

bool PackageManager::remove(const QString& package, QString* problem) const {
    QByteArray output;
    const int status = run(_programs.remove, {QStringLiteral("remove"), QStringLiteral("--yes"), package}, &output);
    if (status == 0)
        return true;
    if (problem)
        *problem = status < 0 ? QStringLiteral("%1 could not be run").arg(_programs.remove)
                              : QStringLiteral("%1 ended with status %2: %3")
                                    .arg(_programs.remove)
                                    .arg(status)
                                    .arg(QString::fromLocal8Bit(output.trimmed()));
    return false;
}
