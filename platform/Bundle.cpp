#include "Bundle.h"

#include "PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString decodeStringsFile(const QByteArray& bytes) {
    // Tables are UTF-8, or UTF-16 with a byte-order mark as older tools wrote them.
    if (bytes.startsWith("\xff\xfe") || bytes.startsWith("\xfe\xff")) {
        auto decoder = QStringDecoder(QStringDecoder::Utf16);
        return decoder(bytes);
    }
    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

class StringsScanner {
public:
    explicit StringsScanner(const QString& text)
        : _text(text) {}

    QHash<QString, QString> entries() {
        QHash<QString, QString> table;
        for (;;) {
            skipSpaceAndComments();
            if (atEnd())
                break;
            QString key;
            QString value;
            if (!quoted(key))
                break;
            skipSpaceAndComments();
            if (!consume(QLatin1Char('=')))
                break;
            skipSpaceAndComments();
            if (!quoted(value))
                break;
            skipSpaceAndComments();
            if (!consume(QLatin1Char(';')))
                break;
            table.insert(key, value);
        }
        return table;
    }

private:
    bool atEnd() const { return _pos >= _text.size(); }
    QChar peek(qsizetype ahead = 0) const { return _pos + ahead < _text.size() ? _text[_pos + ahead] : QChar(); }

    bool consume(QChar c) {
        if (peek() != c)
            return false;
        ++_pos;
        return true;
    }

    void skipSpaceAndComments() {
        while (!atEnd()) {
            if (peek().isSpace()) {
                ++_pos;
            } else if (peek() == QLatin1Char('/') && peek(1) == QLatin1Char('/')) {
                while (!atEnd() && peek() != QLatin1Char('\n'))
                    ++_pos;
            } else if (peek() == QLatin1Char('/') && peek(1) == QLatin1Char('*')) {
                const qsizetype end = _text.indexOf(QStringLiteral("*/"), _pos + 2);
                _pos = end < 0 ? _text.size() : end + 2;
            } else {
                return;
            }
        }
    }

    bool quoted(QString& out) {
        if (!consume(QLatin1Char('"')))
            return false;
        while (!atEnd()) {
            const QChar c = _text[_pos++];
            if (c == QLatin1Char('"'))
                return true;
            if (c != QLatin1Char('\\')) {
                out.append(c);
                continue;
            }
            if (atEnd())
                return false;
            const QChar escaped = _text[_pos++];
            switch (escaped.unicode()) {
            case 'n':
                out.append(QLatin1Char('\n'));
                break;
            case 't':
                out.append(QLatin1Char('\t'));
                break;
            case 'r':
                out.append(QLatin1Char('\r'));
                break;
            default:
                out.append(escaped);
            }
        }
        return false;
    }

    const QString& _text;
    qsizetype _pos = 0;
};

} // namespace

Bundle::Bundle(const QString& bundlePath)
    : _bundlePath(QDir::cleanPath(bundlePath)) {
    if (const auto info = PropertyList::fromXml(readFile(contentsPath() + QStringLiteral("/Info.plist"))))
        _info = info->toMap();
    const QString strings = resourcePath() + QStringLiteral("/Localizable.strings");
    if (QFileInfo::exists(strings))
        _strings = parseStringsTable(decodeStringsFile(readFile(strings)));
}

const Bundle& Bundle::mainBundle() {
    static const Bundle bundle(
        bundlePathForExecutable(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()));
    return bundle;
}

QString Bundle::bundlePathForExecutable(const QString& executablePath) {
    return QDir::cleanPath(QFileInfo(executablePath).absolutePath() + QStringLiteral("/../.."));
}

QString Bundle::localizedString(const QString& key) const {
    return _strings.value(key, key);
}

QHash<QString, QString> Bundle::parseStringsTable(const QString& text) {
    return StringsScanner(text).entries();
}
