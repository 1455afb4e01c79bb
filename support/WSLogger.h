#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <initializer_list>
#include <mutex>

// Who a log line is written on behalf of: the class name shown between the parentheses.
struct LogSender {
    LogSender(const QObject* object)
        : className(object ? QString::fromLatin1(object->metaObject()->className()) : QStringLiteral("(null)")) {}
    LogSender(const char* name)
        : className(QString::fromLatin1(name)) {}
    LogSender(QString name)
        : className(std::move(name)) {}
    QString className;
};

// The one logger of a process. Each call writes one line
//   "<yyyy-MM-dd HH:mm:ss.SSS> <process> (<class>:<method>) <level> <messages>\n"
// (control characters in the messages escaped, see escapedMessage()) in a single write and forces it to
// disk before returning, so a crash never loses the lines before it and lines from different threads
// never interleave. Threads logging at the same time share flushes.
class WSLogger {
public:
    enum Level : int { Info = 1, Debug = 2, Trace = 4, Error = 8 };

    static WSLogger& sharedInstance();

    WSLogger(const WSLogger&) = delete;
    WSLogger& operator=(const WSLogger&) = delete;

    // A non-empty path (re)opens the destination, falling back to standard error when the file cannot
    // be used; an empty or null path keeps the current destination.
    void setFileName(const QString& path);
    QString fileName() const;

    int level() const { return _level.load(std::memory_order_relaxed); }
    void setLevel(int mask) { _level.store(mask, std::memory_order_relaxed); }

    // Messages are joined, each followed by one blank, up to the first null string.
    void logInfo(const LogSender& sender, const char* selector, std::initializer_list<QString> messages);
    void logDebug(const LogSender& sender, const char* selector, std::initializer_list<QString> messages);
    void logTrace(const LogSender& sender, const char* selector, std::initializer_list<QString> messages);
    void logError(const LogSender& sender, const char* selector, std::initializer_list<QString> messages);

    // Info lines of one call site written together: one write and one flush for all, each line as
    // logInfo writes it.
    void logInfoLines(const LogSender& sender, const char* selector,
                      std::initializer_list<std::initializer_list<QString>> lines);

    // Writes one line whatever the mask.
    void log(const LogSender& sender, const char* selector, int level, const QString& message);

    static QString stringWithLevel(int level);

    // Opens or creates the file named by fileName() and makes it the destination.
    bool openfile();

    // The line as it would be written, without the trailing line feed's write; for tests and tools.
    QString formatLine(const LogSender& sender, const char* selector, int level, const QString& message) const;

    // The message as it goes into a line: every character below U+0020 escaped ("\n", "\r", "\t", the
    // others as "\u" and four hex digits), so that one call always writes exactly one line.
    static QString escapedMessage(const QString& message);

private:
    WSLogger();
    ~WSLogger() = default;

    void compose(int level, const LogSender& sender, const char* selector, std::initializer_list<QString> messages);
    void replaceDestination(int fd);
    void writeAndFlush(int fd, const QByteArray& bytes);
    static QString joined(std::initializer_list<QString> messages);

    std::atomic<int> _level;
    QString _filename;
    QString _processName;
    // -1: no destination; 2: standard error; otherwise the open log file.
    std::atomic<int> _fileDescriptor{-1};
    // Lines written, and lines known to be on disk (under _flushMutex), so that concurrent callers share
    // flushes.
    std::atomic<quint64> _linesWritten{0};
    std::mutex _flushMutex;
    quint64 _linesFlushed = 0;
};
