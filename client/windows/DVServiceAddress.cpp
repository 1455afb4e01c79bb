#include "DVServiceAddress.h"

#include "Bundle.h"
#include "ClientSettings.h"
#include "WSLogger.h"

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
    // The user is told what is missing and who can help; the setting's name is for whoever reads the log.
    WSLogger::sharedInstance().logError("DVServiceAddress", "missingServiceAddressMessage",
                                        {QStringLiteral("No service address: the setting \"%1\" is empty and the "
                                                        "bundle names none.")
                                             .arg(key)});
    return QStringLiteral("Docuvane Fetch does not know the address of the Docuvane service. Ask your "
                          "administrator to set it up.");
}
