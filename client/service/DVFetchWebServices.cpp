#include "DVFetchWebServices.h"

#include "ClientSettings.h"
#include "DVAccountInfoOperation.h"
#include "DVDocumentTransferredOperation.h"
#include "DVDocumentsToTransferOperation.h"
#include "DVDownloadFileOperation.h"
#include "DVExceptionGuard.h"
#include "DVLoginOperation.h"
#include "DVServiceProtocol.h"
#include "DVStringTable.h"
#include "MainThread.h"

#include <QFileInfo>
#include <QUrl>

namespace {

constexpr int kStepConcurrency = 1;
constexpr int kDownloadConcurrency = 10;

ClientSettings& settings() {
    return ClientSettings::shared();
}

// The text a format's "%@" gives for a value: "(null)" for none.
QString describe(const QVariant& value) {
    return value.isValid() ? value.toString() : QStringLiteral("(null)");
}

// Appends a relative path the way path components are joined: one separator, no trailing one.
QString appendingPathComponent(const QString& base, const QString& component) {
    QString joined = base;
    if (!component.isEmpty()) {
        if (!joined.endsWith(QLatin1Char('/')))
            joined += QLatin1Char('/');
        joined += component;
    }
    while (joined.size() > 1 && joined.endsWith(QLatin1Char('/')))
        joined.chop(1);
    return joined;
}

bool sameName(const std::optional<QString>& reason, const QString& name) {
    return reason && reason->compare(DVKey(name), Qt::CaseInsensitive) == 0;
}

} // namespace

const QString DVFetchWebServices::TicketExpiredException =
    QStringLiteral("com.docuvane.common.exception.TicketExpiredException");
const QString DVFetchWebServices::NotDesktopException =
    QStringLiteral("com.docuvane.common.exception.NotDesktopException");
const QString DVFetchWebServices::UnexpectedException =
    QStringLiteral("com.docuvane.common.exception.UnexpectedException");
const QString DVFetchWebServices::UnusableTicketMessage =
    QStringLiteral("Could not retreive user associated with supplied ticket");
const QString DVFetchWebServices::AlertTitle = QStringLiteral("Docuvane Fetch");

DVFetchWebServices::DVFetchWebServices(DVFetchWebServicesDelegate* delegate, bool canDownload)
    : _delegate(delegate)
    , _canDownload(canDownload) {
    _queue.setOperationCountChangedHandler([this](int count) { operationCountChanged(count); });
}

DVFetchWebServices::~DVFetchWebServices() {
    stop();
    _queue.setOperationCountChangedHandler({});
    std::unique_lock lock(_life->mutex);
    _life->alive = false;
}

void DVFetchWebServices::stop() {
    if (_stopped.exchange(true))
        return;
    const auto deadline = std::chrono::steady_clock::now() + StopWaitLimit;
    for (;;) {
        // Again on every turn: a step still running may have queued more.
        abortQueued();
        if (_queue.operationCount() == 0 || std::chrono::steady_clock::now() >= deadline)
            break;
        // Completions already handed to the main thread find their operation cancelled and pass by.
        MainThread::runPending();
        _queue.waitUntilAllOperationsAreFinished(std::chrono::milliseconds(5));
    }
    if (const int left = _queue.operationCount(); left != 0)
        WSLogger::sharedInstance().logError(this, "stop",
                                            {QStringLiteral("Stopped with %1 steps still running").arg(left)});
}

void DVFetchWebServices::abortQueued() {
    for (const std::shared_ptr<Operation>& operation : _queue.operations()) {
        if (auto service = std::dynamic_pointer_cast<DVConcurrentOperation>(operation)) {
            service->setDelegate(nullptr);
            service->abort();
        } else {
            operation->cancel();
        }
    }
}

std::shared_ptr<Operation> DVFetchWebServices::stepOperation(void (DVFetchWebServices::*step)()) {
    return std::make_shared<BlockOperation>([this, life = _life, step] {
        std::shared_lock lock(life->mutex);
        if (life->alive && !_stopped.load())
            (this->*step)();
    });
}

