#include "DocuvaneDropboxUninstall.h"
#include "InvokingUser.h"
#include "PackageManager.h"
#include "SharedFileListUtilities.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "TestRows.h"
#include "UserDefaults.h"

#include <QDirIterator>
#include <QProcess>

#include <fcntl.h>
#include <sys/stat.h>
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
        for (const QString& entry :
             menuEntries() + QStringList{_home + "/notes.txt", _home + "/docuvane-fetch.desktop"}) {
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

    // The user the command runs as in the user's own run: the tester, or for a tester that is root (which
    // would make it the administrator's run) nobody, who is then given the test's home.
    static uid_t runner() { return ::getuid() == 0 ? 65534 : ::getuid(); }
    static QStringList asRunner() {
        return ::getuid() == 0 ? QStringList{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"}
                               : QStringList{};
    }
    [[nodiscard]] static bool handOver(const QString& path, uid_t user) {
        QDirIterator items(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                           QDirIterator::Subdirectories);
        bool handed = ::lchown(QFile::encodeName(path).constData(), user, user) == 0;
        while (handed && items.hasNext())
            handed = ::lchown(QFile::encodeName(items.next()).constData(), user, user) == 0;
        return handed;
    }

    [[nodiscard]] bool handOverHome() { return runner() == ::getuid() || handOver(_home, runner()); }

    // Its status; -1 when it did not end normally.
    static int runCommand(const QStringList& command, const QMap<QString, QString>& variables = {}) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("SUDO_UID"); // never act for whoever started the tests, unless told to
        environment.remove("PKEXEC_UID");
        for (auto it = variables.cbegin(); it != variables.cend(); ++it)
            environment.insert(it.key(), it.value());
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(command.first(), command.mid(1));
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
            return -1;
        return process.exitCode();
    }

    // The user's own run.
    int run(const QString& program) { return handOverHome() ? runCommand(asRunner() << program) : -1; }

    static QByteArray comm(qint64 pid) { return readFile(QString("/proc/%1/comm").arg(pid)).trimmed(); }

    [[nodiscard]] static bool startNamed(QProcess& process, const QString& program, const QStringList& prefix = {}) {
        return checksPass([&] {
            const QStringList command = prefix + QStringList{program, "300"};
            process.start(command.first(), command.mid(1));
            QVERIFY(process.waitForStarted());
            QTRY_COMPARE(comm(process.processId()), QFile::encodeName(QFileInfo(program).fileName())); // after setpriv
        });
    }

    // Whether the process was sent the request to quit: a fatal signal fixes how it ends when it is sent,
    // so a later SIGKILL cannot hide it.
    static bool askedToQuit(QProcess& process) {
        process.kill();
        return endedBySigterm(process);
    }

    static bool endedBySigterm(QProcess& process) {
        return process.waitForFinished(60000) && process.exitStatus() == QProcess::CrashExit &&
               process.exitCode() == SIGTERM;
    }

    // The command picks the first client of the user; another one (a second test run) would take its place.
    static bool onlyOurClientRuns(const QProcess& ours, uint uid) {
        for (const QString& pid : QDir("/proc").entryList(QDir::Dirs))
            if (pid.toLongLong() != ours.processId() && QFileInfo("/proc/" + pid).ownerId() == uid &&
                comm(pid.toLongLong()) == "Docuvane Fetch")
                return false;
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
        QVERIFY(handOverHome());
        QVERIFY(
            startNamed(prefixNamed, _home + "/other/Docuvane Fetch2", asRunner())); // lower process id, not the client
        QVERIFY(startNamed(clientProcess, client() + "/Contents/MacOS/Docuvane Fetch", asRunner()));
        if (!onlyOurClientRuns(clientProcess, runner()))
            QSKIP("another process named Docuvane Fetch runs for this user");
        QVERIFY(startNamed(secondClient, client() + "/Contents/MacOS/Docuvane Fetch", asRunner()));

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
                QVERIFY(
                    SharedFileListUtilities().isInFavorites(SharedFileListUtilities::fileURLWithPath(fetchFolder())));
                // docuvane-fetch.desktop: named ours, but not among the launchers
                for (const char* kept : {"/Desktop/Docuvane Fetch/Invoices/2024.pdf", "/notes.txt",
                                         "/docuvane-fetch.desktop", "/docuvane-fetch.d.svg/inside", "/opt"})
                    QVERIFY2(QFile::exists(_home + kept), kept);
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
        row("client bundle is a link", "link", QStringList{"@H/elsewhere/data.txt"},
            QStringList{"@P/Docuvane Fetch.app", "@P"});
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

    // Run as root for a user, the command acts only on an installation that is root's alone, and the
    // user's steps run as that user: a damaged settings file set aside under a name where the user put a
    // dangling link into a root-only folder creates nothing there. The user and the root-owned
    // installation exist only in a private mount namespace: a password file naming the user is mounted
    // over the system's, the installation ("@I", a folder of the test) over /mnt.
    void administratorRun_data() {
        QTest::addColumn<QString>("changed"); // in the product folder
        QTest::addColumn<int>("mode");        // given to it, or 0 for the user to own it
        QTest::addColumn<QString>("tool");
        QTest::addColumn<bool>("removed");
        const QString command = "/Docuvane Fetch/Uninstall.app/Contents/MacOS/wipe_tool", mounted = "/mnt" + command;
        row("root's alone", "Uninstall.app", 0755, mounted, true);
        row("bundle writable by its group", "Uninstall.app", 0775, mounted, false);
        row("command writable by others", "Uninstall.app/Contents/MacOS/wipe_tool", 0757, mounted, false);
        row("product folder owned by the user", "", 0, mounted, false);
        row("in a temporary folder", "Uninstall.app", 0755, "@I" + command, false);
    }

    void administratorRun() {
        QFETCH(QString, changed);
        QFETCH(int, mode);
        QFETCH(QString, tool);
        QFETCH(bool, removed);
        if (::getuid() != 0)
            QSKIP("needs root");
        QTemporaryDir base;
        const QString home = base.path() + "/home", installed = base.path() + "/installed";
        const QString rootOnly = base.path() + "/root-only", product = installed + "/Docuvane Fetch";
        const uid_t user = 4242;
        QVERIFY(::chmod(QFile::encodeName(base.path()).constData(), 0755) == 0);
        QVERIFY(QDir().mkpath(rootOnly) && ::chmod(QFile::encodeName(rootOnly).constData(), 0700) == 0);
        const QString config = home + "/.config/docuvane/";
        QVERIFY(writeFile(config + "com.docuvane.DocuvaneFetch.plist", "<plist><dict><key>Debug</key>"));
        QVERIFY(writeFile(config + "com.docuvane.Docuvane_Fetch.plist", "<plist><dict/></plist>"));
        QVERIFY(QFile::link(rootOnly + "/planted", config + "com.docuvane.DocuvaneFetch.plist.damaged"));
        QVERIFY(handOver(home, user));
        QVERIFY(writeFile(base.path() + "/passwd",
                          readFile("/etc/passwd") + "dvtest:x:4242:4242::" + QFile::encodeName(home) + ":/bin/sh\n"));
        QVERIFY(copyProgram(builtTool(), product + "/Uninstall.app/Contents/MacOS/wipe_tool"));
        QVERIFY(::chmod(QFile::encodeName(installed).constData(), 0755) == 0);
        const QByteArray path = QFile::encodeName(product + "/" + changed);
        QVERIFY(mode ? ::chmod(path.constData(), mode_t(mode)) == 0 : ::chown(path.constData(), user, user) == 0);
        const QString program = base.path() + "/bin/Docuvane Fetch";
        QVERIFY(copyProgram("/bin/sleep", program));
        QProcess usersClient, rootsClient;
        QVERIFY(startNamed(usersClient, program, {"setpriv", "--reuid=4242", "--regid=4242", "--clear-groups"}));
        QVERIFY(startNamed(rootsClient, program));
        if (!onlyOurClientRuns(usersClient, user) || !onlyOurClientRuns(rootsClient, 0))
            QSKIP("another process named Docuvane Fetch runs");

        const int status = runCommand(
            {"unshare", "--mount", "--propagation", "private", "sh", "-c",
             "mount --bind \"$BASE/passwd\" /etc/passwd && mount --bind \"$BASE/installed\" /mnt "
             "&& getent passwd 4242 >/dev/null || exit 99; \"$TOOL\"; exit $(($? + 100))"},
            {{"PKEXEC_UID", QString::number(user)}, {"BASE", base.path()}, {"TOOL", tool.replace("@I", installed)}});
        if (status >= 0 && status < 100) // the command's status, always 0, comes as 100
            QSKIP("no private mount namespace with a test user here (unshare and mount need CAP_SYS_ADMIN)");
        QCOMPARE(status, 100);
        QVERIFY2(!QFileInfo::exists(rootOnly + "/planted"), "root wrote through the user's link");
        QCOMPARE(askedToQuit(usersClient), removed);
        QVERIFY(!askedToQuit(rootsClient));
        QCOMPARE(QFileInfo::exists(config + "com.docuvane.Docuvane_Fetch.plist"), !removed);
        QCOMPARE(QFileInfo::exists(product), !removed);
    }

    // A product folder that the package system lists as the package's is removed through the package
    // system, and never by hand; otherwise its files are removed as before. The package system is a
    // stand-in dpkg-query ("" for none) and a stand-in apt-get that records how it was run.
    void packagedInstall_data() {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<int>("removalStatus");
        QTest::addColumn<bool>("administrator");
        QTest::addColumn<bool>("removalAsked");
        QTest::addColumn<bool>("deleted");
        QTest::addColumn<QString>("report");
        const QByteArray owned = "echo \"docuvane-fetch: $2\"";
        QTest::newRow("the package's") << owned << 0 << true << true << false << "removed the package docuvane-fetch";
        QTest::newRow("the package's, as the user") << owned << 0 << false << false << false << "only an administrator";
        QTest::newRow("the package's, removal fails") << owned << 100 << true << true << false << "status 100: E: x";
        row("shared with another package", QByteArray("echo \"other, docuvane-fetch: $2\""), 0, true, true, false,
            "removed");
        QTest::newRow("another package's") << QByteArray("echo \"other: $2\"") << 0 << false << false << true << "";
        QTest::newRow("no package's") << QByteArray("echo \"dpkg-query: no path found matching $2\" >&2; exit 1") << 0
                                      << false << false << true << "";
        QTest::newRow("dpkg-query fails") << QByteArray(owned + "; exit 2") << 0 << false << false << true << "";
        QTest::newRow("no dpkg-query") << QByteArray() << 0 << false << false << true << "";
    }

    void packagedInstall() {
        QFETCH(QByteArray, query);
        QFETCH(int, removalStatus);
        QFETCH(bool, administrator);
        QFETCH(bool, removalAsked);
        QFETCH(bool, deleted);
        QFETCH(QString, report);
        const QString product = _home + "/pkg/Docuvane Fetch", record = _home + "/removal";
        QVERIFY(writeFile(product + "/Uninstall.app/Contents/MacOS/wipe_tool"));
        QVERIFY(writeFile(product + "/Docuvane Fetch.app/Contents/MacOS/Docuvane Fetch"));
        const auto script = [](const QString& path, const QByteArray& body) {
            return writeFile(path, "#!/bin/sh\n" + body + "\n") &&
                   QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        };
        QVERIFY(query.isEmpty() || script(_home + "/bin/dpkg-query", query));
        QVERIFY(script(_home + "/bin/apt-get",
                       "printf '%s\\n' \"$*\" \"$PATH\" \"$DEBIAN_FRONTEND\" \"${LD_LIBRARY_PATH-none}\" >'" +
                           QFile::encodeName(record) + "'; echo 'E: x'; exit " + QByteArray::number(removalStatus)));
        // Nothing of the caller's environment reaches the package system.
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(_home + "/bin"));
        qputenv("LD_LIBRARY_PATH", QFile::encodeName(_home));
        const QString said = DocuvaneDropboxUninstall::deleteApplicationFolder(
            product + "/Uninstall.app", administrator,
            PackageManager({_home + "/bin/dpkg-query", _home + "/bin/apt-get"}));
        qputenv("PATH", path);
        qunsetenv("LD_LIBRARY_PATH");

        QVERIFY2(report.isEmpty() ? said.isEmpty() : said.contains(report), qPrintable(said));
        QCOMPARE(readFile(record),
                 removalAsked
                     ? QByteArray("remove --yes docuvane-fetch\n/usr/sbin:/usr/bin:/sbin:/bin\nnoninteractive\nnone\n")
                     : QByteArray());
        QCOMPARE(!QFileInfo::exists(product), deleted);
        QCOMPARE(QFileInfo::exists(product + "/Uninstall.app/Contents/MacOS/wipe_tool"), !deleted);
    }

    // The child that works for the user has no way back to root.
    void runAsUser() {
        QTemporaryDir shared;
        QVERIFY(::chmod(QFile::encodeName(shared.path()).constData(), 0777) == 0);
        const QString report = shared.path() + "/ids";
        const bool ran = InvokingUser::runAsUser(65534, [&] {
            uid_t ids[6] = {};
            ::getresuid(&ids[0], &ids[1], &ids[2]);
            ::getresgid(&ids[3], &ids[4], &ids[5]);
            QByteArray text;
            for (const uid_t id : ids)
                text += QByteArray::number(id) + " ";
            [[maybe_unused]] const bool written = writeFile(report, text + QByteArray::number(::getgroups(0, nullptr)) +
                                                                        " " + QByteArray::number(::setuid(0)));
        });
        QCOMPARE(ran, ::getuid() == 0);
        if (::getuid() != 0) {
            QVERIFY(!QFileInfo::exists(report)); // a child that cannot become the user does nothing
            return;
        }
        QCOMPARE(readFile(report), "65534 65534 65534 65534 65534 65534 1 -1"); // all ids, one group, no way back
        QVERIFY(!InvokingUser::runAsUser(4294967000u, [] {}));                  // no such user
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
