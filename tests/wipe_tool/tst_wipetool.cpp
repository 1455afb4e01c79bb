#include "InvokingUser.h"
#include "SharedFileListUtilities.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "UserDefaults.h"

#include <QProcess>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

// The uninstall command run as users run it: copied into a product folder beside a client bundle whose
// program runs, in a home with the client's settings, login item, fetch folder and sidebar place.
class TestWipeTool : public QObject {
    Q_OBJECT

    QString _home;
    QString _product;

    static QString builtTool() {
        return QCoreApplication::applicationDirPath() + "/../product/Uninstall.app/Contents/MacOS/wipe_tool";
    }
    QString client() const { return _product + "/Docuvane Fetch.app"; }
    QString settings(const QString& domain) const { return _home + "/.config/docuvane/" + domain + ".plist"; }
    QString autostartEntry() const { return _home + "/.config/autostart/docuvane-fetch.desktop"; }
    QString fetchFolder() const { return _home + "/Desktop/Docuvane Fetch"; }
    QStringList menuEntries() const {
        const QString share = _home + "/.local/share";
        return {share + "/applications/docuvane-fetch.desktop",
                share + "/applications/docuvane-fetch-uninstall.desktop",
                share + "/icons/hicolor/scalable/apps/docuvane-fetch.svg"};
    }

    [[nodiscard]] static bool copyProgram(const QString& from, const QString& to) {
        QDir().mkpath(QFileInfo(to).absolutePath());
        return QFile::copy(from, to);
    }

    // What an installation and a client that has run leave behind. Returns the tool's path; empty when the
    // installation could not be made.
    QString install() {
        const QString tool = _product + "/Uninstall.app/Contents/MacOS/wipe_tool";
        if (!copyProgram(builtTool(), tool) || !copyProgram("/bin/sleep", client() + "/Contents/MacOS/Docuvane Fetch"))
            return {};
        QByteArray list;
        for (const QString& entry : menuEntries() + QStringList{_home + "/notes.txt"}) {
            if (!writeFile(entry))
                return {};
            list += QFile::encodeName(entry) + "\n";
        }
        QDir().mkpath(_home + "/docuvane-fetch.d.svg/inside"); // listed, named like ours, but a folder
        list += QFile::encodeName(_home + "/docuvane-fetch.d.svg") + "\n";
        if (!writeFile(_product + "/Uninstall.app/Contents/Resources/MenuEntries", list))
            return {};

        UserDefaults("com.docuvane.DocuvaneFetch").setValue("a@example.com", "email");
        UserDefaults("com.docuvane.Docuvane_Fetch").setValue("old", "email");
        if (!writeFile(fetchFolder() + "/Invoices/2024.pdf"))
            return {};
        SharedFileListUtilities lists;
        lists.addToLoginItems(SharedFileListUtilities::fileURLWithPath(client()));
        lists.addToFavorites(SharedFileListUtilities::fileURLWithPath(fetchFolder()));
        return tool;
    }

    static int run(const QString& program, const QByteArray& pkexecUid = QByteArray()) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("SUDO_UID"); // never act for whoever started the tests
        environment.remove("PKEXEC_UID");
        if (!pkexecUid.isEmpty())
            environment.insert("PKEXEC_UID", pkexecUid);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(program, {});
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
            return -1;
        return process.exitCode();
    }

    static QByteArray comm(qint64 pid) {
        QFile file(QString("/proc/%1/comm").arg(pid));
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
    }

    [[nodiscard]] static bool startNamed(QProcess& process, const QString& program, const QStringList& prefix = {}) {
        return checksPass([&] {
            const QStringList command = prefix + QStringList{program, "300"};
            process.start(command.first(), command.mid(1));
            QVERIFY(process.waitForStarted());
            QTRY_COMPARE(comm(process.processId()), QFile::encodeName(QFileInfo(program).fileName())); // after setpriv
        });
    }

    static bool endedBySigterm(QProcess& process) {
        return process.waitForFinished(60000) && process.exitStatus() == QProcess::CrashExit &&
               process.exitCode() == SIGTERM;
    }

    // The command picks the first client of the user; another one (a second test run) would take its place.
    static bool onlyOurClientRuns(const QProcess& ours, uint uid) {
        for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
            QFile comm("/proc/" + pid + "/comm");
            if (pid.toLongLong() != ours.processId() && QFileInfo("/proc/" + pid).ownerId() == uid &&
                comm.open(QIODevice::ReadOnly) && comm.readAll() == "Docuvane Fetch\n")
                return false;
        }
        return true;
    }

