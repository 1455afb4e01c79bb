#include "UserDefaults.h"

#include "FileSystem.h"
#include "ProductIdentity.h"
#include "PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

std::mutex g_handlerMutex;
UserDefaults::DiagnosticHandler g_handler;

void report(const QString& message) {
    UserDefaults::DiagnosticHandler handler;
    {
        std::lock_guard lock(g_handlerMutex);
        handler = g_handler;
    }
    if (handler)
        handler(message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

// Identifies one version of a file, so that a change by another process is noticed cheaply.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified {};

    static FileStamp of(const QString& path) {
        FileStamp stamp;
        struct stat info {};
        if (::lstat(QFile::encodeName(path).constData(), &info) == 0) {
            stamp.exists = true;
            stamp.device = info.st_dev;
            stamp.inode = info.st_ino;
            stamp.size = info.st_size;
            stamp.modified = info.st_mtim;
        }
        return stamp;
    }

    bool operator==(const FileStamp& other) const {
        return exists == other.exists && device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
    }
};

// Holds an exclusive advisory lock on the settings folder for the lifetime of a read-modify-write.
class FolderLock {
public:
    explicit FolderLock(const QString& directory)
        : _fd(::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (_fd >= 0)
            ::flock(_fd, LOCK_EX);
    }
    ~FolderLock() {
        if (_fd >= 0)
            ::close(_fd); // closing releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int _fd;
};

bool ensurePrivateDirectory(const QString& directory) {
    if (!QDir().mkpath(directory))
        return false;
    ::chmod(QFile::encodeName(directory).constData(), 0700);
    return true;
}

// Larger than any settings file written here; reading more would only hold memory for nothing.
constexpr qint64 kMaxFileSize = 1024 * 1024;

// Moves a damaged file aside within its folder under the first free "<name>.damaged[.n]". A name counts
// as taken when anything is there, a dangling link included, and nothing is ever copied: whatever a name
// points to is never opened or created. Empty when the file stays where it is.
QString setAside(int folder, const QString& name) {
    for (int n = 1; n <= 100; ++n) {
        const QString candidate = name + (n == 1 ? QStringLiteral(".damaged") : QStringLiteral(".damaged.%1").arg(n));
        const int error = FileSystem::moveWithoutReplacingAt(folder, name, folder, candidate);
        if (error == 0)
            return candidate;
        if (error != EEXIST)
            break;
    }
    return {};
}

// What reading a settings file found.
enum class Reading { Parsed, Damaged, Retry };

// Reads a settings file without following a link or waiting on a FIFO: only a regular file of a sane
// size is read. Retry means the file could not be looked at just now (out of descriptors or memory).
Reading readSettingsFile(const QString& directory, const QString& name, QVariantMap* values, QString* problem,
                         FileDescriptor* folder) {
    int error = 0;
    *folder = FileSystem::openFolder(directory, &error);
    const FileDescriptor fd = *folder ? FileSystem::openRegularFileAt(folder->get(), name, &error) : FileDescriptor();
    if (!fd) {
        *problem = QString::fromLocal8Bit(std::strerror(error));
        return error == EMFILE || error == ENFILE || error == ENOMEM || error == ENOENT ? Reading::Retry
                                                                                        : Reading::Damaged;
    }
    QFile file;
    if (!file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle) || file.size() > kMaxFileSize)
        return Reading::Damaged;
    const std::optional<QVariant> parsed = PropertyList::fromXml(file.read(kMaxFileSize + 1));
    if (!parsed || parsed->typeId() != QMetaType::QVariantMap)
        return Reading::Damaged;
    *values = parsed->toMap();
    return Reading::Parsed;
}

} // namespace

// The in-memory copy of one domain file, shared by every UserDefaults object that names it.
class DomainStore {
public:
    explicit DomainStore(QString path)
        : _path(std::move(path))
        , _directory(QFileInfo(_path).absolutePath()) {}

    std::optional<QVariantMap> read() {
        std::lock_guard lock(_mutex);
        refresh();
        if (!_exists)
            return std::nullopt;
        return _values;
    }

