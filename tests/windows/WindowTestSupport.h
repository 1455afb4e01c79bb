#pragma once

#include "DVAccountInfoOperation.h"
#include "DVFetchWebServicesDelegate.h"
#include "DVFolderChooser.h"
#include "DVWindowDelegates.h"

#include <QAbstractButton>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <QtTest>

#include <deque>

// Stands in for the application controller: records every report a window sends, in order.
class RecordingDelegate : public QObject,
                          public DVSetupCompleteDelegate,
                          public DVAuthenticationCompleteDelegate,
                          public PreferencesDelegate,
                          public DVLaunchAtLoginDelegate,
                          public DVMenuBarIconsDelegate,
                          public DVDropboxMissingDelegate,
                          public DVUpdaterProvider,
                          public DVAutomaticUpdateChecks,
                          public ServicesAccountInfoCompleteDelegate {
    Q_OBJECT

public:
    QStringList events;
    // What a report may read from the settings at the moment it arrives.
    std::function<QString()> snapshot = [] { return QString(); };
    bool automaticChecks = false;
    // A report, with what the settings held when it arrived.
    void note(const char* report) { events << QLatin1String(report) + ' ' + snapshot(); }

    void setupComplete(DVSetupWindowController*) override { events << QStringLiteral("setupComplete"); }
    void authenticationComplete(AuthenticationController*) override { note("authenticationComplete"); }
    void dropboxFolderChanged(const QString& oldPath, const QString& newPath) override {
        events << QStringLiteral("folderChanged %1 -> %2 (%3)").arg(oldPath, newPath, snapshot());
    }
    void addToLaunchAtLogin(QObject*) override { note("addToLaunchAtLogin"); }
    void removeFromLaunchAtLogin(QObject*) override { note("removeFromLaunchAtLogin"); }
    void useBlackAndWhiteMenuBarIcons(QObject*) override { note("useBlackAndWhiteMenuBarIcons"); }
    void dropboxFolderMoved(const QString& newPath) override { events << QStringLiteral("moved ") + newPath; }
    void dropboxFolderSelected(const QString& path) override { events << QStringLiteral("selected ") + path; }
    void dropboxFolderRemind() override { events << QStringLiteral("remind"); }
    DVAutomaticUpdateChecks* sparkleUpdater() override { return this; }
    bool automaticallyChecksForUpdates() const override { return automaticChecks; }
    void setAutomaticallyChecksForUpdates(bool on) override {
        automaticChecks = on;
        events << QStringLiteral("automaticChecks %1").arg(on);
    }
    void accountInfoComplete(const std::shared_ptr<DVAccountInfoOperation>& operation) override {
        const auto account = operation->accountInfo();
        events << QStringLiteral("accountInfo %1")
                      .arg(account ? account->value(QStringLiteral("email")).toString() : QStringLiteral("none"));
    }
};

// Answers folder questions from a script, at once, and records how each was asked.
class ScriptedChooser : public DVFolderChooser {
public:
    std::deque<std::optional<QString>> answers;
    QStringList titles;
    QList<QWidget*> sheetsOn;

    void chooseFolder(const QString& title, QWidget* sheetOn, Completion completion) override {
        titles << title;
        sheetsOn << sheetOn;
        QVERIFY(!answers.empty());
        const std::optional<QString> answer = answers.front();
        answers.pop_front();
        completion(answer);
    }
};

// Runs the application's event loop until something quits it or the bound passes. Returns the time to the
// quit in milliseconds, or -1 when nothing quit.
inline qint64 millisecondsUntilQuit(int boundMilliseconds) {
    QElapsedTimer clock;
    clock.start();
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    bound.start(boundMilliseconds);
    const int status = QCoreApplication::exec();
    return status == 0 ? clock.elapsed() : -1;
}

// The window-modal message box open on a window, if any.
inline QMessageBox* sheetOn(QWidget* window) {
    for (QMessageBox* box : window->findChildren<QMessageBox*>())
        if (box->isVisible())
            return box;
    return nullptr;
}

// An alert the user can neither resize nor maximise.
inline bool hasFixedSize(const QWidget* alert) {
    return alert->minimumSize() == alert->maximumSize() && !(alert->windowFlags() & Qt::WindowMaximizeButtonHint);
}

inline QAbstractButton* buttonTitled(QMessageBox* box, const QString& title) {
    for (QAbstractButton* button : box->buttons())
        if (button->text() == title)
            return button;
    return nullptr;
}
