#pragma once

#include "DevServerOptions.h"

#include <QString>

#include <atomic>
#include <memory>

class DevDocumentStore;
class DevFaultInjector;
class DevHttpServer;
class DevRequestLog;
class DevService;
class DevSessionTable;

// One running service with all its parts, for the executable and for tests that serve in-process (a test
// process that has started a child cannot start threads under ThreadSanitizer, so a client test with
// threads of its own runs the service this way).
class DevServerInstance {
public:
    enum class Failure { None, BadSetup, CannotListen };

    explicit DevServerInstance(DevServerOptions options);
    ~DevServerInstance();
    DevServerInstance(const DevServerInstance&) = delete;
    DevServerInstance& operator=(const DevServerInstance&) = delete;

    // Reads the state, opens the request log and starts serving on 127.0.0.1.
    Failure start(QString* problem);
    int port() const;
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(port()); }
    // True when serving has ended without stop(): the listening socket failed.
    bool hasFailed() const;
    // Stops serving and waits for every connection to close; stalled requests end at once.
    void stop();

    const DevServerOptions& options() const { return _options; }
    DevDocumentStore& store() { return *_store; }
    DevFaultInjector& faults() { return *_faults; }
    DevSessionTable& sessions() { return *_sessions; }

private:
    const DevServerOptions _options;
    std::unique_ptr<DevRequestLog> _requestLog;
    std::unique_ptr<DevDocumentStore> _store;
    std::unique_ptr<DevSessionTable> _sessions;
    std::unique_ptr<DevFaultInjector> _faults;
    std::unique_ptr<DevService> _service;
    std::unique_ptr<DevHttpServer> _http;
    std::atomic<bool> _stopped{false};
};
