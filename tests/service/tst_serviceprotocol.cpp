#include "DVDocumentWriter.h"
#include "DVServiceProtocol.h"
#include "DVSetErrorOperation.h"
#include "TestHome.h"

#include <QtTest>

using OptionalText = std::optional<QString>;

class TestServiceProtocol : public QObject {
    Q_OBJECT

private slots:
    void urlForms_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("expected");
        const QString b = QStringLiteral("http://h:8080");
        QTest::newRow("login") << DVServiceProtocol::loginURL(b, "dTpw")
                               << "http://h:8080/dvapi/dvapi?op=userlogin&auth=dTpw";
        QTest::newRow("account info, escaped as a whole")
            << DVServiceProtocol::accountInfoURL(b, "a b%#\u00e9[]")
            << "http://h:8080/dvapi/dvapi?op=accountinfo&json=true&ticket=a%20b%25%23%C3%A9%5B%5D";
        QTest::newRow("account info keeps the query set")
            << DVServiceProtocol::accountInfoURL(b, "!$&'()*+,;=:@/?-._~")
            << "http://h:8080/dvapi/dvapi?op=accountinfo&json=true&ticket=!$&'()*+,;=:@/?-._~";
        QTest::newRow("documents, ticket unescaped")
            << DVServiceProtocol::documentsToTransferURL(b, "a b%")
            << "http://h:8080/dvapi/dvapi?op=docstotransfer&json=true&ticket=a b%";
        QTest::newRow("download") << DVServiceProtocol::downloadURL(b, "T")
                                  << "http://h:8080/dvapi/dvapi?op=download&ticket=T";
        QTest::newRow("transferred") << DVServiceProtocol::documentTransferredURL(b, "T")
                                     << "http://h:8080/dvapi/dvapi?op=docstransferred&json=true&ticket=T";
        QTest::newRow("logout") << DVServiceProtocol::logoutURL(b, "(null)")
                                << "http://h:8080/dvapi/dvapi?op=userlogout&ticket=(null)";
        QTest::newRow("set error, no ticket")
            << DVServiceProtocol::setErrorURL("(null)") << "(null)/dvapi/dvapi?op=dstseterror&error=unkn";
        QTest::newRow("body") << DVServiceProtocol::documentRequestBody("42")
                              << "flexdownloaddata=<request><ids><id>42</id></ids></request>";
        QTest::newRow("auth keeps colons inside the pair")
            << DVServiceProtocol::authValue("a:b", "c:d") << QString::fromLatin1(QByteArray("a:b:c:d").toBase64());
        QTest::newRow("auth of UTF-8, absent password")
            << DVServiceProtocol::authValue("j\u00fcrg", QString())
            << QString::fromLatin1(QByteArray("j\xc3\xbcrg:(null)").toBase64());
    }

    void urlForms() {
        QFETCH(QString, url);
        QFETCH(QString, expected);
        QCOMPARE(url, expected);
    }

    // Reason and description as the service's failure text gives them; "-" for an absent one.
    void failureRecognition_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("description");
        const QString p = QStringLiteral("com.docuvane.common.exception");
        QTest::newRow("one colon") << p + ".TicketExpiredException:Ticket expired" << true
                                   << p + ".TicketExpiredException"
                                   << "Ticket expired";
        QTest::newRow("two colons: the third part is dropped")
            << p + ".UnexpectedException:Could not:retreive" << true << p + ".UnexpectedException"
            << "Could not";
        QTest::newRow("no colon") << p + ".NotDesktopException" << true << "-"
                                  << "-";
        QTest::newRow("prefix mid-text") << "<p>oops " + p + ".X:boom</p>" << true << "<p>oops " + p + ".X"
                                         << "boom</p>";
        QTest::newRow("trailing colon: empty message") << p + ".X:" << true << p + ".X"
                                                       << "";
        QTest::newRow("no text at all (invalid UTF-8)") << QString() << true << "-"
                                                        << "-";
        QTest::newRow("ordinary reply") << "ticket:with:colons" << false << ""
                                        << "";
        QTest::newRow("prefix differs in case") << "COM.DOCUVANE.COMMON.EXCEPTION.X:y" << false << ""
                                                << "";
        QTest::newRow("empty text of a lost reply") << "" << false << ""
                                                    << "";
    }

    void failureRecognition() {
        QFETCH(QString, reply);
        QFETCH(bool, failed);
        QFETCH(QString, reason);
        QFETCH(QString, description);
        auto operation = std::make_shared<DVSetErrorOperation>(nullptr);
        operation->checkReplyForError(reply);
        QCOMPARE(operation->error().has_value(), failed);
        if (!failed)
            return;
        QCOMPARE(operation->error()->domain(), QStringLiteral("DocuvaneFetch"));
        QCOMPARE(operation->error()->code(), qint64(1));
        QCOMPARE(operation->error()->failureReason().value_or("-"), reason);
        QCOMPARE(operation->error()->description().value_or("-"), description);
    }

    // Text of a body: "<null>" when it is not UTF-8; the login ticket: "<none>" when there is none.
    void replyTextAndTicket_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("ticket");
        QTest::newRow("ticket and three bytes") << QByteArray("abc123\r\n\n") << "abc123\r\n\n"
                                                << "abc123";
        QTest::newRow("exactly three bytes") << QByteArray("xyz") << "xyz"
                                             << "";
        QTest::newRow("shorter than three") << QByteArray("ab") << "ab"
                                            << "<none>";
        QTest::newRow("empty") << QByteArray("") << ""
                               << "<none>";
        QTest::newRow("cut inside a character") << QByteArray("abc\xc3\xa9\n\n") << "abc\u00e9\n\n"
                                                << "<none>";
        QTest::newRow("invalid byte") << QByteArray("tick\xff\n\n\n") << "<null>"
                                      << "<none>";
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf...") << "<null>"
                                        << "<none>";
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80...") << "<null>"
                                           << "<none>";
        QTest::newRow("NUL is text") << QByteArray("a\0b...", 6) << QString::fromLatin1("a\0b...", 6)
                                     << QString::fromLatin1("a\0b", 3);
    }

    void replyTextAndTicket() {
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        QFETCH(QString, ticket);
        const QString decoded = DVServiceProtocol::replyText(body);
        QCOMPARE(decoded.isNull() ? QStringLiteral("<null>") : decoded, text);
        QCOMPARE(DVServiceProtocol::ticketFromLoginReply(body).value_or("<none>"), ticket);
        QVERIFY(!DVServiceProtocol::replyText(std::nullopt).isNull());
        QVERIFY(DVServiceProtocol::replyText(std::nullopt).isEmpty());
    }

    void documentRecords_data() {
        QTest::addColumn<QVariant>("id");
        QTest::addColumn<QString>("idText");
        QTest::newRow("integer") << QVariant(qlonglong(42)) << "42";
        QTest::newRow("large integer") << QVariant(qlonglong(9007199254740993LL)) << "9007199254740993";
        QTest::newRow("whole double") << QVariant(42.0) << "42";
        QTest::newRow("fraction") << QVariant(4.25) << "4.25";
        QTest::newRow("numeric text is not a number") << QVariant("42") << "<none>";
        QTest::newRow("boolean") << QVariant(true) << "<none>";
        QTest::newRow("absent") << QVariant() << "<none>";
    }

    void documentRecords() {
        QFETCH(QVariant, id);
        QFETCH(QString, idText);
        QCOMPARE(DVServiceProtocol::documentIdText(id).value_or("<none>"), idText);
    }

    void documentPlaces_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("safe");
        QTest::newRow("nested") << "Invoices/2024"
                                << "a.pdf" << true;
        QTest::newRow("fetch folder itself") << ""
                                             << "a.pdf" << true;
        QTest::newRow("dots inside names") << "v1..2/./x"
                                           << "..a.pdf" << true;
        QTest::newRow("absolute path") << "/etc"
                                       << "a.pdf" << false;
        QTest::newRow("climbing path") << "a/../../x"
                                       << "a.pdf" << false;
        QTest::newRow("just dot-dot") << ".."
                                      << "a.pdf" << false;
        QTest::newRow("NUL in path") << QString::fromLatin1("a\0b", 3) << "a.pdf" << false;
        QTest::newRow("empty name") << "a"
                                    << "" << false;
        QTest::newRow("dot name") << "a"
                                  << "." << false;
        QTest::newRow("dot-dot name") << "a"
                                      << ".." << false;
        QTest::newRow("slash in name") << "a"
                                       << "b/c.pdf" << false;
        QTest::newRow("NUL in name") << "a" << QString::fromLatin1("c\0.pdf", 6) << false;
    }

    void documentPlaces() {
        QFETCH(QString, path);
        QFETCH(QString, fileName);
        QFETCH(bool, safe);
        QCOMPARE(DVServiceProtocol::isSafeDocumentPath(path) && DVServiceProtocol::isSafeDocumentFileName(fileName),
                 safe);
    }

    void numberedNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("second");
        QTest::newRow("extension") << "Invoice.pdf"
                                   << "Invoice (2).pdf";
        QTest::newRow("two extensions") << "data.tar.gz"
                                        << "data.tar (2).gz";
        QTest::newRow("no extension") << "README"
                                      << "README (2)";
        QTest::newRow("hidden file") << ".profile"
                                     << ".profile (2)";
    }

    void numberedNames() {
        QFETCH(QString, name);
        QFETCH(QString, second);
        QCOMPARE(DVDocumentWriter::numberedName(name, 1), name);
        QCOMPARE(DVDocumentWriter::numberedName(name, 2), second);
    }
};

DV_TEST_GUILESS_MAIN(TestServiceProtocol)
#include "tst_serviceprotocol.moc"
