#pragma once

#include "DVAccountInfoOperation.h"
#include "DVDocumentTransferredOperation.h"
#include "DVDocumentsToTransferOperation.h"
#include "DVDownloadFileOperation.h"
#include "DVLoginOperation.h"
#include "DVLogoutOperation.h"
#include "DVSetErrorOperation.h"
#include "MainThread.h"
#include "OperationQueue.h"
#include "UserDefaults.h"
#include "WSLogger.h"

#include <QtTest>

#include <functional>
#include <mutex>

// Answers every completion message and records it: which message, for which operation, and whether it
// came on the main thread while the operation was still executing.
class RecordingDelegate : public LoginCompleteDelegate,
                          public AccountInfoCompleteDelegate,
                          public LogoutCompleteDelegate,
                          public DocumentsToTransferCompleteDelegate,
                          public DownloadFileCompleteDelegate,
                          public DocumentTransferredFileCompleteDelegate {
public:
    struct Message {
        QString name;
        const Operation* operation;
        bool onMainWhileExecuting;
    };

    // Runs inside every message, on the main thread.
    std::function<void(const QString& name, DVConcurrentOperation* operation)> onMessage;

    void loginComplete(const std::shared_ptr<DVLoginOperation>& o) override { note("loginComplete", o.get()); }
    void accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& o) override {
        note("accountInfoComplete", o.get());
    }
    void logoutComplete(const std::shared_ptr<DVLogoutOperation>& o) override { note("logoutComplete", o.get()); }
    void documentsToTransferComplete(const std::shared_ptr<DVDocumentsToTransferOperation>& o) override {
        note("documentsToTransferComplete", o.get());
    }
    void downloadFileComplete(const std::shared_ptr<DVDownloadFileOperation>& o) override {
        note("downloadFileComplete", o.get());
    }
    void documentTransferredFileComplete(const std::shared_ptr<DVDocumentTransferredOperation>& o) override {
        note("documentTransferredFileComplete", o.get());
    }

    QStringList names() const {
        std::lock_guard lock(_mutex);
        QStringList result;
        for (const Message& message : _messages)
            result.append(message.name);
        return result;
    }
    std::vector<Message> messages() const {
        std::lock_guard lock(_mutex);
        return _messages;
    }

private:
    void note(const char* name, DVConcurrentOperation* operation) {
        {
            std::lock_guard lock(_mutex);
            _messages.push_back({QString::fromLatin1(name), operation,
                                 MainThread::isMainThread() && operation->isExecuting() && !operation->isFinished()});
        }
        if (onMessage)
            onMessage(QString::fromLatin1(name), operation);
    }

    mutable std::mutex _mutex;
    std::vector<Message> _messages;
};

inline UserDefaults& defaults() {
    return UserDefaults::standardUserDefaults();
}

inline QString setting(const QString& key) {
    const QVariant value = defaults().valueForKey(key);
    return value.isValid() ? value.toString() : QStringLiteral("<absent>");
}

// One of the seven operations by its service name, with a document record where it takes one.
inline std::shared_ptr<DVConcurrentOperation> makeOperation(const QString& kind, OperationsDelegate* delegate,
                                                            const QVariantMap& fileInfo = {}) {
    if (kind == "userlogin") {
        auto login = std::make_shared<DVLoginOperation>(delegate);
        login->setUser(QStringLiteral("ann@example.com"));
        login->setPassword(QStringLiteral("p:ss w\u00f6rd"));
        return login;
    }
    if (kind == "accountinfo")
        return std::make_shared<DVAccountInfoOperation>(delegate);
    if (kind == "userlogout")
        return std::make_shared<DVLogoutOperation>(delegate);
    if (kind == "dstseterror")
        return std::make_shared<DVSetErrorOperation>(delegate);
    if (kind == "docstotransfer")
        return std::make_shared<DVDocumentsToTransferOperation>(delegate);
    if (kind == "download") {
        auto download = std::make_shared<DVDownloadFileOperation>(delegate);
        download->setFileInfo(fileInfo);
        return download;
    }
    auto transferred = std::make_shared<DVDocumentTransferredOperation>(delegate);
    transferred->setFileInfo(fileInfo);
    return transferred;
}

// Runs the operations on a queue of their own and keeps the main loop turning until it is empty.
inline bool runAll(const std::vector<std::shared_ptr<DVConcurrentOperation>>& operations, int maxConcurrent = 1) {
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(maxConcurrent);
    for (const auto& operation : operations)
        queue.addOperation(operation);
    QDeadlineTimer deadline(60000);
    while (queue.operationCount() > 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return queue.operationCount() == 0;
}

// Points the logger at a fresh file; lines() gives "(Class:method) Level message" of what was written.
class LogCapture {
public:
    LogCapture() {
        static int counter = 0;
        _path = QDir::homePath() + QStringLiteral("/Library/Logs/capture-%1.log").arg(++counter);
        WSLogger::sharedInstance().setFileName(_path);
        WSLogger::sharedInstance().setLevel(WSLogger::Info | WSLogger::Error);
    }
    QStringList lines() const {
        QFile file(_path);
        file.open(QIODevice::ReadOnly);
        QStringList result;
        for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            result.append(line.mid(line.indexOf(QLatin1Char('('))));
        return result;
    }

private:
    QString _path;
};
