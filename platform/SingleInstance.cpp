#include "SingleInstance.h"

#include "RuntimeFolder.h"

#include "ProductIdentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kShow = QByteArrayLiteral("show\n");

} // namespace

SingleInstance::SingleInstance(const QString& name, const QString& directory, QObject* parent)
    : QObject(parent)
    , _name(name)
    , _directory(directory) {}

SingleInstance::~SingleInstance() {
    if (_server) {
        _server->close();
        QFile::remove(socketPath());
    }
    if (_lockFd >= 0)
        ::close(_lockFd); // releases the lock
}

QString SingleInstance::defaultDirectory() {
    return RuntimeFolder::path();
}

QString SingleInstance::lockPath() const {
    return _directory + QLatin1Char('/') + _name + QStringLiteral(".lock");
}

QString SingleInstance::socketPath() const {
    return _directory + QLatin1Char('/') + _name + QStringLiteral(".socket");
}

bool SingleInstance::tryBecomePrimary() {
    if (_lockFd >= 0)
        return true;
    if (_directory.isEmpty())
        return false;
    if (!QFileInfo(_directory).isDir()) {
        if (::mkdir(QFile::encodeName(_directory).constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    // Where another user may write, the lock and the socket could be theirs.
    if (!RuntimeFolder::isPrivate(_directory, false, true))
        return false;
    const int fd = ::open(QFile::encodeName(lockPath()).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    // flock belongs to the open file: a second open in this process conflicts as another process would,
    // and the kernel drops it when the holder dies however it ends.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    _lockFd = fd;
    // Holding the lock, any socket file there is a dead primary's.
    QLocalServer::removeServer(socketPath());
    _server = new QLocalServer(this);
    _server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    // Without the socket this is still the only instance; a second launch then cannot hand over but
    // still finds the lock taken.
    _server->listen(socketPath());
    return true;
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket* socket = _server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // One short line is all a secondary sends; anything longer is not ours.
            if (socket->bytesAvailable() > 64) {
                socket->abort();
                return;
            }
            if (!socket->canReadLine())
                return;
            const QByteArray line = socket->readLine();
            socket->write("ok\n");
            socket->flush();
            socket->disconnectFromServer();
            if (line == kShow)
                emit activationRequested();
        });
    }
}

bool SingleInstance::activatePrimary(int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(kShow);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // The answer says the primary read the request (and not merely that the kernel buffered it).
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    return socket.readLine() == QByteArrayLiteral("ok\n");
}
