#include "DesktopEntry.h"

QHash<QString, QString> DesktopEntry::parse(const QByteArray& text) {
    QHash<QString, QString> keys;
    bool inMainGroup = false;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inMainGroup || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        if (!keys.contains(key))
            keys.insert(key, unescapeValue(line.mid(equals + 1).trimmed()));
    }
    return keys;
}

QString DesktopEntry::escapeValue(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString DesktopEntry::unescapeValue(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value[++i];
        switch (next.unicode()) {
        case 's':
            out += QLatin1Char(' ');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        case '\\':
            out += QLatin1Char('\\');
            break;
        default:
            // Not a string escape: it belongs to the next layer (an Exec argument's quoting).
            out += c;
            out += next;
        }
    }
    return out;
}

QString DesktopEntry::quoteExecArgument(const QString& argument) {
    QString out = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += c;
        if (c == QLatin1Char('%'))
            out += c;
    }
    out += QLatin1Char('"');
    return out;
}

QStringList DesktopEntry::execArguments(const QString& exec) {
    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    bool fieldCodeOnly = true; // an argument that was nothing but field codes is dropped
    const auto finish = [&] {
        if (inArgument && !(fieldCodeOnly && current.isEmpty()))
            arguments.append(current);
        current.clear();
        inArgument = false;
        fieldCodeOnly = true;
    };
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (!quoted && (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n'))) {
            finish();
            continue;
        }
        inArgument = true;
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            fieldCodeOnly = false;
        } else if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
            current += exec[++i];
            fieldCodeOnly = false;
        } else if (c == QLatin1Char('%') && i + 1 < exec.size()) {
            const QChar code = exec[++i];
            if (code == QLatin1Char('%')) {
                current += code;
                fieldCodeOnly = false;
            }
        } else {
            current += c;
            fieldCodeOnly = false;
        }
    }
    finish();
    return arguments;
}