void DVFetchWebServices::fire(bool displayNoNewDocuments) {
    std::lock_guard lock(_fireLock);
    if (_stopped.load() || _queue.operationCount() != 0)
        return;
    _displayNoNewDocumentsNotification.store(displayNoNewDocuments);
    checkForDocuments();
}

void DVFetchWebServices::checkForDocuments() {
    if (_stopped.load())
        return;
    dvGuard(this, "checkForDocuments", [&] {
        if (auto* delegate = delegateFor<CheckForDocumentsStartDelegate>())
            delegate->checkForDocumentsStart();
        {
            std::lock_guard lock(_mutex);
            _fileList.reset();
            _listError.reset();
        }

        auto account = std::make_shared<DVAccountInfoOperation>(this);
        auto documents = std::make_shared<DVDocumentsToTransferOperation>(this);
        auto downloads = stepOperation(&DVFetchWebServices::downloadFilesSelector);
        downloads->addDependency(documents);
        documents->addDependency(account);

        // A cycle that starts without a ticket (the list step's recovery has just removed it) logs in
        // first; otherwise every request would carry "(null)" and the documents wait another 4 hours.
        const QString email = settings().email();
        const QString storedPassword = password();
        if (!email.isEmpty() && !storedPassword.isEmpty())
            queueLoginIfNoTicket(account, email, storedPassword);

        _queue.addOperation(account);
        _queue.addOperation(documents);
        _queue.addOperation(downloads);
        _queue.setMaxConcurrentOperationCount(kStepConcurrency);
    });
}

void DVFetchWebServices::login(const QString& user, const QString& password) {
    if (_stopped.load())
        return;
    auto login = std::make_shared<DVLoginOperation>(this);
    login->setUser(user);
    login->setPassword(password);
    _queue.setMaxConcurrentOperationCount(kStepConcurrency);
    _queue.addOperation(login);
}

void DVFetchWebServices::accountInfo(const QString& user, const QString& password) {
    if (_stopped.load())
        return;
    _queue.setMaxConcurrentOperationCount(kStepConcurrency);
    auto account = std::make_shared<DVAccountInfoOperation>(this);
    queueLoginIfNoTicket(account, user, password);
    _queue.addOperation(account);
}

void DVFetchWebServices::queueLoginIfNoTicket(const std::shared_ptr<Operation>& dependent, const QString& user,
                                              const QString& password) {
    // Only an absent ticket counts; an empty one is sent as it is.
    if (settings().contains(ClientSettings::Key::Ticket))
        return;
    auto login = std::make_shared<DVLoginOperation>(this);
    login->setUser(user);
    login->setPassword(password);
    dependent->addDependency(login);
    _queue.addOperation(login);
}

void DVFetchWebServices::downloadFilesSelector() {
    dvGuard(this, "downloadFilesSelector", [&] {
        const std::optional<QVariantMap> list = fileList();
        const QVariantList documents = list ? list->value(QStringLiteral("documents")).toList() : QVariantList();
        _queue.setMaxConcurrentOperationCount(kDownloadConcurrency);
        if (documents.isEmpty() && _displayNoNewDocumentsNotification.load())
            showAlert(QStringLiteral("No new documents to download"), AlertTitle);

        for (const QVariant& document : documents) {
            if (_stopped.load())
                return;
            const QVariantMap record = document.toMap();
            auto download = std::make_shared<DVDownloadFileOperation>(this);
            auto transferred = std::make_shared<DVDocumentTransferredOperation>(this);
            download->setFileInfo(record);
            transferred->setFileInfo(record);
            // A document is reported transferred only after its own download succeeded.
            transferred->addDependency(download);
            _queue.addOperation(download);
            _queue.addOperation(transferred);
        }
    });
}

void DVFetchWebServices::loginComplete(const std::shared_ptr<DVLoginOperation>& operation) {
    dvGuard(this, "loginComplete", [&] {
        if (operation->error())
            _queue.cancelAllOperations();
        if (auto* delegate = delegateFor<ServicesLoginCompleteDelegate>())
            delegate->loginComplete(operation);
    });
}

