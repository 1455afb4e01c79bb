#pragma once

#include "ProductIdentity.h"

#include <QObject>
#include <QString>

class QLocalServer;

// One client per user session. The first instance holds an flock on "<name>.lock" and listens on the
// local socket "<name>.socket", both in the user's runtime folder (see RuntimeFolder), which nobody else
// may write into. A later instance finds the lock taken, sends "show" over the socket and leaves. The
// lock goes with its process, so a killed instance never blocks the next one, and a socket file left
// behind is replaced by the next primary.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(const QString& name = ProductIdentity::current().instanceName,
                            const QString& directory = defaultDirectory(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock and starts listening; false when another instance holds the lock (or the folder is
    // unusable: missing and not creatable, not the user's, or writable by others). Calling it again after success
    // returns true.
    bool tryBecomePrimary();
    bool isPrimary() const { return _lockFd >= 0; }

    // As a secondary: hands "show" to the primary; true when the primary received it.
    bool activatePrimary(int timeoutMs = 3000);

    static QString defaultDirectory();
    QString lockPath() const;
    QString socketPath() const;

signals:
    // Another instance asked the primary to show itself.
    void activationRequested();

private:
    void acceptConnections();

    QString _name;
    QString _directory;
    int _lockFd = -1;
    QLocalServer* _server = nullptr;
};
