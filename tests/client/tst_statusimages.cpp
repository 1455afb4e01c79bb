#include "DVStatusImages.h"
#include "TestMain.h"

#include <QGuiApplication>
#include <QPainter>
#include <QtTest>

namespace {

const QColor kLightPanel(0xef, 0xef, 0xef);
const QColor kDarkPanel(0x2a, 0x2b, 0x2e);
const QList<DVStatusImage> kImages{DVStatusImage::Color, DVStatusImage::ColorWarning, DVStatusImage::BlackAndWhite,
                                   DVStatusImage::BlackAndWhiteWarning};

// Relative luminance as WCAG defines it (linear light).
double luminance(QRgb pixel) {
    const auto linear = [](int channel) {
        const double c = channel / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(pixel)) + 0.7152 * linear(qGreen(pixel)) + 0.0722 * linear(qBlue(pixel));
}

// The WCAG contrast against the panel of the image's outline: the opaque pixels next to transparent ones,
// which are what sets the icon apart from the panel.
double outlineContrast(const QImage& image, const QColor& panel) {
    const auto transparent = [&image](int x, int y) {
        return x < 0 || y < 0 || x >= image.width() || y >= image.height() || qAlpha(image.pixel(x, y)) == 0;
    };
    double sum = 0;
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) < 250 ||
                !(transparent(x - 1, y) || transparent(x + 1, y) || transparent(x, y - 1) || transparent(x, y + 1)))
                continue;
            sum += luminance(pixel);
            ++count;
        }
    if (!count)
        return 1;
    const double a = sum / count + 0.05;
    const double b = luminance(panel.rgb()) + 0.05;
    return std::max(a, b) / std::min(a, b);
}

int countPixels(const QImage& image, const std::function<bool(QRgb)>& test) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += test(image.pixel(x, y)) ? 1 : 0;
    return count;
}

bool isAmber(QRgb p) {
    return qAlpha(p) > 250 && qRed(p) > 200 && qGreen(p) > 140 && qBlue(p) < 80;
}

// A strip of every image at every tray size on a panel colour, four times enlarged without smoothing so
// that the pixels can be judged.
QImage panelSheet(const QColor& panel, bool dark) {
    const QList<int> sizes{16, 22, 24, 32};
    constexpr int zoom = 4;
    QImage sheet(zoom * (16 + 22 + 24 + 32 + 5 * 8), zoom * (4 * 32 + 5 * 8), QImage::Format_ARGB32);
    sheet.fill(panel);
    QPainter p(&sheet);
    int y = 8;
    for (DVStatusImage image : kImages) {
        int x = 8;
        for (int size : sizes) {
            p.drawImage(QRect(x * zoom, y * zoom, size * zoom, size * zoom), DVStatusImages::render(image, size, dark));
            x += size + 8;
        }
        y += 32 + 8;
    }
    return sheet;
}

} // namespace

