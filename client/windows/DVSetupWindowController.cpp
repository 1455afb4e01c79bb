#include "DVSetupWindowController.h"

#include "DVAccountSetupView.h"
#include "DVDropboxLocationView.h"
#include "DVError.h"
#include "DVFetchWebServices.h"
#include "DVFolderChooser.h"
#include "DVLoginOperation.h"
#include "DVServiceAddress.h"
#include "DVWindow.h"
#include "DVWindowDelegates.h"
#include "ui_DVSetupWindowController.h"

#include <QCoreApplication>
#include <QGraphicsOpacityEffect>
#include <QMessageBox>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTimer>

namespace {
constexpr int kPageFadeMilliseconds = 180;
constexpr int kQuitDelayMilliseconds = 500;
} // namespace

DVSetupWindowController::DVSetupWindowController(QObject* delegate)
    : _delegate(delegate)
    , _window(std::make_unique<DVWindow>())
    , _ui(std::make_unique<Ui::DVSetupWindowController>()) {
    _ui->setupUi(_window.get());
    _ui->_matrix->setId(_ui->_keepPlace, 0);
    _ui->_matrix->setId(_ui->_otherPlace, 1);

    // The page chain: welcome, account, folder.
    _ui->_welcomePage->setOutlets(_ui->welcomePrevious, _ui->welcomeNext, _ui->welcomeStatus);
    _ui->_accountPage->setOutlets(_ui->accountPrevious, _ui->accountNext, _ui->accountStatus);
    _ui->_locationPage->setOutlets(_ui->locationPrevious, _ui->locationNext, _ui->locationStatus);
    _ui->_accountPage->setFields(_ui->_email, _ui->_password);
    _ui->_locationPage->setFields(_ui->_matrix, _ui->_dropboxFolderPath, _ui->_label, _ui->_changeButton);
    _ui->_locationPage->setFolderChooser(DVFolderChooser::standard());
    _ui->_welcomePage->setNextView(_ui->_accountPage);
    _ui->_accountPage->setPreviousView(_ui->_welcomePage);
    _ui->_accountPage->setNextView(_ui->_locationPage);
    _ui->_locationPage->setPreviousView(_ui->_accountPage);
    for (DVNavigationView* page : {welcomeView(), static_cast<DVNavigationView*>(accountView()),
                                   static_cast<DVNavigationView*>(locationView())}) {
        page->awakeFromNib();
        connect(page->nextButton(), &QAbstractButton::clicked, this, [this] { nextView(); });
        connect(page->previousButton(), &QAbstractButton::clicked, this, [this] { previousView(); });
    }
    _ui->_locationPage->resizeDropboxPath();

    _window->setShouldClose([this] { return windowShouldClose(); });
    DVWindow::fitToContent(_window.get());
    showPage(welcomeView(), false);
    _webServices = std::make_unique<DVFetchWebServices>(this, false);
}

DVSetupWindowController::~DVSetupWindowController() = default;

void DVSetupWindowController::stop() {
    _webServices->stop();
}

QDialog* DVSetupWindowController::window() const {
    return _window.get();
}

DVNavigationView* DVSetupWindowController::welcomeView() const {
    return _ui->_welcomePage;
}

DVAccountSetupView* DVSetupWindowController::accountView() const {
    return _ui->_accountPage;
}

DVDropboxLocationView* DVSetupWindowController::locationView() const {
    return _ui->_locationPage;
}

void DVSetupWindowController::setFolderChooser(DVFolderChooser* chooser) {
    _ui->_locationPage->setFolderChooser(chooser);
}

void DVSetupWindowController::showWindow() {
    // The fields show the settings, as bound fields would; typing has already stored what they hold.
    accountView()->reloadFromSettings();
    locationView()->reloadFromSettings();
    _window->showInFront();
}

void DVSetupWindowController::moveToView(DVNavigationView* page) {
    if (_currentView) {
        showPage(page, _window->isVisible());
        page->setStatusColor(QColor());
    } else {
        showPage(page, false);
    }
}

