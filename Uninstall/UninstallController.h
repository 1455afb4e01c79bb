#pragma once

#include "PrivilegedRunner.h"

#include <QObject>
#include <QString>

#include <memory>

// The uninstaller's logic behind its window. OK runs the uninstall command from the uninstaller's own
// bundle once with administrator rights, then once more as the user (for the user's own files, wherever
// the user's environment puts them) without waiting for it; an installation that is not the
// administrator's alone gets the run as the user only. Cancel does nothing. Either way the
// application then ends with status 0, reported through finished.
class UninstallController : public QObject {
    Q_OBJECT

public:
    UninstallController(QString bundlePath, std::unique_ptr<PrivilegedRunner> runner, QObject* parent = nullptr);
    ~UninstallController() override;

    // The command's path: the bundle's path followed directly by "/Contents/MacOS/wipe_tool".
    QString toolPath() const { return _bundlePath + QStringLiteral("/Contents/MacOS/wipe_tool"); }
    bool isRunning() const { return _running; }

    void okButton();
    // Ignored once OK has started the command: ending now would end the privileged run half-way.
    void cancelButton();
    void runUninstallUtility();

signals:
    void finished(int status);

private:
    void privilegedRunFinished(int status);
    void startAsUser();

    QString _bundlePath;
    std::unique_ptr<PrivilegedRunner> _runner;
    bool _running = false;
    // The command's file, held open from before the privileged run: that run removes the bundle, and the
    // run as the user starts from this open file.
    int _toolFile = -1;
};
