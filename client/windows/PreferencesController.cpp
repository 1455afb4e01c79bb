#include "PreferencesController.h"

#include "Bundle.h"
#include "ClientSettings.h"
#include "DVAccountInfoOperation.h"
#include "DVError.h"
#include "DVFetchWebServices.h"
#include "DVFolderChooser.h"
#include "DVLoginOperation.h"
#include "DVPathFieldSizing.h"
#include "DVServiceAddress.h"
#include "DVStringTable.h"
#include "DVWindow.h"
#include "DVWindowDelegates.h"
#include "ui_PreferencesController.h"

#include <QMessageBox>
#include <QPointer>

namespace {
ClientSettings& settings() {
    return ClientSettings::shared();
}

QString storedFolderPath() {
    return settings().fetchFolderPath();
}
} // namespace

PreferencesController::PreferencesController(QObject* delegate)
    : _delegate(delegate)
    , _window(std::make_unique<DVWindow>())
    , _ui(std::make_unique<Ui::PreferencesController>())
    , _chooser(DVFolderChooser::standard()) {
    _ui->setupUi(_window.get());
    preparePathField(_ui->_dropboxPath);
    _ui->_dropboxPath->setPlainText(storedFolderPath());
    _ui->_status->clear();
    _ui->_apply->setDefault(true);
    connect(_ui->_apply, &QAbstractButton::clicked, this, [this] { apply(); });
    connect(_ui->_revert, &QAbstractButton::clicked, this, [this] { revert(); });
    connect(_ui->_changeButton, &QAbstractButton::clicked, this, [this] { changeDropboxFolder(); });
    connect(_ui->_launchAtStartup, &QAbstractButton::clicked, this, [this] { launchAtStartup(); });
    connect(_ui->_automaticallyCheckForUpdates, &QAbstractButton::clicked, this,
            [this] { automaticallyCheckForUpdates(); });
    connect(_ui->_blackAndWhite, &QAbstractButton::clicked, this, [this] { useBlackAndWhiteMenuBarIcons(); });
    connect(_ui->_close, &QAbstractButton::clicked, this, [this] { closeWindow(); });
    resizeDropboxPath();
    // The path and the two check boxes show their settings whatever stores them, as bound fields would.
    connect(&settings(), &ClientSettings::changed, this, [this](ClientSettings::Key key) { showSetting(key); });
    _webServices = std::make_unique<DVFetchWebServices>(this, false);
}

PreferencesController::~PreferencesController() = default;

void PreferencesController::stop() {
    _webServices->stop();
}

QDialog* PreferencesController::window() const {
    return _window.get();
}

void PreferencesController::showWindow() {
    _oldEmail = settings().email();
    _oldPassword = settings().password();
    _ui->_email->setText(_oldEmail);
    _ui->_password->setText(_oldPassword);
    _ui->_version->setText(QStringLiteral("Docuvane Fetch %1")
                               .arg(Bundle::mainBundle()
                                        .objectForInfoDictionaryKey(QStringLiteral("CFBundleShortVersionString"))
                                        .toString()));
    auto* provider = dynamic_cast<DVUpdaterProvider*>(_delegate);
    DVAutomaticUpdateChecks* updater = provider ? provider->sparkleUpdater() : nullptr;
    _ui->_automaticallyCheckForUpdates->setEnabled(updater != nullptr);
    if (updater)
        _ui->_automaticallyCheckForUpdates->setChecked(updater->automaticallyChecksForUpdates());
    // The two other check boxes show their settings, as bound check boxes would.
    _ui->_launchAtStartup->setChecked(settings().addToLoginItems());
    _ui->_blackAndWhite->setChecked(settings().blackAndWhiteIcons());
    _window->showInFront();
    DVWindow::setStatusColor(_ui->_status, QColor());
}

void PreferencesController::closeWindow() {
    _window->close();
}

void PreferencesController::setStatus(const QString& text, bool error) {
    DVWindow::setStatusColor(_ui->_status, error ? DVWindow::errorColor() : QColor());
    _ui->_status->setText(text);
}

void PreferencesController::apply() {
    const QString password = _ui->_password->text();
    const QString email = _ui->_email->text();
    const QString missing = missingServiceAddressMessage();
    if (!missing.isNull()) {
        setStatus(missing, true);
        return;
    }
    _ui->_apply->setEnabled(false);
    _ui->_revert->setEnabled(false);
    setStatus(QStringLiteral("Authenticating..."), false);
    settings().removeTicket();
    _webServices->accountInfo(email, password);
}

