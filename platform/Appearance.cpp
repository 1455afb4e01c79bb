#include "Appearance.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

// GIO names a struct member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kNamespace = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");

// GNOME's interface setting as the user set it, read through GIO only when its schema is installed
// (GSettings aborts on an unknown schema).
QString gnomeThemeName() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source)
        return {};
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE);
    if (!schema)
        return {};
    QString name;
    if (g_settings_schema_has_key(schema, "gtk-theme")) {
        GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
        // Only a theme the user chose: the schema's default says nothing on a desktop that is not GNOME.
        if (GVariant* value = g_settings_get_user_value(settings, "gtk-theme")) {
            if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
                name = QString::fromUtf8(g_variant_get_string(value, nullptr));
            g_variant_unref(value);
        }
        g_object_unref(settings);
    }
    g_settings_schema_unref(schema);
    return name;
}

QString settingsIniThemeName(const QString& configHome, const QString& gtkFolder) {
    QFile file(configHome + QLatin1Char('/') + gtkFolder + QStringLiteral("/settings.ini"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return Appearance::themeNameFromSettingsIni(QString::fromUtf8(file.read(64 * 1024)));
}

} // namespace

Appearance::Appearance(QObject* parent)
    : Appearance(QDBusConnection::sessionBus(), parent) {}

Appearance::Appearance(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , _bus(bus) {
    _dark = isDarkThemeName(currentThemeName());
    if (!_bus.isConnected())
        return;
    _bus.connect(kPortalService, kPortalPath, kSettingsInterface, QStringLiteral("SettingChanged"), this,
                 SLOT(settingChanged(QString, QString, QDBusVariant)));
    readPortal();
}

void Appearance::readPortal() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kPortalService, kPortalPath, kSettingsInterface, QStringLiteral("Read"));
    call << kNamespace << kKey;
    auto* watcher = new QDBusPendingCallWatcher(_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusMessage reply = watcher->reply();
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return; // no portal, or one without the appearance setting: the theme name stands
        setDark(darkFromPortalValue(reply.arguments().constFirst()).value_or(isDarkThemeName(currentThemeName())));
    });
}

void Appearance::settingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value) {
    if (nameSpace != kNamespace || key != kKey)
        return;
    setDark(darkFromPortalValue(value.variant()).value_or(isDarkThemeName(currentThemeName())));
}

void Appearance::setDark(bool dark) {
    if (dark == _dark)
        return;
    _dark = dark;
    emit changed();
}

std::optional<bool> Appearance::darkFromPortalValue(const QVariant& value) {
    QVariant inner = value;
    // Older portals wrap the value once more than they announce; a bounded unwrap keeps a hostile reply
    // from looping.
    for (int depth = 0; depth < 4 && inner.userType() == qMetaTypeId<QDBusVariant>(); ++depth)
        inner = inner.value<QDBusVariant>().variant();
    if (inner.userType() != QMetaType::UInt && inner.userType() != QMetaType::Int)
        return std::nullopt;
    // 1 prefers dark, 2 prefers light; 0 (no preference) leaves it to the theme.
    switch (inner.toLongLong()) {
    case 1:
        return true;
    case 2:
        return false;
    default:
        return std::nullopt;
    }
}

bool Appearance::isDarkThemeName(const QString& themeName) {
    static const QRegularExpression dark(QStringLiteral("[:-]dark$"), QRegularExpression::CaseInsensitiveOption);
    return dark.match(themeName.trimmed()).hasMatch();
}

QString Appearance::themeNameFromSettingsIni(const QString& text) {
    bool inSettings = false;
    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inSettings = line == QStringLiteral("[Settings]");
            continue;
        }
        if (!inSettings || line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0 && line.left(equals).trimmed() == QStringLiteral("gtk-theme-name"))
            return line.mid(equals + 1).trimmed();
    }
    return {};
}

QString Appearance::currentThemeName() {
    const QString fromEnvironment = qEnvironmentVariable("GTK_THEME");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QString gnome = gnomeThemeName();
    if (!gnome.isEmpty())
        return gnome;
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(configHome))
        configHome = QDir::homePath() + QStringLiteral("/.config");
    for (const QString& folder : {QStringLiteral("gtk-3.0"), QStringLiteral("gtk-4.0")}) {
        const QString name = settingsIniThemeName(configHome, folder);
        if (!name.isEmpty())
            return name;
    }
    return {};
}
