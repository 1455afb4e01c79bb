#include "PropertyList.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "TestRows.h"
#include "UserDefaults.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>

#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

class TestUserDefaults : public QObject {
    Q_OBJECT

private:
    QString freshDirectory() { return QDir::homePath() + QStringLiteral("/.config/docuvane-%1").arg(++_counter); }
    int _counter = 0;

private slots:
    void folderAndFileArePrivate() {
        const QString dir = freshDirectory();
        UserDefaults defaults(QStringLiteral("d"), dir);
        defaults.setValue(QStringLiteral("secret"), QStringLiteral("ticket"));
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(dir).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0700u);
        QCOMPARE(::stat(QFile::encodeName(defaults.filePath()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
    }

    void nilRemovesAndAbsentReadsAsNothing() {
        UserDefaults defaults(QStringLiteral("d"), freshDirectory());
        QVERIFY(!defaults.valueForKey(QStringLiteral("ticket")).isValid());
        defaults.setValue(QStringLiteral("T1"), QStringLiteral("ticket"));
        QCOMPARE(defaults.valueForKey(QStringLiteral("ticket")).toString(), QStringLiteral("T1"));
        defaults.setValue(QVariant(), QStringLiteral("ticket"));
        QVERIFY(!defaults.valueForKey(QStringLiteral("ticket")).isValid());
        QCOMPARE(defaults.integerForKey(QStringLiteral("ticket")), 0);
        QCOMPARE(defaults.boolForKey(QStringLiteral("ticket")), false);
    }

    void conversions_data() {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<qint64>("integer");
        QTest::addColumn<bool>("boolean");
        QTest::newRow("true") << QVariant(true) << qint64(1) << true;
        QTest::newRow("zero") << QVariant::fromValue(qint64(0)) << qint64(0) << false;
        QTest::newRow("real") << QVariant(3.9) << qint64(3) << true;
        QTest::newRow("numeric string") << QVariant(QStringLiteral(" 42abc")) << qint64(42) << true;
        QTest::newRow("YES") << QVariant(QStringLiteral("YES")) << qint64(0) << true;
        QTest::newRow("no") << QVariant(QStringLiteral("no")) << qint64(0) << false;
    }

    void conversions() {
        QFETCH(QVariant, value);
        QFETCH(qint64, integer);
        QFETCH(bool, boolean);
        UserDefaults defaults(QStringLiteral("d"), freshDirectory());
        defaults.setValue(value, QStringLiteral("k"));
        QCOMPARE(defaults.integerForKey(QStringLiteral("k")), integer);
        QCOMPARE(defaults.boolForKey(QStringLiteral("k")), boolean);
    }

    void changesByAnotherProcessAreSeen() {
        const QString dir = freshDirectory();
        UserDefaults defaults(QStringLiteral("d"), dir);
        defaults.setValue(QStringLiteral("old"), QStringLiteral("email"));

        QVariantMap replaced{{QStringLiteral("email"), QStringLiteral("new@example.com")}};
        QSaveFile file(defaults.filePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(PropertyList::toXml(replaced));
        QVERIFY(file.commit());

        QCOMPARE(defaults.valueForKey(QStringLiteral("email")).toString(), QStringLiteral("new@example.com"));
    }

    // What cannot be read as settings is moved aside once, never followed, never waited on, never copied,
    // and nothing at another name is replaced; the domain starts empty and takes new values.
    void unreadableFileIsSetAside_data() {
        QTest::addColumn<QByteArray>("content"); // "fifo", "link" (to a valid file) or the file's bytes
        QTest::addColumn<QString>("taken");      // at "<file>.damaged" before: "", "file" or "dangling link"
        QTest::addColumn<QString>("aside");      // where it ends up; empty: it is read
        const QByteArray head = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
        const auto nested = [&](int depth) {
            return head + "<dict><key>k</key>" + QByteArray("<array>").repeated(depth - 1) +
                   QByteArray("</array>").repeated(depth - 1) + "</dict></plist>";
        };
        const QByteArray truncated = head + "<dict><key>email</key><string>trunc";
        row("truncated", truncated, "", ".damaged");
        row("next name when taken", truncated, "file", ".damaged.2");
        row("dangling link is taken", truncated, "dangling link", ".damaged.2");
        row("nested 64 deep", nested(64), "", "");
        row("nested 65 deep", nested(65), "", ".damaged");
        row("nested 50,000 deep", nested(50000), "", ".damaged");
        row("over 1 MiB",
            head + "<dict><key>k</key><string>" + QByteArray(1024 * 1024, 'x') + "</string></dict></plist>", "",
            ".damaged");
        row("FIFO", QByteArray("fifo"), "", ".damaged");
        row("link to a valid file", QByteArray("link"), "", ".damaged");
    }

    void unreadableFileIsSetAside() {
        QFETCH(QByteArray, content);
        QFETCH(QString, taken);
        QFETCH(QString, aside);
        const QString dir = freshDirectory();
        QDir().mkpath(dir + "/elsewhere");
        const QString path = UserDefaults::filePathForDomain(dir, QStringLiteral("d"));
        const QString outside = dir + "/elsewhere/target";
        const QByteArray valid = PropertyList::toXml(QVariantMap{{"email", "kept@example.com"}});
        if (content == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (content == "link")
            QVERIFY(writeFile(outside, valid) && QFile::link(outside, path));
        else
            QVERIFY(writeFile(path, content));
        if (taken == "file")
            QVERIFY(writeFile(path + ".damaged", "older"));
        else if (taken == "dangling link")
            QVERIFY(QFile::link(outside, path + ".damaged"));
        const QString before = QFileInfo(path).symLinkTarget() + QString::number(QFileInfo(path).size());

        QStringList reports;
        UserDefaults::setDiagnosticHandler([&](const QString& message) { reports.append(message); });
        UserDefaults defaults(QStringLiteral("d"), dir);
        QVERIFY(!defaults.valueForKey(QStringLiteral("email")).isValid());
        defaults.setValue(QStringLiteral("fresh"), QStringLiteral("email"));
        UserDefaults::setDiagnosticHandler({});

        QCOMPARE(defaults.valueForKey(QStringLiteral("email")).toString(), QStringLiteral("fresh"));
        QCOMPARE(reports.size(), aside.isEmpty() ? 0 : 1);
        QCOMPARE(QFileInfo(outside).exists(), content == "link");
        if (content == "link")
            QCOMPARE(QFile(outside).open(QIODevice::ReadOnly) ? QFile(outside).size() : -1, qint64(valid.size()));
        if (aside.isEmpty())
            return;
        QVERIFY2(reports.first().contains(path + aside), qPrintable(reports.first()));
        QCOMPARE(QFileInfo(path + aside).symLinkTarget() + QString::number(QFileInfo(path + aside).size()), before);
        if (taken == "file")
            QCOMPARE(QFileInfo(path + ".damaged").size(), qint64(5));
    }

    void transientReadFailureKeepsTheFile() {
        const QString dir = freshDirectory();
        UserDefaults defaults(QStringLiteral("d"), dir);
        defaults.setValue(QStringLiteral("me@example.com"), QStringLiteral("email"));
        // Another process rewrites the file, so the next access must read it again.
        QVariantMap replaced{{QStringLiteral("email"), QStringLiteral("other@example.com")}};
        QSaveFile file(defaults.filePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(PropertyList::toXml(replaced));
        QVERIFY(file.commit());

        QStringList reports;
        UserDefaults::setDiagnosticHandler([&](const QString& message) { reports.append(message); });
        // Use up every free descriptor, so the read fails for a reason that has nothing to do with the file.
        QList<int> held;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;)
            held.append(fd);
        const QVariant duringShortage = defaults.valueForKey(QStringLiteral("email"));
        defaults.setValue(QStringLiteral("lost?"), QStringLiteral("ticket"));
        for (int fd : held)
            ::close(fd);
        UserDefaults::setDiagnosticHandler({});

        QVERIFY(!held.isEmpty());
        QVERIFY(!duringShortage.isValid());
        QVERIFY(!reports.isEmpty());
        QVERIFY(!QFileInfo::exists(defaults.filePath() + ".damaged"));
        QCOMPARE(defaults.valueForKey(QStringLiteral("email")).toString(), QStringLiteral("other@example.com"));
        QVERIFY(!defaults.valueForKey(QStringLiteral("ticket")).isValid());
    }

    void persistentDomains() {
        const QString dir = freshDirectory();
        UserDefaults defaults(QStringLiteral("current"), dir);
        QVERIFY(!defaults.persistentDomainForName(QStringLiteral("other")));
        const QVariantMap content{{QStringLiteral("a"), 1}, {QStringLiteral("b"), QStringLiteral("x")}};
        defaults.setPersistentDomain(content, QStringLiteral("other"));
        const auto read = defaults.persistentDomainForName(QStringLiteral("other"));
        QVERIFY(read);
        QCOMPARE(read->value(QStringLiteral("b")).toString(), QStringLiteral("x"));
        QCOMPARE(read->value(QStringLiteral("a")).toLongLong(), 1);
        defaults.removePersistentDomainForName(QStringLiteral("other"));
        QVERIFY(!defaults.persistentDomainForName(QStringLiteral("other")));
        QVERIFY(!QFileInfo::exists(UserDefaults::filePathForDomain(dir, QStringLiteral("other"))));
    }

    void concurrentWritersLoseNothing() {
        const QString dir = freshDirectory();
        constexpr int kThreads = 4;
        constexpr int kKeysEach = 40;
        QList<QThread*> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.append(QThread::create([dir, t] {
                // Separate objects for one domain, as separate parts of the program hold them.
                UserDefaults defaults(QStringLiteral("shared"), dir);
                for (int i = 0; i < kKeysEach; ++i) {
                    const QString key = QStringLiteral("t%1-k%2").arg(t).arg(i);
                    defaults.setInteger(i, key);
                    if (defaults.integerForKey(key) != i)
                        qFatal("a value written was not read back on the same thread");
                }
            }));
        }
        for (QThread* thread : threads)
            thread->start();
        for (QThread* thread : threads) {
            thread->wait();
            delete thread;
        }
        UserDefaults reader(QStringLiteral("shared"), dir);
        const auto domain = reader.persistentDomainForName(QStringLiteral("shared"));
        QVERIFY(domain);
        QCOMPARE(domain->size(), kThreads * kKeysEach);
    }

    void writesAreAtomicForAnotherProcess() {
        // A writer process never shows a reader a half-written file: the parse of every snapshot succeeds.
        const QString dir = freshDirectory();
        UserDefaults defaults(QStringLiteral("d"), dir);
        for (int i = 0; i < 50; ++i) {
            defaults.setValue(QString(i * 37, QLatin1Char('x')), QStringLiteral("k"));
            QVERIFY(PropertyList::fromXml(readFile(defaults.filePath())).has_value());
        }
        QVERIFY(QDir(dir).entryList(QDir::Files | QDir::Hidden).size() == 1);
    }
};

DV_TEST_GUILESS_MAIN(TestUserDefaults)
#include "tst_userdefaults.moc"
