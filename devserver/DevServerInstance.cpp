#include "DevServerInstance.h"

#include "DevDocumentStore.h"
#include "DevFaultInjector.h"
#include "DevHttpServer.h"
#include "DevRequestLog.h"
#include "DevService.h"
#include "DevSessionTable.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

std::chrono::milliseconds timeToLive(double seconds) {
    if (seconds <= 0)
        return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(std::max<qint64>(1, std::llround(seconds * 1000)));
}

} // namespace

DevServerInstance::DevServerInstance(DevServerOptions options)
    : _options(std::move(options))
    , _requestLog(std::make_unique<DevRequestLog>())
    , _store(std::make_unique<DevDocumentStore>(_options.documentsFolder, _options.statePath,
                                                QStringList{_options.requestLogPath}))
    , _sessions(std::make_unique<DevSessionTable>(timeToLive(_options.ticketTtlSeconds)))
    , _faults(std::make_unique<DevFaultInjector>())
    , _service(std::make_unique<DevService>(_options, *_store, *_sessions, *_faults, *_requestLog))
    , _http(std::make_unique<DevHttpServer>(*_service)) {}

DevServerInstance::~DevServerInstance() {
    stop();
}

DevServerInstance::Failure DevServerInstance::start(QString* problem) {
    if (!_options.requestLogPath.isEmpty() && !_requestLog->open(_options.requestLogPath, problem))
        return Failure::BadSetup;
    if (!_store->load(problem))
        return Failure::BadSetup;
    if (!_http->start(_options.port, problem))
        return Failure::CannotListen;
    return Failure::None;
}

int DevServerInstance::port() const {
    return _http->port();
}

bool DevServerInstance::hasFailed() const {
    return !_stopped.load() && _http->hasFinished();
}

void DevServerInstance::stop() {
    _stopped.store(true);
    _http->stop();
}
