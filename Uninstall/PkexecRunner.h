#pragma once

#include "PrivilegedRunner.h"

#include <QObject>
#include <QProcess>

// Runs a program as root through polkit's pkexec, which asks for an administrator's password once.
// pkexec hands its own status back for a request that was dismissed (126) or refused (127), and the
// program's status otherwise. pkexec is run by its full path, never looked up in the user's PATH.
class PkexecRunner : public QObject, public PrivilegedRunner {
    Q_OBJECT

public:
    explicit PkexecRunner(QString pkexec = QStringLiteral("/usr/bin/pkexec"), QObject* parent = nullptr);

    bool mayRun(const QString& program) const override;
    void run(const QString& program, std::function<void(int status)> done) override;

private:
    void finish(int status);

    QString _pkexec;
    QProcess _process;
    std::function<void(int)> _done;
};