private slots:
    void init() {
        _home = QDir::homePath();
        for (const QString& entry : QDir(_home).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
            QFileInfo(_home + "/" + entry).isDir() ? void(QDir(_home + "/" + entry).removeRecursively())
                                                   : void(QFile::remove(_home + "/" + entry));
        _product = _home + "/opt/Docuvane Fetch";
    }

    void uninstallThenRunAgain() {
        const QString tool = install();
        QVERIFY(!tool.isEmpty());
        // Held open as the uninstaller holds it: the second run starts from the removed file.
        const int toolFile = ::open(QFile::encodeName(tool).constData(), O_RDONLY);
        QVERIFY(toolFile >= 0);
        QVERIFY(copyProgram("/bin/sleep", _home + "/other/Docuvane Fetch2"));
        QProcess prefixNamed, clientProcess, secondClient;
        QVERIFY(startNamed(prefixNamed, _home + "/other/Docuvane Fetch2")); // lower process id, not the client
        QVERIFY(startNamed(clientProcess, client() + "/Contents/MacOS/Docuvane Fetch"));
        if (!onlyOurClientRuns(clientProcess, ::getuid()))
            QSKIP("another process named Docuvane Fetch runs for this user");
        QVERIFY(startNamed(secondClient, client() + "/Contents/MacOS/Docuvane Fetch"));

        QCOMPARE(run(tool), 0);
        QVERIFY(endedBySigterm(clientProcess));
        QCOMPARE(prefixNamed.state(), QProcess::Running);
        QCOMPARE(secondClient.state(), QProcess::Running); // only the first is asked to quit
        for (const QString& gone :
             menuEntries() + QStringList{settings("com.docuvane.DocuvaneFetch"),
                                         settings("com.docuvane.Docuvane_Fetch"), autostartEntry(), _product})
            QVERIFY2(!QFileInfo::exists(gone), qPrintable(gone));
        const auto remaining = [&] {
            return checksPass([&] {
                QVERIFY(QFile::exists(fetchFolder() + "/Invoices/2024.pdf"));
                QVERIFY(
                    SharedFileListUtilities().isInFavorites(SharedFileListUtilities::fileURLWithPath(fetchFolder())));
                QVERIFY(QFile::exists(_home + "/notes.txt"));
                QVERIFY(QFile::exists(_home + "/docuvane-fetch.d.svg/inside"));
                QVERIFY(QFile::exists(_home + "/opt"));
            });
        };
        QVERIFY(remaining());

        secondClient.kill();
        secondClient.waitForFinished();
        QCOMPARE(run(QString("/proc/self/fd/%1").arg(toolFile)), 0);
        ::close(toolFile);
        QVERIFY(remaining());
        prefixNamed.kill();
        prefixNamed.waitForFinished();
    }

    // What a run leaves where the installation is not quite as it was made ("@H" is the home).
    void leftovers_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QStringList>("kept");
        QTest::addColumn<QStringList>("removed");
        QTest::newRow("something else in the product folder")
            << "extra" << QStringList{"@P/README.txt"} << QStringList{"@P/Uninstall.app", "@P/Docuvane Fetch.app"};
        QTest::newRow("client bundle already removed")
            << "no client" << QStringList{} << QStringList{"@P", "@H/.config/autostart/docuvane-fetch.desktop"};
        QTest::newRow("client bundle is a link")
            << "link" << QStringList{"@H/elsewhere/data.txt"} << QStringList{"@P/Docuvane Fetch.app", "@P"};
        QTest::newRow("command outside a bundle")
            << "loose" << QStringList{"@H/opt/Docuvane Fetch.app", "@H/opt/tools/Contents/MacOS/wipe_tool"}
            << QStringList{};
    }

    void leftovers() {
        QFETCH(QString, situation);
        QFETCH(QStringList, kept);
        QFETCH(QStringList, removed);
        QString tool = install();
        QVERIFY(!tool.isEmpty());
        if (situation == "extra") {
            QVERIFY(writeFile(_product + "/README.txt"));
        } else if (situation == "no client") {
            QDir(client()).removeRecursively();
        } else if (situation == "link") {
            QDir(client()).removeRecursively();
            QVERIFY(writeFile(_home + "/elsewhere/data.txt"));
            QVERIFY(QFile::link(_home + "/elsewhere", client()));
        } else if (situation == "loose") {
            QDir().mkpath(_home + "/opt/Docuvane Fetch.app/Contents");
            QVERIFY(copyProgram(tool, _home + "/opt/tools/Contents/MacOS/wipe_tool"));
            tool = _home + "/opt/tools/Contents/MacOS/wipe_tool";
        }
        QCOMPARE(run(tool), 0);
        for (QString path : kept)
            QVERIFY2(QFileInfo::exists(path.replace("@P", _product).replace("@H", _home)), qPrintable(path));
        for (QString path : removed) {
            path.replace("@P", _product).replace("@H", _home);
            QVERIFY2(!QFileInfo::exists(path) && !QFileInfo(path).isSymLink(), qPrintable(path));
        }
    }

    // Run as root on a user's behalf, only that user's client is asked to quit, and the user's files are
    // looked for in that user's home, not in root's.
    void actingForAnotherUser() {
        if (::getuid() != 0)
            QSKIP("needs root");
        const QString setpriv = QStandardPaths::findExecutable("setpriv");
        if (setpriv.isEmpty())
            QSKIP("setpriv is not installed");
        QTemporaryDir shared;
        QFile::setPermissions(shared.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                                                 QFile::ExeOther);
        const QString program = shared.path() + "/Docuvane Fetch";
        QVERIFY(copyProgram("/bin/sleep", program));
        const QString tool = install();
        QVERIFY(!tool.isEmpty());
        QProcess nobodys, roots;
        QVERIFY(startNamed(nobodys, program, {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"}));
        QVERIFY(startNamed(roots, program));
        if (!onlyOurClientRuns(nobodys, 65534) || !onlyOurClientRuns(roots, 0))
            QSKIP("another process named Docuvane Fetch runs");

        QCOMPARE(run(tool, "65534"), 0);
        QVERIFY(endedBySigterm(nobodys));
        QCOMPARE(roots.state(), QProcess::Running);
        QVERIFY(QFile::exists(settings("com.docuvane.DocuvaneFetch")));
        QVERIFY(QFile::exists(autostartEntry()));
        QVERIFY(!QFileInfo::exists(_product));
        roots.kill();
        roots.waitForFinished();
    }

    void invokingUser_data() {
        QTest::addColumn<uint>("realUser");
        QTest::addColumn<QByteArray>("pkexecUid");
        QTest::addColumn<QByteArray>("sudoUid");
        QTest::addColumn<uint>("expected");
        QTest::newRow("ordinary user ignores the variables") << 1000u << QByteArray("0") << QByteArray("0") << 1000u;
        QTest::newRow("pkexec first") << 0u << QByteArray("1000") << QByteArray("1001") << 1000u;
        QTest::newRow("sudo") << 0u << QByteArray() << QByteArray("1001") << 1001u;
        QTest::newRow("not a number") << 0u << QByteArray("1000x") << QByteArray("1001") << 0u;
        QTest::newRow("no user (uid_t -1)") << 0u << QByteArray("4294967295") << QByteArray() << 0u;
    }

    void invokingUser() {
        QFETCH(uint, realUser);
        QFETCH(QByteArray, pkexecUid);
        QFETCH(QByteArray, sudoUid);
        QFETCH(uint, expected);
        QCOMPARE(uint(InvokingUser::userIdFor(realUser, pkexecUid, sudoUid)), expected);
    }
};

DV_TEST_GUILESS_MAIN(TestWipeTool)
#include "tst_wipetool.moc"
