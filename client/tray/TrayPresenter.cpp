#include "TrayPresenter.h"

#include "Appearance.h"
#include "Bundle.h"
#include "ClientSettings.h"
#include "DVExceptionGuard.h"
#include "DVFetchWebServices.h"
#include "DVStatusImages.h"
#include "DVStatusWindow.h"
#include "DVWindow.h"
#include "FetchScheduler.h"
#include "UserNotificationCenter.h"
#include "WSLogger.h"
#include "Workspace.h"

#include <QAction>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidgetAction>

namespace {

// The log's origin field names the class that first held this work.
const char* const kClassName = "AppController";

void presentAlert(const QString& messageText, const QString& informativeText, const QString& button) {
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QStringLiteral("Docuvane Fetch"));
    box.setText(messageText);
    // Carriage returns separate paragraphs in the texts; a plain-text label breaks lines at newlines.
    QString informative = informativeText;
    informative.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    box.setInformativeText(informative);
    DVWindow::showTextsPlain(&box);
    box.addButton(button, QMessageBox::AcceptRole);
    box.exec();
}

QString text(const QString& key) {
    return Bundle::mainBundle().localizedString(key);
}

QString stateInWords(ClientState state) {
    switch (state) {
    case ClientState::NotSetUp:
        return QStringLiteral("Not set up yet");
    case ClientState::Enabled:
        return QStringLiteral("Enabled");
    case ClientState::InvalidCredentials:
        return QStringLiteral("Disabled: the e-mail address or password was not accepted");
    case ClientState::InvalidDestination:
        return QStringLiteral("Disabled: your account delivers its documents elsewhere");
    case ClientState::FolderMissing:
        return QStringLiteral("Disabled: the Docuvane Fetch folder is missing");
    case ClientState::Error:
        return QStringLiteral("Disabled: the service reported an error");
    }
    return {};
}

QString documents(int count) {
    return count == 1 ? QStringLiteral("1 new document") : QStringLiteral("%1 new documents").arg(count);
}

} // namespace

TrayPresenter::TrayPresenter(FetchScheduler& scheduler, const Appearance* appearance, int traySettleMs, QObject* parent)
    : QObject(parent)
    , _scheduler(scheduler)
    , _appearance(appearance)
    , _statusItem(std::make_unique<DVStatusItem>(nullptr, traySettleMs))
    , _alertPresenter(presentAlert) {
    _progressSeparator = new QAction(_statusItem->menu());
    _progressSeparator->setSeparator(true);
    connect(_statusItem.get(), &DVStatusItem::menuWillOpen, this, &TrayPresenter::menuWillOpen);
    connect(_statusItem.get(), &DVStatusItem::triggered, this, [this](DVStatusItem::Entry entry) {
        if (entry == DVStatusItem::Entry::Status)
            explainState();
        else if (entry == DVStatusItem::Entry::CheckForDocuments)
            _scheduler.checkForDocumentsNow();
        else
            emit entryTriggered(entry);
    });
    // Without a notification service the tray icon's balloon tells the user; without a tray, the log.
    UserNotificationCenter::defaultUserNotificationCenter().setFallback(
        _statusItem->notificationFallback([](const UserNotification& note) {
            WSLogger::sharedInstance().logInfo(kClassName, "deliverNotification",
                                               {note.title + QLatin1Char(':'), note.informativeText});
        }));
    connect(&scheduler, &FetchScheduler::stateChanged, this, &TrayPresenter::applyState);
    connect(&scheduler, &FetchScheduler::checkingChanged, this, &TrayPresenter::applyEnableRules);
    connect(&scheduler, &FetchScheduler::progressMessage, this, &TrayPresenter::showProgressText);
    connect(&scheduler, &FetchScheduler::cycleEnded, this, &TrayPresenter::showDownloadComplete);
    connect(&scheduler, &FetchScheduler::checkingChanged, this, &TrayPresenter::followChecking);
    connect(&scheduler, &FetchScheduler::cycleEnded, this, &TrayPresenter::recordCheck);
    updateToolTip();
    connect(&scheduler, &FetchScheduler::accountLookupEnded, this, &TrayPresenter::removeDestinationRow);
}

