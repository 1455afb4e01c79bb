#include "DVDocumentWriter.h"
#include "DVServiceProtocol.h"
#include "DVSetErrorOperation.h"
#include "TestMain.h"
#include "TestRows.h"

#include <QtTest>

class TestServiceProtocol : public QObject {
    Q_OBJECT

private slots:
    // Texts the service sees or the user finds on disk, computed from their parts.
    void texts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        using P = DVServiceProtocol;
        // A ticket is one query value wherever it goes: it can neither end it nor add a parameter.
        const QString odd = "a b%#\u00e9[]\"!$&'()*+,;=:@/?-._~";
        const QString oddEncoded = "a%20b%25%23%C3%A9%5B%5D%22!$%26'()*%2B,%3B%3D:@/?-._~";
        row("account info: the rest escaped as a whole", P::accountInfoURL("http://h:1/x y", odd),
            "http://h:1/x%20y/dvapi/dvapi?op=accountinfo&json=true&ticket=" + oddEncoded);
        row("list: ticket escaped", P::documentsToTransferURL("h", odd),
            "h/dvapi/dvapi?op=docstotransfer&json=true&ticket=" + oddEncoded);
        row("download: ticket escaped", P::downloadURL("h", "a b%"), "h/dvapi/dvapi?op=download&ticket=a%20b%25");
        row("transferred: ticket escaped", P::documentTransferredURL("h", "x&op=userlogout"),
            "h/dvapi/dvapi?op=docstransferred&json=true&ticket=x%26op%3Duserlogout");
        row("logout: ticket escaped", P::logoutURL("h", "+/="), "h/dvapi/dvapi?op=userlogout&ticket=%2B/%3D");
        row("letters and digits as they are", P::downloadURL("h", "AbC019xyz"),
            "h/dvapi/dvapi?op=download&ticket=AbC019xyz");
        row("absent ticket as it is", P::downloadURL("h", "(null)"), "h/dvapi/dvapi?op=download&ticket=(null)");
        row("set error, absent base", P::setErrorURL("(null)"), "(null)/dvapi/dvapi?op=dstseterror&error=unkn");
        row("auth of colons and UTF-8, absent password", P::authValue("j:\u00fc", QString()),
            QString(QByteArray("j:\xc3\xbc:(null)").toBase64()));
        row("id: integer beyond a double", P::documentIdText(qlonglong(9007199254740993LL)).value_or("-"),
            "9007199254740993");
        row("id: whole double", P::documentIdText(42.0).value_or("-"), "42");
        row("id: fraction", P::documentIdText(4.25).value_or("-"), "4.25");
        row("id: numeric text", P::documentIdText("42").value_or("-"), "-");
        row("id: boolean", P::documentIdText(true).value_or("-"), "-");
        row("numbered: last extension", DVDocumentWriter::numberedName("data.tar.gz", 2), "data.tar (2).gz");
        row("numbered: no extension", DVDocumentWriter::numberedName("README", 3), "README (3)");
        row("numbered: leading dot", DVDocumentWriter::numberedName(".profile", 2), ".profile (2)");
    }

    void texts() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
    }

    // Reason and description of the failure ("-" for an absent one); "no error" when none is recorded.
    void failureRecognition_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("expected");
        const QString p = "com.docuvane.common.exception";
        row("one colon", p + ".TicketExpiredException:Ticket expired", p + ".TicketExpiredException|Ticket expired");
        row("two colons", p + ".UnexpectedException:Could not:retreive", p + ".UnexpectedException|Could not");
        row("no colon", p + ".NotDesktopException", "-|-");
        row("prefix mid-text", "<p>oops " + p + ".X:boom</p>", "<p>oops " + p + ".X|boom</p>");
        row("trailing colon", p + ".X:", p + ".X|");
        row("no text (invalid UTF-8)", QString(), "-|-");
        row("ordinary reply with colons", "ticket:with:colons", "no error");
        row("other case", "COM.DOCUVANE.COMMON.EXCEPTION.X:y", "no error");
        row("empty text of a lost reply", "", "no error");
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
        row("ticket and three bytes", QByteArray("abc123\r\n\n"), "abc123\r\n\n", "abc123");
        row("exactly three bytes", QByteArray("xyz"), "xyz", "<none>");
        row("longest ticket", QByteArray(512, 'k') + "\r\n\n", QString(512, 'k') + "\r\n\n", QString(512, 'k'));
        row("longer than a ticket", QByteArray(513, 'k') + "\r\n\n", QString(513, 'k') + "\r\n\n", "<none>");
        row("blank", QByteArray("ab cd\r\n\n"), "ab cd\r\n\n", "<none>");
        row("line break", QByteArray("ab\ncd..."), "ab\ncd...", "<none>");
        row("no-break space", QByteArray("ab\xc2\xa0") + "cd...", "ab\u00a0cd...", "<none>");
        row("zero-width joiner", QByteArray("ab\xe2\x80\x8d") + "cd...", "ab\u200dcd...", "<none>");
        row("C1 control", QByteArray("ab\xc2\x85") + "cd...", "ab\u0085cd...", "<none>");
        row("markup", QByteArray("<p>x</p>..."), "<p>x</p>...", "<none>");
        row("non-ASCII letter", QByteArray("\xc3\xa9t\xc3\xa9..."), "\u00e9t\u00e9...", "\u00e9t\u00e9");
        row("shorter than three", QByteArray("ab"), "ab", "<none>");
        row("cut inside a character", QByteArray("abc\xc3\xa9\n\n"), "abc\u00e9\n\n", "<none>");
        row("invalid byte", QByteArray("tick\xff\n\n\n"), "<null>", "<none>");
        row("overlong slash", QByteArray("\xc0\xaf..."), "<null>", "<none>");
        row("NUL is text, not a ticket", QByteArray("a\0b...", 6), QString::fromLatin1("a\0b...", 6), "<none>");
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

    void documentPlaces_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("safe");
        row("nested, dots inside names", "In/v1..2/./x", "..a.pdf", true);
        row("fetch folder itself", "", "a.pdf", true);
        row("absolute path", "/etc", "a.pdf", false);
        row("just dot-dot", "..", "a.pdf", false);
        row("NUL in path", QString::fromLatin1("a\0b", 3), "a.pdf", false);
        row("empty name", "a", "", false);
        row("dot name", "a", ".", false);
        row("slash in name", "a", "b/c.pdf", false);
        row("NUL in name", "a", QString::fromLatin1("c\0.pdf", 6), false);
    }

    void documentPlaces() {
        QFETCH(QString, path);
        QFETCH(QString, fileName);
        QFETCH(bool, safe);
        QCOMPARE(DVServiceProtocol::isSafeDocumentPath(path) && DVServiceProtocol::isSafeDocumentFileName(fileName),
                 safe);
    }
};

DV_TEST_GUILESS_MAIN(TestServiceProtocol)
#include "tst_serviceprotocol.moc"
