#include "DVDocumentWriter.h"

#include "FileSystem.h"
#include "WorkerPool.h"

#include <QRandomGenerator>

#include <cerrno>
#include <set>

namespace {

constexpr int kMaxNumber = 9999;
constexpr int kTemporaryNameAttempts = 16;
// A folder on the way removed by another document's clean-up between being entered and used.
constexpr int kFolderAttempts = 3;
// A name freed and taken again by others while the document is placed.
constexpr int kPlaceAttempts = 4;
const QString kTemporaryPrefix = QStringLiteral(".docuvane-");
const QString kTemporarySuffix = QStringLiteral(".part");

// Every writer alive, so that a process asked to quit can remove all temporary files at once.
std::mutex& registryMutex() {
    static std::mutex* mutex = new std::mutex();
    return *mutex;
}

std::set<DVDocumentWriter*>& registry() {
    static auto* writers = new std::set<DVDocumentWriter*>();
    return *writers;
}

QStringList folderComponents(const QString& folderPath) {
    QStringList components = folderPath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    components.removeAll(QStringLiteral("."));
    return components;
}

DVError cancelledError() {
    return DVError::posixError(ECANCELED);
}

} // namespace

DVDocumentWriter::DVDocumentWriter(QString fetchFolder, QString folderPath, QString fileName)
    : _fetchFolder(std::move(fetchFolder))
    , _components(folderComponents(folderPath))
    , _fileName(std::move(fileName)) {
    std::lock_guard lock(registryMutex());
    registry().insert(this);
}

DVDocumentWriter::~DVDocumentWriter() {
    {
        std::lock_guard lock(registryMutex());
        registry().erase(this);
    }
    discard();
}

DVError DVDocumentWriter::linkError(const QString& place) const {
    return DVError(DVError::POSIXDomain, ELOOP, std::nullopt,
                   QStringLiteral("\"%1\" in the fetch folder is a symbolic link; no document is written through a "
                                  "link.")
                       .arg(place));
}

std::optional<DVError> DVDocumentWriter::enterFolder() {
    _folders.clear();
    _firstMade = -1;
    int error = 0;
    FileDescriptor root = FileSystem::openFolder(_fetchFolder, &error);
    // The fetch folder itself is the user's choice: made when missing, reached through links.
    if (!root && error == ENOENT && FileSystem::makeFolderChain(_fetchFolder, 0777, false))
        root = FileSystem::openFolder(_fetchFolder, &error);
    if (!root)
        return DVError::posixError(error);
    _folders.push_back(std::move(root));
    for (qsizetype index = 0; index < _components.size(); ++index) {
        const QString& name = _components.at(index);
        FileDescriptor next = FileSystem::openFolderAt(folder(), name, &error);
        bool made = false;
        if (!next && error == ENOENT) {
            error = FileSystem::makeFolderAt(folder(), name);
            made = error == 0;
            if (made || error == EEXIST)
                next = FileSystem::openFolderAt(folder(), name, &error);
        }
        if (made && _firstMade < 0)
            _firstMade = qsizetype(_folders.size());
        if (!next) {
            if (made)
                FileSystem::removeEmptyFolderAt(folder(), name);
            removeMadeFolders();
            if (error == ELOOP)
                return linkError(_components.mid(0, index + 1).join(QLatin1Char('/')));
            return DVError::posixError(error);
        }
        _folders.push_back(std::move(next));
    }
    return std::nullopt;
}

std::optional<DVError> DVDocumentWriter::open() {
    std::lock_guard lock(_mutex);
    if (_abandoned)
        return cancelledError();
    if (_file)
        return std::nullopt;
    int error = ENOENT;
    for (int entered = 0; entered < kFolderAttempts && error == ENOENT; ++entered) {
        if (const std::optional<DVError> problem = enterFolder())
            return problem;
        error = EEXIST;
        for (int attempt = 0; attempt < kTemporaryNameAttempts && error == EEXIST; ++attempt) {
            const QString name =
                kTemporaryPrefix +
                QStringLiteral("%1").arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0')) +
                kTemporarySuffix;
            // Made like any new file (0666 less the umask), never over anything at the name.
            FileDescriptor file = FileSystem::createFileAt(folder(), name, 0666, &error);
            if (file && !holdAsOwn(file.get(), name)) {
                error = EEXIST;
                continue;
            }
            _file = std::move(file);
            if (_file)
                _temporaryName = name;
        }
    }
    if (_file)
        return std::nullopt;
    removeMadeFolders();
    return DVError::posixError(error);
}

bool DVDocumentWriter::holdAsOwn(int fd, const QString& name) const {
    // The lock lives as long as the file is open here, and goes with the process however it ends: a launch's
    // sweep removes exactly the files nobody holds. A sweep that reached the new file before the lock was
    // taken has it (it holds its own lock, or the name is gone already): the writer takes another name. A
    // file system without locks leaves the file to the sweep's age limit.
    const int locked = FileSystem::tryLock(fd, true);
    return locked != EAGAIN && (locked != 0 || FileSystem::isSameFileAt(folder(), name, fd));
}

bool DVDocumentWriter::isOpen() const {
    std::lock_guard lock(_mutex);
    return _file.isValid();
}

std::optional<DVError> DVDocumentWriter::write(QByteArrayView bytes) {
    std::lock_guard lock(_mutex);
    if (_abandoned)
        return cancelledError();
    if (!_file)
        return DVError::posixError(EBADF);
    if (const int error = FileSystem::writeAll(_file.get(), bytes)) {
        discardLocked();
        return DVError::posixError(error);
    }
    return std::nullopt;
}

