#pragma once

class Bundle;
class UserDefaults;

// The settings work of the application controller's start-up, kept apart so that the controller only
// calls it and the tests can run it against a temporary settings folder and bundle.

// Fills in every missing setting with its default; a present value is never replaced. Logs an escaped
// exception as AppController:setUserDefaults and stops there.
void setUserDefaults(UserDefaults& defaults, const Bundle& bundle);

// Moves the settings of the older domain "com.docuvane.Docuvane_Fetch", when it exists, over the current
// domain's content and removes it.
void migrateOlderSettingsDomain(UserDefaults& defaults);

// The older domain's name.
extern const char* const kDVOlderSettingsDomain;
