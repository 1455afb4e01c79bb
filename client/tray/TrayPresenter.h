#pragma once

#include "ClientState.h"
#include "DVStatusItem.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class Appearance;
class DVFetchWebServices;
class FetchScheduler;
class QAction;

// What the tray shows of the scheduler: the status menu's titles, enabled entries and extra rows, the
// icon, and the alerts that explain a state. Follows the scheduler's signals; asks for everything else
// (the account lookup, the windows) through its own. Posts the coordinators' notifications and opens the
// website they ask for.
class TrayPresenter : public QObject {
    Q_OBJECT

public:
    // A modal alert with one button; tests record it instead of showing it.
    using AlertPresenter =
        std::function<void(const QString& messageText, const QString& informativeText, const QString& button)>;

    // appearance: the desktop's, or none (the theme name tells then); it outlives the presenter.
    TrayPresenter(FetchScheduler& scheduler, const Appearance* appearance, int traySettleMs, QObject* parent = nullptr);
    ~TrayPresenter() override;

    DVStatusItem* statusItem() const { return _statusItem.get(); }
    void setAlertPresenter(AlertPresenter presenter) { _alertPresenter = std::move(presenter); }
    // The local time a check is stamped with; tests give a fixed one.
    void setClock(std::function<QDateTime()> clock) { _clock = std::move(clock); }
    // Without an update feed "Check for Updates…" could only do nothing, so it is disabled.
    void setUpdateChecksAvailable(bool available);

    // The progress rows (a separator and the progress line) under the fixed entries.
    void showProgressRows();
    void showProgressText(const QString& text);
    // "Download Complete", the indicator stopped: the end of a cycle.
    void showDownloadComplete();
    // The destination row, "Getting Account Info...", its indicator turning.
    void showDestinationRow();
    void removeDestinationRow();
    // Removes the progress rows; a no-op when they are not shown.
    void clearRows();

    // The status title, then the enable rules and the icon.
    void applyState(ClientState state);
    void applyEnableRules();
    void chooseIcon();
    // The icon's tooltip: the product, the state in words, the last completed check and its result.
    void updateToolTip();

    // The status menu is opening: the progress rows while a cycle runs, else one account lookup (when the
    // folder is usable) behind the destination row.
    void menuWillOpen();
    // The status entry: an alert for states 2, 3 and 5; the missing-folder warning for 4.
    void explainState();

    // Presents what the coordinator reports, until it stops; it may be destroyed before the presenter.
    void follow(DVFetchWebServices& services);

signals:
    void accountLookupRequested();
    void preferencesRequested();
    void folderWarningRequested();
    void entryTriggered(DVStatusItem::Entry entry);

private:
    bool isEnabled(QAction* entry) const;
    void insertBefore(QAction* next, QAction* row);
    void showAlert(const QString& messageText, const QString& informativeText, const QString& button);
    void followChecking();
    void recordCheck(bool listed);

    FetchScheduler& _scheduler;
    const Appearance* _appearance;
    std::unique_ptr<DVStatusItem> _statusItem;
    QAction* _progressSeparator = nullptr; // owned by the status menu
    AlertPresenter _alertPresenter;
    std::function<QDateTime()> _clock = [] { return QDateTime::currentDateTime(); };
    bool _updateChecksAvailable = true;
    // The check under way: counted from the coordinators' reports until the scheduler says it ended.
    bool _checkRunning = false;
    int _downloaded = 0;
    int _notDownloaded = 0;
    QString _lastCheck;
};
