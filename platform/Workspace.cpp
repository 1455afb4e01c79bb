#include "Workspace.h"

#include "DesktopEntry.h"
#include "FileSystem.h"
#include "MainThread.h"
#include "RuntimeFolder.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QSaveFile>

// GIO names a struct member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace {

std::mutex g_mutex;
Workspace::Opener g_opener;

const char* const kCustomIconAttribute = "metadata::custom-icon";

bool openWithDesktop(const QUrl& url) {
    auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!gui)
        return QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
    if (MainThread::isMainThread())
        return QDesktopServices::openUrl(url);
    // Desktop services belong to the GUI thread.
    MainThread::perform([url] { QDesktopServices::openUrl(url); });
    return true;
}

const QString kPagePrefix = QStringLiteral("open-url-");
const QString kPageSuffix = QStringLiteral(".html");
// Long enough for a browser that is still starting to read its page.
constexpr auto kPageLifetime = std::chrono::minutes(5);

// The URL as a JavaScript string's content: only characters that mean nothing to the script or the HTML
// around it stay as they are.
QString scriptEscaped(const QString& text) {
    QString escaped;
    for (const QChar c : text) {
        if (c.isLetterOrNumber() || QStringView(u"-._~:/?#[]@!$()*+,;=%").contains(c))
            escaped += c;
        else
            escaped += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return escaped;
}

// A page that sends the browser on to the URL, in a new file readable by this user only. Its path, or
// empty when it could not be written.
QString writeForwardingPage(const QString& folder, const QUrl& url) {
    const QString target = url.toString(QUrl::FullyEncoded);
    const QString html = target.toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&#39;"));
    const QByteArray page = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
                                           "<meta http-equiv=\"refresh\" content=\"0; url=%1\">\n"
                                           "<script>location.replace(\"%2\");</script>\n"
                                           "</head><body><a href=\"%1\">%1</a></body></html>\n")
                                .arg(html, scriptEscaped(target))
                                .toUtf8();
    QByteArray path =
        FileSystem::encodedName(folder + QLatin1Char('/') + kPagePrefix + QStringLiteral("XXXXXX") + kPageSuffix);
    // Made new, never over anything, with mode 0600.
    FileDescriptor fd(::mkstemps(path.data(), int(kPageSuffix.size())));
    if (!fd)
        return {};
    if (FileSystem::writeAll(fd.get(), page) != 0 || FileSystem::close(fd) != 0) {
        ::unlink(path.constData());
        return {};
    }
    return QFile::decodeName(path);
}

void openParentFolder(const QString& path) {
    Workspace::openURL(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

void showItems(const QString& path) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openParentFolder(path);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    // A file manager that is started by bus activation may take a while; past the timeout the user is
    // better served by the plain folder.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 10000), &Workspace::sharedWorkspace());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, path] {
        watcher->deleteLater();
        if (watcher->isError())
            openParentFolder(path);
    });
}

bool isKdeDesktop() {
    const QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'));
    return desktops.contains(QStringLiteral("KDE"), Qt::CaseInsensitive);
}

// The folder's ".directory" with "Icon=" in its [Desktop Entry] group, every other line kept.
void writeKdeDirectoryFile(const QString& folderPath, const QString& iconPath) {
    const QString path = folderPath + QStringLiteral("/.directory");
    QStringList lines;
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly)) {
        if (existing.size() > 1024 * 1024)
            return; // not a desktop file of ours to rewrite
        lines = QString::fromUtf8(existing.readAll()).split(QLatin1Char('\n'));
        existing.close();
        while (!lines.isEmpty() && lines.constLast().isEmpty())
            lines.removeLast();
    }
    const QString iconLine = QStringLiteral("Icon=") + DesktopEntry::escapeValue(iconPath);
    qsizetype group = -1;
    qsizetype iconAt = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            if (group >= 0)
                break;
            if (line == QStringLiteral("[Desktop Entry]"))
                group = i;
        } else if (group >= 0 && line.startsWith(QStringLiteral("Icon="))) {
            iconAt = i;
        }
    }
    if (iconAt >= 0) {
        if (lines.at(iconAt).trimmed() == iconLine)
            return;
        lines[iconAt] = iconLine;
    } else if (group >= 0) {
        lines.insert(group + 1, iconLine);
    } else {
        if (!lines.isEmpty())
            lines.append(QString());
        lines.append(QStringLiteral("[Desktop Entry]"));
        lines.append(iconLine);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    file.commit();
}

} // namespace

