#include "AuthenticationController.h"

#include "ClientSettings.h"
#include "DVError.h"
#include "DVFetchWebServices.h"
#include "DVLoginOperation.h"
#include "DVServiceAddress.h"
#include "DVWindow.h"
#include "DVWindowDelegates.h"
#include "ui_AuthenticationController.h"

#include <QCoreApplication>
#include <QTimer>

namespace {
constexpr int kQuitDelayMilliseconds = 500;
}

AuthenticationController::AuthenticationController(QObject* delegate)
    : _delegate(delegate)
    , _window(std::make_unique<DVWindow>())
    , _ui(std::make_unique<Ui::AuthenticationController>()) {
    _ui->setupUi(_window.get());
    _ui->_status->clear();
    DVWindow::reserveStatusLine(_ui->_status);
    DVWindow::wrapEvenly(_ui->explanation, 80 * _ui->explanation->fontMetrics().averageCharWidth());
    DVWindow::fitToContent(_window.get());
    connect(_ui->_ok, &QAbstractButton::clicked, this, [this] { ok(); });
    connect(_ui->_quit, &QAbstractButton::clicked, this, [this] { quit(); });
    _webServices = std::make_unique<DVFetchWebServices>(this, false);
}

AuthenticationController::~AuthenticationController() = default;

void AuthenticationController::stop() {
    _webServices->stop();
}

QDialog* AuthenticationController::window() const {
    return _window.get();
}

void AuthenticationController::showWindow() {
    _ui->_email->setText(ClientSettings::shared().email());
    _ui->_password->setText(QString());
    DVWindow::setStatusColor(_ui->_status, QColor());
    _window->showInFront();
    _ui->_password->setFocus();
}

void AuthenticationController::closeWindow() {
    _window->close();
}

void AuthenticationController::ok() {
    const QString password = _ui->_password->text();
    const QString email = _ui->_email->text();
    const QString missing = missingServiceAddressMessage();
    if (!missing.isNull()) {
        DVWindow::setStatusColor(_ui->_status, DVWindow::errorColor());
        _ui->_status->setText(missing);
        return;
    }
    _ui->_ok->setEnabled(false);
    _ui->_quit->setEnabled(false);
    DVWindow::setStatusColor(_ui->_status, QColor());
    _ui->_status->setText(QStringLiteral("Authenticating..."));
    _webServices->login(email, password);
}

void AuthenticationController::quit() {
    QTimer::singleShot(kQuitDelayMilliseconds, QCoreApplication::instance(), &QCoreApplication::quit);
}

void AuthenticationController::loginComplete(const std::shared_ptr<DVLoginOperation>& operation) {
    _ui->_ok->setEnabled(true);
    _ui->_quit->setEnabled(true);
    if (const auto error = operation->error()) {
        DVWindow::setStatusColor(_ui->_status, DVWindow::errorColor());
        _ui->_status->setText(error->localizedDescription());
        return;
    }
    _ui->_status->clear();
    // What the service accepted: the texts as they were when OK was pressed.
    ClientSettings& settings = ClientSettings::shared();
    settings.setEmail(operation->user());
    settings.setPassword(operation->password());
    closeWindow();
    if (auto* receiver = dynamic_cast<DVAuthenticationCompleteDelegate*>(_delegate))
        receiver->authenticationComplete(this);
}
