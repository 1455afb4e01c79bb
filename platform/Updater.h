#pragma once

#include "Appcast.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>

class UserDefaults;

// Looks for newer versions of the client in the update feed named by the bundle's "SUFeedURL". A found
// release is only announced (updateFound); opening its download page is the most it does, since the
// package manager installs updates. Without a feed URL every call does nothing. Lives on the main thread.
//
// Background checks report only a found update; an interactive check (checkForUpdates) also reports
// "nothing newer" and failures. Automatic checks run at most once per interval while the setting
// "SUEnableAutomaticChecks" is on; the time of the last check is kept under "SULastCheckTime".
// A background check keeps quiet about a version the user skipped, and for a day about one the user
// postponed; both answers are kept in the settings, so they hold across launches.
class Updater : public QObject {
    Q_OBJECT

public:
    // The main bundle's feed and version, the standard settings.
    explicit Updater(QObject* parent = nullptr);
    // An explicit feed (empty: none), running version and settings store (tests).
    Updater(const QString& feedURL, const QString& currentVersion, UserDefaults* defaults, QObject* parent = nullptr);
    ~Updater() override;

    QString feedURL() const { return _feedURL; }
    QString currentVersion() const { return _currentVersion; }

    // Sets the interval of automatic checks (seconds) and (re)schedules the next one from the last
    // check's time: at once when it is overdue.
    void setUpdateCheckInterval(int seconds);
    int updateCheckInterval() const { return _interval; }
    // Seconds until the next automatic check, or -1 when none is scheduled.
    qint64 secondsUntilNextCheck() const;

    void checkForUpdatesInBackground();
    void checkForUpdates();
    bool isChecking() const { return _checking; }

    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool on);

    // Opens a found release's download page when Appcast::isAcceptableDownloadURL allows it.
    bool openDownloadPage(const QUrl& link) const;

    // The user's answers to a found version: never announce it again in the background, or not for
    // kRemindLaterSeconds. An interactive check announces it all the same.
    void skipVersion(const QString& version);
    void remindLater(const QString& version);
    static constexpr qint64 kRemindLaterSeconds = 24 * 3600;

    // Seconds since the epoch; tests give a fixed one.
    using Clock = std::function<qint64()>;
    void setClock(Clock clock) { _clock = std::move(clock); }

    static QString enableAutomaticChecksKey() { return QStringLiteral("SUEnableAutomaticChecks"); }
    static QString lastCheckTimeKey() { return QStringLiteral("SULastCheckTime"); }
    static QString skippedVersionKey() { return QStringLiteral("SUSkippedVersion"); }
    static QString remindLaterVersionKey() { return QStringLiteral("SURemindLaterVersion"); }
    static QString remindLaterTimeKey() { return QStringLiteral("SURemindLaterTime"); }

signals:
    void updateFound(const QString& version, const QString& shortVersion, const QUrl& link);
    // Interactive checks only.
    void noUpdateFound();
    void checkFailed(const QString& message);

private:
    void check(bool interactive);
    void finishCheck(const std::optional<QByteArray>& body, const QString& error);
    void scheduleNextCheck();
    bool isSilenced(const QString& version) const;
    qint64 now() const;

    QString _feedURL;
    QString _currentVersion;
    UserDefaults* _defaults;
    int _interval = 0;
    bool _checking = false;
    bool _interactivePending = false;
    QTimer _automaticTimer;
    Clock _clock;
    std::shared_ptr<int> _alive = std::make_shared<int>(0);
};
