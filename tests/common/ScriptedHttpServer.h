#pragma once

#include <httplib.h>

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <chrono>
#include <condition_variable>
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
        bool hold = false;             // the body is sent, the promised rest never comes: the connection
                                       // stays open until the client leaves or the server stops
        int trickleMs = 0;             // the body goes out one byte per this many milliseconds
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
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!_server.is_running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!_server.is_running())
            qFatal("ScriptedHttpServer: the server did not start");
    }

    ~ScriptedHttpServer() {
        {
            std::lock_guard lock(_mutex);
            _stopping = true;
        }
        _stopped.notify_all();
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
        if (answer.hold || answer.trickleMs > 0) {
            const size_t promised = answer.hold ? body.size() + 1000 : body.size();
            const int pause = answer.trickleMs;
            response.set_content_provider(promised, "text/plain",
                                          [this, body, pause](size_t offset, size_t, httplib::DataSink& sink) {
                                              if (offset < body.size()) {
                                                  const size_t count = pause > 0 ? 1 : body.size() - offset;
                                                  if (pause > 0 && waitForStop(std::chrono::milliseconds(pause)))
                                                      return false;
                                                  return sink.write(body.data() + offset, count);
                                              }
                                              // Held: nothing more until the client goes away or the server stops.
                                              while (sink.is_writable()) {
                                                  if (waitForStop(std::chrono::milliseconds(20)))
                                                      return false;
                                              }
                                              return false;
                                          });
            return;
        }
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

    // True when the server is stopping; otherwise waits up to the given time for that.
    bool waitForStop(std::chrono::milliseconds limit) {
        std::unique_lock lock(_mutex);
        return _stopped.wait_for(lock, limit, [this] { return _stopping; });
    }

    mutable std::mutex _mutex;
    std::condition_variable _stopped;
    bool _stopping = false;
    Script _script;
    std::vector<Request> _requests;
    httplib::Server _server;
    int _port = -1;
    std::thread _thread;
};
