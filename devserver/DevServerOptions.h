#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The command line of docuvane-devserver.
class DevServerOptions {
public:
    QString documentsFolder;
    QString user;
    QString password;
    int port = 0; // 0: any free port
    qint64 destinationId = 2;
    double ticketTtlSeconds = 0; // 0: tickets never expire
    QString requestLogPath;
    QString statePath;
    QString appcastVersion; // empty: no update feed
    bool helpRequested = false;

    // The arguments after the program name. On a bad command line: none, with the reason in problem.
    static std::optional<DevServerOptions> parse(const QStringList& arguments, QString* problem);

    static QString usage();
};
