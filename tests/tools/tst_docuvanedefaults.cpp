#include "DVPasswordCipher.h"
#include "TestMain.h"
#include "TestRows.h"

#include <QProcess>
#include <QStandardPaths>

// Drives the docuvane-defaults command as a user would, then reads the file with independent tools.
namespace {

const QString kDomain = QStringLiteral("com.docuvane.DocuvaneFetch");

QString domainFile() {
    return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/docuvane/") + kDomain + ".plist";
}

struct Result {
    int status;
    QString out;
    QString err;
};

// The tool itself unless another program is named.
Result run(const QStringList& arguments, QString program = QString(), const QByteArray& input = QByteArray()) {
    QProcess process;
    process.start(program.isNull() ? qEnvironmentVariable("DV_BUILD_DIR") + "/bin/docuvane-defaults" : program,
                  arguments);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

class TestDocuvaneDefaults : public QObject {
    Q_OBJECT

private slots:
    void writeThenRead_data() {
        QTest::addColumn<QStringList>("write");
        QTest::addColumn<QString>("printed");
        QTest::newRow("string") << QStringList{"email", "-string", "a b@example.com"} << "a b@example.com";
        row("untyped is a string", QStringList{"DocuvaneServerURL", "http://127.0.0.1:9"}, "http://127.0.0.1:9");
        QTest::newRow("int") << QStringList{"lastEventIdKey", "-int", "-12"} << "-12";
        QTest::newRow("float") << QStringList{"DVFFolderCheckInterval", "-float", "2.5"} << "2.5";
        QTest::newRow("bool YES") << QStringList{"Debug", "-bool", "YES"} << "1";
        QTest::newRow("data") << QStringList{"blob", "-data", "00ABff"} << "<00abff>";
    }

    void writeThenRead() {
        QFETCH(QStringList, write);
        QFETCH(QString, printed);
        QCOMPARE(run(QStringList{"write", kDomain} + write).status, 0);
        const Result read = run({"read", kDomain, write.first()});
        QCOMPARE(read.status, 0);
        QCOMPARE(read.out, printed + "\n");
    }

    // Given on the command line, or with "-" on standard input (so that it never stands in one).
    void passwordIsStoredEnciphered_data() {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("argument") << "s3cr3t" << QByteArray();
        QTest::newRow("standard input") << "-" << QByteArray("s3cr3t\nsecond line\n");
        QTest::newRow("standard input, no line end") << "-" << QByteArray("s3cr3t");
    }

    void passwordIsStoredEnciphered() {
        QFETCH(QString, argument);
        QFETCH(QByteArray, input);
        QCOMPARE(run({"write", kDomain, "password", "-password", argument}, QString(), input).status, 0);
        const QString printed = run({"read", kDomain, "password"}).out.trimmed();
        QCOMPARE(printed, QStringLiteral("<%1>").arg(QString::fromLatin1(encryptPassword("s3cr3t").toHex())));
        const QString key = QString::fromLatin1(QByteArray(kDVPasswordKey).leftJustified(32, '\0').toHex());
        const QString openssl = QStandardPaths::findExecutable("openssl");
        if (openssl.isEmpty())
            QSKIP("openssl is not installed");
        const QByteArray ciphered = QByteArray::fromHex(printed.mid(1, printed.size() - 2).toLatin1());
        QCOMPARE(run({"enc", "-d", "-aes-256-cbc", "-K", key, "-iv", QString(32, '0')}, openssl, ciphered).out,
                 "s3cr3t");
    }

    void typesSurviveForPythonPlistlib() {
        for (const QStringList& write : {QStringList{"i", "-int", "7"}, QStringList{"b", "-bool", "NO"},
                                         QStringList{"s", "-string", "Grüße"}, QStringList{"d", "-data", "0aff"}})
            QCOMPARE(run(QStringList{"write", kDomain} + write).status, 0);
        const QString python = QStandardPaths::findExecutable("python3");
        if (python.isEmpty())
            QSKIP("python3 is not installed");
        const Result printed = run({"-c",
                                    "import plistlib,sys\n"
                                    "d=plistlib.load(open(sys.argv[1],'rb'))\n"
                                    "for k in 'ibsd': print(type(d[k]).__name__, d[k].hex() if k=='d' else d[k])",
                                    domainFile()},
                                   python);
        QCOMPARE(printed.out, QStringLiteral("int 7\nbool False\nstr Grüße\nbytes 0aff\n"));
    }

    void failuresHaveTheirStatus_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::newRow("no arguments") << QStringList{} << 2;
        QTest::newRow("missing domain") << QStringList{"read", "com.example.none"} << 1;
        QTest::newRow("missing key") << QStringList{"read", kDomain, "no-such-key"} << 1;
        QTest::newRow("bad bool") << QStringList{"write", kDomain, "k", "-bool", "maybe"} << 2;
        QTest::newRow("odd hex") << QStringList{"write", kDomain, "k", "-data", "abc"} << 2;
        QTest::newRow("domain with a path") << QStringList{"read", "../../etc/passwd"} << 2;
    }

    void failuresHaveTheirStatus() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        const Result result = run(arguments);
        QCOMPARE(result.status, status);
        QVERIFY(!result.err.isEmpty() && result.out.isEmpty());
    }

    void deleteKeyThenDomain() {
        QCOMPARE(run({"write", kDomain, "ticket", "T"}).status, 0);
        QCOMPARE(run({"delete", kDomain, "ticket"}).status, 0);
        QCOMPARE(run({"read", kDomain, "ticket"}).status, 1);
        QCOMPARE(run({"delete", kDomain}).status, 0);
        QVERIFY(!QFile::exists(domainFile()));
    }
};

DV_TEST_GUILESS_MAIN(TestDocuvaneDefaults)
#include "tst_docuvanedefaults.moc"
