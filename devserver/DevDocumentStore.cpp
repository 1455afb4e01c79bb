#include "DevDocumentStore.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>

const QString& DevDocumentStore::topLevelFolderName() {
    static const QString name = QStringLiteral("Inbox");
    return name;
}

DevDocumentStore::DevDocumentStore(QString documentsFolder, QString statePath, QStringList excludedFiles)
    : _folder(QDir(documentsFolder).absolutePath())
    , _statePath(statePath.isEmpty() ? QString() : QFileInfo(statePath).absoluteFilePath()) {
    for (const QString& file : excludedFiles) {
        if (!file.isEmpty())
            _excluded.append(QFileInfo(file).absoluteFilePath());
    }
    if (!_statePath.isEmpty())
        _excluded.append(_statePath);
}

bool DevDocumentStore::load(QString* problem) {
    {
        std::lock_guard lock(_mutex);
        if (!_statePath.isEmpty() && !readState(problem))
            return false;
    }
    return scan(nullptr, nullptr, problem);
}

QStringList DevDocumentStore::filesOnDisk() const {
    QStringList files;
    const QDir root(_folder);
    // Hidden files and folders are skipped; symbolic links to folders are not followed, so no loop.
    QDirIterator iterator(_folder, QDir::Files, QDirIterator::Subdirectories);
    while (iterator.hasNext()) {
        const QString absolute = iterator.next();
        // The state file's atomic writes pass through temporary names that begin with its own name.
        const bool excluded = std::any_of(_excluded.cbegin(), _excluded.cend(), [&](const QString& path) {
            return absolute == path || (path == _statePath && absolute.startsWith(path));
        });
        if (!excluded)
            files.append(root.relativeFilePath(absolute));
    }
    files.sort();
    return files;
}

bool DevDocumentStore::scan(QList<DevDocument>* waiting, QList<DevDocument>* all, QString* problem) {
    const QStringList files = filesOnDisk();
    std::lock_guard lock(_mutex);
    QStringList added;
    const qint64 firstNewId = _nextId;
    for (const QString& file : files) {
        if (_records.contains(file))
            continue;
        _records.insert(file, Record{_nextId, false});
        _files.insert(_nextId, file);
        ++_nextId;
        added.append(file);
    }
    // An id that the state file does not hold would not survive a restart: it is not handed out.
    if (!added.isEmpty() && !writeState(problem)) {
        for (const QString& file : added)
            _files.remove(_records.take(file).id);
        _nextId = firstNewId;
        return false;
    }
    QList<DevDocument> present;
    for (const QString& file : files)
        present.append(documentFor(file, _records.value(file)));
    std::sort(present.begin(), present.end(), [](const DevDocument& a, const DevDocument& b) { return a.id < b.id; });
    if (all)
        *all = present;
    if (waiting) {
        waiting->clear();
        std::copy_if(present.cbegin(), present.cend(), std::back_inserter(*waiting),
                     [](const DevDocument& document) { return !document.transferred; });
    }
    return true;
}

std::optional<DevDocument> DevDocumentStore::document(qint64 id) const {
    std::lock_guard lock(_mutex);
    const auto found = _files.constFind(id);
    if (found == _files.constEnd())
        return std::nullopt;
    DevDocument result = documentFor(*found, _records.value(*found));
    if (!QFileInfo(absoluteFilePath(result)).isFile())
        return std::nullopt;
    return result;
}

QString DevDocumentStore::absoluteFilePath(const DevDocument& document) const {
    return _folder + QLatin1Char('/') + document.file;
}

bool DevDocumentStore::markTransferred(const QList<qint64>& ids, qint64* unknownId, QString* problem) {
    std::lock_guard lock(_mutex);
    for (qint64 id : ids) {
        if (!_files.contains(id)) {
            if (unknownId)
                *unknownId = id;
            return false;
        }
    }
    QMap<QString, Record> before = _records;
    for (qint64 id : ids)
        _records[_files.value(id)].transferred = true;
    if (writeState(problem))
        return true;
    _records = before;
    return false;
}

DevDocument DevDocumentStore::documentFor(const QString& file, const Record& record) const {
    DevDocument document;
    document.id = record.id;
    document.file = file;
    document.transferred = record.transferred;
    const qsizetype slash = file.lastIndexOf(QLatin1Char('/'));
    document.path = slash < 0 ? topLevelFolderName() : file.left(slash);
    document.filename = file.mid(slash + 1);
    return document;
}

bool DevDocumentStore::readState(QString* problem) {
    QFile file(_statePath);
    if (!file.exists())
        return true;
    const auto fail = [&](const QString& reason) {
        if (problem)
            *problem = QStringLiteral("state file %1: %2").arg(_statePath, reason);
        return false;
    };
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    const QByteArray content = file.readAll();
    if (content.trimmed().isEmpty())
        return true; // made empty by hand: a fresh start
    QJsonParseError parseError{};
    const QJsonDocument json = QJsonDocument::fromJson(content, &parseError);
    if (!json.isObject())
        return fail(parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                 : QStringLiteral("not a JSON object"));
    const QJsonObject state = json.object();
    QMap<QString, Record> records;
    QHash<qint64, QString> files;
    qint64 highest = 0;
    for (const QJsonValue& value : state.value(QStringLiteral("documents")).toArray()) {
        const QJsonObject entry = value.toObject();
        const qint64 id = entry.value(QStringLiteral("id")).toInteger(0);
        const QString relative = entry.value(QStringLiteral("file")).toString();
        if (id <= 0 || relative.isEmpty() || files.contains(id) || records.contains(relative))
            return fail(QStringLiteral("a document entry has a bad or repeated id or file"));
        records.insert(relative, Record{id, entry.value(QStringLiteral("transferred")).toBool()});
        files.insert(id, relative);
        highest = std::max(highest, id);
    }
    _records = records;
    _files = files;
    _nextId = std::max(state.value(QStringLiteral("nextId")).toInteger(1), highest + 1);
    return true;
}

bool DevDocumentStore::writeState(QString* problem) const {
    if (_statePath.isEmpty())
        return true;
    QJsonArray documents;
    for (auto it = _records.cbegin(); it != _records.cend(); ++it) {
        documents.append(QJsonObject{{QStringLiteral("id"), it->id},
                                     {QStringLiteral("file"), it.key()},
                                     {QStringLiteral("transferred"), it->transferred}});
    }
    const QJsonObject state{{QStringLiteral("nextId"), _nextId}, {QStringLiteral("documents"), documents}};
    QSaveFile file(_statePath);
    if (file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(state).toJson()) >= 0 && file.commit())
        return true;
    if (problem)
        *problem = QStringLiteral("cannot write the state file %1: %2").arg(_statePath, file.errorString());
    return false;
}
