#include "DVDocumentWriter.h"
#include "DVServiceProtocol.h"
#include "DVSetErrorOperation.h"
#include "TestHome.h"

#include <QtTest>

class TestServiceProtocol : public QObject {
    Q_OBJECT

private slots:
    void forms_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("account info, escaped as a whole")
            << DVServiceProtocol::accountInfoURL("http://h:1", "a b%#\u00e9[]\"")
            << "http://h:1/dvapi/dvapi?op=accountinfo&json=true&ticket=a%20b%25%23%C3%A9%5B%5D%22";
        QTest::newRow("account info keeps the query set")
            << DVServiceProtocol::accountInfoURL("h", "!$&'()*+,;=:@/?-._~")
            << "h/dvapi/dvapi?op=accountinfo&json=true&ticket=!$&'()*+,;=:@/?-._~";
        QTest::newRow("other tickets go in unchanged")
            << DVServiceProtocol::downloadURL("h", "a b%") << "h/dvapi/dvapi?op=download&ticket=a b%";
        QTest::newRow("set error, absent base")
            << DVServiceProtocol::setErrorURL("(null)") << "(null)/dvapi/dvapi?op=dstseterror&error=unkn";
        QTest::newRow("auth keeps colons inside the pair")
            << DVServiceProtocol::authValue("a:b", "c:d") << QString(QByteArray("a:b:c:d").toBase64());
        QTest::newRow("auth of UTF-8, absent password") << DVServiceProtocol::authValue("j\u00fcrg", QString())
                                                        << QString(QByteArray("j\xc3\xbcrg:(null)").toBase64());
    }

    void forms() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
    }

    // Reason and description of the failure ("-" for an absent one); "no error" when none is recorded.
    void failureRecognition_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("expected");
        const QString p = "com.docuvane.common.exception";
        QTest::newRow("one colon") << p + ".TicketExpiredException:Ticket expired"
                                   << p + ".TicketExpiredException|Ticket expired";
        QTest::newRow("two colons") << p + ".UnexpectedException:Could not:retreive"
                                    << p + ".UnexpectedException|Could not";
        QTest::newRow("no colon") << p + ".NotDesktopException"
                                  << "-|-";
        QTest::newRow("prefix mid-text") << "<p>oops " + p + ".X:boom</p>"
                                         << "<p>oops " + p + ".X|boom</p>";
        QTest::newRow("trailing colon") << p + ".X:" << p + ".X|";
        QTest::newRow("no text (invalid UTF-8)") << QString() << "-|-";
        QTest::newRow("ordinary reply") << "ticket:with:colons"
                                        << "no error";
        QTest::newRow("other case") << "COM.DOCUVANE.COMMON.EXCEPTION.X:y"
                                    << "no error";
        QTest::newRow("empty text of a lost reply") << ""
                                                    << "no error";
    }

    void failureRecognition() {
        QFETCH(QString, reply);
        QFETCH(QString, expected);
        auto operation = std::make_shared<DVSetErrorOperation>(nullptr);
        operation->checkReplyForError(reply);
        const auto error = operation->error();
        QCOMPARE(error ? error->failureReason().value_or("-") + "|" + error->description().value_or("-") : "no error",
                 expected);
        QVERIFY(!error || (error->domain() == "DocuvaneFetch" && error->code() == 1));
    }

    // Text of a body ("<null>" when it is not UTF-8) and the login ticket in it ("<none>").
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
        QCOMPARE(decoded.isNull() ? "<null>" : decoded, text);
        QCOMPARE(DVServiceProtocol::ticketFromLoginReply(body).value_or("<none>"), ticket);
        QVERIFY(!DVServiceProtocol::replyText(std::nullopt).isNull()); // a lost reply is the empty text
    }

    void documentIds_data() {
        QTest::addColumn<QVariant>("id");
        QTest::addColumn<QString>("text");
        QTest::newRow("integer") << QVariant(qlonglong(9007199254740993LL)) << "9007199254740993";
        QTest::newRow("whole double") << QVariant(42.0) << "42";
        QTest::newRow("fraction") << QVariant(4.25) << "4.25";
        QTest::newRow("numeric text") << QVariant("42") << "<none>";
        QTest::newRow("boolean") << QVariant(true) << "<none>";
    }

    void documentIds() {
        QFETCH(QVariant, id);
        QFETCH(QString, text);
        QCOMPARE(DVServiceProtocol::documentIdText(id).value_or("<none>"), text);
    }

    void documentPlaces_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("safe");
        QTest::newRow("nested, dots inside names") << "In/v1..2/./x"
                                                   << "..a.pdf" << true;
        QTest::newRow("fetch folder itself") << ""
                                             << "a.pdf" << true;
        QTest::newRow("absolute path") << "/etc"
                                       << "a.pdf" << false;
        QTest::newRow("just dot-dot") << ".."
                                      << "a.pdf" << false;
        QTest::newRow("NUL in path") << QString::fromLatin1("a\0b", 3) << "a.pdf" << false;
        QTest::newRow("empty name") << "a"
                                    << "" << false;
        QTest::newRow("dot name") << "a"
                                  << "." << false;
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

    void numberedNames() {
        QCOMPARE(DVDocumentWriter::numberedName("Invoice.pdf", 1), "Invoice.pdf");
        QCOMPARE(DVDocumentWriter::numberedName("data.tar.gz", 2), "data.tar (2).gz");
        QCOMPARE(DVDocumentWriter::numberedName("README", 3), "README (3)");
        QCOMPARE(DVDocumentWriter::numberedName(".profile", 2), ".profile (2)");
    }
};

DV_TEST_GUILESS_MAIN(TestServiceProtocol)
#include "tst_serviceprotocol.moc"