    QVariant value(const QString& key) {
        std::lock_guard lock(_mutex);
        refresh();
        return _values.value(key);
    }

    // Applies a change to the newest content on disk and writes the result.
    bool modify(const std::function<void(QVariantMap&)>& change) {
        std::lock_guard lock(_mutex);
        if (!ensurePrivateDirectory(_directory)) {
            report(QStringLiteral("Cannot create the settings folder %1").arg(_directory));
            return _lastWriteOk = false;
        }
        FolderLock folderLock(_directory);
        if (!refresh())
            return _lastWriteOk = false; // writing now would replace settings we could not read
        QVariantMap values = _values;
        change(values);
        return _lastWriteOk = write(values);
    }

    bool remove() {
        std::lock_guard lock(_mutex);
        FolderLock folderLock(_directory);
        _values.clear();
        _exists = false;
        const bool removed = !QFileInfo::exists(_path) || QFile::remove(_path);
        _stamp = FileStamp::of(_path);
        return _lastWriteOk = removed;
    }

    bool lastWriteOk() {
        std::lock_guard lock(_mutex);
        return _lastWriteOk;
    }

private:
    // Called with _mutex held. False when the content on disk is unknown (it could not be read just now)
    // or must not be replaced (a damaged file that could not be set aside).
    bool refresh() {
        const FileStamp now = FileStamp::of(_path);
        if (_loaded && now == _stamp)
            return !_damagedInPlace;
        _loaded = true;
        _stamp = now;
        _values.clear();
        _exists = now.exists;
        _damagedInPlace = false;
        if (!now.exists)
            return true;

        const QString name = QFileInfo(_path).fileName();
        FileDescriptor folder;
        QString problem;
        const Reading reading = readSettingsFile(_directory, name, &_values, &problem, &folder);
        if (reading == Reading::Parsed)
            return true;
        if (reading == Reading::Retry) {
            // The file itself is fine. Read it again at the next access rather than lose the stored
            // credentials.
            report(QStringLiteral("Cannot read the settings file %1 now: %2").arg(_path, problem));
            _loaded = false;
            _exists = false;
            return false;
        }

        // Keep the damaged file for the user or support to look at; the domain reads as empty.
        QString aside = setAside(folder.get(), name);
        const bool moved = !aside.isEmpty();
        aside = _directory + QLatin1Char('/') + aside;
        report(moved ? QStringLiteral("The settings file %1 is damaged or unreadable; it was kept as %2 and the "
                                      "settings start empty")
                           .arg(_path, aside)
                     : QStringLiteral("The settings file %1 is damaged or unreadable; the settings read as empty")
                           .arg(_path));
        _exists = false;
        _stamp = FileStamp::of(_path);
        if (!moved) {
            _stamp = now;           // report once, not at every access
            _damagedInPlace = true; // and never write over it
        }
        return moved;
    }

    // Called with _mutex and the folder lock held.
    bool write(const QVariantMap& values) {
        QSaveFile file(_path);
        if (!file.open(QIODevice::WriteOnly)) {
            report(QStringLiteral("Cannot write the settings file %1: %2").arg(_path, file.errorString()));
            return false;
        }
        ::fchmod(file.handle(), 0600);
        file.write(PropertyList::toXml(values));
        if (!file.commit()) {
            report(QStringLiteral("Cannot write the settings file %1: %2").arg(_path, file.errorString()));
            return false;
        }
        _values = values;
        _exists = true;
        _stamp = FileStamp::of(_path);
        return true;
    }

    const QString _path;
    const QString _directory;
    std::mutex _mutex;
    QVariantMap _values;
    FileStamp _stamp;
    bool _loaded = false;
    bool _exists = false;
    bool _damagedInPlace = false;
    bool _lastWriteOk = true;
};

