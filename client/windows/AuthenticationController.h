#pragma once

#include "DVFetchWebServicesDelegate.h"

#include <QObject>

#include <memory>

class DVFetchWebServices;
class DVWindow;
class QDialog;

namespace Ui {
class AuthenticationController;
}

// Asks for the password again when the stored credentials stop working. OK logs in with what was typed;
// only credentials the service accepted are stored, and then the window closes and the delegate is told.
class AuthenticationController : public QObject, public ServicesLoginCompleteDelegate {
    Q_OBJECT

public:
    // delegate: receives DVAuthenticationCompleteDelegate::authenticationComplete when it adopts it.
    explicit AuthenticationController(QObject* delegate);
    ~AuthenticationController() override;

    void showWindow();
    void closeWindow();
    QDialog* window() const;
    QObject* delegate() const { return _delegate; }
    DVFetchWebServices& webServices() const { return *_webServices; }
    // Ends the window's service work for good, for a quit: a login still running is cut off.
    void stop();

    void ok();
    // Quits the application half a second later.
    void quit();

    void loginComplete(const std::shared_ptr<DVLoginOperation>& operation) override;

private:
    QObject* const _delegate;
    std::unique_ptr<DVWindow> _window;
    std::unique_ptr<Ui::AuthenticationController> _ui;
    std::unique_ptr<DVFetchWebServices> _webServices;
};
