#pragma once

#include <httplib.h>

#include <QByteArray>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// An HTTP server on 127.0.0.1 (ephemeral port) whose replies a test scripts, and which records every
// request exactly as it arrived. Started by the constructor, stopped by the destructor.
class ScriptedHttpServer {
public:
    struct Request {
        QByteArray method;
        QByteArray target; // the request line's target, undecoded
        QByteArray body;
        QByteArray contentType;
    };

    struct Reply {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "text/plain";
        int delayMs = 0;               // before anything is sent
        bool dropAfterHeaders = false; // headers promising the body are sent, then the connection is closed
        QByteArray location;           // with a 3xx status
    };

    using Script = std::function<Reply(const Request&)>;

    explicit ScriptedHttpServer(Script script = {})
        : _script(std::move(script)) {
        _server.set_keep_alive_max_count(1); // every request on its own connection: stopping never waits
        auto handler = [this](const httplib::Request& request, httplib::Response& response) {
            handle(request, response);
        };
        _server.Get(".*", handler);
        _server.Post(".*", handler);
        _port = _server.bind_to_any_port("127.0.0.1");
        _thread = std::thread([this] { _server.listen_after_bind(); });
        // stop() before the accept loop runs would be lost and leave the thread running for ever.
        while (!_server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    ~ScriptedHttpServer() {
        _server.stop();
        _thread.join();
    }

    int port() const { return _port; }
    QString baseURL() const { return QStringLiteral("http://127.0.0.1:%1").arg(_port); }

    void setScript(Script script) {
        std::lock_guard lock(_mutex);
        _script = std::move(script);
    }

    void clearRequests() {
        std::lock_guard lock(_mutex);
        _requests.clear();
    }

    std::vector<Request> requests() const {
        std::lock_guard lock(_mutex);
        return _requests;
    }

    static Reply reply(const QByteArray& body, int status = 200) {
        Reply result;
        result.body = body;
        result.status = status;
        return result;
    }

private:
    void handle(const httplib::Request& request, httplib::Response& response) {
        Request recorded;
        recorded.method = QByteArray::fromStdString(request.method);
        recorded.target = QByteArray::fromStdString(request.target);
        recorded.body = QByteArray::fromStdString(request.body);
        recorded.contentType = QByteArray::fromStdString(request.get_header_value("Content-Type"));
        Script script;
        {
            std::lock_guard lock(_mutex);
            _requests.push_back(recorded);
            script = _script;
        }
        const Reply answer = script ? script(recorded) : Reply{};
        if (answer.delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
        response.status = answer.status;
        if (!answer.location.isEmpty())
            response.set_header("Location", answer.location.toStdString());
        if (answer.dropAfterHeaders) {
            const std::string partial = answer.body.toStdString();
            response.set_content_provider(partial.size() + 1000, answer.contentType.toStdString(),
                                          [partial](size_t offset, size_t, httplib::DataSink& sink) {
                                              if (offset == 0 && !partial.empty())
                                                  sink.write(partial.data(), partial.size());
                                              return false;
                                          });
            return;
        }
        response.set_content(answer.body.toStdString(), answer.contentType.toStdString());
    }

    mutable std::mutex _mutex;
    Script _script;
    std::vector<Request> _requests;
    httplib::Server _server;
    int _port = -1;
    std::thread _thread;
};

// Accepts connections on 127.0.0.1, reads the request and closes the connection without a reply.
class SilentDropServer {
public:
    SilentDropServer() {
        _socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(_socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(_socket, 8);
        socklen_t length = sizeof address;
        ::getsockname(_socket, reinterpret_cast<sockaddr*>(&address), &length);
        _port = ntohs(address.sin_port);
        _thread = std::thread([this] { serve(); });
    }

    ~SilentDropServer() {
        _stopping = true;
        ::shutdown(_socket, SHUT_RDWR);
        _thread.join();
        ::close(_socket);
    }

    QString baseURL() const { return QStringLiteral("http://127.0.0.1:%1").arg(_port); }

private:
    void serve() {
        while (!_stopping) {
            const int client = ::accept4(_socket, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                return;
            char buffer[4096];
            QByteArray received;
            while (!received.contains("\r\n\r\n")) {
                const ssize_t count = ::read(client, buffer, sizeof buffer);
                if (count <= 0)
                    break;
                received.append(buffer, count);
            }
            ::close(client);
        }
    }

    int _socket = -1;
    int _port = 0;
    std::atomic<bool> _stopping{false};
    std::thread _thread;
};
