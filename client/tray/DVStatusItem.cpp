#include "DVStatusItem.h"

#include "DVActivityIndicator.h"
#include "DVStatusWindow.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QWidgetAction>

namespace {
// How often a missing tray is looked for again.
constexpr int kTrayPollMs = 2000;
} // namespace

DVStatusItem::DVStatusItem(QObject* parent, int traySettleMs)
    : QObject(parent)
    , _menu(new QMenu())
    , _traySettleMs(traySettleMs) {
    addEntry(Entry::Status, tr("Status:"));
    addEntry(Entry::CheckForDocuments, tr("Check for Documents"));
    addEntry(Entry::OpenFetchFolder, tr("Open Docuvane Fetch Folder"));
    addEntry(Entry::Website, tr("Docuvane Website"));
    addEntry(Entry::Preferences, tr("Preferences…"));
    _menu->addSeparator();
    addEntry(Entry::CheckForUpdates, tr("Check for Updates…"));
    addEntry(Entry::SignInAgain, tr("Sign In Again…"));
    _menu->addSeparator();
    addEntry(Entry::Quit, tr("Quit Docuvane Fetch"));

    _progressItem = makeRow(_menu, &_progressIndicator, &_progressLabel);
    _destinationItem = makeRow(_menu, &_destinationIndicator, &_destinationLabel);

    connect(_menu, &QMenu::aboutToShow, this, &DVStatusItem::menuWillOpen);
    connect(action(Entry::Status), &QAction::changed, this, [this] {
        if (_window)
            _window->setStatusText(action(Entry::Status)->text());
    });

    // Trays come and go (a panel restarts, a desktop extension is switched on): keep looking.
    _trayPoll.setInterval(kTrayPollMs);
    connect(&_trayPoll, &QTimer::timeout, this, &DVStatusItem::updatePresentation);
    _trayPoll.start();
    updatePresentation();
    if (!isInTray())
        QTimer::singleShot(_traySettleMs, this, &DVStatusItem::updatePresentation);
}

DVStatusItem::~DVStatusItem() {
    delete _window;
    delete _tray;
    delete _menu;
}

QAction* DVStatusItem::addEntry(Entry entry, const QString& title) {
    QAction* item = _menu->addAction(title);
    connect(item, &QAction::triggered, this, [this, entry] { emit triggered(entry); });
    _entries.append(item);
    Q_ASSERT(_entries.size() == int(entry) + 1);
    return item;
}

QAction* DVStatusItem::action(Entry entry) const {
    return _entries.value(int(entry));
}

QWidgetAction* DVStatusItem::makeRow(QMenu* menu, DVActivityIndicator** indicator, QLabel** label) {
    auto* row = new QWidgetAction(menu);
    auto* view = new QWidget();
    auto* layout = new QHBoxLayout(view);
    layout->setContentsMargins(12, 3, 12, 3);
    *indicator = new DVActivityIndicator(view);
    *label = new QLabel(view);
    (*label)->setTextFormat(Qt::PlainText);
    (*label)->setFont(QApplication::font("QMenu")); // reads as one of the menu's own entries
    (*label)->setMinimumWidth(180);
    layout->addWidget(*indicator);
    layout->addWidget(*label, 1);
    row->setDefaultWidget(view);
    return row;
}

void DVStatusItem::setProgressMessage(const QString& message) {
    // Trays that export the menu over D-Bus show only the action's text.
    _progressLabel->setText(message);
    _progressItem->setText(message);
}

void DVStatusItem::setProgressAnimating(bool animating) {
    animating ? _progressIndicator->startAnimation() : _progressIndicator->stopAnimation();
}

void DVStatusItem::setDestinationMessage(const QString& message) {
    _destinationLabel->setText(message);
    _destinationItem->setText(message);
}

void DVStatusItem::setDestinationIndicatorHidden(bool hidden) {
    _destinationIndicator->setHidden(hidden);
}

void DVStatusItem::setDestinationAnimating(bool animating) {
    animating ? _destinationIndicator->startAnimation() : _destinationIndicator->stopAnimation();
}

QString DVStatusItem::progressMessage() const {
    return _progressLabel->text();
}

QString DVStatusItem::destinationMessage() const {
    return _destinationLabel->text();
}

void DVStatusItem::setImage(const QIcon& icon) {
    _icon = icon;
    if (_tray)
        _tray->setIcon(icon);
    if (_window)
        _window->setIcon(icon);
    if (_tray && !_tray->isVisible())
        updatePresentation();
}

void DVStatusItem::setToolTip(const QString& text) {
    _toolTip = text;
    if (_tray)
        _tray->setToolTip(text);
}

bool DVStatusItem::isInTray() const {
    return _tray && _tray->isVisible();
}

bool DVStatusItem::showMessage(const QString& title, const QString& text) {
    if (!isInTray() || !QSystemTrayIcon::supportsMessages())
        return false;
    _tray->showMessage(title, text, _icon);
    return true;
}

UserNotificationCenter::Fallback DVStatusItem::notificationFallback(UserNotificationCenter::Fallback log) {
    return [item = QPointer<DVStatusItem>(this), log = std::move(log)](const UserNotification& notification) {
        if (item && item->showMessage(notification.title, notification.informativeText))
            return;
        if (log)
            log(notification);
    };
}

void DVStatusItem::popUpMenu(QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Trigger || _menu->isVisible())
        return;
    const QRect area = _tray ? _tray->geometry() : QRect();
    _menu->popup(area.isValid() ? area.bottomLeft() : QCursor::pos());
}

void DVStatusItem::updatePresentation() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        _trayMissing.invalidate();
        if (!_tray) {
            _tray = new QSystemTrayIcon(_icon);
            _tray->setToolTip(_toolTip);
            _tray->setContextMenu(_menu);
            connect(_tray, &QSystemTrayIcon::activated, this, &DVStatusItem::popUpMenu);
        }
        // A tray icon without an image shows as an empty slot (and Qt warns); the first image follows at once.
        if (!_icon.isNull())
            _tray->show();
        if (_window)
            _window->hide();
        return;
    }
    if (_tray)
        _tray->hide();
    // A panel started with the session may come up after us, and a restarting one comes back: give it a
    // moment before a window takes its place.
    if (!_trayMissing.isValid())
        _trayMissing.start();
    if (_trayMissing.elapsed() < _traySettleMs)
        return;
    if (!_window) {
        _window = new DVStatusWindow(_menu);
        _window->setIcon(_icon);
        _window->setStatusText(action(Entry::Status)->text());
    }
    _window->show();
}
