#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>
#include <QString>
#include <QVariant>

#include <optional>

// Whether the desktop is in its dark appearance. The answer comes from the desktop portal's settings
// (org.freedesktop.portal.Settings, "org.freedesktop.appearance" / "color-scheme", 1 = prefer dark), which
// also announces changes. Without a portal, or with no preference there, the GTK theme name decides: a name such as
// "Adwaita-dark" or "Breeze:dark" is dark. Lives on the main thread.
class Appearance : public QObject {
    Q_OBJECT

public:
    // Asks the portal on the session bus.
    explicit Appearance(QObject* parent = nullptr);
    // Asks the portal on the given bus (a test's private bus); a disconnected bus means no portal.
    explicit Appearance(const QDBusConnection& bus, QObject* parent = nullptr);

    // The current answer: the portal's once it has replied, the theme name's before and without one.
    bool isDark() const { return _dark; }

    // The portal's "color-scheme" value, however many variants wrap it: dark for 1, light for 2, nothing
    // for 0 (no preference) and anything else.
    static std::optional<bool> darkFromPortalValue(const QVariant& value);
    // True for theme names ending in "-dark" or ":dark" (any case).
    static bool isDarkThemeName(const QString& themeName);
    // The "gtk-theme-name" of a GTK settings.ini text ([Settings] group); empty when absent.
    static QString themeNameFromSettingsIni(const QString& text);
    // The theme name the desktop uses without a portal: $GTK_THEME, GNOME's interface setting, then the
    // user's GTK 3 and GTK 4 settings.ini.
    static QString currentThemeName();

signals:
    // The appearance flipped between light and dark.
    void changed();

private slots:
    void settingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);

private:
    void setDark(bool dark);
    void readPortal();

    QDBusConnection _bus;
    bool _dark = false;
};
