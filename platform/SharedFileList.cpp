#include "SharedFileList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QUrl SharedFileList::fileURLWithPath(const QString& path) {
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (absolute != QStringLiteral("/") && QFileInfo(absolute).isDir())
        return QUrl::fromLocalFile(absolute + QLatin1Char('/'));
    return QUrl::fromLocalFile(absolute);
}

QUrl SharedFileList::resolve(const QString& path) {
    if (path.isEmpty() || !QFileInfo::exists(path))
        return QUrl();
    return fileURLWithPath(path);
}

QByteArray SharedFileList::uriForPath(const QString& path) {
    static const QByteArray kept = QByteArrayLiteral("-._~!$&'()*+,;=:@/");
    QByteArray uri = QByteArrayLiteral("file://");
    for (const char c : QFile::encodeName(path)) {
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || kept.contains(c);
        if (plain)
            uri += c;
        else
            uri += '%' + QByteArray::number(static_cast<uchar>(c), 16).rightJustified(2, '0').toUpper();
    }
    return uri;
}

QString SharedFileList::localPath(const QUrl& url) {
    if (!url.isValid() || url.scheme() != QStringLiteral("file"))
        return QString();
    const QString host = url.host();
    if (!host.isEmpty() && host != QStringLiteral("localhost"))
        return QString();
    const QString path = url.path(QUrl::FullyDecoded);
    return path.startsWith(QLatin1Char('/')) ? path : QString();
}