std::optional<DVError> DVDocumentWriter::commit() {
    int fd = -1;
    {
        std::lock_guard lock(_mutex);
        if (_abandoned)
            return cancelledError();
        if (!_file)
            return DVError::posixError(EBADF);
        fd = _file.get();
    }
    // The data is on disk before the name is: after a crash a document is whole or absent. The flush runs
    // unlocked so that abandon() never waits for it; only this thread closes the file.
    const int syncError = FileSystem::syncData(fd);
    std::lock_guard lock(_mutex);
    std::optional<DVError> error;
    if (_abandoned)
        error = cancelledError();
    else if (syncError)
        error = DVError::posixError(syncError);
    else
        error = place();
    if (error) {
        discardLocked();
        return error;
    }
    _committed = true;
    discardLocked(); // closes the file and the folders
    return std::nullopt;
}

std::optional<DVError> DVDocumentWriter::place() {
    QString path = _fetchFolder;
    for (const QString& component : _components)
        path += QLatin1Char('/') + component;
    for (int number = 1; number <= kMaxNumber; ++number) {
        const QString name = numberedName(_fileName, number);
        for (int attempt = 0; attempt < kPlaceAttempts; ++attempt) {
            const int moved = FileSystem::moveWithoutReplacingAt(folder(), _temporaryName, folder(), name);
            if (moved == 0) {
                _finalPath = path + QLatin1Char('/') + name;
                _wroteNewFile = true;
                _temporaryName.clear();
                return std::nullopt;
            }
            if (moved != EEXIST)
                return DVError::posixError(moved);
            const FileSystem::Kind kind = FileSystem::kindAt(folder(), name);
            if (kind == FileSystem::Kind::Missing)
                continue; // freed meanwhile: try the name again
            if (kind == FileSystem::Kind::SymbolicLink) {
                QStringList place = _components;
                place.append(name);
                return linkError(place.join(QLatin1Char('/')));
            }
            if (kind == FileSystem::Kind::RegularFile) {
                int error = 0;
                const FileDescriptor existing = FileSystem::openRegularFileAt(folder(), name, &error);
                if (existing && FileSystem::sameContent(existing.get(), _file.get())) {
                    FileSystem::removeFileAt(folder(), _temporaryName);
                    _temporaryName.clear();
                    _finalPath = path + QLatin1Char('/') + name;
                    _wroteNewFile = false;
                    return std::nullopt;
                }
            }
            break; // another file, a folder, a FIFO, a socket, a device: the next number
        }
    }
    return DVError::posixError(EEXIST);
}

void DVDocumentWriter::discard() {
    std::lock_guard lock(_mutex);
    discardLocked();
}

void DVDocumentWriter::discardLocked() {
    FileSystem::close(_file);
    if (!_temporaryName.isEmpty()) {
        FileSystem::removeFileAt(folder(), _temporaryName);
        _temporaryName.clear();
    }
    if (!_committed)
        removeMadeFolders();
    _firstMade = -1;
    _folders.clear();
}

void DVDocumentWriter::removeMadeFolders() {
    if (_firstMade < 0)
        return;
    // Deepest first; a folder that holds anything (another document's file) stops the removal.
    for (qsizetype index = qsizetype(_folders.size()) - 1; index >= _firstMade; --index) {
        if (FileSystem::removeEmptyFolderAt(_folders.at(index - 1).get(), _components.at(index - 1)) != 0)
            break;
    }
    _firstMade = -1;
}

void DVDocumentWriter::abandon() {
    std::lock_guard lock(_mutex);
    _abandoned = true;
    // The file stays open until its owner lets go of it (a flush may be using it); its name goes now.
    if (!_temporaryName.isEmpty()) {
        FileSystem::removeFileAt(folder(), _temporaryName);
        _temporaryName.clear();
    }
    if (!_committed)
        removeMadeFolders();
}

void DVDocumentWriter::abandonAll() {
    std::lock_guard lock(registryMutex());
    for (DVDocumentWriter* writer : registry())
        writer->abandon();
}

QString DVDocumentWriter::finalPath() const {
    std::lock_guard lock(_mutex);
    return _finalPath;
}

bool DVDocumentWriter::wroteNewFile() const {
    std::lock_guard lock(_mutex);
    return _wroteNewFile;
}

QString DVDocumentWriter::temporaryPath() const {
    std::lock_guard lock(_mutex);
    if (_temporaryName.isEmpty())
        return QString();
    QString path = _fetchFolder;
    for (const QString& component : _components)
        path += QLatin1Char('/') + component;
    return path + QLatin1Char('/') + _temporaryName;
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

bool DVDocumentWriter::isTemporaryFileName(const QString& name) {
    return name.size() > kTemporaryPrefix.size() + kTemporarySuffix.size() && name.startsWith(kTemporaryPrefix) &&
           name.endsWith(kTemporarySuffix);
}

int DVDocumentWriter::removeStaleTemporaryFiles(const QString& fetchFolder, std::chrono::seconds maxAge) {
    if (fetchFolder.isEmpty())
        return 0;
    return FileSystem::removeUnlockedFiles(fetchFolder, &DVDocumentWriter::isTemporaryFileName,
                                           std::chrono::system_clock::now() - maxAge);
}

void DVDocumentWriter::removeStaleTemporaryFilesInBackground(const QString& fetchFolder) {
    WorkerPool::post([path = fetchFolder]() mutable {
        removeStaleTemporaryFiles(path);
        path = QString(); // released on this thread, before the job ends
    });
}
