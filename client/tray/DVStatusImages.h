#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

// The status item's four images and the fetch folder's icon, drawn by our own code so that they are crisp
// at every tray size (16, 22, 24, 32 px and their HiDPI doubles).
//
// The black-and-white images are glyphs in one colour. Trays do not tint icons for us, so the glyph is
// drawn light on a dark panel and dark on a light one.
enum class DVStatusImage {
    BlackAndWhite,        // "Docuvane Desktop Status Bar Icon BW.png"
    Color,                // "Docuvane Desktop Status Bar Icon Color.png"
    BlackAndWhiteWarning, // "Docuvane Desktop Status Bar BW WARNING.png"
    ColorWarning,         // "Docuvane Desktop Status Bar Color WARNING.png"
};

class DVStatusImages {
public:
    // Which image the state and the black-and-white wish call for.
    static DVStatusImage imageFor(bool enabled, bool blackAndWhite);
    // The resource name of an image.
    static QString fileName(DVStatusImage image);
    static bool isBlackAndWhite(DVStatusImage image);

    // The icon for a state (state 1 is enabled), with every tray size. A dark panel always gets the
    // black-and-white image, drawn light; a light panel gets it (drawn dark) when blackAndWhite is wanted.
    // Artwork under the image's file name (and its "@2x" double) in artworkFolder replaces the drawing;
    // its one-colour images are taken as masks and coloured for the panel, like the drawn ones.
    static QIcon image(bool enabled, bool blackAndWhite, bool darkPanel,
                       const QString& artworkFolder = bundleArtworkFolder());
    static QIcon icon(DVStatusImage image, bool darkPanel);
    // The main bundle's resources folder.
    static QString bundleArtworkFolder();

    // One image at a size in device pixels, transparent around the drawing.
    static QImage render(DVStatusImage image, int pixels, bool darkPanel);
    // The fetch folder's icon at a size in device pixels.
    static QImage renderFolderIcon(int pixels);
    static QString folderIconFileName() { return QStringLiteral("FolderIcon.png"); }

    // Writes the four images (at 32 px, with "@2x" doubles) and the folder icon (256 px) into a folder.
    static bool writeResources(const QString& folder);

    static const QList<int>& traySizes();
};