void DVSetupWindowController::showPage(DVNavigationView* page, bool animated) {
    _currentView = page;
    _ui->_pages->setCurrentWidget(page);
    if (auto* next = qobject_cast<QPushButton*>(page->nextButton()))
        next->setDefault(true);
    if (page == accountView())
        (accountView()->email().isEmpty() ? accountView()->emailField() : accountView()->passwordField())->setFocus();
    else
        page->nextButton()->setFocus();
    if (!animated)
        return;
    auto* effect = new QGraphicsOpacityEffect(page);
    page->setGraphicsEffect(effect);
    auto* fade = new QPropertyAnimation(effect, "opacity", effect);
    fade->setDuration(kPageFadeMilliseconds);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    // The effect goes with the animation, so that the page draws directly again.
    connect(fade, &QPropertyAnimation::finished, page, [page] { page->setGraphicsEffect(nullptr); });
    fade->start();
}

void DVSetupWindowController::nextView() {
    DVNavigationView* page = _currentView;
    if (!page->nextView()) {
        finishSetup();
        return;
    }
    if (page != accountView()) {
        moveToView(page->nextView());
        return;
    }
    const QString missing = missingServiceAddressMessage();
    if (!missing.isNull()) {
        page->setStatusColor(DVWindow::errorColor());
        page->setStatus(missing);
        return;
    }
    page->nextButton()->setEnabled(false);
    page->setStatusColor(QColor());
    page->setStatus(QStringLiteral("Authenticating..."));
    _webServices->login(accountView()->email(), accountView()->password());
}

void DVSetupWindowController::previousView() {
    if (DVNavigationView* previous = _currentView->previousView())
        moveToView(previous);
}

void DVSetupWindowController::finishSetup() {
    _finishing = true;
    _window->close();
    _finishing = false;
    if (auto* receiver = dynamic_cast<DVSetupCompleteDelegate*>(_delegate))
        receiver->setupComplete(this);
}

bool DVSetupWindowController::windowShouldClose() {
    const bool lastPage = _currentView->nextView() == nullptr;
    if (lastPage && !_finishing && _window->isVisible()) {
        // The account and the folder are stored by the time the last page shows: closing it finishes setup
        // as Finish does, rather than leaving a signed-in client without its folder and without a window
        // until the next 4-hourly tick. The window cannot close itself from inside its own close.
        QTimer::singleShot(0, this, [this] { finishSetup(); });
        return false;
    }
    if (_window->isVisible() && !lastPage && !_quitQuestion) {
        auto* question = new QMessageBox(QMessageBox::Question, QStringLiteral("Docuvane Fetch"),
                                         QStringLiteral("Are you sure you want to Quit Docuvane Fetch?"),
                                         QMessageBox::NoButton, _window.get());
        QPushButton* quit = question->addButton(QStringLiteral("Quit"), QMessageBox::AcceptRole);
        question->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
        question->setDefaultButton(quit);
        question->setAttribute(Qt::WA_DeleteOnClose);
        question->setWindowModality(Qt::WindowModal);
        connect(question, &QMessageBox::finished, this, [question, quit] {
            if (question->clickedButton() == quit)
                QTimer::singleShot(kQuitDelayMilliseconds, QCoreApplication::instance(), &QCoreApplication::quit);
        });
        _quitQuestion = question;
        question->open();
    }
    return lastPage;
}

void DVSetupWindowController::loginComplete(const std::shared_ptr<DVLoginOperation>& operation) {
    DVAccountSetupView* page = accountView();
    page->nextButton()->setEnabled(true);
    if (const auto error = operation->error()) {
        page->setStatusColor(DVWindow::errorColor());
        page->setStatus(error->localizedDescription());
        return;
    }
    // The user may have gone back to the welcome page meanwhile; the assistant goes on only from here.
    page->setStatus(QString());
    if (_currentView != page)
        return;
    moveToView(page->nextView());
    _currentView->setStatus(QString());
}