class TestStatusImages : public QObject {
    Q_OBJECT

private slots:
    void chooser_data() {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("blackAndWhite");
        QTest::addColumn<bool>("darkPanel");
        QTest::addColumn<QString>("fileName"); // on a dark panel the glyph is light
        const QString bw = QStringLiteral("Docuvane Desktop Status Bar Icon BW.png");
        const QString colour = QStringLiteral("Docuvane Desktop Status Bar Icon Color.png");
        const QString bwWarning = QStringLiteral("Docuvane Desktop Status Bar BW WARNING.png");
        const QString colourWarning = QStringLiteral("Docuvane Desktop Status Bar Color WARNING.png");
        QTest::newRow("state 1, colour, light") << true << false << false << colour;
        QTest::newRow("state 1, bw, light") << true << true << false << bw;
        QTest::newRow("state 1, colour wanted, dark") << true << false << true << bw;
        QTest::newRow("other state, colour, light") << false << false << false << colourWarning;
        QTest::newRow("other state, bw, light") << false << true << false << bwWarning;
        QTest::newRow("other state, colour wanted, dark") << false << false << true << bwWarning;
    }
    void chooser() {
        QFETCH(bool, enabled);
        QFETCH(bool, blackAndWhite);
        QFETCH(bool, darkPanel);
        QFETCH(QString, fileName);
        const QIcon icon = DVStatusImages::image(enabled, blackAndWhite, darkPanel);
        const DVStatusImage expected = DVStatusImages::imageFor(enabled, blackAndWhite || darkPanel);
        QCOMPARE(DVStatusImages::fileName(expected), fileName);
        // The icon carries the drawing the table names, at every tray size.
        for (int size : {16, 22, 24, 32}) {
            const QImage shown = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
            QCOMPARE(shown.size(), QSize(size, size));
            QCOMPARE(shown, DVStatusImages::render(expected, size, darkPanel));
        }
        // Artwork under the file name replaces the drawing; one-colour artwork takes the panel's glyph colour.
        QTemporaryDir artwork;
        QImage red(32, 32, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(artwork.filePath(fileName)));
        const auto shownAt22 = [&] {
            return DVStatusImages::image(enabled, blackAndWhite, darkPanel, artwork.path()).pixmap(22, 22).toImage();
        };
        const QColor glyph = darkPanel ? QColor(0xf2, 0xf2, 0xf2) : QColor(0x1e, 0x1e, 0x1e);
        QCOMPARE(QColor(shownAt22().pixel(11, 11)),
                 DVStatusImages::isBlackAndWhite(expected) ? glyph : QColor(Qt::red));
        // Damaged artwork leaves the drawing.
        QFile damaged(artwork.filePath(fileName));
        QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate) && damaged.write("\x89PNG broken") > 0);
        damaged.close();
        QCOMPARE(shownAt22().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 DVStatusImages::render(expected, 22, darkPanel));
    }

    // Every image must stand out from the panel it is shown on, at every size.
    void visibleOnPanels_data() {
        QTest::addColumn<int>("image");
        QTest::addColumn<bool>("dark");
        for (DVStatusImage image : kImages)
            for (bool dark : {false, true})
                QTest::addRow("%s on %s", qPrintable(DVStatusImages::fileName(image)), dark ? "dark" : "light")
                    << int(image) << dark;
    }
    void visibleOnPanels() {
        QFETCH(int, image);
        QFETCH(bool, dark);
        const auto which = DVStatusImage(image);
        for (int size : DVStatusImages::traySizes()) {
            const QImage rendered = DVStatusImages::render(which, size, dark);
            // One-colour glyphs must follow the panel; the colour tiles carry a mid tone that reads on both.
            const double contrast = outlineContrast(rendered, dark ? kDarkPanel : kLightPanel);
            QVERIFY2(contrast >= (DVStatusImages::isBlackAndWhite(which) ? 7.0 : 2.5),
                     qPrintable(QStringLiteral("%1 px: %2").arg(size).arg(contrast)));
            // Crisp: most drawn pixels are fully covered, not smeared edges.
            const int drawn = countPixels(rendered, [](QRgb p) { return qAlpha(p) > 0; });
            const int partial = countPixels(rendered, [](QRgb p) { return qAlpha(p) > 0 && qAlpha(p) < 200; });
            QVERIFY2(drawn > size * size / 5, qPrintable(QString::number(size)));
            QVERIFY2(partial * 3 < drawn, qPrintable(QStringLiteral("%1: %2 of %3").arg(size).arg(partial).arg(drawn)));
            // The warning is told by its amber badge in colour, and apart from the plain glyph in one colour.
            const bool warning = which == DVStatusImage::ColorWarning || which == DVStatusImage::BlackAndWhiteWarning;
            if (!DVStatusImages::isBlackAndWhite(which))
                QCOMPARE(countPixels(rendered, isAmber) > 0, warning);
            else if (warning)
                QVERIFY(rendered != DVStatusImages::render(DVStatusImage::BlackAndWhite, size, dark));
        }
    }

    void resourcesUnderTheirNames() {
        QTemporaryDir dir;
        QVERIFY(DVStatusImages::writeResources(dir.path()));
        for (DVStatusImage image : kImages) {
            const QString name = DVStatusImages::fileName(image);
            QCOMPARE(QImage(dir.filePath(name)).size(), QSize(32, 32));
            QCOMPARE(QImage(dir.filePath(QString(name).replace(".png", "@2x.png"))).size(), QSize(64, 64));
        }
        QCOMPARE(QImage(dir.filePath("FolderIcon.png")).size(), QSize(256, 256));
    }

    // With DV_SCREENSHOT_DIR set, the panels are saved for the documentation.
    void panelSheets() {
        const QString folder = qEnvironmentVariable("DV_SCREENSHOT_DIR");
        if (folder.isEmpty())
            QSKIP("DV_SCREENSHOT_DIR not set");
        QVERIFY(panelSheet(kLightPanel, false).save(folder + "/status-icons-light-panel.png"));
        QVERIFY(panelSheet(kDarkPanel, true).save(folder + "/status-icons-dark-panel.png"));
        QVERIFY(DVStatusImages::renderFolderIcon(128).save(folder + "/folder-icon.png"));
    }
};

DV_TEST_WIDGETS_MAIN(TestStatusImages)
#include "tst_statusimages.moc"
