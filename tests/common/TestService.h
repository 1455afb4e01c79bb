#pragma once

#include "DevFaultInjector.h"
#include "DevServerInstance.h"
#include "TestFiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QUrlQuery>

// The development service in this process for one test: it serves the "documents" folder of the test's work
// folder to one account and logs every request there, so a test can say what the client asked for.
class TestService : public DevServerInstance {
public:
    TestService(const QString& work, const QString& user, const QString& password, qint64 destinationId = 2)
        : DevServerInstance(optionsFor(work, user, password, destinationId)) {}

    [[nodiscard]] bool started() {
        QString problem;
        if (start(&problem) == Failure::None)
            return true;
        qWarning("the development service did not start: %s", qPrintable(problem));
        return false;
    }

    // Documents waiting for the account, each holding its own name and " content".
    [[nodiscard]] bool addDocuments(const QStringList& names) const {
        for (const QString& name : names)
            if (!writeFile(options().documentsFolder + QLatin1Char('/') + name, name.toUtf8() + " content"))
                return false;
        return true;
    }

    [[nodiscard]] bool addFault(const QByteArray& json) {
        QString problem;
        if (faults().add(json, &problem))
            return true;
        qWarning("the fault was refused: %s", qPrintable(problem));
        return false;
    }

    // The operations asked for, in order; with the ticket after a space where the request carried one.
    QStringList requests(bool withTickets = false) const {
        QStringList lines;
        for (const QByteArray& line : readFile(options().requestLogPath).split('\n')) {
            if (line.isEmpty())
                continue;
            const QUrlQuery query(QUrl(QJsonDocument::fromJson(line).object().value("path").toString()).query());
            QString entry = query.queryItemValue(QStringLiteral("op"));
            if (withTickets && query.hasQueryItem(QStringLiteral("ticket")))
                entry += QLatin1Char(' ') + query.queryItemValue(QStringLiteral("ticket"));
            lines.append(entry);
        }
        return lines;
    }

private:
    static DevServerOptions optionsFor(const QString& work, const QString& user, const QString& password,
                                       qint64 destinationId) {
        DevServerOptions options;
        options.documentsFolder = work + QStringLiteral("/documents");
        QDir().mkpath(options.documentsFolder);
        options.user = user;
        options.password = password;
        options.destinationId = destinationId;
        options.requestLogPath = work + QStringLiteral("/requests.jsonl");
        options.statePath = work + QStringLiteral("/state.json");
        return options;
    }
};
