#pragma once

#include "DevOperations.h"
#include "DevReply.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>

class DevDocumentStore;
class DevFaultInjector;
class DevRequestLog;
class DevServerOptions;
class DevSessionTable;

struct DevRequest {
    QByteArray method;
    QByteArray target; // path and query, as sent
    QByteArray body;
    QString peer; // "address:port", for the console log
};

// Everything the server answers, without sockets: the service endpoint with its scripted faults, the web
// client page and the control endpoint. Safe to call from any number of threads at once.
class DevService {
public:
    DevService(const DevServerOptions& options, DevDocumentStore& store, DevSessionTable& sessions,
               DevFaultInjector& faults, DevRequestLog& requestLog);

    DevReply handle(const DevRequest& request);

    // Ends stalls at once; requests that were stalled are dropped.
    void stop();
    bool isStopping() const { return _stopping.load(); }

private:
    DevReply route(const DevRequest& request, const QByteArray& path, const QByteArray& query, quint64 number);
    DevReply serviceRequest(const DevRequest& request, const QByteArray& query, quint64 number);
    DevReply webClient(const DevRequest& request, const QByteArray& query);
    DevReply control(const DevRequest& request, const QByteArray& path);
    DevReply updateFeed(const DevRequest& request, const QByteArray& path);
    // Waits, unless the server stops first; false then.
    bool stall(double seconds);

    const DevServerOptions& _options;
    DevDocumentStore& _store;
    DevSessionTable& _sessions;
    DevFaultInjector& _faults;
    DevRequestLog& _requestLog;
    DevOperations _operations;

    std::atomic<quint64> _requestCount{0};
    std::atomic<bool> _stopping{false};
    std::mutex _stallMutex;
    std::condition_variable _stallEnded;
};
