#include "KdePlacesFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QXmlStreamReader>

namespace {

// Markup escaped; characters that XML does not allow at all (control characters other than tab and line
// ends, U+FFFE, U+FFFF), which a file name may hold, are left out: one would make KDE drop the whole file.
QString escaped(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&':
            out += QStringLiteral("&amp;");
            break;
        case '<':
            out += QStringLiteral("&lt;");
            break;
        case '>':
            out += QStringLiteral("&gt;");
            break;
        case '"':
            out += QStringLiteral("&quot;");
            break;
        case '\t':
        case '\n':
        case '\r':
            out += c;
            break;
        default:
            if (c.unicode() >= 0x20 && c.unicode() != 0xfffe && c.unicode() != 0xffff)
                out += c;
        }
    }
    return out;
}

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

} // namespace

KdePlacesFile::KdePlacesFile(QString path)
    : _path(std::move(path)) {}

bool KdePlacesFile::load() {
    _exists = false;
    _text.clear();
    _bookmarks.clear();
    _entries.clear();
    _rootEndTag = -1;
    QFile file(_path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QString text = QString::fromUtf8(file.readAll());
    if (file.error() != QFileDevice::NoError)
        return false;

    // The reader's offsets are exact only at the end of a tag; a tag's start is the '<' before that
    // (attribute values cannot hold a literal '<').
    QXmlStreamReader reader(text);
    int depth = 0;
    qsizetype rootStartTagEnd = -1;
    qsizetype openBookmark = -1;
    QList<Range> bookmarks;
    QList<Entry> entries;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        const qsizetype offset = reader.characterOffset();
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            if (depth == 1) {
                if (reader.name() != QStringLiteral("xbel"))
                    return false;
                rootStartTagEnd = offset;
            } else if (depth == 2 && reader.name() == QStringLiteral("bookmark")) {
                openBookmark = text.lastIndexOf(QLatin1Char('<'), offset - 1);
                const QString path =
                    localPath(QUrl::fromEncoded(reader.attributes().value(QStringLiteral("href")).toUtf8()));
                entries.append({resolve(path), path});
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (depth == 2 && openBookmark >= 0) {
                bookmarks.append({openBookmark, offset});
                openBookmark = -1;
            } else if (depth == 1 && offset != rootStartTagEnd) {
                _rootEndTag = text.lastIndexOf(QLatin1Char('<'), offset - 1);
            }
            --depth;
        }
    }
    if (reader.hasError() || rootStartTagEnd < 0)
        return false;

    _exists = true;
    _text = text;
    _bookmarks = bookmarks;
    _entries = entries;
    return true;
}

void KdePlacesFile::insertAtFront(const QUrl& url) {
    const QString path = localPath(url);
    if (!_exists || resolve(path).isEmpty())
        return;

    qsizetype at;
    QString indent;
    if (!_bookmarks.isEmpty()) {
        at = _bookmarks.first().begin;
        qsizetype lineStart = at;
        while (lineStart > 0 && isBlank(_text[lineStart - 1]))
            --lineStart;
        if (lineStart == 0 || _text[lineStart - 1] == QLatin1Char('\n'))
            indent = _text.mid(lineStart, at - lineStart);
    } else if (_rootEndTag >= 0) {
        at = _rootEndTag;
        indent = QStringLiteral(" ");
    } else {
        return; // "<xbel/>": nothing to insert into without rewriting KDE's own markup
    }

    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QString href = QString::fromLatin1(uriForPath(clean));
    QString element = QStringLiteral("<bookmark href=\"%1\">\n%2 <title>%3</title>\n%2</bookmark>\n")
                          .arg(escaped(href), indent, escaped(QFileInfo(clean).fileName()));
    if (_bookmarks.isEmpty())
        element.prepend(indent);
    else
        element.append(indent);
    _text.insert(at, element);
    save();
}

void KdePlacesFile::removeEntryAt(qsizetype index) {
    if (!_exists || index < 0 || index >= _bookmarks.size())
        return;
    qsizetype begin = _bookmarks[index].begin;
    qsizetype end = _bookmarks[index].end;
    // An element alone on its lines takes its lines with it.
    qsizetype lineStart = begin;
    while (lineStart > 0 && isBlank(_text[lineStart - 1]))
        --lineStart;
    qsizetype lineEnd = end;
    while (lineEnd < _text.size() && isBlank(_text[lineEnd]))
        ++lineEnd;
    if ((lineStart == 0 || _text[lineStart - 1] == QLatin1Char('\n')) && lineEnd < _text.size() &&
        _text[lineEnd] == QLatin1Char('\n')) {
        begin = lineStart;
        end = lineEnd + 1;
    }
    _text.remove(begin, end - begin);
    save();
}

void KdePlacesFile::save() const {
    QSaveFile file(_path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(_text.toUtf8());
    file.commit();
}