namespace {

std::shared_ptr<DomainStore> sharedStore(const QString& path) {
    static std::mutex mutex;
    static QHash<QString, std::shared_ptr<DomainStore>> stores;
    std::lock_guard lock(mutex);
    auto& slot = stores[path];
    if (!slot)
        slot = std::make_shared<DomainStore>(path);
    return slot;
}

} // namespace

UserDefaults::UserDefaults(const QString& domainName, const QString& directory)
    : _domainName(domainName)
    , _directory(directory.isEmpty() ? defaultDirectory() : directory)
    , _store(sharedStore(filePathForDomain(_directory, _domainName))) {}

UserDefaults& UserDefaults::standardUserDefaults() {
    static UserDefaults defaults(standardDomainName());
    return defaults;
}

QString UserDefaults::standardDomainName() {
    return ProductIdentity::current().settingsDomain;
}

QString UserDefaults::defaultDirectory() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QLatin1Char('/') + ProductIdentity::current().vendorFolder;
}

QString UserDefaults::filePath() const {
    return filePathForDomain(_directory, _domainName);
}

QString UserDefaults::filePathForDomain(const QString& directory, const QString& domainName) {
    return directory + QLatin1Char('/') + domainName + QStringLiteral(".plist");
}

std::shared_ptr<DomainStore> UserDefaults::store(const QString& domainName) const {
    return domainName == _domainName ? _store : sharedStore(filePathForDomain(_directory, domainName));
}

QVariant UserDefaults::valueForKey(const QString& key) const {
    return _store->value(key);
}

void UserDefaults::setValue(const QVariant& value, const QString& key) {
    if (value.isValid() && !PropertyList::canRepresent(value)) {
        report(QStringLiteral("A value of type %1 cannot be stored under \"%2\"").arg(value.typeName(), key));
        return;
    }
    _store->modify([&](QVariantMap& values) {
        if (value.isValid())
            values.insert(key, value);
        else
            values.remove(key);
    });
}

qint64 UserDefaults::integerForKey(const QString& key) const {
    const QVariant value = valueForKey(key);
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::LongLong:
    case QMetaType::Int:
        return value.toLongLong();
    case QMetaType::Double:
        return static_cast<qint64>(value.toDouble());
    case QMetaType::QString: {
        // Leading white space and a numeric prefix count, as with the platform's intValue.
        const QString text = value.toString().trimmed();
        qsizetype end = 0;
        if (end < text.size() && (text[end] == QLatin1Char('-') || text[end] == QLatin1Char('+')))
            ++end;
        while (end < text.size() && text[end].isDigit())
            ++end;
        return text.left(end).toLongLong();
    }
    default:
        return 0;
    }
}

void UserDefaults::setInteger(qint64 value, const QString& key) {
    setValue(QVariant::fromValue(value), key);
}

bool UserDefaults::boolForKey(const QString& key) const {
    const QVariant value = valueForKey(key);
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::LongLong:
    case QMetaType::Int:
        return value.toLongLong() != 0;
    case QMetaType::Double:
        return value.toDouble() != 0.0;
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        if (text.isEmpty())
            return false;
        const QChar first = text.front();
        return first == QLatin1Char('Y') || first == QLatin1Char('y') || first == QLatin1Char('T') ||
               first == QLatin1Char('t') || (first.isDigit() && first != QLatin1Char('0'));
    }
    default:
        return false;
    }
}

void UserDefaults::setBool(bool value, const QString& key) {
    setValue(value, key);
}

std::optional<QVariantMap> UserDefaults::persistentDomainForName(const QString& domainName) const {
    return store(domainName)->read();
}

void UserDefaults::setPersistentDomain(const QVariantMap& domain, const QString& domainName) {
    store(domainName)->modify([&](QVariantMap& values) { values = domain; });
}

void UserDefaults::removePersistentDomainForName(const QString& domainName) {
    store(domainName)->remove();
}

bool UserDefaults::synchronize() {
    return _store->lastWriteOk();
}

void UserDefaults::setDiagnosticHandler(DiagnosticHandler handler) {
    std::lock_guard lock(g_handlerMutex);
    g_handler = std::move(handler);
}
