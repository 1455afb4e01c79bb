#pragma once

// Stand-in until the window watcher lands: same names, no window scanning.
#include "DVFetchWebServices.h"
#include "DVStateObservable.h"

#include <QObject>

#include <memory>

class DVWindowWatcherCheckFinishedDelegate {
public:
    virtual ~DVWindowWatcherCheckFinishedDelegate() = default;
    virtual void windowWatcherCheckFinished() = 0;
};

class DVFetchWindowWatcher : public QObject, public DVKeyValueObserver {
public:
    explicit DVFetchWindowWatcher(QObject* delegate)
        : _webServices(
              std::make_unique<DVFetchWebServices>(dynamic_cast<DVFetchWebServicesDelegate*>(delegate), false)) {}
    DVFetchWebServices* webServices() const { return _webServices.get(); }
    void stop() {}
    void observeValueForKeyPath(const QString&, const QObject*, const DVKeyValueChange&, void*) override {}

private:
    std::unique_ptr<DVFetchWebServices> _webServices;
};
