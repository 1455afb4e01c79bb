#pragma once

#include <QString>

// The names of the product that the platform's services use: its settings, its runtime files and how the
// desktop knows it. The platform layer has none of its own; each executable installs its product's identity
// first thing in main, before any service here is used.
struct ProductIdentity {
    QString settingsDomain;  // the standard settings domain, such as "com.example.Product"
    QString vendorFolder;    // holds the settings files under $XDG_CONFIG_HOME
    QString instanceName;    // the single instance's "<instanceName>.lock" and "<instanceName>.socket"
    QString applicationName; // as notifications name their sender
    QString desktopEntry;    // the desktop-entry id, without ".desktop"

    static void install(const ProductIdentity& identity);
    // The installed identity. Using a service before main installed one is a programming error: the
    // program ends with a message saying so.
    static const ProductIdentity& current();
};
