#include "DVUpdaterSwitch.h"

#include "Updater.h"

bool DVUpdaterSwitch::automaticallyChecksForUpdates() const {
    return _updater->automaticallyChecksForUpdates();
}

void DVUpdaterSwitch::setAutomaticallyChecksForUpdates(bool on) {
    _updater->setAutomaticallyChecksForUpdates(on);
}
