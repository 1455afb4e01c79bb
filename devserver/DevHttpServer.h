#pragma once

#include <QString>

#include <atomic>
#include <memory>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

class DevService;

// Puts the service on HTTP at 127.0.0.1, serving many connections at once on threads of its own.
class DevHttpServer {
public:
    explicit DevHttpServer(DevService& service);
    ~DevHttpServer();
    DevHttpServer(const DevHttpServer&) = delete;
    DevHttpServer& operator=(const DevHttpServer&) = delete;

    // Binds the port (0: any free one) and starts serving. False, with the reason, when it cannot listen.
    bool start(int port, QString* problem);
    int port() const { return _port; }
    // True once serving has ended on its own (the listening socket failed).
    bool hasFinished() const { return _finished.load(); }

    // Stops listening, ends stalled requests and waits until every connection is closed.
    void stop();

private:
    void serve(const httplib::Request& request, httplib::Response& response);
    // Closes the request's connection under the server's feet, so the client reads no reply at all.
    bool dropConnection(const httplib::Request& request) const;

    DevService& _service;
    std::unique_ptr<httplib::Server> _server;
    int _listeningSocket = -1;
    std::thread _thread;
    std::atomic<bool> _finished{false};
    int _port = 0;
};
