#pragma once

#include "ProductIdentity.h"

// Docuvane Fetch's names, in one place. Every executable of the product installs them first thing in main,
// and the platform layer takes them from there: its settings domain and folder, the single instance's lock
// and socket, and how notifications and the desktop name it.
namespace DocuvaneFetchIdentity {

inline constexpr char kSettingsDomain[] = "com.docuvane.DocuvaneFetch";
// The domain of older versions, moved over at start and removed by the uninstaller.
inline constexpr char kOlderSettingsDomain[] = "com.docuvane.Docuvane_Fetch";
inline constexpr char kVendorFolder[] = "docuvane";
inline constexpr char kApplicationName[] = "Docuvane Fetch";
inline constexpr char kDesktopEntry[] = "docuvane-fetch";
inline constexpr char kInstanceName[] = "docuvane-fetch";

inline void install() {
    ProductIdentity::install({QString::fromLatin1(kSettingsDomain), QString::fromLatin1(kVendorFolder),
                              QString::fromLatin1(kInstanceName), QString::fromLatin1(kApplicationName),
                              QString::fromLatin1(kDesktopEntry)});
}

} // namespace DocuvaneFetchIdentity
