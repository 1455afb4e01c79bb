#include "DVPasswordCipher.h"
#include "TestHome.h"

#include <QProcess>
#include <QStandardPaths>

// Drives the docuvane-defaults command as a user would, then reads the file with independent tools.
class TestDocuvaneDefaults : public QObject {
    Q_OBJECT

private:
    struct Result {
        int status;
        QString out;
        QString err;
    };

    static QString tool() { return qEnvironmentVariable("DV_BUILD_DIR") + QStringLiteral("/bin/docuvane-defaults"); }

    static Result run(const QStringList& arguments) {
        QProcess process;
        process.start(tool(), arguments);
        process.waitForFinished();
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }

    static const QString& domain() {
        static const QString name = QStringLiteral("com.docuvane.DocuvaneFetch");
        return name;
    }

    static QString domainFile() {
        return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/docuvane/") + domain() + ".plist";
    }

private slots:
    void writeThenRead_data() {
        QTest::addColumn<QStringList>("write");
        QTest::addColumn<QString>("printed");
        QTest::newRow("string") << QStringList{"email", "-string", "a b@example.com"} << "a b@example.com";
        QTest::newRow("untyped is a string")
            << QStringList{"DocuvaneServerURL", "http://127.0.0.1:9"} << "http://127.0.0.1:9";
        QTest::newRow("int") << QStringList{"lastEventIdKey", "-int", "-12"} << "-12";
        QTest::newRow("float") << QStringList{"DVFFolderCheckInterval", "-float", "2.5"} << "2.5";
        QTest::newRow("bool YES") << QStringList{"Debug", "-bool", "YES"} << "1";
        QTest::newRow("bool false") << QStringList{"useBlackAndWhiteMenuBarIcons", "-bool", "false"} << "0";
        QTest::newRow("data") << QStringList{"blob", "-data", "00ABff"} << "<00abff>";
    }

    void writeThenRead() {
        QFETCH(QStringList, write);
        QFETCH(QString, printed);
        QCOMPARE(run(QStringList{"write", domain()} + write).status, 0);
        const Result read = run({"read", domain(), write.first()});
        QCOMPARE(read.status, 0);
        QCOMPARE(read.out, printed + "\n");
    }

    void passwordIsStoredEnciphered() {
        QCOMPARE(run({"write", domain(), "password", "-password", "s3cr3t"}).status, 0);
        const Result read = run({"read", domain(), "password"});
        QCOMPARE(read.out.trimmed(),
                 QStringLiteral("<%1>").arg(QString::fromLatin1(encryptPassword("s3cr3t").toHex())));

        const QString openssl = QStandardPaths::findExecutable("openssl");
        if (openssl.isEmpty())
            QSKIP("openssl is not installed");
        const QByteArray hex = read.out.trimmed().mid(1, read.out.trimmed().size() - 2).toLatin1();
        QByteArray key = QByteArray(kDVPasswordKey).leftJustified(32, '\0');
        QProcess process;
        process.start(openssl, {"enc", "-d", "-aes-256-cbc", "-K", QString::fromLatin1(key.toHex()), "-iv",
                                QString(32, QLatin1Char('0'))});
        process.write(QByteArray::fromHex(hex));
        process.closeWriteChannel();
        process.waitForFinished();
        QCOMPARE(process.readAllStandardOutput(), QByteArray("s3cr3t"));
    }

    void typesSurviveForPythonPlistlib() {
        const QString python = QStandardPaths::findExecutable("python3");
        if (python.isEmpty())
            QSKIP("python3 is not installed");
        QCOMPARE(run({"write", domain(), "pyInt", "-int", "7"}).status, 0);
        QCOMPARE(run({"write", domain(), "pyBool", "-bool", "NO"}).status, 0);
        QCOMPARE(run({"write", domain(), "pyString", "-string", "Grüße"}).status, 0);
        QCOMPARE(run({"write", domain(), "pyData", "-data", "0aff"}).status, 0);
        QProcess process;
        process.start(python, {"-c",
                               "import plistlib,sys\n"
                               "d=plistlib.load(open(sys.argv[1],'rb'))\n"
                               "print(type(d['pyInt']).__name__, d['pyInt'])\n"
                               "print(type(d['pyBool']).__name__, d['pyBool'])\n"
                               "print(type(d['pyString']).__name__, d['pyString'])\n"
                               "print(type(d['pyData']).__name__, d['pyData'].hex())",
                               domainFile()});
        process.waitForFinished();
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()),
                 QStringLiteral("int 7\nbool False\nstr Grüße\nbytes 0aff\n"));
    }

    void failuresHaveTheirStatus_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::newRow("no arguments") << QStringList{} << 2;
        QTest::newRow("unknown verb") << QStringList{"list"} << 2;
        QTest::newRow("missing domain") << QStringList{"read", "com.example.none"} << 1;
        QTest::newRow("missing key") << QStringList{"read", domain(), "no-such-key"} << 1;
        QTest::newRow("delete missing key") << QStringList{"delete", domain(), "no-such-key"} << 1;
        QTest::newRow("bad bool") << QStringList{"write", domain(), "k", "-bool", "maybe"} << 2;
        QTest::newRow("bad int") << QStringList{"write", domain(), "k", "-int", "12x"} << 2;
        QTest::newRow("odd hex") << QStringList{"write", domain(), "k", "-data", "abc"} << 2;
        QTest::newRow("unknown type") << QStringList{"write", domain(), "k", "-date", "x"} << 2;
        QTest::newRow("domain with a path") << QStringList{"read", "../../etc/passwd"} << 2;
    }

    void failuresHaveTheirStatus() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        const Result result = run(arguments);
        QCOMPARE(result.status, status);
        QVERIFY(!result.err.isEmpty());
        QVERIFY(result.out.isEmpty());
    }

    void deleteKeyThenDomain() {
        QCOMPARE(run({"write", domain(), "ticket", "T"}).status, 0);
        QCOMPARE(run({"delete", domain(), "ticket"}).status, 0);
        QCOMPARE(run({"read", domain(), "ticket"}).status, 1);
        QCOMPARE(run({"delete", domain()}).status, 0);
        QVERIFY(!QFileInfo::exists(domainFile()));
        QCOMPARE(run({"read", domain()}).status, 1);
    }
};

DV_TEST_GUILESS_MAIN(TestDocuvaneDefaults)
#include "tst_docuvanedefaults.moc"