TrayPresenter::~TrayPresenter() = default;

// ---- rows ----

void TrayPresenter::insertBefore(QAction* next, QAction* row) {
    QMenu* menu = _statusItem->menu();
    if (!menu->actions().contains(row))
        menu->insertAction(next, row);
}

void TrayPresenter::showProgressRows() {
    // Under the fixed entries, above the separator that leads to the rest.
    const QList<QAction*> actions = _statusItem->menu()->actions();
    const qsizetype below = actions.indexOf(_statusItem->action(DVStatusItem::Entry::Preferences)) + 1;
    QAction* next = actions.value(below);
    insertBefore(next, _progressSeparator);
    insertBefore(next, _statusItem->progressItem());
}

void TrayPresenter::showProgressText(const QString& message) {
    _statusItem->setProgressMessage(message);
}

void TrayPresenter::showDownloadComplete() {
    showProgressText(QStringLiteral("Download Complete"));
    _statusItem->setProgressAnimating(false);
}

void TrayPresenter::showDestinationRow() {
    insertBefore(_statusItem->action(DVStatusItem::Entry::CheckForUpdates), _statusItem->destinationItem());
    _statusItem->setDestinationMessage(QStringLiteral("Getting Account Info..."));
    _statusItem->setDestinationIndicatorHidden(false);
    // Started once the menu is up, as the indicator animates only while it is shown.
    QTimer::singleShot(0, _statusItem.get(), [item = _statusItem.get()] { item->setDestinationAnimating(true); });
}

void TrayPresenter::removeDestinationRow() {
    _statusItem->setDestinationIndicatorHidden(true);
    _statusItem->setDestinationAnimating(false);
    _statusItem->menu()->removeAction(_statusItem->destinationItem());
}

void TrayPresenter::clearRows() {
    _statusItem->menu()->removeAction(_progressSeparator);
    _statusItem->menu()->removeAction(_statusItem->progressItem());
}

// ---- state, enable rules, icon ----

void TrayPresenter::applyState(ClientState state) {
    _statusItem->action(DVStatusItem::Entry::Status)
        ->setText(state == ClientState::Enabled ? QStringLiteral("Status:  Enabled")
                                                : QStringLiteral("Status:  Disabled..."));
    applyEnableRules();
    chooseIcon();
    updateToolTip();
}

bool TrayPresenter::isEnabled(QAction* entry) const {
    if (entry == _statusItem->action(DVStatusItem::Entry::CheckForDocuments))
        return !_scheduler.isCheckingForDocuments();
    if (entry == _statusItem->action(DVStatusItem::Entry::Status))
        return _scheduler.state() != ClientState::Enabled;
    if (entry == _statusItem->action(DVStatusItem::Entry::CheckForUpdates))
        return _updateChecksAvailable;
    return true;
}

void TrayPresenter::setUpdateChecksAvailable(bool available) {
    _updateChecksAvailable = available;
    applyEnableRules();
}

void TrayPresenter::applyEnableRules() {
    for (QAction* action : _statusItem->menu()->actions())
        action->setEnabled(isEnabled(action));
}

void TrayPresenter::chooseIcon() {
    dvGuard(kClassName, "useBlackAndWhiteMenuBarIcons", [&] {
        const bool dark =
            _appearance ? _appearance->isDark() : Appearance::isDarkThemeName(Appearance::currentThemeName());
        const bool blackAndWhite = ClientSettings::shared().blackAndWhiteIcons() || dark;
        _statusItem->setImage(DVStatusImages::image(_scheduler.state() == ClientState::Enabled, blackAndWhite, dark));
    });
}

// ---- the tooltip ----

void TrayPresenter::followChecking() {
    // A lookup from the menu also ends with cycleEnded; only a check that was seen starting is recorded.
    if (_checkRunning || !_scheduler.isCheckingForDocuments())
        return;
    _checkRunning = true;
    _downloaded = 0;
    _notDownloaded = 0;
    updateToolTip();
}

