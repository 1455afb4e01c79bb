#include "DVServiceAddress.h"

#include "Bundle.h"
#include "DVSettingsKeys.h"
#include "UserDefaults.h"

QString missingServiceAddressMessage() {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    const QString key = DVKey(DVSettings::ServerURL);
    if (!defaults.valueForKey(key).toString().isEmpty())
        return {};
    // Filled in at launch from the bundle; a window may be used before that has happened.
    const QVariant fromBundle = Bundle::mainBundle().objectForInfoDictionaryKey(key);
    if (!fromBundle.toString().isEmpty()) {
        defaults.setValue(fromBundle, key);
        return {};
    }
    return QStringLiteral("No service address is configured. Set the \"%1\" setting to the address of the "
                          "Docuvane service.")
        .arg(key);
}
