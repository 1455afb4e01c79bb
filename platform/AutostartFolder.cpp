#include "AutostartFolder.h"

#include "Bundle.h"
#include "DesktopEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

bool isBundle(const QString& path) {
    return path.endsWith(QStringLiteral(".app")) && QFileInfo(path).isDir();
}

bool isFalse(const QString& value) {
    return value.compare(QStringLiteral("false"), Qt::CaseInsensitive) == 0;
}

bool isTrue(const QString& value) {
    return value.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0;
}

} // namespace

AutostartFolder::AutostartFolder(QString folder)
    : _folder(std::move(folder)) {}

bool AutostartFolder::load() {
    _files.clear();
    _entries.clear();
    const QDir dir(_folder);
    if (!dir.exists())
        return true;
    const QStringList names = dir.entryList({QStringLiteral("*.desktop")}, QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& name : names) {
        const QString file = dir.filePath(name);
        QFile entryFile(file);
        Entry entry;
        if (entryFile.open(QIODevice::ReadOnly)) {
            const QHash<QString, QString> keys = DesktopEntry::parse(entryFile.readAll());
            const QStringList arguments = DesktopEntry::execArguments(keys.value(QStringLiteral("Exec")));
            if (!arguments.isEmpty()) {
                const QString program = arguments.first();
                entry.writtenPath = applicationForProgram(program);
                const bool enabled = !isTrue(keys.value(QStringLiteral("Hidden"))) &&
                                     !isFalse(keys.value(QStringLiteral("X-GNOME-Autostart-enabled")));
                const QString executable =
                    program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
                if (enabled && !executable.isEmpty() && QFileInfo(executable).isFile())
                    entry.resolvedURL = resolve(entry.writtenPath);
            }
        }
        _files.append(file);
        _entries.append(entry);
    }
    return true;
}

QString AutostartFolder::applicationForProgram(const QString& program) {
    const QString executable =
        program.contains(QLatin1Char('/')) ? QDir::cleanPath(program) : QStandardPaths::findExecutable(program);
    if (executable.isEmpty())
        return QString();
    const QString bundle = Bundle::bundlePathForExecutable(executable);
    const QString macOS = QFileInfo(executable).absolutePath();
    if (bundle.endsWith(QStringLiteral(".app")) && QFileInfo(macOS).fileName() == QStringLiteral("MacOS") &&
        QFileInfo(QFileInfo(macOS).absolutePath()).fileName() == QStringLiteral("Contents"))
        return bundle;
    return executable;
}

QString AutostartFolder::executableFor(const QString& path) {
    if (!isBundle(path))
        return QFileInfo(path).isFile() ? QDir::cleanPath(QFileInfo(path).absoluteFilePath()) : QString();
    const Bundle bundle(QFileInfo(path).absoluteFilePath());
    QString name = bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleExecutable")).toString();
    if (name.isEmpty())
        name = QFileInfo(bundle.bundlePath()).completeBaseName();
    const QString executable = bundle.executableFolderPath() + QLatin1Char('/') + name;
    return QFileInfo(executable).isFile() ? executable : QString();
}

QString AutostartFolder::entryFileNameFor(const QString& path) {
    const QFileInfo info(QDir::cleanPath(path));
    const QString name = isBundle(path) ? info.completeBaseName() : info.fileName();
    QString file;
    for (const QChar c : name.toLower()) {
        if (c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('_'))
            file += c;
        else if (!file.endsWith(QLatin1Char('-')))
            file += QLatin1Char('-');
    }
    if (file.isEmpty() || file == QStringLiteral("-"))
        file = QStringLiteral("application");
    return file + QStringLiteral(".desktop");
}

QByteArray AutostartFolder::entryTextFor(const QString& path) {
    const QString executable = executableFor(path);
    if (executable.isEmpty())
        return QByteArray();
    const QFileInfo info(QDir::cleanPath(path));
    const QString name = isBundle(path) ? info.completeBaseName() : info.fileName();
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=%1\n"
                                        "Exec=%2\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(DesktopEntry::escapeValue(name),
                                  DesktopEntry::escapeValue(DesktopEntry::quoteExecArgument(executable)));
    return text.toUtf8();
}

void AutostartFolder::insertAtFront(const QUrl& url) {
    if (localPath(url).isEmpty())
        return;
    const QString path = QDir::cleanPath(localPath(url)); // a bundle's URL ends in a slash
    const QByteArray text = entryTextFor(path);
    if (text.isEmpty())
        return;

    // Our own earlier entry for the same application (moved, or switched off) is replaced; an unrelated
    // entry that happens to have the name is not.
    const QString application = QFileInfo(path).absoluteFilePath();
    const QString base = entryFileNameFor(path).chopped(8);
    QString file;
    for (int n = 1;; ++n) {
        file = _folder + QLatin1Char('/') + base + (n == 1 ? QString() : QStringLiteral("-%1").arg(n)) +
               QStringLiteral(".desktop");
        const qsizetype known = _files.indexOf(file);
        if (!QFileInfo::exists(file) || (known >= 0 && _entries[known].writtenPath == application))
            break;
    }

    QDir().mkpath(_folder);
    QSaveFile entryFile(file);
    if (!entryFile.open(QIODevice::WriteOnly))
        return;
    entryFile.write(text);
    entryFile.commit();
}

void AutostartFolder::removeEntryAt(qsizetype index) {
    if (index >= 0 && index < _files.size())
        QFile::remove(_files[index]);
}
