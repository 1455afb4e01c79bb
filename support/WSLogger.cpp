#include "WSLogger.h"

#include "FileSystem.h"
#include "UserDefaults.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <mutex>

namespace {

QString currentProcessName() {
    const QString executable = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!executable.isEmpty())
        return QFileInfo(executable).fileName();
    return QString::fromLocal8Bit(program_invocation_short_name);
}

constexpr int kStandardError = 2;

void flushToDisk(int fd) {
    if (fd != kStandardError)
        FileSystem::syncData(fd);
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
        replaceDestination(kStandardError);
}

QString WSLogger::fileName() const {
    return _filename;
}

bool WSLogger::openfile() {
    // The log carries session tickets: a new one is made readable by its owner only.
    int error = 0;
    FileDescriptor fd = FileSystem::openForAppending(_filename, &error);
    replaceDestination(-1);
    if (!fd)
        return false;
    FileSystem::writeAll(fd.get(), QByteArrayLiteral("\n\n")); // a failed write is not the logger's to handle
    flushToDisk(fd.get());
    replaceDestination(fd.release());
    return true;
}

void WSLogger::replaceDestination(int fd) {
    std::lock_guard lock(_flushMutex);
    const int previous = _fileDescriptor.exchange(fd);
    if (previous > kStandardError) {
        FileSystem::syncData(previous); // what the flushes of the new destination cannot cover
        FileSystem::close(previous);
    }
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

void WSLogger::logInfoLines(const LogSender& sender, const char* selector,
                            std::initializer_list<std::initializer_list<QString>> lines) {
    if (!(level() & Info))
        return;
    const int fd = _fileDescriptor.load();
    if (fd < 0)
        return;
    QByteArray bytes;
    for (const std::initializer_list<QString>& messages : lines)
        bytes += formatLine(sender, selector, Info, joined(messages)).toUtf8();
    writeAndFlush(fd, bytes);
}

QString WSLogger::joined(std::initializer_list<QString> messages) {
    QString text;
    for (const QString& message : messages) {
        if (message.isNull())
            break;
        text += message;
        text += QLatin1Char(' ');
    }
    return text;
}

void WSLogger::compose(int level, const LogSender& sender, const char* selector,
                       std::initializer_list<QString> messages) {
    if (!(this->level() & level))
        return;
    log(sender, selector, level, joined(messages));
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
    writeAndFlush(fd, formatLine(sender, selector, level, message).toUtf8());
}

void WSLogger::writeAndFlush(int fd, const QByteArray& bytes) {
    FileSystem::writeAll(fd, bytes); // a failed write is not the logger's to handle
    if (fd == kStandardError)
        return;
    const quint64 line = _linesWritten.fetch_add(1) + 1;
    // Lines written while another thread flushes share the next flush: a caller whose line an earlier
    // caller's flush already covered returns at once, every caller still only after its line is on disk.
    std::lock_guard lock(_flushMutex);
    if (_linesFlushed >= line)
        return;
    const quint64 covered = _linesWritten.load();
    FileSystem::syncData(fd);
    _linesFlushed = covered;
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
