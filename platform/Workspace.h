#pragma once

#include <QUrl>

#include <functional>

// Hands URLs to the user's default handlers (normally the web browser). Safe from any thread.
class Workspace {
public:
    // Opens the URL through the desktop's URL handler: Qt's desktop services in a GUI application,
    // xdg-open in a program without a GUI (the headless tools).
    static bool openURL(const QUrl& url);

    // Replaces how URLs are opened (a test records them instead); an empty function restores the default.
    using Opener = std::function<bool(const QUrl&)>;
    static void setOpener(Opener opener);
};
