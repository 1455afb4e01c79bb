#include "DVServiceAddress.h"

#include "Bundle.h"
#include "ClientSettings.h"

QString missingServiceAddressMessage() {
    ClientSettings& settings = ClientSettings::shared();
    const QString key = settings.storedName(ClientSettings::Key::ServerURL);
    if (!settings.serverURL().isEmpty())
        return {};
    // Filled in at launch from the bundle; a window may be used before that has happened.
    const QVariant fromBundle = Bundle::mainBundle().objectForInfoDictionaryKey(key);
    if (!fromBundle.toString().isEmpty()) {
        settings.setValue(ClientSettings::Key::ServerURL, fromBundle);
        return {};
    }
    return QStringLiteral("No service address is configured. Set the \"%1\" setting to the address of the "
                          "Docuvane service.")
        .arg(key);
}
