#include "TestMain.h"
#include "TestRows.h"
#include "WindowList.h"
#include "X11TestWindows.h"

#include <QGuiApplication>
#include <QtTest>

#include <memory>

// Runs on an X server (xvfb-run), with a window manager (DV_TEST_WINDOW_MANAGER=openbox) or without one
// (none). The windows are made on a connection of the test's own, as another application would make them,
// and read back through the Qt application's connection.
class TestWindowList : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<X11TestWindows> _x;
    QHash<QString, xcb_window_t> _made;
    bool _managed = false;

    using Shape = X11TestWindows::Shape;

    xcb_window_t make(const QString& name) {
        const QByteArray n = name.toUtf8();
        const QByteArray cls = "tst." + n;
        xcb_window_t window = XCB_NONE;
        if (name == QLatin1String("utf8"))
            window = _x->create(Shape{cls, QByteArray("Docuvane Fetch \xe2\x80\x94 Ablage"), QByteArray("old"), {}});
        else if (name == QLatin1String("latin1"))
            window = _x->create(Shape{cls, std::nullopt, QByteArray("Caf\xe9"), {}});
        else if (name == QLatin1String("untitled"))
            window = _x->create(Shape{cls, std::nullopt, std::nullopt, {}});
        else if (name == QLatin1String("empty"))
            window = _x->create(Shape{cls, QByteArray(""), std::nullopt, {}});
        else if (name == QLatin1String("noprops"))
            window = _x->create(Shape{});
        else if (name == QLatin1String("badclass")) {
            window = _x->create(Shape{QByteArray(), n, std::nullopt, {}});
            const uint32_t number = 7;
            _x->setProperty(window, "WM_CLASS", XCB_ATOM_INTEGER, 32, &number, 1);
        } else if (name == QLatin1String("instanceonly")) {
            window = _x->create(Shape{QByteArray(), n, std::nullopt, {}});
            _x->setProperty(window, "WM_CLASS", XCB_ATOM_STRING, 8, "only", 5);
        } else if (name == QLatin1String("badname")) {
            window = _x->create(Shape{cls, std::nullopt, QByteArray("fallback"), {}});
            const uint32_t number = 7;
            _x->setProperty(window, "_NET_WM_NAME", XCB_ATOM_CARDINAL, 32, &number, 1);
        } else if (name == QLatin1String("transient"))
            window = _x->create(Shape{cls, n, std::nullopt, {}, _made.value(QStringLiteral("A"))});
        else if (name == QLatin1String("modal"))
            window = _x->create(Shape{cls, n, std::nullopt, "DIALOG", _made.value(QStringLiteral("A")), "MODAL"});
        else if (name.startsWith(QLatin1String("type:")))
            window = _x->create(Shape{cls, n, std::nullopt, n.mid(5).toUpper()});
        else
            window = _x->create(Shape{cls, n, std::nullopt, {}});
        _x->sync();
        _made.insert(name, window);
        return window;
    }

    // Our windows as the list gives them, front to back: "owner|title|layer", "-" for none, layer "0" or "x".
    QStringList listed() const {
        QStringList lines;
        const std::optional<QList<WindowDescription>> windows = WindowList::onScreenWindows();
        if (!windows)
            return {QStringLiteral("no list")};
        for (const WindowDescription& window : *windows) {
            if (!_made.values().contains(window.windowId))
                continue;
            // Every X11 window can be read by others.
            const QString sharing = window.sharingState == 1 ? QString() : QStringLiteral(" unreadable");
            lines << QStringLiteral("%1|%2|%3%4")
                         .arg(window.ownerName.isNull() ? QStringLiteral("-") : window.ownerName,
                              window.name.isNull() ? QStringLiteral("-") : window.name,
                              window.layer == 0 ? QStringLiteral("0") : QStringLiteral("x"), sharing);
        }
        return lines;
    }

    QStringList sortedListed() const {
        QStringList lines = listed();
        lines.sort();
        return lines;
    }

