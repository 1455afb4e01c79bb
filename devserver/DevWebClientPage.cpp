#include "DevWebClientPage.h"

#include "DevDocumentStore.h"
#include "DevProtocol.h"

namespace {

QByteArray page(const QString& body) {
    return QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Docuvane</title></head>\n"
                          "<body>\n<h1>Docuvane</h1>\n%1</body></html>\n")
        .arg(body)
        .toUtf8();
}

} // namespace

QByteArray DevWebClientPage::documents(const QString& user, const QList<DevDocument>& documents) {
    QString rows;
    for (const DevDocument& document : documents) {
        rows += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>\n")
                    .arg(document.id)
                    .arg(DevProtocol::htmlEscaped(document.path), DevProtocol::htmlEscaped(document.filename),
                         document.transferred ? QStringLiteral("transferred") : QStringLiteral("waiting"));
    }
    return page(
        QStringLiteral("<p id=\"account\">Signed in as %1</p>\n"
                       "<table id=\"documents\">\n<tr><th>Id</th><th>Folder</th><th>Name</th><th>State</th></tr>\n"
                       "%2</table>\n")
            .arg(DevProtocol::htmlEscaped(user), rows));
}

QByteArray DevWebClientPage::signIn(const QString& reason) {
    return page(QStringLiteral("<p id=\"sign-in\">Please sign in to see your documents. %1</p>\n")
                    .arg(DevProtocol::htmlEscaped(reason)));
}
