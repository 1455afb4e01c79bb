#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

struct DevDocument;

// The web client's page: the account's documents for a signed-in visitor, a sign-in notice otherwise.
class DevWebClientPage {
public:
    static QByteArray documents(const QString& user, const QList<DevDocument>& documents);
    static QByteArray signIn(const QString& reason);
};
