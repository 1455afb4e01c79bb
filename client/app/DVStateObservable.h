#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVariant>

#include <atomic>

// The key path under which the application controller's state is observed.
inline const QString DVStateKeyPath = QStringLiteral("state");

// What an observer is told about one setting of a property.
struct DVKeyValueChange {
    QVariant oldValue;
    QVariant newValue;
};

// Something that wants to hear when a property of another object is set.
class DVKeyValueObserver {
public:
    virtual ~DVKeyValueObserver() = default;
    // Called after every setting of the property, also when the value stays the same, on the thread that set it.
    // object: the object whose property was set; context: what the observer gave when it registered.
    virtual void observeValueForKeyPath(const QString& keyPath, const QObject* object, const DVKeyValueChange& change,
                                        void* context) = 0;
};

// An object with an observable integer `state`: the application controller (states 0 to 5; the watchers run
// only in state 1).
class DVStateObservable {
public:
    virtual ~DVStateObservable() = default;
    virtual int state() const = 0;
    // An observer is registered at most once; it must be removed before it is destroyed.
    virtual void addStateObserver(DVKeyValueObserver* observer, void* context = nullptr) = 0;
    virtual void removeStateObserver(DVKeyValueObserver* observer) = 0;
};

// The stored state and its observers, for an owner that implements DVStateObservable. Safe from any thread;
// observers are called without the lock held, so they may set the state or register observers. One removed
// during a notification may still hear that notification.
class DVObservableState {
public:
    explicit DVObservableState(const QObject* owner, int initial = 0);

    DVObservableState(const DVObservableState&) = delete;
    DVObservableState& operator=(const DVObservableState&) = delete;

    int value() const { return _value.load(); }
    // Stores the value, then tells every observer (with the value before and after), on the calling thread.
    void setValue(int value);

    void addObserver(DVKeyValueObserver* observer, void* context);
    void removeObserver(DVKeyValueObserver* observer);

private:
    struct Registration {
        DVKeyValueObserver* observer;
        void* context;
    };

    const QObject* _owner;
    std::atomic<int> _value;
    mutable QMutex _mutex;
    QList<Registration> _observers;
};
