#pragma once

#include <httplib.h>

#include <QByteArray>
#include <QString>

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
        int delayMs = 0;               // before anything is sent
        bool dropAfterHeaders = false; // headers promising more body are sent, then the connection is closed
    };

    using Script = std::function<Reply(const Request&)>;

    static Reply reply(const QByteArray& body, int status = 200, bool drop = false, int delayMs = 0) {
        return {status, body, delayMs, drop};
    }

    explicit ScriptedHttpServer(Script script = {})
        : _script(std::move(script)) {
        _server.set_keep_alive_max_count(1); // one request per connection: stopping never waits on one
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
        _requests.clear();
    }

    std::vector<Request> requests() const {
        std::lock_guard lock(_mutex);
        return _requests;
    }

private:
    void handle(const httplib::Request& request, httplib::Response& response) {
        const Request recorded{QByteArray::fromStdString(request.method), QByteArray::fromStdString(request.target),
                               QByteArray::fromStdString(request.body),
                               QByteArray::fromStdString(request.get_header_value("Content-Type"))};
        Script script;
        {
            std::lock_guard lock(_mutex);
            _requests.push_back(recorded);
            script = _script;
        }
        const Reply answer = script ? script(recorded) : Reply{};
        std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
        response.status = answer.status;
        const std::string body = answer.body.toStdString();
        if (!answer.dropAfterHeaders) {
            response.set_content(body, "text/plain");
            return;
        }
        response.set_content_provider(body.size() + 1000, "text/plain",
                                      [body](size_t, size_t, httplib::DataSink& sink) {
                                          sink.write(body.data(), body.size());
                                          return false; // closes the connection with the promised rest missing
                                      });
    }

    mutable std::mutex _mutex;
    Script _script;
    std::vector<Request> _requests;
    httplib::Server _server;
    int _port = -1;
    std::thread _thread;
};
