#include "DVException.h"
#include "TestMain.h"
#include "TestRows.h"

namespace {

[[gnu::noinline]] DVException makeDeepException() {
    return DVException(QStringLiteral("NSGenericException"), QStringLiteral("deep"));
}

} // namespace

class TestDVException : public QObject {
    Q_OBJECT

private slots:
    void noRecordedFrames() {
        DVException exception(QStringLiteral("E"), QStringLiteral("r"));
        QVariantMap info = exception.userInfo();
        QVERIFY(info.contains("NSStackTraceKey"));
        const DVException bare(QStringLiteral("E"), QStringLiteral("r"), {{"NSStackTraceKey", QVariant()}});
        QCOMPARE(bare.backtrace(), QStringLiteral("No stack trace found"));
    }

    void symbolisedTraceNamesTheThrowingFunction() {
        if (!QFileInfo::exists(DVException::symbolToolPath()))
            QSKIP("addr2line is not installed");
        const QString trace = makeDeepException().backtrace();
        QVERIFY(trace.startsWith(QLatin1Char('\n')));
        QVERIFY2(trace.contains(QStringLiteral("makeDeepException")), qPrintable(trace));
        QVERIFY2(trace.contains(QStringLiteral("(in tst_dvexception)")), qPrintable(trace));
    }

    void toolOutputLines_data() {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("expected");
        row("one line", QStringLiteral("main (in app) (main.cpp:3)"),
            QStringLiteral("\n") + QString(48 - 21, QLatin1Char(' ')) + QStringLiteral("(in app) (main.cpp:3)  main"));
        QTest::newRow("no marker") << QStringLiteral("0x1234") << QStringLiteral("\n");
        QTest::newRow("marker twice") << QStringLiteral("a (in b) (in c)") << QStringLiteral("\n");
        row("long location is not cut", QStringLiteral("f (in ") + QString(60, QLatin1Char('m')) + QLatin1Char(')'),
            QStringLiteral("\n(in ") + QString(60, QLatin1Char('m')) + QStringLiteral(")  f"));
        row("two lines, one kept", QStringLiteral("g (in m)\nbad"),
            QStringLiteral("\n") + QString(48 - 6, QLatin1Char(' ')) + QStringLiteral("(in m)  g"));
    }

    void toolOutputLines() {
        QFETCH(QString, output);
        QFETCH(QString, expected);
        QCOMPARE(DVException::formatSymbolLines(output), expected);
    }
};

DV_TEST_GUILESS_MAIN(TestDVException)
#include "tst_dvexception.moc"
