#include "DVSettingsRegistration.h"

#include "Bundle.h"
#include "DVExceptionGuard.h"
#include "DVSettingsKeys.h"
#include "UserDefaults.h"

#include <QDir>

const char* const kDVOlderSettingsDomain = "com.docuvane.Docuvane_Fetch";

namespace {

void setIntegerIfAbsent(UserDefaults& defaults, const QString& key, qint64 value) {
    if (!defaults.valueForKey(key).isValid())
        defaults.setInteger(value, key);
}

void copyInfoValueIfAbsent(UserDefaults& defaults, const Bundle& bundle, const QString& key) {
    if (defaults.valueForKey(key).isValid())
        return;
    const QVariant value = bundle.objectForInfoDictionaryKey(key);
    if (value.isValid())
        defaults.setValue(value, key);
}

} // namespace

void setUserDefaults(UserDefaults& defaults, const Bundle& bundle) {
    dvGuard("AppController", "setUserDefaults", [&] {
        const QString folderKey = bundle.localizedString(DVSettings::DropboxFolderPath);
        if (!defaults.valueForKey(folderKey).isValid()) {
            const QString folderName = bundle.localizedString(QStringLiteral("Docuvane Fetch"));
            defaults.setValue(QDir::homePath() + QStringLiteral("/Desktop/") + folderName, folderKey);
        }
        setIntegerIfAbsent(defaults, bundle.localizedString(DVSettings::AddToLoginItems), 1);
        setIntegerIfAbsent(defaults, bundle.localizedString(DVSettings::LastEventId), 0);
        setIntegerIfAbsent(defaults, bundle.localizedString(DVSettings::UseGrowlNotifications), 1);
        const QString monochromeKey = bundle.localizedString(DVSettings::UseBlackAndWhiteMenuBarIcons);
        if (!defaults.valueForKey(monochromeKey).isValid())
            defaults.setBool(true, monochromeKey);
        setIntegerIfAbsent(defaults, DVSettings::AutomaticUpdateChecks, 1);
        copyInfoValueIfAbsent(defaults, bundle, bundle.localizedString(DVSettings::ServerURL));
        copyInfoValueIfAbsent(defaults, bundle, bundle.localizedString(DVSettings::FolderCheckInterval));
        defaults.synchronize();
    });
}

void migrateOlderSettingsDomain(UserDefaults& defaults) {
    const QString older = QString::fromLatin1(kDVOlderSettingsDomain);
    const std::optional<QVariantMap> content = defaults.persistentDomainForName(older);
    if (!content)
        return;
    defaults.setPersistentDomain(*content, defaults.domainName());
    defaults.removePersistentDomainForName(older);
    defaults.synchronize();
}
