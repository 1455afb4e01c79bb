#include "PkexecRunner.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "TestTiming.h"
#include "UninstallController.h"
#include "UninstallWindow.h"

#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>

// Stands in for pkexec: records each privileged run and answers with a chosen status, optionally doing
// what the real command does to the bundle first.
class FakeRunner : public PrivilegedRunner {
public:
    QStringList programs;
    int status = 0;
    bool trusted = true;
    QString removeFirst;
    bool answerLater = false;
    std::function<void(int)> pending;

    bool mayRun(const QString&) const override { return trusted; }
    void run(const QString& program, std::function<void(int)> done) override {
        programs.append(program);
        if (!removeFirst.isEmpty())
            QDir(removeFirst).removeRecursively();
        if (answerLater)
            pending = std::move(done);
        else
            done(status);
    }
};

// The uninstaller's window and logic with a stand-in for pkexec and a recording stand-in for the command.
class TestUninstall : public QObject {
    Q_OBJECT

    QString _bundle;
    QString _log;

    QByteArray userRuns() const { return readFile(_log); }

    // A shell script at path, runnable by its owner.
    [[nodiscard]] static bool writeScript(const QString& path, const QByteArray& body) {
        return writeFile(path, "#!/bin/sh\n" + body + "\n") &&
               QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
    }

private slots:
    void init() {
        _bundle = QDir::homePath() + "/product/Uninstall.app";
        _log = QDir::homePath() + "/runs.log";
        QFile::remove(_log);
        QDir(_bundle).removeRecursively();
        QVERIFY(writeScript(_bundle + "/Contents/MacOS/wipe_tool",
                            "echo \"$(/usr/bin/id -u)\" >> '" + QFile::encodeName(_log) + "'"));
    }

    void buttons_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("runRemovesBundle");
        QTest::addColumn<int>("privilegedRuns");
        QTest::addColumn<bool>("userRun");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("Cancel") << "cancel" << 0 << false << 0 << false << true;
        QTest::newRow("window closed") << "escape" << 0 << false << 0 << false << true;
        QTest::newRow("password request dismissed") << "ok" << 126 << false << 1 << false << true;
        QTest::newRow("rights refused") << "ok" << 127 << false << 1 << false << true;
        QTest::newRow("no pkexec") << "ok" << int(PrivilegedRunner::kNotStarted) << false << 1 << false << true;
        QTest::newRow("granted") << "ok" << 0 << false << 1 << true << true;
        QTest::newRow("granted, and the run removed the bundle") << "ok" << 0 << true << 1 << true << true;
        QTest::newRow("installation not the administrator's alone") << "ok" << 0 << false << 0 << true << false;
    }

    void buttons() {
        QFETCH(QString, action);
        QFETCH(int, status);
        QFETCH(bool, runRemovesBundle);
        QFETCH(int, privilegedRuns);
        QFETCH(bool, userRun);
        QFETCH(bool, trusted);
        auto runner = std::make_unique<FakeRunner>();
        FakeRunner* fake = runner.get();
        fake->status = status;
        fake->trusted = trusted;
        fake->removeFirst = runRemovesBundle ? _bundle : QString();
        UninstallController controller(_bundle, std::move(runner));
        UninstallWindow window(&controller);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy finished(&controller, &UninstallController::finished);

        if (action == "cancel")
            QTest::mouseClick(window.cancelButton(), Qt::LeftButton);
        else if (action == "escape")
            QTest::keyClick(&window, Qt::Key_Escape);
        else
            QTest::mouseClick(window.okButton(), Qt::LeftButton);

        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toInt(), 0);
        QCOMPARE(fake->programs, QStringList(privilegedRuns, _bundle + "/Contents/MacOS/wipe_tool"));
        if (userRun) {
            QTRY_COMPARE(userRuns(), QByteArray::number(::getuid()) + "\n");
        } else {
            QTest::qWait(kSettleMs); // a copy started by mistake would have written by now
            QCOMPARE(userRuns(), QByteArray());
        }
    }

    void nothingMoreWhileTheRightsAreAsked() {
        auto runner = std::make_unique<FakeRunner>();
        FakeRunner* fake = runner.get();
        fake->answerLater = true;
        UninstallController controller(_bundle, std::move(runner));
        UninstallWindow window(&controller);
        QSignalSpy finished(&controller, &UninstallController::finished);

        QTest::mouseClick(window.okButton(), Qt::LeftButton);
        QVERIFY(!window.okButton()->isEnabled());
        controller.okButton();
        window.reject(); // closing the window must not end the privileged run half-way
        QCOMPARE(fake->programs.size(), 1);
        QCOMPARE(finished.size(), 0);

        fake->pending(0);
        QCOMPARE(finished.size(), 1);
        QTRY_COMPARE(userRuns(), QByteArray::number(::getuid()) + "\n");
    }

    // pkexec's own statuses, the program's status, and pkexec missing or dying, through a stand-in; one on
    // PATH is never used.
    void pkexecStatuses_data() {
        QTest::addColumn<QByteArray>("script"); // empty: no pkexec at all
        QTest::addColumn<int>("status");
        QTest::newRow("dismissed") << QByteArray("exit 126") << 126;
        QTest::newRow("runs the program") << QByteArray("exec \"$1\"") << 0;
        QTest::newRow("killed") << QByteArray("kill -9 $$") << int(PrivilegedRunner::kNotStarted);
        QTest::newRow("not installed") << QByteArray() << int(PrivilegedRunner::kNotStarted);
    }

    void pkexecStatuses() {
        QFETCH(QByteArray, script);
        QFETCH(int, status);
        QTemporaryDir bin, onPath;
        QVERIFY(script.isEmpty() || writeScript(bin.path() + "/pkexec", script));
        QVERIFY(writeScript(onPath.path() + "/pkexec", "exec \"$1\""));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(onPath.path()));
        PkexecRunner runner(bin.path() + "/pkexec");
        QList<int> statuses;
        runner.run(_bundle + "/Contents/MacOS/wipe_tool", [&](int result) { statuses.append(result); });
        qputenv("PATH", path);
        QTRY_COMPARE(statuses, QList<int>{status});
        QCOMPARE(userRuns().isEmpty(), status != 0);
    }
};

DV_TEST_WIDGETS_MAIN(TestUninstall)
#include "tst_uninstall.moc"
