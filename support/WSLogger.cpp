#include "WSLogger.h"

#include "UserDefaults.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace {

QString currentProcessName() {
    const QString executable = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!executable.isEmpty())
        return QFileInfo(executable).fileName();
    return QString::fromLocal8Bit(program_invocation_short_name);
}

bool makeFolderChain(const QString& folder) {
    QDir dir(folder);
    if (dir.exists())
        return true;
    if (!makeFolderChain(QFileInfo(folder).absolutePath()))
        return false;
    if (::mkdir(QFile::encodeName(folder).constData(), 0755) != 0 && errno != EEXIST)
        return false;
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    return true;
}

void writeAll(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return; // a failed write is not the logger's to handle
        data += written;
        left -= written;
    }
}

void flushToDisk(int fd) {
    if (fd != STDERR_FILENO)
        ::fdatasync(fd);
}

} // namespace

WSLogger& WSLogger::sharedInstance() {
    static std::mutex classLock;
    static WSLogger* instance = nullptr;
    std::lock_guard lock(classLock);
    if (!instance)
        instance = new WSLogger(); // lives until the process ends, by design
    return *instance;
}

WSLogger::WSLogger()
    : _level(UserDefaults::standardUserDefaults().boolForKey(QStringLiteral("Debug")) ? 15 : 13)
    , _processName(currentProcessName()) {}

void WSLogger::setFileName(const QString& path) {
    _filename.clear();
    if (path.isEmpty())
        return;
    _filename = path;
    if (!openfile())
        replaceDestination(STDERR_FILENO);
}

QString WSLogger::fileName() const {
    return _filename;
}

bool WSLogger::openfile() {
    const QByteArray path = QFile::encodeName(_filename);
    int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0 && makeFolderChain(QFileInfo(_filename).absolutePath())) {
        // The log carries session tickets: only its owner may read it.
        const int created = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (created >= 0) {
            ::fchmod(created, 0600);
            ::close(created);
            fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
        }
    }
    replaceDestination(-1);
    if (fd < 0)
        return false;
    writeAll(fd, QByteArrayLiteral("\n\n"));
    flushToDisk(fd);
    replaceDestination(fd);
    return true;
}

void WSLogger::replaceDestination(int fd) {
    const int previous = _fileDescriptor.exchange(fd);
    if (previous > STDERR_FILENO)
        ::close(previous);
}

void WSLogger::logInfo(const LogSender& sender, const char* selector, std::initializer_list<QString> messages) {
    compose(Info, sender, selector, messages);
}

void WSLogger::logDebug(const LogSender& sender, const char* selector, std::initializer_list<QString> messages) {
    compose(Debug, sender, selector, messages);
}

void WSLogger::logTrace(const LogSender& sender, const char* selector, std::initializer_list<QString> messages) {
    compose(Trace, sender, selector, messages);
}

void WSLogger::logError(const LogSender& sender, const char* selector, std::initializer_list<QString> messages) {
    compose(Error, sender, selector, messages);
}

void WSLogger::compose(int level, const LogSender& sender, const char* selector,
                       std::initializer_list<QString> messages) {
    if (!(this->level() & level))
        return;
    QString text;
    for (const QString& message : messages) {
        if (message.isNull())
            break;
        text += message;
        text += QLatin1Char(' ');
    }
    log(sender, selector, level, text);
}

QString WSLogger::escapedMessage(const QString& message) {
    qsizetype first = 0;
    while (first < message.size() && message.at(first).unicode() >= 0x20)
        ++first;
    if (first == message.size())
        return message;
    QString escaped = message.left(first);
    for (qsizetype i = first; i < message.size(); ++i) {
        const char16_t c = message.at(i).unicode();
        switch (c) {
        case u'\n':
            escaped += QLatin1String("\\n");
            break;
        case u'\r':
            escaped += QLatin1String("\\r");
            break;
        case u'\t':
            escaped += QLatin1String("\\t");
            break;
        default:
            if (c < 0x20)
                escaped += QStringLiteral("\\u%1").arg(int(c), 4, 16, QLatin1Char('0'));
            else
                escaped += QChar(c);
        }
    }
    return escaped;
}

QString WSLogger::formatLine(const LogSender& sender, const char* selector, int level, const QString& message) const {
    const QString time = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    // A reply or a file name quoted in a message can neither end the line nor start a forged one.
    return QStringLiteral("%1 %2 (%3:%4) %5 %6\n")
        .arg(time, _processName, sender.className, QString::fromUtf8(selector), stringWithLevel(level),
             escapedMessage(message));
}

void WSLogger::log(const LogSender& sender, const char* selector, int level, const QString& message) {
    const int fd = _fileDescriptor.load();
    if (fd < 0)
        return;
    writeAll(fd, formatLine(sender, selector, level, message).toUtf8());
    flushToDisk(fd);
}

QString WSLogger::stringWithLevel(int level) {
    switch (level) {
    case Info:
        return QStringLiteral("Info");
    case Debug:
        return QStringLiteral("Debug");
    case Trace:
        return QStringLiteral("Trace");
    case Error:
        return QStringLiteral("Error");
    default:
        return QString(QLatin1String(""));
    }
}
