#include "DVStatusImages.h"

#include "Bundle.h"
#include "FileDescriptor.h"
#include "FileSystem.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

const QColor kBlue(0x1f, 0x6f, 0xd6);
const QColor kBlueLight(0x3d, 0x8b, 0xf2);
const QColor kGrey(0x6b, 0x75, 0x81);
const QColor kBadgeRim(0x3a, 0x3f, 0x46);
const QColor kAmber(0xff, 0xb3, 0x00);
const QColor kInk(0x20, 0x20, 0x20);
const QColor kGlyphOnLight(0x1e, 0x1e, 0x1e);
const QColor kGlyphOnDark(0xf2, 0xf2, 0xf2);

// Coordinates are given on a 32-unit grid and rounded to whole device pixels, so that edges stay sharp
// at the small tray sizes instead of smearing over two pixels.
struct Grid {
    double scale;
    double at(double units) const { return std::round(units * scale); }
    QPointF point(double x, double y) const { return {at(x), at(y)}; }
    QRectF rect(double x, double y, double w, double h) const {
        return QRectF(QPointF(at(x), at(y)), QPointF(at(x + w), at(y + h)));
    }
};

// The sheet of paper with its folded corner, and the down arrow that fetching means.
QPainterPath sheet(const Grid& g) {
    QPainterPath path;
    path.moveTo(g.point(7, 3));
    path.lineTo(g.point(19, 3));
    path.lineTo(g.point(25, 9));
    path.lineTo(g.point(25, 29));
    path.lineTo(g.point(7, 29));
    path.closeSubpath();
    return path;
}

QPainterPath arrow(const Grid& g) {
    QPainterPath path;
    path.addRect(g.rect(14, 10, 4, 8));
    QPainterPath head;
    head.moveTo(g.point(10, 17));
    head.lineTo(g.point(22, 17));
    head.lineTo(g.point(16, 24));
    head.closeSubpath();
    return path.united(head);
}

// The warning badge of the one-colour images: a disc with an exclamation mark in the lower right corner
// (a disc stays legible at 16 px where a triangle's point is lost).
QPainterPath badgeDisc(const Grid& g, double grow = 0) {
    QPainterPath path;
    path.addEllipse(QRectF(g.point(14 - grow, 14 - grow), g.point(32 + grow, 32 + grow)));
    return path;
}

// The warning badge of the colour images: a triangle with an exclamation mark.
QPainterPath badgeTriangle(const Grid& g, double grow = 0) {
    QPainterPath path;
    path.moveTo(g.point(23, 13 - grow * 1.6));
    path.lineTo(g.point(32 + grow, 31 + grow * 0.6));
    path.lineTo(g.point(14 - grow, 31 + grow * 0.6));
    path.closeSubpath();
    return path;
}

// Edges on even units, so that the bar and dot keep whole pixels and a gap between them at 16 px.
QPainterPath exclamation(const Grid& g, double left = 22, double top = 18) {
    QPainterPath path;
    path.addRect(g.rect(left, top, 3, 24 - top));
    path.addRect(g.rect(left, 26, 3, 3));
    return path;
}

void paint(QPainter& p, DVStatusImage image, int pixels, bool darkPanel) {
    const Grid g{pixels / 32.0};
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const bool warning = image == DVStatusImage::BlackAndWhiteWarning || image == DVStatusImage::ColorWarning;
    if (DVStatusImages::isBlackAndWhite(image)) {
        QPainterPath glyph;
        if (warning) {
            // The plain sheet with a clear margin around the badge: an arrow cut in two reads as noise.
            glyph = sheet(g).subtracted(badgeDisc(g, 2));
            glyph = glyph.united(badgeDisc(g).subtracted(exclamation(g, 21.5, 18)));
        } else {
            glyph = sheet(g).subtracted(arrow(g));
        }
        p.fillPath(glyph, darkPanel ? kGlyphOnDark : kGlyphOnLight);
        return;
    }
    // The colour images carry their own background, so they read on light and dark panels alike.
    QPainterPath tile;
    tile.addRoundedRect(g.rect(1, 1, 30, 30), g.at(7), g.at(7));
    QLinearGradient fill(0, 0, 0, pixels);
    fill.setColorAt(0, warning ? kGrey.lighter(115) : kBlueLight);
    fill.setColorAt(1, warning ? kGrey : kBlue);
    p.fillPath(tile, fill);
    const Grid inner{g.scale * 0.8};
    p.translate(g.at(3.2), g.at(3.2));
    p.fillPath(sheet(inner).subtracted(arrow(inner)), Qt::white);
    p.resetTransform();
    if (warning) {
        // A dark rim sets the badge apart from the tile and from a light panel.
        p.fillPath(badgeTriangle(g, 1.5), kBadgeRim);
        p.fillPath(badgeTriangle(g), kAmber);
        p.fillPath(exclamation(g), kInk);
    }
}

QString doubledName(const QString& name) {
    return QString(name).replace(QStringLiteral(".png"), QStringLiteral("@2x.png"));
}

// Tray artwork is a few kilobytes; anything past this is not meant for a 22-pixel slot.
constexpr qint64 kMaxArtworkBytes = 1024 * 1024;