Workspace& Workspace::sharedWorkspace() {
    static auto* workspace = new Workspace(); // lives as long as the process
    return *workspace;
}

bool Workspace::openURL(const QUrl& url) {
    Opener opener;
    {
        std::lock_guard lock(g_mutex);
        opener = g_opener;
    }
    return opener ? opener(url) : openWithDesktop(url);
}

bool Workspace::openURLPrivately(const QUrl& url) {
    if (url.scheme() != QStringLiteral("https") && url.scheme() != QStringLiteral("http"))
        return false;
    Opener opener;
    {
        std::lock_guard lock(g_mutex);
        opener = g_opener;
    }
    if (opener)
        return opener(url);
    const QString folder = RuntimeFolder::path();
    if (folder.isEmpty())
        return false;
    FileSystem::removeOldFiles(
        folder, [](const QString& name) { return name.startsWith(kPagePrefix) && name.endsWith(kPageSuffix); },
        std::chrono::system_clock::now() - kPageLifetime, 0);
    const QString page = writeForwardingPage(folder, url);
    return !page.isEmpty() && openWithDesktop(QUrl::fromLocalFile(page));
}

void Workspace::setOpener(Opener opener) {
    std::lock_guard lock(g_mutex);
    g_opener = std::move(opener);
}

void Workspace::selectFile(const QString& path) {
    if (path.isEmpty())
        return;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (MainThread::isMainThread())
        showItems(absolute);
    else
        MainThread::perform([absolute] { showItems(absolute); });
}

QString Workspace::folderIcon(const QString& folderPath) {
    GFile* file = g_file_new_for_path(QFile::encodeName(folderPath).constData());
    GFileInfo* info = g_file_query_info(file, kCustomIconAttribute, G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
    QString icon;
    if (info) {
        if (const char* value = g_file_info_get_attribute_string(info, kCustomIconAttribute))
            icon = QString::fromUtf8(value);
        g_object_unref(info);
    }
    g_object_unref(file);
    return icon;
}

void Workspace::setFolderIcon(const QString& folderPath, const QString& iconPath) {
    if (folderPath.isEmpty() || iconPath.isEmpty() || !QFileInfo(folderPath).isDir())
        return;
    const QString iconUri = QUrl::fromLocalFile(iconPath).toString(QUrl::FullyEncoded);
    // The metadata store rewrites its whole database on every change, and validation runs at every menu
    // opening: write only what differs.
    if (folderIcon(folderPath) != iconUri) {
        GFile* file = g_file_new_for_path(QFile::encodeName(folderPath).constData());
        // Without a metadata store (no gvfs) this fails; the folder simply keeps its theme icon.
        g_file_set_attribute_string(file, kCustomIconAttribute, iconUri.toUtf8().constData(), G_FILE_QUERY_INFO_NONE,
                                    nullptr, nullptr);
        g_object_unref(file);
    }
    if (isKdeDesktop())
        writeKdeDirectoryFile(folderPath, iconPath);
}

bool Workspace::observeWake() {
    return observeWake(QDBusConnection::systemBus());
}

bool Workspace::observeWake(const QDBusConnection& systemBus) {
    if (!systemBus.isConnected())
        return false;
    QDBusConnection bus = systemBus;
    return bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                       QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                       SLOT(prepareForSleep(bool)));
}

void Workspace::prepareForSleep(bool sleeping) {
    if (!sleeping)
        emit didWake();
}
