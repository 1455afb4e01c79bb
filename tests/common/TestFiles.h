#pragma once

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

// Writes a file whole, making the folders on its way. Callers wrap it in QVERIFY, so that a failure stops the
// calling test rather than only this function.
[[nodiscard]] inline bool writeFile(const QString& path, const QByteArray& content = "x") {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// A file's whole content; empty when it cannot be read.
inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The files under a folder, by their paths relative to it, sorted; hidden ones only with QDir::Hidden.
inline QStringList filesUnder(const QString& root, QDir::Filters extra = {}) {
    QStringList files;
    QDirIterator it(root, QDir::Files | extra, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(root).relativeFilePath(it.next()));
    files.sort();
    return files;
}

// The names of the hidden files under a folder, such as a download's temporary file.
inline QStringList hiddenFilesUnder(const QString& root) {
    QStringList names;
    for (const QString& path : filesUnder(root, QDir::Hidden))
        if (QFileInfo(path).fileName().startsWith(QLatin1Char('.')))
            names.append(QFileInfo(path).fileName());
    return names;
}