void DVFetchWebServices::logoutComplete(const std::shared_ptr<DVLogoutOperation>&) {}

void DVFetchWebServices::accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& operation) {
    dvGuard(this, "accountInfoComplete", [&] {
        if (const std::optional<DVError> error = operation->error()) {
            if (startsRecovery(error))
                handleTicketExpiredException(operation);
            else
                _queue.cancelAllOperations();
        } else {
            const QVariantMap account = operation->accountInfo().value_or(QVariantMap());
            // Only an account that names this desktop client as its delivery destination gets documents.
            if (account.value(QStringLiteral("destinationId")).toLongLong() != 2)
                _queue.cancelAllOperations();
        }
        if (auto* delegate = delegateFor<ServicesAccountInfoCompleteDelegate>())
            delegate->accountInfoComplete(operation);
    });
}

void DVFetchWebServices::documentsToTransferComplete(const std::shared_ptr<DVDocumentsToTransferOperation>& operation) {
    dvGuard(this, "documentsToTransferComplete", [&] {
        const std::optional<DVError> error = operation->error();
        if (error) {
            // The download step must never run over an older list.
            std::lock_guard lock(_mutex);
            _fileList.reset();
            _listError = error;
        }
        if (!error) {
            const std::optional<QVariantMap> list = operation->fileList();
            {
                std::lock_guard lock(_mutex);
                _fileList = list;
            }
            if (!list) {
                // No list and no failure text (a dropped connection, a page that is not JSON): announcing
                // "No new documents" would report a failure as success.
                WSLogger::sharedInstance().logError(this, "documentsToTransferComplete",
                                                    {QStringLiteral("No document list in the reply")});
                cancelDependenciesOfOperation(operation);
            }
        } else if (sameName(error->failureReason(), NotDesktopException)) {
            _queue.cancelAllOperations();
            showAlert(error->localizedDescription(), AlertTitle);
        } else if (startsRecovery(error)) {
            handleTicketExpiredException(operation);
        } else {
            showAlert(error->localizedDescription(), AlertTitle);
            // The download step must not run over an older list.
            cancelDependenciesOfOperation(operation);
        }
    });
}

void DVFetchWebServices::downloadFileComplete(const std::shared_ptr<DVDownloadFileOperation>& operation) {
    if (_stopped.load())
        return;
    dvGuard(this, "downloadFileComplete", [&] {
        const QVariantMap record = operation->fileInfo();
        const bool failed = operation->error().has_value();
        QString message;
        QString documentPath;
        if (failed) {
            cancelDependenciesOfOperation(operation);
            message = QStringLiteral("Download Document FAILED!  Id = %1, FileName = %2")
                          .arg(describe(record.value(QStringLiteral("id"))),
                               describe(record.value(QStringLiteral("filename"))));
        } else {
            // A document saved beside an existing one of the same name is announced under its own name.
            const QString saved = operation->savedFilePath();
            const QString name =
                saved.isEmpty() ? describe(record.value(QStringLiteral("filename"))) : QFileInfo(saved).fileName();
            const QString folder =
                appendingPathComponent(settings().fetchFolderPath(), record.value(QStringLiteral("path")).toString());
            message = QStringLiteral("%1 successfully downloaded to %2").arg(name, folder);
            documentPath = saved.isEmpty() ? appendingPathComponent(folder, name) : saved;
        }
        showAlert(message, AlertTitle, documentPath);
        emit documentDownloaded(record, !failed);
        if (auto* delegate = delegateFor<CheckForDocumentsProgressDelegate>())
            delegate->checkForDocumentsProgress(record);
    });
}

void DVFetchWebServices::documentTransferredFileComplete(
    const std::shared_ptr<DVDocumentTransferredOperation>& operation) {
    dvGuard(this, "documentTransferredFileComplete", [&] {
        if (operation->error())
            cancelDependenciesOfOperation(operation);
    });
}

