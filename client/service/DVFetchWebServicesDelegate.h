#pragma once

#include <QVariantMap>

#include <memory>

class DVAccountInfoOperation;
class DVLoginOperation;

// The owner of a coordinator. Every report is optional: the owner adopts the protocol class of each
// report it wants, and the coordinator sends a report only to an owner that adopts it.
class DVFetchWebServicesDelegate {
public:
    virtual ~DVFetchWebServicesDelegate() = default;
};

class CheckForDocumentsStartDelegate : public virtual DVFetchWebServicesDelegate {
public:
    // A fetch cycle begins, before anything is queued; on the thread that asked for it.
    virtual void checkForDocumentsStart() = 0;
};

class CheckForDocumentsProgressDelegate : public virtual DVFetchWebServicesDelegate {
public:
    // One document's download ended, successfully or not; main thread.
    virtual void checkForDocumentsProgress(const QVariantMap& document) = 0;
};

class CheckForDocumentsFinishedDelegate : public virtual DVFetchWebServicesDelegate {
public:
    // The coordinator's queue emptied (coordinators made with canDownload only). Arrives on the
    // background thread where that happened: user-interface work must move to the main thread.
    virtual void checkForDocumentsFinished() = 0;
};

class ServicesLoginCompleteDelegate : public virtual DVFetchWebServicesDelegate {
public:
    // After every login; main thread.
    virtual void loginComplete(const std::shared_ptr<DVLoginOperation>& operation) = 0;
};

class ServicesAccountInfoCompleteDelegate : public virtual DVFetchWebServicesDelegate {
public:
    // After every account-information request, also one that started a ticket recovery; main thread.
    virtual void accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& operation) = 0;
};
