#include "Updater.h"

#include "Bundle.h"
#include "MainThread.h"
#include "URLSession.h"
#include "UserDefaults.h"
#include "Workspace.h"

#include <QDateTime>

#include <algorithm>

namespace {

// A feed is a few kilobytes; anything past this is not one.
constexpr qsizetype kMaxFeedBytes = 4 * 1024 * 1024;
// QTimer counts milliseconds in an int.
constexpr qint64 kMaxTimerSeconds = 24LL * 24 * 3600;

QString bundleVersion() {
    const Bundle& bundle = Bundle::mainBundle();
    const QString version = bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleVersion")).toString();
    return version.isEmpty()
               ? bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleShortVersionString")).toString()
               : version;
}

} // namespace

Updater::Updater(QObject* parent)
    : Updater(Bundle::mainBundle().objectForInfoDictionaryKey(QStringLiteral("SUFeedURL")).toString(), bundleVersion(),
              &UserDefaults::standardUserDefaults(), parent) {}

Updater::Updater(const QString& feedURL, const QString& currentVersion, UserDefaults* defaults, QObject* parent)
    : QObject(parent)
    , _feedURL(feedURL.trimmed())
    , _currentVersion(currentVersion)
    , _defaults(defaults) {
    _automaticTimer.setSingleShot(true);
    connect(&_automaticTimer, &QTimer::timeout, this, [this] { check(false); });
}

Updater::~Updater() = default;

void Updater::setUpdateCheckInterval(int seconds) {
    _interval = std::max(0, seconds);
    scheduleNextCheck();
}

qint64 Updater::secondsUntilNextCheck() const {
    if (!_automaticTimer.isActive())
        return -1;
    return (_automaticTimer.remainingTime() + 999) / 1000;
}

void Updater::checkForUpdatesInBackground() {
    check(false);
}

void Updater::checkForUpdates() {
    check(true);
}

bool Updater::automaticallyChecksForUpdates() const {
    return _defaults->boolForKey(enableAutomaticChecksKey());
}

void Updater::setAutomaticallyChecksForUpdates(bool on) {
    _defaults->setInteger(on ? 1 : 0, enableAutomaticChecksKey());
    scheduleNextCheck();
}

bool Updater::openDownloadPage(const QUrl& link) const {
    return Appcast::isAcceptableDownloadURL(link) && Workspace::openURL(link);
}

void Updater::skipVersion(const QString& version) {
    _defaults->setValue(version, skippedVersionKey());
}

void Updater::remindLater(const QString& version) {
    _defaults->setValue(version, remindLaterVersionKey());
    _defaults->setInteger(now(), remindLaterTimeKey());
}

bool Updater::isSilenced(const QString& version) const {
    if (_defaults->valueForKey(skippedVersionKey()).toString() == version)
        return true;
    if (_defaults->valueForKey(remindLaterVersionKey()).toString() != version)
        return false;
    // A reminder "in the future" means the clock was set back: it no longer holds.
    const qint64 since = now() - _defaults->integerForKey(remindLaterTimeKey());
    return since >= 0 && since < kRemindLaterSeconds;
}

qint64 Updater::now() const {
    return _clock ? _clock() : QDateTime::currentSecsSinceEpoch();
}

void Updater::scheduleNextCheck() {
    _automaticTimer.stop();
    if (_feedURL.isEmpty() || _interval <= 0 || !automaticallyChecksForUpdates())
        return;
    const qint64 current = now();
    const qint64 last = _defaults->integerForKey(lastCheckTimeKey());
    qint64 wait = last + _interval - current;
    // A last check "in the future" means the clock was set back: do not wait for it.
    if (last > current)
        wait = 0;
    wait = std::clamp<qint64>(wait, 0, kMaxTimerSeconds);
    _automaticTimer.start(std::chrono::seconds(wait));
}

void Updater::check(bool interactive) {
    if (_feedURL.isEmpty())
        return;
    if (_checking) {
        // The running check answers for this request too.
        _interactivePending = _interactivePending || interactive;
        return;
    }
    _automaticTimer.stop();
    _checking = true;
    _interactivePending = interactive;
    _defaults->setInteger(now(), lastCheckTimeKey());

    const QByteArray url = _feedURL.toUtf8();
    // A feed that anyone on the way could rewrite would let them point users at any page.
    if (!URLSession::isValidURL(url) || !Appcast::isAcceptableDownloadURL(QUrl(_feedURL))) {
        MainThread::perform([this, alive = std::weak_ptr<int>(_alive)] {
            if (alive.lock())
                finishCheck(std::nullopt, tr("The update feed address is not a secure (https) address."));
        });
        return;
    }
    auto body = std::make_shared<QByteArray>();
    auto tooLarge = std::make_shared<bool>(false);
    auto task = URLSession::shared().streamTask(
        URLRequest::get(url),
        [body, tooLarge](int, QByteArrayView chunk) {
            if (body->size() + chunk.size() > kMaxFeedBytes) {
                *tooLarge = true;
                return false;
            }
            body->append(chunk);
            return true;
        },
        [this, body, tooLarge, alive = std::weak_ptr<int>(_alive)](int status, const std::optional<DVError>& error) {
            QString problem;
            if (*tooLarge)
                problem = tr("The update feed is too large.");
            else if (error)
                problem = error->localizedDescription();
            else if (status != 200)
                problem = tr("The update server answered with status %1.").arg(status);
            std::optional<QByteArray> result;
            if (problem.isEmpty())
                result = std::move(*body);
            MainThread::perform([this, alive, result, problem] {
                if (alive.lock())
                    finishCheck(result, problem);
            });
        });
    task->resume();
}

void Updater::finishCheck(const std::optional<QByteArray>& body, const QString& error) {
    const bool interactive = _interactivePending;
    _checking = false;
    _interactivePending = false;
    scheduleNextCheck();
    if (!body) {
        if (interactive)
            emit checkFailed(error);
        return;
    }
    QString problem;
    const std::optional<QList<AppcastItem>> items = Appcast::parse(*body, QUrl(_feedURL), &problem);
    if (!items) {
        if (interactive)
            emit checkFailed(tr("The update feed could not be read: %1").arg(problem));
        return;
    }
    if (const std::optional<AppcastItem> newest = Appcast::newestItemNewerThan(*items, _currentVersion)) {
        if (interactive || !isSilenced(newest->version))
            emit updateFound(newest->version, newest->shortVersion, newest->link);
    } else if (interactive)
        emit noUpdateFound();
}