void DVFetchWebServices::cancelDependenciesOfOperation(const std::shared_ptr<Operation>& operation) {
    // Asked of the operation, not of the whole queue: a long list of failing downloads stays linear.
    for (const std::shared_ptr<Operation>& dependent : operation->dependents())
        dependent->cancel();
}

bool DVFetchWebServices::startsRecovery(const std::optional<DVError>& error) const {
    if (!error || _recoveredInChain.load())
        return false;
    if (sameName(error->failureReason(), TicketExpiredException))
        return true;
    return isUnusableTicketReply(*error);
}

bool DVFetchWebServices::isUnusableTicketReply(const DVError& error) {
    return sameName(error.failureReason(), UnexpectedException) && error.description() == UnusableTicketMessage;
}

void DVFetchWebServices::handleTicketExpiredException(const std::shared_ptr<DVConcurrentOperation>& operation) {
    dvGuard(this, "handleTicketExpiredException", [&] {
        const std::optional<DVError> error = operation->error();
        if (!error || (!error->localizedFailureReason().contains(DVKey(TicketExpiredException)) &&
                       !isUnusableTicketReply(*error)))
            return;

        // Once per chain: a service that keeps refusing the new ticket must not make us log in forever.
        _recoveredInChain.store(true);
        settings().removeTicket();
        _queue.cancelAllOperations();
        if (std::dynamic_pointer_cast<DVAccountInfoOperation>(operation))
            accountInfo(settings().email(), password());
        else if (std::dynamic_pointer_cast<DVDocumentsToTransferOperation>(operation))
            checkForDocuments();
    });
}

void DVFetchWebServices::launchDocuvaneWebsite() {
    if (_stopped.load())
        return;
    auto launch = stepOperation(&DVFetchWebServices::launchDocuvaneSelector);
    {
        std::lock_guard lock(_mutex);
        _launchDocuvaneOperation = launch;
    }
    _queue.addOperation(launch);
}

void DVFetchWebServices::launchDocuvaneSelector() {
    dvGuard(this, "launchDocuvaneSelector", [&] {
        const QString ticket = settings().ticket();
        const QString base = settings().serverURL();
        // The ticket signs the user in to the web client.
        const QString text = ticket.isEmpty() ? base
                                              : QStringLiteral("%1/htmlclient/index.html?ticket=%2")
                                                    .arg(base, DVServiceProtocol::ticketQueryValue(ticket));
        const QUrl url(text, QUrl::TolerantMode);
        if (base.isEmpty() || !url.isValid()) {
            WSLogger::sharedInstance().logError(this, "launchDocuvaneSelector",
                                                {QStringLiteral("No valid service URL to open:"), text});
            return;
        }
        emit websiteReported(url);
    });
}

void DVFetchWebServices::showAlert(const QString& message, const QString& title, const QString& documentPath) {
    if (_stopped.load() || !settings().notifications())
        return;
    emit notificationReported(title, message, documentPath);
}

QString DVFetchWebServices::password() const {
    return settings().password();
}

std::optional<QVariantMap> DVFetchWebServices::fileList() const {
    std::lock_guard lock(_mutex);
    return _fileList;
}

void DVFetchWebServices::setQueueEmptiedHandler(std::function<void()> handler) {
    std::lock_guard lock(_mutex);
    _queueEmptiedHandler = std::move(handler);
}

std::optional<DVError> DVFetchWebServices::listError() const {
    std::lock_guard lock(_mutex);
    return _listError;
}

void DVFetchWebServices::operationCountChanged(int count) {
    if (count != 0 || _stopped.load())
        return;
    _recoveredInChain.store(false);
    std::function<void()> queueEmptied;
    {
        std::lock_guard lock(_mutex);
        queueEmptied = _queueEmptiedHandler;
    }
    if (queueEmptied)
        queueEmptied();
    if (!_canDownload)
        return;
    if (auto* delegate = delegateFor<CheckForDocumentsFinishedDelegate>())
        delegate->checkForDocumentsFinished();
}