private slots:
    void initTestCase() {
        _x = std::make_unique<X11TestWindows>();
        QVERIFY2(_x->isConnected(), "no X server: run under xvfb-run");
        _managed = qEnvironmentVariable("DV_TEST_WINDOW_MANAGER", QStringLiteral("none")) != QLatin1String("none");
        if (_managed)
            QVERIFY(_x->waitForWindowManager());
        else
            QVERIFY(!_x->windowManagerRunning());
        QVERIFY(WindowList::unavailableReason().isNull());
    }

    void cleanup() {
        for (xcb_window_t window : std::as_const(_made))
            _x->destroy(window);
        _made.clear();
    }

    // The same with and without a manager: without one, the test's own requests take the manager's part.
    void orderAndVisibility_data() {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QStringList>("expected");
        row("newest in front", QStringList{"A", "B", "C"}, QStringList{"tst.C|C|0", "tst.B|B|0", "tst.A|A|0"});
        row("raised", QStringList{"A", "B", "C", "raise A"}, QStringList{"tst.A|A|0", "tst.C|C|0", "tst.B|B|0"});
        row("lowered", QStringList{"A", "B", "C", "lower C"}, QStringList{"tst.B|B|0", "tst.A|A|0", "tst.C|C|0"});
        QTest::newRow("minimised: left out") << QStringList{"A", "B", "minimise B"} << QStringList{"tst.A|A|0"};
        QTest::newRow("destroyed: gone") << QStringList{"A", "B", "destroy A"} << QStringList{"tst.B|B|0"};
        row("other workspace: left out, all workspaces: kept",
            QStringList{"A", "B", "C", "desktop B 1", "desktop C all"}, QStringList{"tst.C|C|0", "tst.A|A|0"});
    }

    void orderAndVisibility() {
        QFETCH(QStringList, script);
        QFETCH(QStringList, expected);
        for (const QString& step : script) {
            const QStringList words = step.split(QLatin1Char(' '));
            if (words.size() == 1) {
                make(step);
                continue;
            }
            const xcb_window_t window = _made.value(words.at(1));
            if (words.first() == QLatin1String("raise"))
                _x->raise(window);
            else if (words.first() == QLatin1String("lower"))
                _x->lower(window);
            else if (words.first() == QLatin1String("minimise"))
                _x->minimise(window);
            else if (words.first() == QLatin1String("destroy"))
                _x->destroy(window);
            else if (words.first() == QLatin1String("desktop"))
                _x->moveToDesktop(window, words.at(2) == QLatin1String("all") ? 0xFFFFFFFF : words.at(2).toUInt());
        }
        // A window manager handles the requests in its own time.
        QTRY_COMPARE(listed(), expected);
    }

    // Owners, titles and kinds, including windows that break the rules; compared without order.
    void descriptions_data() {
        QTest::addColumn<QStringList>("windows");
        QTest::addColumn<QStringList>("expected");
        row("titles", QStringList{"utf8", "latin1", "untitled", "empty"},
            QStringList{"tst.empty||0", "tst.latin1|Caf\u00e9|0", "tst.untitled|-|0",
                        "tst.utf8|Docuvane Fetch \u2014 Ablage|0"});
        row("broken properties", QStringList{"noprops", "badclass", "instanceonly", "badname"},
            QStringList{"-|-|0", "-|badclass|0", "-|instanceonly|0", "tst.badname|fallback|0"});
        // Dialogs are windows like any other; a modal one stands above them.
        row("kinds",
            QStringList{"A", "transient", "type:normal", "type:dialog", "type:dock", "type:utility", "type:desktop",
                        "modal"},
            QStringList{"tst.A|A|0", "tst.modal|modal|x", "tst.transient|transient|0",
                        "tst.type:desktop|type:desktop|x", "tst.type:dialog|type:dialog|0", "tst.type:dock|type:dock|x",
                        "tst.type:normal|type:normal|0", "tst.type:utility|type:utility|x"});
    }

    void descriptions() {
        QFETCH(QStringList, windows);
        QFETCH(QStringList, expected);
        for (const QString& name : windows)
            make(name);
        QTRY_COMPARE(sortedListed(), expected);
    }

    // Without a manager the test plays one, listing a window that is already gone and one it does not show
    // (no Normal WM_STATE): both are left out, and the others come in the list's order, not the server's.
    void managerListWithGoneAndWithdrawnWindows() {
        if (_managed)
            QSKIP("needs a display without a window manager");
        const xcb_window_t check = _x->create(Shape{}, false);
        _made.insert(QStringLiteral("check"), check);
        for (xcb_window_t window : {_x->root(), check})
            _x->setProperty(window, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, 32, &check, 1);
        const xcb_window_t a = make(QStringLiteral("A")), b = make(QStringLiteral("B")), c = make(QStringLiteral("C"));
        const uint32_t normal[] = {1, XCB_NONE};
        for (xcb_window_t window : {a, b})
            _x->setProperty(window, "WM_STATE", _x->atom("WM_STATE"), 32, normal, 2);
        const xcb_window_t gone = xcb_generate_id(_x->connection());
        const xcb_window_t bottomToTop[] = {b, gone, c, a};
        _x->setProperty(_x->root(), "_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW, 32, bottomToTop, 4);
        _x->sync();
        const QStringList shown = listed();
        for (const QByteArray property : {"_NET_CLIENT_LIST_STACKING", "_NET_SUPPORTING_WM_CHECK"})
            xcb_delete_property(_x->connection(), _x->root(), _x->atom(property));
        _x->sync();
        QCOMPARE(shown, (QStringList{"tst.A|A|0", "tst.B|B|0"}));
    }

    void waylandSessionHasNoList() {
        make(QStringLiteral("A"));
        qputenv("XDG_SESSION_TYPE", "wayland");
        const std::optional<QList<WindowDescription>> windows = WindowList::onScreenWindows();
        const QString reason = WindowList::unavailableReason();
        qputenv("XDG_SESSION_TYPE", "x11");
        QVERIFY(!windows);
        QVERIFY(!reason.isEmpty());
    }

    void fileManagers_data() {
        QTest::addColumn<QString>("owner");
        QTest::addColumn<bool>("known");
        QTest::newRow("GNOME Files") << "org.gnome.Nautilus" << true;
        QTest::newRow("any case") << "ORG.GNOME.NAUTILUS" << true;
        QTest::newRow("a prefix is not a name") << "org.gnome.Nautilus2" << false;
        QTest::newRow("a browser") << "firefox-esr" << false;
        QTest::newRow("none") << QString() << false;
    }

    void fileManagers() {
        QFETCH(QString, owner);
        QFETCH(bool, known);
        QCOMPARE(WindowList::isFileManager(owner), known);
    }
};

DV_TEST_X11_MAIN(TestWindowList)

#include "tst_windowlist.moc"