// The supplied artwork for an image, or a null icon when the folder holds no readable file for it.
QIcon artwork(DVStatusImage image, bool darkPanel, const QString& folder) {
    QIcon icon;
    if (folder.isEmpty())
        return icon;
    const QString name = DVStatusImages::fileName(image);
    int error = 0;
    const FileDescriptor resources = FileSystem::openFolder(folder, &error);
    for (const QString& file : {name, doubledName(name)}) {
        // Only a regular file is read: a FIFO under the name would block the main thread.
        const FileDescriptor opened = FileSystem::openRegularFileAt(resources.get(), file, &error);
        QFile reader;
        if (!opened || !reader.open(opened.get(), QIODevice::ReadOnly) || reader.size() > kMaxArtworkBytes)
            continue;
        QImage picture = QImage::fromData(reader.readAll());
        if (picture.isNull())
            continue;
        if (DVStatusImages::isBlackAndWhite(image)) {
            // Trays do not tint template images: the panel's glyph colour is laid over the artwork's shape.
            picture = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            QPainter painter(&picture);
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(picture.rect(), darkPanel ? kGlyphOnDark : kGlyphOnLight);
        }
        icon.addPixmap(QPixmap::fromImage(picture));
    }
    return icon;
}

} // namespace

const QList<int>& DVStatusImages::traySizes() {
    static const QList<int> sizes{16, 22, 24, 32, 44, 48, 64};
    return sizes;
}

DVStatusImage DVStatusImages::imageFor(bool enabled, bool blackAndWhite) {
    if (enabled)
        return blackAndWhite ? DVStatusImage::BlackAndWhite : DVStatusImage::Color;
    return blackAndWhite ? DVStatusImage::BlackAndWhiteWarning : DVStatusImage::ColorWarning;
}

QString DVStatusImages::fileName(DVStatusImage image) {
    switch (image) {
    case DVStatusImage::BlackAndWhite:
        return QStringLiteral("Docuvane Desktop Status Bar Icon BW.png");
    case DVStatusImage::Color:
        return QStringLiteral("Docuvane Desktop Status Bar Icon Color.png");
    case DVStatusImage::BlackAndWhiteWarning:
        return QStringLiteral("Docuvane Desktop Status Bar BW WARNING.png");
    case DVStatusImage::ColorWarning:
        return QStringLiteral("Docuvane Desktop Status Bar Color WARNING.png");
    }
    return {};
}

bool DVStatusImages::isBlackAndWhite(DVStatusImage image) {
    return image == DVStatusImage::BlackAndWhite || image == DVStatusImage::BlackAndWhiteWarning;
}

QIcon DVStatusImages::image(bool enabled, bool blackAndWhite, bool darkPanel, const QString& artworkFolder) {
    // Colour images look out of place on a dark panel, so there the one-colour glyphs stand in as well.
    const DVStatusImage chosen = imageFor(enabled, blackAndWhite || darkPanel);
    const QIcon supplied = artwork(chosen, darkPanel, artworkFolder);
    return supplied.isNull() ? icon(chosen, darkPanel) : supplied;
}

QString DVStatusImages::bundleArtworkFolder() {
    return Bundle::mainBundle().resourcePath();
}

QIcon DVStatusImages::icon(DVStatusImage image, bool darkPanel) {
    QIcon icon;
    for (int size : traySizes())
        icon.addPixmap(QPixmap::fromImage(render(image, size, darkPanel)));
    return icon;
}

QImage DVStatusImages::render(DVStatusImage image, int pixels, bool darkPanel) {
    QImage result(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    paint(painter, image, pixels, darkPanel);
    return result;
}

QImage DVStatusImages::renderFolderIcon(int pixels) {
    QImage result(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    result.fill(Qt::transparent);
    QPainter p(&result);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const Grid g{pixels / 32.0};
    // A folder: the tab behind, the front panel, and the fetch glyph on it.
    QPainterPath back;
    back.setFillRule(Qt::WindingFill);
    back.addRoundedRect(g.rect(2, 5, 12, 6), g.at(1.5), g.at(1.5));
    back.addRoundedRect(g.rect(2, 8, 28, 20), g.at(2), g.at(2));
    p.fillPath(back, kBlue);
    QPainterPath front;
    front.addRoundedRect(g.rect(2, 11, 28, 18), g.at(2), g.at(2));
    QLinearGradient fill(0, g.at(11), 0, g.at(29));
    fill.setColorAt(0, kBlueLight.lighter(115));
    fill.setColorAt(1, kBlueLight);
    p.fillPath(front, fill);
    const Grid inner{g.scale * 0.5};
    p.translate(g.at(8), g.at(12.5));
    p.fillPath(sheet(inner).subtracted(arrow(inner)), Qt::white);
    return result;
}

bool DVStatusImages::writeResources(const QString& folder) {
    if (!QDir().mkpath(folder))
        return false;
    bool ok = true;
    for (DVStatusImage image : {DVStatusImage::BlackAndWhite, DVStatusImage::Color, DVStatusImage::BlackAndWhiteWarning,
                                DVStatusImage::ColorWarning}) {
        const QString name = fileName(image);
        const QString doubled = doubledName(name);
        // The stored black-and-white images are dark glyphs, as template images are; the client draws the
        // light variant itself on dark panels.
        ok = render(image, 32, false).save(QDir(folder).filePath(name)) && ok;
        ok = render(image, 64, false).save(QDir(folder).filePath(doubled)) && ok;
    }
    ok = renderFolderIcon(256).save(QDir(folder).filePath(folderIconFileName())) && ok;
    return ok;
}
