#include "Workspace.h"

#include "MainThread.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>

#include <mutex>

namespace {

std::mutex g_mutex;
Workspace::Opener g_opener;

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

} // namespace

bool Workspace::openURL(const QUrl& url) {
    Opener opener;
    {
        std::lock_guard lock(g_mutex);
        opener = g_opener;
    }
    return opener ? opener(url) : openWithDesktop(url);
}

void Workspace::setOpener(Opener opener) {
    std::lock_guard lock(g_mutex);
    g_opener = std::move(opener);
}
