#include "DevHttpServer.h"

#include "DevConsoleLog.h"
#include "DevService.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <csignal>
#include <cstring>

namespace {

// Downloads of up to ten documents, the account and list requests and a few stalled requests at once,
// with room to spare.
constexpr size_t kServingThreads = 32;
constexpr size_t kLargestRequestBody = 1024 * 1024;
constexpr qint64 kChunk = 256 * 1024;

std::optional<sockaddr_in> inetAddress(int fd, bool peer) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    sockaddr* address = reinterpret_cast<sockaddr*>(&storage);
    if ((peer ? ::getpeername(fd, address, &length) : ::getsockname(fd, address, &length)) != 0 ||
        storage.ss_family != AF_INET)
        return std::nullopt;
    sockaddr_in inet{};
    std::memcpy(&inet, &storage, sizeof inet);
    return inet;
}

// The first half of a reply, then the sender reports failure and the connection is closed.
httplib::ContentProvider halfOf(const QByteArray& body) {
    return [body](size_t offset, size_t, httplib::DataSink& sink) {
        const size_t half = static_cast<size_t>(body.size()) / 2;
        if (offset < half)
            sink.write(body.constData() + offset, half - offset);
        return false;
    };
}

} // namespace

DevHttpServer::DevHttpServer(DevService& service)
    : _service(service)
    , _server(std::make_unique<httplib::Server>()) {
    _server->new_task_queue = [] { return new httplib::ThreadPool(kServingThreads); };
    // One request per connection. A client library re-sends a request once, unasked, when a connection it
    // reuses closes without a reply: that would hide a dropped connection, and an idle close racing a new
    // request would put the request twice into the request log.
    _server->set_keep_alive_max_count(1);
    _server->set_payload_max_length(kLargestRequestBody);
    // The library's default also sets SO_REUSEPORT, with which a second server on a taken port would
    // quietly share its connections instead of failing to listen.
    _server->set_socket_options([this](socket_t socket) {
        const int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        _listeningSocket = socket;
    });
    const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
        serve(request, response);
    };
    _server->Get(".*", handler);
    _server->Post(".*", handler);
    _server->Put(".*", handler);
    _server->Delete(".*", handler);
    _server->Patch(".*", handler);
}

DevHttpServer::~DevHttpServer() {
    stop();
}

bool DevHttpServer::start(int port, QString* problem) {
    // Loopback only: the service hands documents to whoever holds the password, so it is never reachable
    // from elsewhere.
    bool bound = false;
    if (port == 0) {
        _port = _server->bind_to_any_port("127.0.0.1");
        bound = _port > 0;
    } else {
        _port = port;
        bound = _server->bind_to_port("127.0.0.1", port);
    }
    if (!bound) {
        if (problem)
            *problem = QStringLiteral("cannot listen on 127.0.0.1:%1: %2")
                           .arg(port)
                           .arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    // The library listens with a backlog of 5. A client opening ten connections at once (one per request)
    // then has some of its connection requests dropped, and each waits a whole second for the retry.
    if (_listeningSocket >= 0)
        ::listen(_listeningSocket, SOMAXCONN);
    // The library writes without MSG_NOSIGNAL: a client that hangs up must be a failed write, not the end of
    // the process.
    std::signal(SIGPIPE, SIG_IGN);
    _thread = std::thread([this] {
        _server->listen_after_bind();
        _finished.store(true);
    });
    return true;
}

void DevHttpServer::stop() {
    if (!_thread.joinable())
        return;
    _service.stop();
    // The server ignores a stop that comes before it has begun to listen: ask until it has ended.
    while (!_finished.load()) {
        _server->stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    _thread.join();
}

void DevHttpServer::serve(const httplib::Request& request, httplib::Response& response) {
    DevRequest incoming;
    incoming.method = QByteArray::fromStdString(request.method);
    incoming.target = QByteArray::fromStdString(request.target);
    incoming.body = QByteArray::fromStdString(request.body);
    incoming.peer = QStringLiteral("%1:%2").arg(QString::fromStdString(request.remote_addr)).arg(request.remote_port);
    DevReply reply = _service.handle(incoming);

    if (reply.delivery == DevReply::Delivery::Drop) {
        if (!dropConnection(request))
            DevConsoleLog::write(QStringLiteral("could not find the connection to drop; answering nothing instead"));
        response.status = 500;
        response.set_header("Connection", "close");
        return;
    }

    response.status = reply.status;
    const std::string contentType = reply.contentType.toStdString();
    if (reply.delivery == DevReply::Delivery::Truncate && !reply.file) {
        response.set_content_provider(static_cast<size_t>(reply.body.size()), contentType, halfOf(reply.body));
        return;
    }
    if (!reply.file) {
        response.set_content(reply.body.constData(), static_cast<size_t>(reply.body.size()), contentType);
        return;
    }

    // Documents may be large: read as they are sent, never held whole.
    const qint64 end = reply.delivery == DevReply::Delivery::Truncate ? reply.fileSize / 2 : reply.fileSize;
    std::shared_ptr<QFile> file = reply.file;
    DevService* service = &_service;
    response.set_content_provider(static_cast<size_t>(reply.fileSize), contentType,
                                  [file, end, service](size_t offset, size_t, httplib::DataSink& sink) {
                                      const qint64 position = static_cast<qint64>(offset);
                                      if (service->isStopping() || position >= end || !file->seek(position))
                                          return false;
                                      const QByteArray chunk = file->read(std::min(kChunk, end - position));
                                      // A file that shrank under us: the client must see a broken transfer, never a
                                      // short document.
                                      if (chunk.isEmpty())
                                          return false;
                                      return sink.write(chunk.constData(), static_cast<size_t>(chunk.size()));
                                  });
}

bool DevHttpServer::dropConnection(const httplib::Request& request) const {
    // The connection is the one socket whose own port is the server's and whose peer is the client's.
    DIR* descriptors = ::opendir("/proc/self/fd");
    if (!descriptors)
        return false;
    bool dropped = false;
    while (const dirent* entry = ::readdir(descriptors)) {
        bool isNumber = false;
        const int fd = QByteArray(entry->d_name).toInt(&isNumber);
        if (!isNumber || fd == ::dirfd(descriptors))
            continue;
        const std::optional<sockaddr_in> own = inetAddress(fd, false);
        if (!own || ntohs(own->sin_port) != _port)
            continue;
        const std::optional<sockaddr_in> peer = inetAddress(fd, true);
        if (!peer || ntohs(peer->sin_port) != request.remote_port)
            continue;
        ::shutdown(fd, SHUT_RDWR);
        dropped = true;
        break;
    }
    ::closedir(descriptors);
    return dropped;
}
