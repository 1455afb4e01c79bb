#pragma once

#include "DVFetchWebServicesDelegate.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>

#include <memory>

class DVAccountSetupView;
class DVDropboxLocationView;
class DVFetchWebServices;
class DVFolderChooser;
class DVNavigationView;
class DVWindow;
class QDialog;

namespace Ui {
class DVSetupWindowController;
}

// The first-run assistant: a welcome page, the account page (checked with the service before the user may
// go on) and the folder page. Next on the last page closes the window and reports setupComplete. The window
// is made once; shown again, it opens on the page the user left.
class DVSetupWindowController : public QObject, public ServicesLoginCompleteDelegate {
    Q_OBJECT

public:
    // delegate: receives DVSetupCompleteDelegate::setupComplete when it adopts it.
    explicit DVSetupWindowController(QObject* delegate);
    ~DVSetupWindowController() override;

    void showWindow();
    QDialog* window() const;
    QObject* delegate() const { return _delegate; }
    DVFetchWebServices& webServices() const { return *_webServices; }
    // Ends the window's service work for good, for a quit: a login still running is cut off.
    void stop();

    DVNavigationView* currentView() const { return _currentView; }
    // Shows another page with a short animation.
    void moveToView(DVNavigationView* page);
    // The actions of every page's Next and Previous buttons.
    void nextView();
    void previousView();
    // The close box and Escape: on every page but the last they ask whether to quit and keep the window
    // open; on the last page they finish setup as its Finish button does.
    bool windowShouldClose();
    // The open quit question, if any.
    QMessageBox* quitQuestion() const { return _quitQuestion; }

    void loginComplete(const std::shared_ptr<DVLoginOperation>& operation) override;

    DVNavigationView* welcomeView() const;
    DVAccountSetupView* accountView() const;
    DVDropboxLocationView* locationView() const;

    // The folder page's chooser; the standard one unless a test sets another.
    void setFolderChooser(DVFolderChooser* chooser);

private:
    void showPage(DVNavigationView* page, bool animated);
    // Closes the window and tells the delegate that setup is complete.
    void finishSetup();

    QObject* const _delegate;
    std::unique_ptr<DVWindow> _window;
    std::unique_ptr<Ui::DVSetupWindowController> _ui;
    DVNavigationView* _currentView = nullptr;
    QPointer<QMessageBox> _quitQuestion;
    bool _finishing = false;
    // Last, so that it goes first: no completion can arrive at a half-destroyed window.
    std::unique_ptr<DVFetchWebServices> _webServices;
};
