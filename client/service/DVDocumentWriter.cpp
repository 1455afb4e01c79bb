#include "DVDocumentWriter.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

constexpr int kMaxNumber = 9999;
constexpr int kTemporaryNameAttempts = 16;

QByteArray encoded(const QString& path) {
    return QFile::encodeName(path);
}

// Moves from to to unless something is at to: 0 or an errno value (EEXIST when taken).
int moveWithoutReplacing(const QByteArray& from, const QByteArray& to) {
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    // A file system without the no-replace rename: a hard link fails the same way when the name is taken.
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    ::unlink(from.constData());
    return 0;
}

bool readFully(int fd, char* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t count = ::read(fd, buffer + done, size - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += size_t(count);
    }
    return true;
}

bool sameContent(const QByteArray& pathA, const QByteArray& pathB) {
    const int a = ::open(pathA.constData(), O_RDONLY | O_CLOEXEC);
    const int b = ::open(pathB.constData(), O_RDONLY | O_CLOEXEC);
    bool same = false;
    struct stat infoA {};
    struct stat infoB {};
    if (a >= 0 && b >= 0 && ::fstat(a, &infoA) == 0 && ::fstat(b, &infoB) == 0 && S_ISREG(infoA.st_mode) &&
        S_ISREG(infoB.st_mode) && infoA.st_size == infoB.st_size) {
        static constexpr size_t kChunk = 64 * 1024;
        QByteArray bufferA(kChunk, Qt::Uninitialized);
        QByteArray bufferB(kChunk, Qt::Uninitialized);
        off_t left = infoA.st_size;
        same = true;
        while (same && left > 0) {
            const size_t size = size_t(std::min<off_t>(left, off_t(kChunk)));
            same = readFully(a, bufferA.data(), size) && readFully(b, bufferB.data(), size) &&
                   std::equal(bufferA.constData(), bufferA.constData() + size, bufferB.constData());
            left -= off_t(size);
        }
    }
    if (a >= 0)
        ::close(a);
    if (b >= 0)
        ::close(b);
    return same;
}

} // namespace

DVDocumentWriter::DVDocumentWriter(QString folderPath, QString fileName)
    : _folderPath(std::move(folderPath))
    , _fileName(std::move(fileName)) {}

DVDocumentWriter::~DVDocumentWriter() {
    discard();
}

std::optional<DVError> DVDocumentWriter::open() {
    if (isOpen())
        return std::nullopt;
    QDir().mkpath(_folderPath);
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        const QString name =
            QStringLiteral(".docuvane-%1.part").arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
        const QString path = _folderPath + QLatin1Char('/') + name;
        // Made like any new file (0666 less the umask), never over an existing one.
        const int fd = ::open(encoded(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            _fd = fd;
            _temporaryPath = path;
            return std::nullopt;
        }
        if (errno != EEXIST)
            return DVError::posixError(errno);
    }
    return DVError::posixError(EEXIST);
}

std::optional<DVError> DVDocumentWriter::write(QByteArrayView bytes) {
    if (!isOpen())
        return DVError::posixError(EBADF);
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(_fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0) {
            const int error = errno;
            discard();
            return DVError::posixError(error);
        }
        data += written;
        left -= written;
    }
    return std::nullopt;
}

std::optional<DVError> DVDocumentWriter::commit() {
    if (!isOpen())
        return DVError::posixError(EBADF);
    // The data is on disk before the name is: after a crash a document is whole or absent.
    const bool synced = ::fdatasync(_fd) == 0 || errno == EINVAL;
    const int syncError = errno;
    const bool closed = ::close(_fd) == 0;
    const int closeError = errno;
    _fd = -1;
    if (!synced || !closed) {
        discard();
        return DVError::posixError(!synced ? syncError : closeError);
    }
    if (const std::optional<DVError> error = place()) {
        discard();
        return error;
    }
    return std::nullopt;
}

std::optional<DVError> DVDocumentWriter::place() {
    const QByteArray temporary = encoded(_temporaryPath);
    for (int number = 1; number <= kMaxNumber; ++number) {
        const QString path = _folderPath + QLatin1Char('/') + numberedName(_fileName, number);
        const QByteArray target = encoded(path);
        const int result = moveWithoutReplacing(temporary, target);
        if (result == 0) {
            _finalPath = path;
            _wroteNewFile = true;
            _temporaryPath.clear();
            return std::nullopt;
        }
        if (result != EEXIST)
            return DVError::posixError(result);
        if (sameContent(temporary, target)) {
            ::unlink(temporary.constData());
            _temporaryPath.clear();
            _finalPath = path;
            _wroteNewFile = false;
            return std::nullopt;
        }
    }
    return DVError::posixError(EEXIST);
}

void DVDocumentWriter::discard() {
    if (_fd >= 0) {
        ::close(_fd);
        _fd = -1;
    }
    if (!_temporaryPath.isEmpty()) {
        ::unlink(encoded(_temporaryPath).constData());
        _temporaryPath.clear();
    }
}

QString DVDocumentWriter::numberedName(const QString& fileName, int number) {
    if (number <= 1)
        return fileName;
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString suffix = QStringLiteral(" (%1)").arg(number);
    if (dot <= 0)
        return fileName + suffix;
    return fileName.left(dot) + suffix + fileName.mid(dot);
}
