#include "GtkBookmarksFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

GtkBookmarksFile::GtkBookmarksFile(QString path)
    : _path(std::move(path)) {}

bool GtkBookmarksFile::load() {
    _lines.clear();
    _entryLines.clear();
    _entries.clear();
    QFile file(_path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;

    _lines = text.split('\n');
    if (!_lines.isEmpty() && _lines.last().isEmpty())
        _lines.removeLast(); // the final line feed ends the last line rather than starting another
    for (qsizetype i = 0; i < _lines.size(); ++i) {
        const QByteArray line = _lines[i].trimmed();
        if (line.isEmpty())
            continue;
        const qsizetype space = line.indexOf(' ');
        const QUrl url = QUrl::fromEncoded(space < 0 ? line : line.left(space), QUrl::StrictMode);
        const QString path = localPath(url);
        _entryLines.append(i);
        _entries.append({resolve(path), path});
    }
    return true;
}

void GtkBookmarksFile::insertAtFront(const QUrl& url) {
    const QString path = localPath(url);
    if (resolve(path).isEmpty())
        return;
    // Without a trailing slash, as file managers write it.
    _lines.prepend(uriForPath(QDir::cleanPath(QFileInfo(path).absoluteFilePath())));
    save();
}

void GtkBookmarksFile::removeEntryAt(qsizetype index) {
    if (index < 0 || index >= _entryLines.size())
        return;
    _lines.removeAt(_entryLines[index]);
    save();
}

void GtkBookmarksFile::save() const {
    QDir().mkpath(QFileInfo(_path).absolutePath());
    QSaveFile file(_path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    for (const QByteArray& line : _lines) {
        file.write(line);
        file.write("\n");
    }
    file.commit();
}
