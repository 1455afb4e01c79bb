#pragma once

#include "DVError.h"
#include "DVFetchWebServicesDelegate.h"
#include "OperationQueue.h"
#include "OperationsDelegate.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>

class DVConcurrentOperation;
class DVError;

// Chains the service operations into the login, account and fetch sequences on a queue of its own,
// reacts to each operation's completion (cancelling the rest of a chain, logging in again after an
// expired ticket) and reports a fetch cycle's progress to its owner. What the user should be told or shown
// it reports as signals, for whoever presents it.
//
// Owners call it on the main thread (fire() also from the thread on which a cycle ended). The download
// and website steps run on the queue's worker threads; completion messages arrive on the main thread.
class DVFetchWebServices : public QObject,
                           public LoginCompleteDelegate,
                           public AccountInfoCompleteDelegate,
                           public LogoutCompleteDelegate,
                           public DocumentsToTransferCompleteDelegate,
                           public DownloadFileCompleteDelegate,
                           public DocumentTransferredFileCompleteDelegate {
    Q_OBJECT

public:
    // The service's failure names this class tells apart.
    static const QString TicketExpiredException;
    static const QString NotDesktopException;
    static const QString UnexpectedException;
    static const QString UnusableTicketMessage;
    // The title of every notification.
    static const QString AlertTitle;

    // canDownload: only such a coordinator reports the end of its work (checkForDocumentsFinished).
    DVFetchWebServices(DVFetchWebServicesDelegate* delegate, bool canDownload);
    // Stops the coordinator first (see stop()).
    ~DVFetchWebServices() override;

    // Ends all work for good, for a quit: pending steps are cancelled, requests in flight are aborted (an
    // unfinished document's temporary file is removed), and the steps still running are waited for, at
    // most StopWaitLimit in all. Afterwards no completion message, notification or report reaches this
    // coordinator or its delegate, new requests are ignored, and the coordinator may be destroyed at
    // once. Call it on the main thread (the wait lets completions already on their way there pass by
    // without delivering them). Later calls do nothing.
    void stop();
    bool isStopped() const { return _stopped.load(); }
    static constexpr std::chrono::milliseconds StopWaitLimit{1500};

    // Starts a fetch cycle when the queue holds nothing; otherwise the request is dropped.
    // displayNoNewDocuments: whether an empty document list is announced to the user.
    void fire(bool displayNoNewDocuments);
    // Queues a fetch cycle: account information, the document list, then the downloads.
    void checkForDocuments();
    void login(const QString& user, const QString& password);
    // Account information, after a login when no ticket is stored.
    void accountInfo(const QString& user, const QString& password);
    void launchDocuvaneWebsite();
    void cancelDependenciesOfOperation(const std::shared_ptr<Operation>& operation);
    void handleTicketExpiredException(const std::shared_ptr<DVConcurrentOperation>& operation);
    // documentPath: the document the message is about, when it is in the fetch folder.
    void showAlert(const QString& message, const QString& title, const QString& documentPath = QString());
    // The stored password, deciphered; null when none is stored.
    QString password() const;

    OperationQueue& queue() { return _queue; }
    // Called whenever the queue empties, on the worker thread where that happened, by every coordinator
    // (checkForDocumentsFinished goes only to the owners of coordinators made with canDownload). Set it
    // before the first request.
    void setQueueEmptiedHandler(std::function<void()> handler);
    // The document list of the current cycle; none before it arrived and after the list step failed.
    std::optional<QVariantMap> fileList() const;
    // Why the current cycle's list step failed; none when it has not (or has not run).
    std::optional<DVError> listError() const;
    bool displayNoNewDocumentsNotification() const { return _displayNoNewDocumentsNotification.load(); }

    // Completion messages of the operations (main thread).
    void loginComplete(const std::shared_ptr<DVLoginOperation>& operation) override;
    void accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& operation) override;
    void logoutComplete(const std::shared_ptr<DVLogoutOperation>& operation) override;
    void documentsToTransferComplete(const std::shared_ptr<DVDocumentsToTransferOperation>& operation) override;
    void downloadFileComplete(const std::shared_ptr<DVDownloadFileOperation>& operation) override;
    void documentTransferredFileComplete(const std::shared_ptr<DVDocumentTransferredOperation>& operation) override;

    // Steps run on the queue's worker threads.
    void downloadFilesSelector();
    void launchDocuvaneSelector();

signals:
    // One document's download ended; for observers that count results (the fetch-cycle tool).
    void documentDownloaded(const QVariantMap& document, bool succeeded);
    // A notification for the user, only while notifications are on; also from the queue's worker threads.
    // documentPath: the fetched document it announces, or empty.
    void notificationReported(const QString& title, const QString& informativeText, const QString& documentPath);
    // The web client to open in the browser; from a worker thread.
    void websiteReported(const QUrl& url);

private:
    // None once stopped: the owner may be going away.
    template <typename Protocol> Protocol* delegateFor() const {
        return _stopped.load() ? nullptr : dynamic_cast<Protocol*>(_delegate);
    }
    void queueLoginIfNoTicket(const std::shared_ptr<Operation>& dependent, const QString& user,
                              const QString& password);
    // Whether a failure means the ticket can no longer be used, and a recovery may still be tried.
    bool startsRecovery(const std::optional<DVError>& error) const;
    // The service's "Could not retreive user associated with supplied ticket" reply.
    static bool isUnusableTicketReply(const DVError& error);
    void operationCountChanged(int count);
    // An operation running a step of this coordinator on a worker thread, never after its destruction.
    std::shared_ptr<Operation> stepOperation(void (DVFetchWebServices::*step)());
    // Cancels and aborts what the queue holds and keeps operations from reaching this coordinator.
    void abortQueued();

    // Held shared by a running step, taken exclusively by the destructor: a step never outlives us.
    struct Life {
        std::shared_mutex mutex;
        bool alive = true;
    };
    const std::shared_ptr<Life> _life = std::make_shared<Life>();
    std::atomic<bool> _stopped{false};

    DVFetchWebServicesDelegate* const _delegate;
    const bool _canDownload;
    OperationQueue _queue;
    std::mutex _fireLock;
    mutable std::mutex _mutex;
    std::optional<QVariantMap> _fileList;
    std::optional<DVError> _listError;
    std::shared_ptr<Operation> _launchDocuvaneOperation;
    std::atomic<bool> _displayNoNewDocumentsNotification{true};
    // Set by a recovery, cleared when the queue empties: one recovery per chain.
    std::atomic<bool> _recoveredInChain{false};
    std::function<void()> _queueEmptiedHandler; // guarded by _mutex
};
