#pragma once

#include "Bundle.h"

#include <QString>

// Every settings key, information-dictionary key and exception name passes through the application's
// string table before use, so that a private build can rename them without touching the code.
inline QString DVKey(const QString& name) {
    return Bundle::mainBundle().localizedString(name);
}

namespace DVSettings {
inline const QString DropboxFolderPath = QStringLiteral("dropboxFolderPath");
inline const QString AddToLoginItems = QStringLiteral("addToLoginItems");
inline const QString LastEventId = QStringLiteral("lastEventIdKey");
inline const QString UseGrowlNotifications = QStringLiteral("useGrowlNotifications");
inline const QString UseBlackAndWhiteMenuBarIcons = QStringLiteral("useBlackAndWhiteMenuBarIcons");
inline const QString AutomaticUpdateChecks = QStringLiteral("SUEnableAutomaticChecks"); // used as written
inline const QString ServerURL = QStringLiteral("DocuvaneServerURL");
inline const QString FolderCheckInterval = QStringLiteral("DVFFolderCheckInterval");
inline const QString Email = QStringLiteral("email");
inline const QString Password = QStringLiteral("password");
inline const QString Ticket = QStringLiteral("ticket");
inline const QString OpenDropbox = QStringLiteral("openDropbox");
inline const QString Debug = QStringLiteral("Debug"); // used as written
} // namespace DVSettings
