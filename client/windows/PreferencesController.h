#pragma once

#include "ClientSettings.h"
#include "DVFetchWebServicesDelegate.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>

#include <memory>

class DVFetchWebServices;
class DVFolderChooser;
class DVWindow;
class QDialog;

namespace Ui {
class PreferencesController;
}

// The preferences window: account credentials (stored only once the service accepted them), the fetch
// folder's place (moves confirmed, then handed to the delegate), launch at login, automatic update checks,
// black-and-white panel icons and the version.
class PreferencesController : public QObject,
                              public ServicesLoginCompleteDelegate,
                              public ServicesAccountInfoCompleteDelegate {
    Q_OBJECT

public:
    // delegate: the protocols of DVWindowDelegates.h it adopts (PreferencesDelegate, DVLaunchAtLoginDelegate,
    // DVMenuBarIconsDelegate, DVUpdaterProvider) and ServicesAccountInfoCompleteDelegate.
    explicit PreferencesController(QObject* delegate);
    ~PreferencesController() override;

    void showWindow();
    void closeWindow();
    QDialog* window() const;
    QObject* delegate() const { return _delegate; }
    DVFetchWebServices& webServices() const { return *_webServices; }
    // Ends the window's service work for good, for a quit: a login still running is cut off.
    void stop();

    // Actions.
    void changeDropboxFolder();
    void launchAtStartup();
    void automaticallyCheckForUpdates();
    void useBlackAndWhiteMenuBarIcons();
    void apply();
    void revert();

    void loginComplete(const std::shared_ptr<DVLoginOperation>& operation) override;
    void accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& operation) override;

    void resizeDropboxPath();
    void setFolderChooser(DVFolderChooser* chooser) { _chooser = chooser; }
    // The open move confirmation, if any.
    QMessageBox* moveQuestion() const { return _moveQuestion; }

private:
    // Shows a key's stored value in the field bound to it, if any.
    void showSetting(ClientSettings::Key key);
    void setStatus(const QString& text, bool error);

    QObject* const _delegate;
    std::unique_ptr<DVWindow> _window;
    std::unique_ptr<Ui::PreferencesController> _ui;
    DVFolderChooser* _chooser;
    QString _oldEmail;
    QString _oldPassword;
    QPointer<QMessageBox> _moveQuestion;
    std::unique_ptr<DVFetchWebServices> _webServices;
};