void TrayPresenter::recordCheck(bool listed) {
    if (!_checkRunning)
        return;
    _checkRunning = false;
    const int found = _downloaded + _notDownloaded;
    QString result;
    if (!listed)
        result = QStringLiteral("the check failed");
    else if (!found)
        result = QStringLiteral("no new documents");
    else if (_notDownloaded)
        result = QStringLiteral("%1 of %2 downloaded").arg(_downloaded).arg(documents(found));
    else
        result = documents(found);
    _lastCheck = QStringLiteral("Last checked %1: %2").arg(_clock().toString(QStringLiteral("HH:mm")), result);
    updateToolTip();
}

void TrayPresenter::updateToolTip() {
    QStringList lines{QStringLiteral("Docuvane Fetch"), stateInWords(_scheduler.state())};
    if (!_lastCheck.isEmpty())
        lines << _lastCheck;
    if (_checkRunning)
        lines << QStringLiteral("Checking for documents…");
    _statusItem->setToolTip(lines.join(QLatin1Char('\n')));
}

// ---- the menu opening, the status entry ----

void TrayPresenter::menuWillOpen() {
    const bool progressShown = _statusItem->menu()->actions().contains(_statusItem->progressItem());
    if (_scheduler.isCheckingForDocuments()) {
        showProgressRows();
        QTimer::singleShot(0, _statusItem.get(), [item = _statusItem.get()] { item->setProgressAnimating(true); });
    } else if (progressShown) {
        clearRows();
    } else if (_scheduler.isFolderUsable()) {
        showDestinationRow();
        emit accountLookupRequested();
    }
    applyEnableRules();
}

void TrayPresenter::explainState() {
    switch (_scheduler.state()) {
    case ClientState::InvalidCredentials:
        showAlert(QStringLiteral("Invalid Credentials"),
                  text(QStringLiteral("Docuvane Fetch is unable to log in to your Docuvane account. Please re-enter "
                                      "your username and password.")),
                  QStringLiteral("OK"));
        emit preferencesRequested();
        break;
    case ClientState::InvalidDestination:
        showAlert(QStringLiteral("Invalid Destination"),
                  text(QStringLiteral("Your Docuvane account is not currently using your Docuvane Fetch app as its "
                                      "document delivery destination.\r\rTo change your destination, please log "
                                      "into the Docuvane web client and click on the \"Destination\" tab.")),
                  QStringLiteral("OK"));
        break;
    case ClientState::Error:
        showAlert(QStringLiteral("Error"), _scheduler.lastError(), QStringLiteral("OK"));
        break;
    case ClientState::FolderMissing:
        emit folderWarningRequested();
        break;
    default:
        break;
    }
}

void TrayPresenter::showAlert(const QString& messageText, const QString& informativeText, const QString& button) {
    if (_alertPresenter)
        _alertPresenter(messageText, informativeText, button);
}

void TrayPresenter::follow(DVFetchWebServices& services) {
    // A report still queued when its coordinator stopped for a quit is dropped: the quit promises silence.
    auto live = [guard = QPointer<DVFetchWebServices>(&services)] { return guard && !guard->isStopped(); };
    connect(&services, &DVFetchWebServices::documentDownloaded, this, [this](const QVariantMap&, bool succeeded) {
        if (_checkRunning)
            ++(succeeded ? _downloaded : _notDownloaded);
    });
    connect(&services, &DVFetchWebServices::notificationReported, this,
            [live](const QString& title, const QString& informativeText, const QString& documentPath) {
                // The client stays to answer a click on the notification: it shows the document.
                if (live())
                    UserNotificationCenter::defaultUserNotificationCenter().deliverNotification(
                        {title, informativeText, documentPath});
            });
    connect(&services, &DVFetchWebServices::websiteReported, this, [live](const QUrl& url) {
        if (live())
            Workspace::openURLPrivately(url);
    });
}
