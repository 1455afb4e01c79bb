#include "DVStateObservable.h"

#include <QMutexLocker>

DVObservableState::DVObservableState(const QObject* owner, int initial)
    : _owner(owner)
    , _value(initial) {}

void DVObservableState::setValue(int value) {
    const int old = _value.exchange(value);
    QList<Registration> observers;
    {
        QMutexLocker lock(&_mutex);
        observers = _observers;
    }
    const DVKeyValueChange change{QVariant(old), QVariant(value)};
    for (const Registration& registration : std::as_const(observers))
        registration.observer->observeValueForKeyPath(DVStateKeyPath, _owner, change, registration.context);
}

void DVObservableState::addObserver(DVKeyValueObserver* observer, void* context) {
    if (!observer)
        return;
    QMutexLocker lock(&_mutex);
    for (const Registration& registration : std::as_const(_observers)) {
        if (registration.observer == observer)
            return;
    }
    _observers.append(Registration{observer, context});
}

void DVObservableState::removeObserver(DVKeyValueObserver* observer) {
    QMutexLocker lock(&_mutex);
    _observers.removeIf([observer](const Registration& registration) { return registration.observer == observer; });
}
