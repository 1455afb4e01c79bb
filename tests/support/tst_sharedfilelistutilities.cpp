#include "SharedFileListUtilities.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "TestRows.h"

#include <QXmlStreamReader>

// The login items and sidebar places as the desktop keeps them, read and written through the same
// files GTK, KDE and the XDG autostart loader use.
class TestSharedFileListUtilities : public QObject {
    Q_OBJECT

    SharedFileListUtilities _lists;
    QString _home;

    static QByteArray read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QString bookmarks() const { return _home + "/.config/gtk-3.0/bookmarks"; }
    QString kdePlaces() const { return _home + "/.local/share/user-places.xbel"; }
    QString autostart() const { return _home + "/.config/autostart"; }
    QString folder(const QString& name) const {
        const QString path = _home + "/places/" + name;
        QDir().mkpath(path);
        return path;
    }
    // A bundle laid out as the client's is, with its program.
    QString bundle(const QString& name) const {
        const QString path = _home + "/apps/" + name + ".app";
        QDir().mkpath(path + "/Contents/MacOS");
        QFile program(path + "/Contents/MacOS/" + name);
        program.open(QIODevice::WriteOnly);
        program.setPermissions(program.permissions() | QFile::ExeOwner);
        return path;
    }
    // Test text with "@H" for the home folder as written in a URI (the home is plain ASCII) and as a path.
    QByteArray withHome(QByteArray text) const { return text.replace("@H", QFile::encodeName(_home)); }

private slots:
    void initTestCase() {
        _home = QDir::homePath();
        QVERIFY(QRegularExpression("^[A-Za-z0-9/._-]+$").match(_home).hasMatch());
    }

    void init() {
        for (const QString& path : {_home + "/.config", _home + "/.local", _home + "/places", _home + "/apps"})
            QDir(path).removeRecursively();
    }

