#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// One release named by an update feed: an RSS <item> with sparkle:version (compared with the running
// version), sparkle:shortVersionString (shown to people) and a <link> to its download page.
struct AppcastItem {
    QString title;
    QString version;
    QString shortVersion;
    QUrl link;

    bool operator==(const AppcastItem&) const = default;
};

// Reading an update feed and comparing versions. Pure functions.
class Appcast {
public:
    // The usable items of an RSS feed, in feed order. A relative link is resolved against the feed's own
    // address. Items without a version or without an acceptable download link are skipped; the version
    // and short version may also come from the <enclosure>'s attributes. A document that is not RSS (or
    // not well-formed XML) gives nothing, with the reason.
    static std::optional<QList<AppcastItem>> parse(const QByteArray& xml, const QUrl& feedURL = QUrl(),
                                                   QString* problem = nullptr);

    // The item with the highest version, if any is newer than currentVersion.
    static std::optional<AppcastItem> newestItemNewerThan(const QList<AppcastItem>& items,
                                                          const QString& currentVersion);

    // Compares dotted versions part by part as numbers ("1.10" > "1.9", "1.0" == "1"). Within a part the
    // leading digits count first; a suffix marks a pre-release ("2b1" < "2") and suffixes compare as text
    // ("2a" < "2b"). Negative, zero or positive.
    static int compareVersions(const QString& a, const QString& b);

    // A download page we are willing to open: https, or http on a loopback host.
    static bool isAcceptableDownloadURL(const QUrl& url);
};
