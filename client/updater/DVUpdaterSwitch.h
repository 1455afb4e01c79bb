#pragma once

#include "DVWindowDelegates.h"

class Updater;

// The preferences window's automatic-check switch, backed by the updater (and so by the setting
// "SUEnableAutomaticChecks").
class DVUpdaterSwitch : public DVAutomaticUpdateChecks {
public:
    explicit DVUpdaterSwitch(Updater* updater)
        : _updater(updater) {}

    bool automaticallyChecksForUpdates() const override;
    void setAutomaticallyChecksForUpdates(bool on) override;

private:
    Updater* _updater;
};