void PreferencesController::loginComplete(const std::shared_ptr<DVLoginOperation>& operation) {
    _ui->_apply->setEnabled(true);
    _ui->_revert->setEnabled(true);
    if (const auto error = operation->error()) {
        setStatus(error->localizedDescription(), true);
        return;
    }
    setStatus(QString(), false);
    // What the service accepted, which is what was typed when Apply was pressed.
    settings().setEmail(operation->user());
    settings().setPassword(operation->password());
}

void PreferencesController::accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& operation) {
    if (auto* receiver = dynamic_cast<ServicesAccountInfoCompleteDelegate*>(_delegate))
        receiver->accountInfoComplete(operation);
}

void PreferencesController::revert() {
    _ui->_email->setText(_oldEmail);
    _ui->_password->setText(_oldPassword);
    _ui->_status->clear();
}

void PreferencesController::changeDropboxFolder() {
    QPointer<PreferencesController> self(this);
    _chooser->chooseFolder(DVFolderChooser::Title, nullptr, [self](const std::optional<QString>& folder) {
        if (!self || !folder)
            return;
        const QString newPath = DVFolderChooser::fetchFolderPathIn(*folder);
        if (newPath == storedFolderPath())
            return;
        auto* question = new QMessageBox(QMessageBox::Question, QStringLiteral("Docuvane Fetch"),
                                         DVKey(QStringLiteral("Move your Docuvane Fetch?")), QMessageBox::NoButton,
                                         self->_window.get());
        QPushButton* move = question->addButton(DVKey(QStringLiteral("Move")), QMessageBox::AcceptRole);
        question->addButton(DVKey(QStringLiteral("Cancel")), QMessageBox::RejectRole);
        question->setDefaultButton(move);
        question->setInformativeText(newPath);
        DVWindow::showTextsPlain(question);
        DVWindow::widenMessageBox(question, 380);
        question->setAttribute(Qt::WA_DeleteOnClose);
        question->setWindowModality(Qt::WindowModal);
        connect(question, &QMessageBox::finished, self, [self, question, move, newPath] {
            if (question->clickedButton() != move)
                return;
            const QString oldPath = storedFolderPath();
            if (oldPath != newPath) {
                settings().setFetchFolderPath(newPath);
                self->_ui->_dropboxPath->setPlainText(newPath);
                if (auto* receiver = dynamic_cast<PreferencesDelegate*>(self->_delegate))
                    receiver->dropboxFolderChanged(oldPath, newPath);
            }
            self->resizeDropboxPath();
        });
        self->_moveQuestion = question;
        question->open();
    });
}

void PreferencesController::launchAtStartup() {
    const bool on = _ui->_launchAtStartup->isChecked();
    settings().setAddToLoginItems(on);
    if (auto* receiver = dynamic_cast<DVLaunchAtLoginDelegate*>(_delegate)) {
        if (on)
            receiver->addToLaunchAtLogin(_ui->_launchAtStartup);
        else
            receiver->removeFromLaunchAtLogin(_ui->_launchAtStartup);
    }
}

void PreferencesController::automaticallyCheckForUpdates() {
    auto* provider = dynamic_cast<DVUpdaterProvider*>(_delegate);
    if (DVAutomaticUpdateChecks* updater = provider ? provider->sparkleUpdater() : nullptr)
        updater->setAutomaticallyChecksForUpdates(_ui->_automaticallyCheckForUpdates->isChecked());
}

void PreferencesController::useBlackAndWhiteMenuBarIcons() {
    settings().setBlackAndWhiteIcons(_ui->_blackAndWhite->isChecked());
    if (auto* receiver = dynamic_cast<DVMenuBarIconsDelegate*>(_delegate))
        receiver->useBlackAndWhiteMenuBarIcons(this);
}

void PreferencesController::showSetting(ClientSettings::Key key) {
    switch (key) {
    case ClientSettings::Key::FetchFolderPath:
        if (_ui->_dropboxPath->toPlainText() != storedFolderPath()) {
            _ui->_dropboxPath->setPlainText(storedFolderPath());
            resizeDropboxPath();
        }
        break;
    case ClientSettings::Key::AddToLoginItems:
        _ui->_launchAtStartup->setChecked(settings().addToLoginItems());
        break;
    case ClientSettings::Key::BlackAndWhiteIcons:
        _ui->_blackAndWhite->setChecked(settings().blackAndWhiteIcons());
        break;
    default:
        break;
    }
}

void PreferencesController::resizeDropboxPath() {
    fitPathFieldHeight(_ui->_dropboxPath, _window.get());
}
