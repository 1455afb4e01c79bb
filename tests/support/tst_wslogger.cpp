#include "DVExceptionGuard.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "WSLogger.h"

#include <QRegularExpression>
#include <QThread>

#include <sys/stat.h>

namespace {

mode_t modeOf(const QString& path) {
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 0777;
}

} // namespace

class TestWSLogger : public QObject {
    Q_OBJECT

private:
    WSLogger& logger = WSLogger::sharedInstance();
    QString _logPath;
    int _counter = 0;

    // Each test writes to a log of its own and reads back only what it wrote.
    QString freshLog() {
        _logPath = QDir::homePath() + QStringLiteral("/Library/Logs/log-%1/DocuvaneFetch.log").arg(++_counter);
        logger.setFileName(_logPath);
        logger.setLevel(13);
        return _logPath;
    }

    QStringList linesWritten() const {
        return QString::fromUtf8(readFile(_logPath)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private slots:
    void lineFormat() {
        freshLog();
        logger.logInfo("DVLoginOperation", "start", {QStringLiteral("Request:"), QStringLiteral("100% done %1")});
        const QStringList lines = linesWritten();
        QCOMPARE(lines.size(), 1);
        static const QRegularExpression format(QStringLiteral(
            R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} tst_wslogger \(DVLoginOperation:start\) Info Request: 100% done %1 $)"));
        QVERIFY2(format.match(lines[0]).hasMatch(), qPrintable(lines[0]));
    }

    void messagesAreJoined_data() {
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("text");
        QTest::newRow("exception pair") << QStringList{QStringLiteral("Exception: "), QStringLiteral("boom")}
                                        << QStringLiteral("Exception:  boom ");
        QTest::newRow("null first") << QStringList{QString(), QStringLiteral("ignored")} << QString();
        QTest::newRow("null ends the list")
            << QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")} << QStringLiteral("a ");
        QTest::newRow("empty is not null")
            << QStringList{QStringLiteral(""), QStringLiteral("x")} << QStringLiteral(" x ");
    }

    void messagesAreJoined() {
        QFETCH(QStringList, messages);
        QFETCH(QString, text);
        freshLog();
        logger.logError("S", "m", {messages.value(0), messages.value(1), messages.value(2)});
        const QByteArray written = readFile(_logPath);
        QVERIFY2(written.endsWith(QStringLiteral("(S:m) Error %1\n").arg(text).toUtf8()), written.constData());
    }

    // Whatever a reply or a file name holds, one call writes one line, and the line says what was there.
    void controlCharactersAreEscaped_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("written");
        QTest::newRow("forged line") << QStringLiteral("ok\n2024-01-01 00:00:00.000 x (A:b) Error forged")
                                     << QStringLiteral("ok\\n2024-01-01 00:00:00.000 x (A:b) Error forged");
        QTest::newRow("carriage return, tab") << QStringLiteral("a\rb\tc") << QStringLiteral("a\\rb\\tc");
        QTest::newRow("NUL") << QString::fromLatin1("a\0b", 3) << QStringLiteral("a\\u0000b");
        QTest::newRow("terminal escape") << QStringLiteral("\x1b[2Jx") << QStringLiteral("\\u001b[2Jx");
        QTest::newRow("blank and beyond kept") << QStringLiteral(" ~\u00e9\\n") << QStringLiteral(" ~\u00e9\\n");
    }

    void controlCharactersAreEscaped() {
        QFETCH(QString, message);
        QFETCH(QString, written);
        freshLog();
        logger.logError("DVLoginOperation", "start", {QStringLiteral("Reply:  "), message});
        const QByteArray bytes = readFile(_logPath);
        QCOMPARE(bytes.count('\n'), 3); // the two that open the log, and this line's own
        QVERIFY(!bytes.contains('\r') && !bytes.contains('\0'));
        QVERIFY2(bytes.endsWith(("(DVLoginOperation:start) Error Reply:   " + written + " \n").toUtf8()),
                 bytes.constData());
    }

    void levelsAndMask() {
        freshLog();
        logger.logDebug("S", "debug", {QStringLiteral("hidden")});
        logger.logTrace("S", "trace", {QStringLiteral("shown")});
        logger.setLevel(0);
        logger.logInfo("S", "info", {QStringLiteral("silenced")});
        logger.logError("S", "error", {QStringLiteral("silenced")});
        logger.log("S", "direct", WSLogger::Debug, QStringLiteral("always"));
        logger.log("S", "odd", 3, QStringLiteral("odd"));
        const QStringList lines = linesWritten();
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].endsWith("(S:trace) Trace shown "));
        QVERIFY(lines[1].endsWith("(S:direct) Debug always"));
        QVERIFY(lines[2].endsWith("(S:odd)  odd"));
    }

    void createsFolderChainAndPrivateFile() {
        const QString path = freshLog();
        QCOMPARE(modeOf(path), mode_t(0600));
        QCOMPARE(modeOf(QFileInfo(path).absolutePath()), mode_t(0755));
        QCOMPARE(readFile(path), QByteArray("\n\n"));
    }

    void reopeningAppendsTwoLineFeeds() {
        const QString path = freshLog();
        logger.logInfo("S", "m", {QStringLiteral("first")});
        logger.setFileName(path);
        logger.setFileName(QString()); // keeps the destination
        QCOMPARE(logger.fileName(), QString());
        logger.logInfo("S", "m", {QStringLiteral("second")});
        const QByteArray content = readFile(path);
        QVERIFY(content.startsWith("\n\n"));
        QVERIFY(content.contains("first \n\n\n"));
        QVERIFY(content.endsWith("second \n"));
    }

    void linesFromManyThreadsStayWhole() {
        freshLog();
        constexpr int kThreads = 4;
        constexpr int kLines = 200;
        QList<QThread*> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.append(QThread::create([this, t] {
                const QString payload(300, QChar(QLatin1Char('a' + t)));
                for (int i = 0; i < kLines; ++i)
                    logger.logInfo("S", "m", {payload});
            }));
        }
        for (QThread* thread : threads)
            thread->start();
        for (QThread* thread : threads) {
            thread->wait();
            delete thread;
        }
        const QStringList lines = linesWritten();
        QCOMPARE(lines.size(), kThreads * kLines);
        static const QRegularExpression whole(QStringLiteral(R"(\(S:m\) Info ([a-d])\1{299} $)"));
        for (const QString& line : lines)
            QVERIFY2(whole.match(line).hasMatch(), qPrintable(line.left(80)));
    }

    // Lines of one call site written together read as the same calls one by one, and follow the mask.
    void linesOfOneCallSite() {
        freshLog();
        logger.logInfoLines("S", "m", {{QStringLiteral("Request: "), QStringLiteral("u")}, {QStringLiteral("Data: ")}});
        logger.logInfo("S", "m", {QStringLiteral("Request: "), QStringLiteral("u")});
        logger.logInfo("S", "m", {QStringLiteral("Data: ")});
        logger.setLevel(WSLogger::Error);
        logger.logInfoLines("S", "m", {{QStringLiteral("masked")}});
        QStringList lines = linesWritten();
        for (QString& line : lines)
            line = line.section(QLatin1Char(' '), 2);
        QCOMPARE(lines, (QStringList{"tst_wslogger (S:m) Info Request:  u ", "tst_wslogger (S:m) Info Data:  ",
                                     "tst_wslogger (S:m) Info Request:  u ", "tst_wslogger (S:m) Info Data:  "}));
    }

    void guardLogsTwoErrorLines() {
        freshLog();
        DVException::setSymbolToolPath(QStringLiteral("/nonexistent/addr2line"));
        const bool completed = dvGuard("AppController", "setUserDefaults", [] {
            throw DVException(QStringLiteral("NSInvalidArgumentException"), QStringLiteral("bad value"));
        });
        dvGuard("AppController", "other", [] { throw std::runtime_error("plain"); });
        DVException::setSymbolToolPath(QStringLiteral("/usr/bin/addr2line"));
        QVERIFY(!completed);
        const QStringList lines = linesWritten();
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[0].endsWith("(AppController:setUserDefaults) Error Exception:  bad value "));
        QVERIFY(lines[1].contains("(AppController:setUserDefaults) Error Backtrace:  <stackTrace>0x"));
        QVERIFY(lines[1].endsWith("</stackTrace>  <error>I could not find \"/nonexistent/addr2line\"</error> "));
        QVERIFY(lines[2].endsWith("Error Exception:  plain "));
        QVERIFY(lines[3].endsWith("Error Backtrace:  No stack trace found "));
    }
};

DV_TEST_GUILESS_MAIN(TestWSLogger)
#include "tst_wslogger.moc"
