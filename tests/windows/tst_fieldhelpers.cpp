#include "AXCVHandler.h"
#include "ClientSettings.h"
#include "DVFolderChooser.h"
#include "DVPasswordCipher.h"
#include "DVPasswordTransformer.h"
#include "TestMain.h"
#include "TestRows.h"
#include "TextHeightForWidth.h"

#include <QClipboard>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QTextLayout>

// The password transformer, the Control-key text field, the text measurement and the folder chooser.
class TestFieldHelpers : public QObject {
    Q_OBJECT

    static QFont measuringFont() {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(13);
        return font;
    }

    // The height of one line of the font as the text layout places it.
    static qreal lineHeight(const QFont& font) {
        QTextLayout layout(QStringLiteral("m"), font);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(1000);
        const qreal height = line.height();
        layout.endLayout();
        return height;
    }

private slots:
    void transformer_data() {
        QTest::addColumn<bool>("reverse");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("no stored value") << false << QVariant() << QVariant();
        row("data that does not decipher", false, QVariant(QByteArray("not a cipher text")), QVariant());
        QTest::newRow("no text") << true << QVariant() << QVariant();
        // An emptied password field removes the stored password instead of storing empty data.
        QTest::newRow("empty string") << true << QVariant(QStringLiteral("")) << QVariant();
        // The stored form is the one every other reader of "password" deciphers.
        row("text", true, QVariant(QStringLiteral("s3cret")), QVariant(encryptPassword(QStringLiteral("s3cret"))));
    }

    void transformer() {
        QFETCH(bool, reverse);
        QFETCH(QVariant, value);
        QFETCH(QVariant, expected);
        const QVariant result = reverse ? DVPasswordTransformer::reverseTransformedValue(value)
                                        : DVPasswordTransformer::transformedValue(value);
        QCOMPARE(result.isValid(), expected.isValid());
        QCOMPARE(result, expected);
    }

    // The four keys act on whichever widget has the focus; the keys are sent to the AXCVHandler field.
    void controlKeys_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("selectFirst");
        QTest::addColumn<QString>("expectedOther");
        QTest::addColumn<QString>("expectedOtherSelection");
        QTest::addColumn<QString>("expectedClipboard");
        // Keys that are not the four reach the field's own handling, and may type there.
        QTest::addColumn<QString>("expectedField");
        const int control = Qt::ControlModifier;
        row("Control-A selects all", int(Qt::Key_A), control, false, "world", "world", "clip", "hello");
        row("Control-C copies", int(Qt::Key_C), control, true, "world", "world", "world", "hello");
        row("Control-X cuts", int(Qt::Key_X), control, true, "", "", "world", "hello");
        row("Control-V pastes", int(Qt::Key_V), control, false, "worldclip", "", "clip", "hello");
        row("Control-Alt-A is not select-all", int(Qt::Key_A), int(Qt::ControlModifier | Qt::AltModifier), false,
            "world", "", "clip", "helloa");
        row("Control-Z is not one of them", int(Qt::Key_Z), control, false, "world", "", "clip", "hello");
    }

    void controlKeys() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, selectFirst);
        QFETCH(QString, expectedOther);
        QFETCH(QString, expectedOtherSelection);
        QFETCH(QString, expectedClipboard);
        QFETCH(QString, expectedField);

        QWidget window;
        auto* layout = new QHBoxLayout(&window);
        auto* field = new AXCVHandler(QStringLiteral("hello"));
        auto* other = new QLineEdit(QStringLiteral("world"));
        layout->addWidget(field);
        layout->addWidget(other);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        other->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), other);
        if (selectFirst)
            other->selectAll();
        QGuiApplication::clipboard()->setText(QStringLiteral("clip"));

        QTest::keyClick(field, Qt::Key(key), Qt::KeyboardModifiers(modifiers));

        QCOMPARE(other->text(), expectedOther);
        QCOMPARE(other->selectedText(), expectedOtherSelection);
        QCOMPARE(QGuiApplication::clipboard()->text(), expectedClipboard);
        QCOMPARE(field->text(), expectedField);
        QCOMPARE(field->selectedText(), QString());
    }

    // Where the real folder chooser opens, for the stored fetch folder's path under the home folder.
    void chooserStartFolder_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");
        row("the folder that holds the fetch folder", QStringLiteral("/Desktop/Docuvane Fetch"),
            QStringLiteral("/Desktop"));
        row("that folder gone", QStringLiteral("/Gone/Docuvane Fetch"), QString());
        row("no path", QString(), QString());
    }

    void chooserStartFolder() {
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        QDir().mkpath(QDir::homePath() + QStringLiteral("/Desktop"));
        ClientSettings::shared().setFetchFolderPath(stored.isNull() ? stored : QDir::homePath() + stored);
#if defined(__SANITIZE_THREAD__)
        // The dialog gathers file information on a thread of uninstrumented Qt: the folder it would be given.
        QCOMPARE(DVFolderChooser::startFolder(ClientSettings::shared().fetchFolderPath()), QDir::homePath() + expected);
        return;
#endif
        DVFolderChooser::standard()->chooseFolder(DVFolderChooser::Title, nullptr, [](const auto&) {});
        const QWidgetList windows = QApplication::topLevelWidgets();
        const auto found =
            std::find_if(windows.begin(), windows.end(), [](QWidget* w) { return qobject_cast<QFileDialog*>(w); });
        QVERIFY(found != windows.end());
        std::unique_ptr<QFileDialog> dialog(static_cast<QFileDialog*>(*found));
        QCOMPARE(dialog->directory().absolutePath(), QDir::homePath() + expected);
    }

    void textHeight_data() {
        QTest::addColumn<QString>("text");
        // The width in multiples of the width of "mmmm".
        QTest::addColumn<double>("widthInWords");
        QTest::addColumn<int>("lines");
        QTest::newRow("three words at one and a half words") << "mmmm mmmm mmmm" << 1.5 << 3;
        QTest::newRow("the same at ten words") << "mmmm mmmm mmmm" << 10.0 << 1;
        QTest::newRow("a name longer than the width") << "mmmmmmmmmmmmmmmm" << 1.5 << 3;
        QTest::newRow("a path breaks inside a folder name") << "/mmmm/mmmmmmmmmmmm/mm" << 2.0 << 3;
        QTest::newRow("empty") << "" << 1.0 << 0;
    }

    void textHeight() {
        QFETCH(QString, text);
        QFETCH(double, widthInWords);
        QFETCH(int, lines);
        const QFont font = measuringFont();
        const qreal word = QFontMetricsF(font).horizontalAdvance(QStringLiteral("mmmm"));
        const float height = textHeightForWidth(text, font, float(word * widthInWords));
        QVERIFY2(qAbs(height - lines * lineHeight(font)) < 0.01,
                 qPrintable(QStringLiteral("%1 for %2 lines of %3").arg(height).arg(lines).arg(lineHeight(font))));
    }
};

DV_TEST_WIDGETS_MAIN(TestFieldHelpers)
#include "tst_fieldhelpers.moc"