    void bookmarkRoundTrip_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("non-ASCII") << QString::fromUtf8("Bücher Ω") << QByteArray("B%C3%BCcher%20%CE%A9");
        QTest::newRow("URL syntax") << "50% #1?[x]" << QByteArray("50%25%20%231%3F%5Bx%5D");
    }

    void bookmarkRoundTrip() {
        QFETCH(QString, name);
        QFETCH(QByteArray, written);
        const QByteArray before = "file:///tmp Temporary files\nsftp://host/srv Server\n";
        QVERIFY(writeFile(bookmarks(), before));
        const QUrl url = SharedFileListUtilities::fileURLWithPath(folder(name));
        QVERIFY(url.toString().endsWith('/'));

        QVERIFY(!_lists.isInFavorites(url));
        _lists.addToFavorites(url);
        QCOMPARE(read(bookmarks()), withHome("file://@H/places/") + written + "\n" + before);
        QVERIFY(_lists.isInFavorites(url));
        _lists.removeFromFavorites(url);
        QCOMPARE(read(bookmarks()), before);
        QVERIFY(!_lists.isInFavorites(url));
    }

    // Which written entries a folder's URL matches, and what removing it leaves ("@F" is the folder's URI).
    void bookmarkMatching_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("query"); // "folder", "folder without slash", "missing"
        QTest::addColumn<bool>("found");
        QTest::addColumn<QByteArray>("afterRemove");
        const QByteArray other = "file:///tmp\n";
        QTest::newRow("label kept, matched") << "@F My fetch folder\n" + other << "folder" << true << other;
        QTest::newRow("written with a slash") << "@F/\n" + other << "folder" << true << other;
        row("localhost host", QByteArray("file://localhost@H/places/Fetch\n"), "folder", true, QByteArray());
        row("first of two only", "@F A\n" + other + "@F B\n", "folder", true, other + "@F B\n");
        QTest::newRow("URL without its slash") << "@F\n" + other << "folder without slash" << false << "@F\n" + other;
        row("folder gone", QByteArray("file://@H/places/Gone\n"), "missing", false,
            QByteArray("file://@H/places/Gone\n"));
        QTest::newRow("blank lines kept") << "\n@F\n\n" + other << "folder" << true << "\n\n" + other;
    }

    void bookmarkMatching() {
        QFETCH(QByteArray, content);
        QFETCH(QString, query);
        QFETCH(bool, found);
        QFETCH(QByteArray, afterRemove);
        const QString path = folder("Fetch");
        const QUrl url = query == "folder" ? SharedFileListUtilities::fileURLWithPath(path)
                         : query == "folder without slash"
                             ? QUrl::fromLocalFile(path)
                             : SharedFileListUtilities::fileURLWithPath(_home + "/places/Gone");
        QVERIFY(writeFile(bookmarks(), withHome(content.replace("@F", "file://@H/places/Fetch"))));

        QCOMPARE(_lists.isInFavorites(url), found);
        _lists.removeFromFavorites(url);
        QCOMPARE(read(bookmarks()), withHome(afterRemove.replace("@F", "file://@H/places/Fetch")));
    }

    void addPutsFirstAndNeverTwice() {
        const QUrl a = SharedFileListUtilities::fileURLWithPath(folder("A"));
        const QUrl b = SharedFileListUtilities::fileURLWithPath(folder("B"));
        _lists.addToFavorites(a); // creates the file and its folder
        _lists.addToFavorites(b);
        _lists.addToFavorites(a);
        QCOMPARE(read(bookmarks()), withHome("file://@H/places/B\nfile://@H/places/A\n"));
        QVERIFY(!QFile::exists(kdePlaces())); // KDE's file is KDE's to create
    }

    void unusableStoresAreLeftAlone() {
        const QUrl url = SharedFileListUtilities::fileURLWithPath(folder("Fetch"));
        _lists.addToFavorites(SharedFileListUtilities::fileURLWithPath(_home + "/places/Gone"));
        QVERIFY(!QFile::exists(bookmarks())); // a folder that is not there is never added

        QDir().mkpath(bookmarks()); // exists, cannot be read as a file
        const QByteArray broken = "<?xml version=\"1.0\"?>\n<xbel>\n <bookmark href=\"file:///tmp\">\n</xbel>\n";
        QVERIFY(writeFile(kdePlaces(), broken));
        QVERIFY(!_lists.isInFavorites(url));
        _lists.addToFavorites(url);
        QVERIFY(QFileInfo(bookmarks()).isDir());
        QCOMPARE(read(kdePlaces()), broken);
    }

    void kdePlacesKeptIntact_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("added"); // "@F" is where the new place goes
        QTest::addColumn<QString>("name");     // the folder's
        QTest::addColumn<QByteArray>("place"); // its href after "places/", then its title
        const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE xbel>\n"
                                "<xbel xmlns:bookmark=\"http://www.freedesktop.org/standards/desktop-bookmarks\" "
                                "xmlns:kdepriv=\"http://www.kde.org/kdepriv\">\n"
                                " <info>\n  <metadata owner=\"http://www.kde.org\"><kde_places_version>4"
                                "</kde_places_version><GroupState-Places-IsHidden>false"
                                "</GroupState-Places-IsHidden></metadata>\n </info>\n";
        const QByteArray home = " <bookmark href=\"file:///root\">\n  <title>Home \xc3\xa9\xf0\x9f\x93\x81</title>\n"
                                "  <info><metadata owner=\"http://freedesktop.org\"><bookmark:icon name=\"user-home\"/>"
                                "</metadata><kdepriv:x a=\"&amp;\"/></info>\n </bookmark>\n";
        const QByteArray rest = " <!-- a comment -->\n <separator/>\n <bookmark href=\"remote:/\"><title>Network"
                                "</title></bookmark>\n</xbel>\n";
        const QString name = QStringLiteral("Fetch & Co");
        const QByteArray place = "Fetch%20&amp;%20Co\">\n  <title>Fetch &amp; Co";
        QTest::newRow("KDE's own file") << head + home + rest << head + "@F" + home + rest << name << place;
        row("no places yet", QByteArray("<xbel>\n</xbel>\n"), QByteArray("<xbel>\n@F</xbel>\n"), name, place);
        // Characters XML forbids are left out of the title; the address keeps them, percent-encoded.
        row("control characters", QByteArray("<xbel>\n</xbel>\n"), QByteArray("<xbel>\n@F</xbel>\n"), "F\x01\x1f\tx",
            QByteArray("F%01%1F%09x\">\n  <title>F\tx"));
    }

    void kdePlacesKeptIntact() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, added);
        QFETCH(QString, name);
        QFETCH(QByteArray, place);
        const QUrl url = SharedFileListUtilities::fileURLWithPath(folder(name));
        QVERIFY(writeFile(kdePlaces(), before));

        _lists.addToFavorites(url);
        const QByteArray element = withHome(" <bookmark href=\"file://@H/places/" + place + "</title>\n </bookmark>\n");
        QCOMPARE(read(kdePlaces()), added.replace("@F", element));
        QXmlStreamReader reader(read(kdePlaces()));
        while (!reader.atEnd())
            reader.readNext();
        QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
        QVERIFY(read(bookmarks()).startsWith(withHome("file://@H/places/") + QUrl::toPercentEncoding(name, "/&")));

        QFile::remove(bookmarks()); // the KDE file alone must answer
        QVERIFY(_lists.isInFavorites(url));
        _lists.removeFromFavorites(url);
        QCOMPARE(read(kdePlaces()), before);
    }

    void loginItemRoundTrip_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("entry"); // "@A" is the apps folder
        row("spaces", "Docuvane Fetch", "docuvane-fetch.desktop",
            QByteArray("Name=Docuvane Fetch\n"
                       "Exec=\"@A/Docuvane Fetch.app/Contents/MacOS/Docuvane Fetch\""));
        row("non-ASCII", QString::fromUtf8("Dökü Fetch"), QString::fromUtf8("dökü-fetch.desktop"),
            QByteArray("Name=D\xc3\xb6k\xc3\xbc Fetch\n"
                       "Exec=\"@A/D\xc3\xb6k\xc3\xbc Fetch.app/Contents/MacOS/D\xc3\xb6k"
                       "\xc3\xbc Fetch\""));
        row("quoting", "a\"b$c`d` 5% e\\f", "a-b-c-d-5-e-f.desktop",
            QByteArray("Name=a\"b$c`d` 5% e\\\\f\n"
                       "Exec=\"@A/a\\\\\"b\\\\$c\\\\`d\\\\` 5%% e\\\\\\\\f.app/Contents/MacOS/"
                       "a\\\\\"b\\\\$c\\\\`d\\\\` 5%% e\\\\\\\\f\""));
    }

    void loginItemRoundTrip() {
        QFETCH(QString, name);
        QFETCH(QString, fileName);
        QFETCH(QByteArray, entry);
        const QUrl url = SharedFileListUtilities::fileURLWithPath(bundle(name));
        QVERIFY(writeFile(autostart() + "/other.desktop", "[Desktop Entry]\nType=Application\nExec=/bin/true\n"));

        _lists.addToLoginItems(url);
        QCOMPARE(read(autostart() + "/" + fileName), "[Desktop Entry]\nType=Application\n" +
                                                         entry.replace("@A", QFile::encodeName(_home + "/apps")) +
                                                         "\nX-GNOME-Autostart-enabled=true\n");
        QVERIFY(_lists.isInLoginItems(url));
        _lists.removeFromLoginItems(url);
        QVERIFY(!QFile::exists(autostart() + "/" + fileName));
        QVERIFY(QFile::exists(autostart() + "/other.desktop"));
    }

    // Entries written by others, and whether they stand for the bundle ("@P" is its program).
    void loginItemResolution_data() {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<bool>("found");
        QTest::newRow("arguments and field codes") << QByteArray("[Desktop Entry]\nExec = \"@P\" --quiet %U\n") << true;
        QTest::newRow("Hidden") << QByteArray("[Desktop Entry]\nHidden=true\nExec=\"@P\"\n") << false;
        row("switched off", QByteArray("[Desktop Entry]\nX-GNOME-Autostart-enabled=false\nExec=\"@P\"\n"), false);
        row("another group", QByteArray("[Desktop Action x]\nExec=\"@P\"\n[Desktop Entry]\nExec=true\n"), false);
        QTest::newRow("program gone") << QByteArray("[Desktop Entry]\nExec=\"@P-old\"\n") << false;
    }

    void loginItemResolution() {
        QFETCH(QByteArray, entry);
        QFETCH(bool, found);
        const QString path = bundle("Docuvane Fetch");
        QVERIFY(writeFile(autostart() + "/x.desktop",
                          entry.replace("@P", QFile::encodeName(path + "/Contents/MacOS/Docuvane Fetch"))));
        QCOMPARE(_lists.isInLoginItems(SharedFileListUtilities::fileURLWithPath(path)), found);
    }

    void addReplacesOnlyOurOwnEntry() {
        const QString path = bundle("Docuvane Fetch");
        const QUrl url = SharedFileListUtilities::fileURLWithPath(path);
        const QByteArray foreign = "[Desktop Entry]\nExec=/usr/bin/docuvane-fetch\n";
        QVERIFY(writeFile(autostart() + "/docuvane-fetch.desktop", foreign));
        _lists.addToLoginItems(url);
        QCOMPARE(read(autostart() + "/docuvane-fetch.desktop"), foreign);
        QVERIFY(read(autostart() + "/docuvane-fetch-2.desktop").contains("X-GNOME-Autostart-enabled=true"));

        QVERIFY(writeFile(autostart() + "/docuvane-fetch-2.desktop",
                          "[Desktop Entry]\nX-GNOME-Autostart-enabled=false\nExec=\"" + QFile::encodeName(path) +
                              "/Contents/MacOS/Docuvane Fetch\"\n"));
        _lists.addToLoginItems(url); // switched off by the user's desktop: switched on again, not copied
        QVERIFY(read(autostart() + "/docuvane-fetch-2.desktop").contains("X-GNOME-Autostart-enabled=true"));
        QCOMPARE(QDir(autostart()).entryList(QDir::Files).size(), 2);
    }

    void entriesOfAMissingBundle() {
        const QString path = bundle("Docuvane Fetch");
        const QUrl url = SharedFileListUtilities::fileURLWithPath(path);
        _lists.addToLoginItems(url);
        QVERIFY(writeFile(autostart() + "/zz-second.desktop", read(autostart() + "/docuvane-fetch.desktop")));
        QDir(path).removeRecursively();

        _lists.removeFromLoginItems(url); // cannot resolve: stays
        QVERIFY(QFile::exists(autostart() + "/docuvane-fetch.desktop"));
        _lists.removeUnresolvedFromLoginItems(SharedFileListUtilities::fileURLWithPath(path));
        QVERIFY(!QFile::exists(autostart() + "/docuvane-fetch.desktop"));
        QVERIFY(QFile::exists(autostart() + "/zz-second.desktop")); // first match only
    }
};

DV_TEST_GUILESS_MAIN(TestSharedFileListUtilities)
#include "tst_sharedfilelistutilities.moc"
