#pragma once

#include "DevReply.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

class DevDocumentStore;
class DevServerOptions;
class DevSessionTable;

// The seven operations of the service's one endpoint, each answered in the form the client expects; a
// refusal is a failure text, "<exception class>:<message>", with HTTP status 200 like any other reply.
class DevOperations {
public:
    using Query = QList<QPair<QByteArray, QByteArray>>;

    DevOperations(const DevServerOptions& options, DevDocumentStore& store, DevSessionTable& sessions);

    DevReply perform(const QByteArray& method, const Query& query, const QByteArray& body);

    // The method each operation is sent with.
    static QByteArray methodOf(const QString& operation);

private:
    DevReply userlogin(const Query& query);
    DevReply accountinfo();
    DevReply docstotransfer();
    DevReply download(const QByteArray& body);
    DevReply docstransferred(const QByteArray& body);
    DevReply userlogout(const Query& query);
    DevReply dstseterror(const Query& query);

    // The failure reply for a ticket that is not valid; none for a valid one.
    std::optional<DevReply> refuseTicket(const Query& query) const;

    const DevServerOptions& _options;
    DevDocumentStore& _store;
    DevSessionTable& _sessions;
};
