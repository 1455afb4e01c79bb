#pragma once

#include "DVFetchWebServices.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QString>

// Runs what the client's main timer runs, without a window: the account check (after a login when no
// ticket is stored), then one fetch cycle, and tells how it went.
class FetchCycleRunner : public QObject,
                         public CheckForDocumentsFinishedDelegate,
                         public ServicesLoginCompleteDelegate,
                         public ServicesAccountInfoCompleteDelegate {
    Q_OBJECT

public:
    FetchCycleRunner();

    // Prints one result line; returns the exit status.
    int run();

    void checkForDocumentsFinished() override;
    void loginComplete(const std::shared_ptr<DVLoginOperation>& operation) override;
    void accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& operation) override;

private:
    // Runs the event loop until the coordinator's queue has emptied.
    void waitForQueue();
    // After a quit signal: stops the coordinator's work and returns the exit status for the signal.
    int stopped();
    // Why the last chain brought no documents (a failed login or account check, another destination), or
    // a null string when the account can receive documents.
    QString chainProblem() const;

    DVFetchWebServices _services;
    QEventLoop _loop;
    QElapsedTimer _clock;
    QString _loginFailure;
    QString _accountFailure;
    bool _accountChecked = false;
    int _downloaded = 0;
    int _failed = 0;
};
