#include "DVError.h"
#include "TestHome.h"

#include <QtTest>

#include <cerrno>

using OptionalText = std::optional<QString>;
Q_DECLARE_METATYPE(OptionalText)

class TestDVError : public QObject {
    Q_OBJECT

private slots:
    void fullDescription_data() {
        QTest::addColumn<OptionalText>("reason");
        QTest::addColumn<OptionalText>("description");
        QTest::addColumn<QString>("expected");
        const QString reason = QStringLiteral("com.docuvane.common.exception.TicketExpiredException");
        QTest::newRow("service failure")
            << OptionalText(reason) << OptionalText(QStringLiteral("Ticket expired"))
            << QStringLiteral("Error Domain=DocuvaneFetch Code=1 \"Ticket expired\" UserInfo={NSLocalizedFailureReason="
                              "com.docuvane.common.exception.TicketExpiredException, "
                              "NSLocalizedDescription=Ticket expired}");
        QTest::newRow("neither text") << OptionalText() << OptionalText()
                                      << QStringLiteral("Error Domain=DocuvaneFetch Code=1 \"(null)\"");
        QTest::newRow("reason only")
            << OptionalText(QStringLiteral("X")) << OptionalText()
            << QStringLiteral("Error Domain=DocuvaneFetch Code=1 \"(null)\" UserInfo={NSLocalizedFailureReason=X}");
        QTest::newRow("empty texts are kept")
            << OptionalText(QStringLiteral("")) << OptionalText(QStringLiteral(""))
            << QStringLiteral("Error Domain=DocuvaneFetch Code=1 \"\" UserInfo={NSLocalizedFailureReason=, "
                              "NSLocalizedDescription=}");
        QTest::newRow("place holders in texts stay text")
            << OptionalText(QStringLiteral("%1")) << OptionalText(QStringLiteral("%2 %3"))
            << QStringLiteral("Error Domain=DocuvaneFetch Code=1 \"%2 %3\" UserInfo={NSLocalizedFailureReason=%1, "
                              "NSLocalizedDescription=%2 %3}");
    }

    void fullDescription() {
        QFETCH(OptionalText, reason);
        QFETCH(OptionalText, description);
        QFETCH(QString, expected);
        const DVError error(QStringLiteral("DocuvaneFetch"), 1, reason, description);
        QCOMPARE(error.fullDescription(), expected);
        QCOMPARE(error.localizedFailureReason().isNull(), !reason.has_value());
    }

    void descriptionFallsBackToAGenericText() {
        const DVError error(QStringLiteral("HTTP"), 500);
        QCOMPARE(error.localizedDescription(),
                 QStringLiteral("The operation couldn\u2019t be completed. (HTTP error 500.)"));
        QCOMPARE(DVError(QStringLiteral("HTTP"), 500, std::nullopt, QStringLiteral("")).localizedDescription(),
                 QString(""));
    }

    void posixErrorCarriesTheSystemText() {
        const DVError error = DVError::posixError(ENOSPC);
        QCOMPARE(error.domain(), DVError::POSIXDomain);
        QCOMPARE(error.code(), qint64(ENOSPC));
        QCOMPARE(error.localizedDescription(), QStringLiteral("No space left on device"));
    }
};

DV_TEST_GUILESS_MAIN(TestDVError)
#include "tst_dverror.moc"
