#include "DVError.h"
#include "TestMain.h"

#include <QtTest>

using OptionalText = std::optional<QString>;
Q_DECLARE_METATYPE(OptionalText)

class TestDVError : public QObject {
    Q_OBJECT

private slots:
    void fullDescription_data() {
        QTest::addColumn<OptionalText>("reason");
        QTest::addColumn<OptionalText>("description");
        QTest::addColumn<QString>("expected");
        const QString head = QStringLiteral("Error Domain=DocuvaneFetch Code=1 ");
        QTest::newRow("both") << OptionalText("X.TicketExpiredException") << OptionalText("expired")
                              << head + "\"expired\" UserInfo={NSLocalizedFailureReason=X.TicketExpiredException, "
                                        "NSLocalizedDescription=expired}";
        QTest::newRow("neither") << OptionalText() << OptionalText() << head + "\"(null)\"";
        QTest::newRow("empty texts are kept, place holders stay text")
            << OptionalText("") << OptionalText("%1")
            << head + "\"%1\" UserInfo={NSLocalizedFailureReason=, NSLocalizedDescription=%1}";
    }

    void fullDescription() {
        QFETCH(OptionalText, reason);
        QFETCH(OptionalText, description);
        QFETCH(QString, expected);
        QCOMPARE(DVError("DocuvaneFetch", 1, reason, description).fullDescription(), expected);
    }
};

DV_TEST_GUILESS_MAIN(TestDVError)
#include "tst_dverror.moc"
