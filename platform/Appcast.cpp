#include "Appcast.h"

#include <QHostAddress>
#include <QXmlStreamReader>

namespace {

const QString kSparkleNamespace = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

// A version part: its leading digits as a number (no overflow: compared as digit strings) and the rest.
struct VersionPart {
    QString digits;
    QString rest;
};

VersionPart splitPart(const QString& part) {
    qsizetype digitsEnd = 0;
    while (digitsEnd < part.size() && part.at(digitsEnd).isDigit() && part.at(digitsEnd).unicode() < 128)
        ++digitsEnd;
    QString digits = part.left(digitsEnd);
    while (digits.size() > 1 && digits.startsWith(QLatin1Char('0')))
        digits.remove(0, 1);
    return {digits.isEmpty() ? QStringLiteral("0") : digits, part.mid(digitsEnd)};
}

int compareDigits(const QString& a, const QString& b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

// Reads one <item>, leaving the reader at its end tag.
AppcastItem readItem(QXmlStreamReader& xml) {
    AppcastItem item;
    while (xml.readNextStartElement()) {
        const bool sparkle = xml.namespaceUri() == kSparkleNamespace;
        const QStringView name = xml.name();
        if (!sparkle && name == QStringLiteral("title")) {
            item.title = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        } else if (!sparkle && name == QStringLiteral("link")) {
            item.link = QUrl(xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed(), QUrl::StrictMode);
        } else if (sparkle && name == QStringLiteral("version")) {
            item.version = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        } else if (sparkle && name == QStringLiteral("shortVersionString")) {
            item.shortVersion = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        } else if (!sparkle && name == QStringLiteral("enclosure")) {
            const QXmlStreamAttributes attributes = xml.attributes();
            if (item.version.isEmpty())
                item.version = attributes.value(kSparkleNamespace, QStringLiteral("version")).trimmed().toString();
            if (item.shortVersion.isEmpty())
                item.shortVersion =
                    attributes.value(kSparkleNamespace, QStringLiteral("shortVersionString")).trimmed().toString();
            xml.skipCurrentElement();
        } else {
            xml.skipCurrentElement();
        }
    }
    return item;
}

} // namespace

std::optional<QList<AppcastItem>> Appcast::parse(const QByteArray& data, const QUrl& feedURL, QString* problem) {
    const auto fail = [problem](const QString& reason) -> std::optional<QList<AppcastItem>> {
        if (problem)
            *problem = reason;
        return std::nullopt;
    };
    QXmlStreamReader xml(data);
    // A feed has no use for a document type; refusing one keeps entity tricks out altogether.
    while (!xml.atEnd() && xml.readNext() != QXmlStreamReader::StartElement) {
        if (xml.tokenType() == QXmlStreamReader::DTD)
            return fail(QStringLiteral("The update feed declares a document type."));
    }
    if (xml.tokenType() != QXmlStreamReader::StartElement || xml.name() != QStringLiteral("rss"))
        return fail(xml.hasError() ? xml.errorString() : QStringLiteral("The update feed is not an RSS feed."));
    QList<AppcastItem> items;
    bool sawChannel = false;
    while (xml.readNextStartElement()) {
        if (xml.name() != QStringLiteral("channel")) {
            xml.skipCurrentElement();
            continue;
        }
        sawChannel = true;
        while (xml.readNextStartElement()) {
            if (xml.name() != QStringLiteral("item")) {
                xml.skipCurrentElement();
                continue;
            }
            AppcastItem item = readItem(xml);
            if (!item.link.isEmpty() && item.link.isRelative() && feedURL.isValid())
                item.link = feedURL.resolved(item.link);
            if (item.shortVersion.isEmpty())
                item.shortVersion = item.version;
            if (!item.version.isEmpty() && isAcceptableDownloadURL(item.link))
                items.append(item);
        }
    }
    if (xml.hasError())
        return fail(xml.errorString());
    if (!sawChannel)
        return fail(QStringLiteral("The update feed has no channel."));
    return items;
}

std::optional<AppcastItem> Appcast::newestItemNewerThan(const QList<AppcastItem>& items,
                                                        const QString& currentVersion) {
    std::optional<AppcastItem> newest;
    for (const AppcastItem& item : items) {
        if (compareVersions(item.version, currentVersion) > 0 &&
            (!newest || compareVersions(item.version, newest->version) > 0))
            newest = item;
    }
    return newest;
}

int Appcast::compareVersions(const QString& a, const QString& b) {
    const QStringList left = a.trimmed().split(QLatin1Char('.'));
    const QStringList right = b.trimmed().split(QLatin1Char('.'));
    const qsizetype count = std::max(left.size(), right.size());
    for (qsizetype i = 0; i < count; ++i) {
        const VersionPart x = splitPart(i < left.size() ? left.at(i) : QString());
        const VersionPart y = splitPart(i < right.size() ? right.at(i) : QString());
        if (const int byNumber = compareDigits(x.digits, y.digits))
            return byNumber;
        // "2b" is a pre-release of "2": a part without a suffix is the higher one.
        if (x.rest.isEmpty() != y.rest.isEmpty())
            return x.rest.isEmpty() ? 1 : -1;
        if (const int byText = x.rest.compare(y.rest))
            return byText < 0 ? -1 : 1;
    }
    return 0;
}

bool Appcast::isAcceptableDownloadURL(const QUrl& url) {
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QStringLiteral("https"))
        return true;
    if (scheme != QStringLiteral("http"))
        return false;
    const QString host = url.host().toLower();
    if (host == QStringLiteral("localhost"))
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}
