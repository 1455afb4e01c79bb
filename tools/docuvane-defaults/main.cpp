// docuvane-defaults: reads and writes the client's settings from a shell, the way the "defaults" command
// does on other systems. It goes through UserDefaults, so it obeys the same file locations and rules.

#include "DVPasswordCipher.h"
#include "DocuvaneFetchIdentity.h"
#include "PropertyList.h"
#include "UserDefaults.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace {

const char kUsage[] = "usage:\n"
                      "  docuvane-defaults read <domain> [<key>]\n"
                      "  docuvane-defaults write <domain> <key> [-string|-int|-float|-bool|-data] <value>\n"
                      "  docuvane-defaults write <domain> <key> -password <text>|-\n"
                      "  docuvane-defaults delete <domain> [<key>]\n"
                      "\n"
                      "Settings live in $XDG_CONFIG_HOME/docuvane/<domain>.plist ($HOME/.config when unset).\n"
                      "read prints strings as they are, numbers in decimal, booleans as 1 or 0, data as\n"
                      "<lowercase hex> and a whole domain as its property list. -bool takes YES, NO, true,\n"
                      "false, 1 or 0; -data takes hex; -password stores the text enciphered, as data, and\n"
                      "with - reads it from the first line of standard input, so that it never stands in a\n"
                      "command line that other users can read.\n";

enum ExitStatus { Success = 0, NotFound = 1, Usage = 2 };

int usage(const QString& problem = QString()) {
    if (!problem.isEmpty())
        std::fprintf(stderr, "docuvane-defaults: %s\n", qPrintable(problem));
    std::fputs(kUsage, stderr);
    return Usage;
}

int notFound(const QString& message) {
    std::fprintf(stderr, "docuvane-defaults: %s\n", qPrintable(message));
    return NotFound;
}

void printLine(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    std::fwrite(utf8.constData(), 1, static_cast<size_t>(utf8.size()), stdout);
    std::fputc('\n', stdout);
}

// A domain names a file in the settings folder: no path separators, nothing hidden.
bool isValidDomainName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_.-]*$"));
    return pattern.match(name).hasMatch();
}

QString describe(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::LongLong:
    case QMetaType::Int:
        return QString::number(value.toLongLong());
    case QMetaType::Double:
        return QString::number(value.toDouble(), 'g', 15);
    case QMetaType::QByteArray:
        return QLatin1Char('<') + QString::fromLatin1(value.toByteArray().toHex()) + QLatin1Char('>');
    case QMetaType::QString:
        return value.toString();
    default:
        return QString::fromUtf8(PropertyList::toXml(value)).trimmed();
    }
}

std::optional<QVariant> parseValue(const QString& type, const QString& text) {
    if (type == QLatin1String("-string"))
        return QVariant(text);
    if (type == QLatin1String("-int")) {
        bool ok = false;
        const qint64 value = text.toLongLong(&ok);
        return ok ? std::optional<QVariant>(QVariant::fromValue(value)) : std::nullopt;
    }
    if (type == QLatin1String("-float")) {
        bool ok = false;
        const double value = text.toDouble(&ok);
        return ok ? std::optional<QVariant>(value) : std::nullopt;
    }
    if (type == QLatin1String("-bool")) {
        const QString word = text.toLower();
        if (word == QLatin1String("yes") || word == QLatin1String("true") || word == QLatin1String("1"))
            return QVariant(true);
        if (word == QLatin1String("no") || word == QLatin1String("false") || word == QLatin1String("0"))
            return QVariant(false);
        return std::nullopt;
    }
    if (type == QLatin1String("-data")) {
        static const QRegularExpression hex(QStringLiteral("^([0-9A-Fa-f]{2})*$"));
        if (!hex.match(text).hasMatch())
            return std::nullopt;
        return QVariant(QByteArray::fromHex(text.toLatin1()));
    }
    if (type == QLatin1String("-password")) {
        const QByteArray stored = encryptPassword(text);
        return stored.isNull() ? std::nullopt : std::optional<QVariant>(stored);
    }
    return std::nullopt;
}

// The first line of standard input, without its line end.
QString firstInputLine() {
    QByteArray line;
    for (int c; (c = std::getchar()) != EOF && c != '\n';)
        line.append(char(c));
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromLocal8Bit(line);
}

int read(const QStringList& args) {
    if (args.size() < 1 || args.size() > 2)
        return usage();
    const QString& domain = args[0];
    if (!isValidDomainName(domain))
        return usage(QStringLiteral("not a domain name: %1").arg(domain));
    const UserDefaults defaults(domain);
    const std::optional<QVariantMap> content = defaults.persistentDomainForName(domain);
    if (!content)
        return notFound(QStringLiteral("Domain %1 does not exist").arg(domain));
    if (args.size() == 1) {
        std::fputs(PropertyList::toXml(*content).constData(), stdout);
        return Success;
    }
    const QString& key = args[1];
    if (!content->contains(key))
        return notFound(QStringLiteral("The domain/default pair of (%1, %2) does not exist").arg(domain, key));
    printLine(describe(content->value(key)));
    return Success;
}

int write(const QStringList& args) {
    if (args.size() != 3 && args.size() != 4)
        return usage();
    const QString& domain = args[0];
    if (!isValidDomainName(domain))
        return usage(QStringLiteral("not a domain name: %1").arg(domain));
    const QString& key = args[1];
    const QString type = args.size() == 4 ? args[2] : QStringLiteral("-string");
    const QString text =
        type == QLatin1String("-password") && args.back() == QLatin1String("-") ? firstInputLine() : args.back();
    const std::optional<QVariant> value = parseValue(type, text);
    if (!value)
        return usage(QStringLiteral("cannot store \"%1\" as %2").arg(text, type));
    UserDefaults defaults(domain);
    defaults.setValue(*value, key);
    if (!defaults.synchronize()) {
        std::fprintf(stderr, "docuvane-defaults: could not write %s\n", qPrintable(defaults.filePath()));
        return NotFound;
    }
    return Success;
}

int remove(const QStringList& args) {
    if (args.size() < 1 || args.size() > 2)
        return usage();
    const QString& domain = args[0];
    if (!isValidDomainName(domain))
        return usage(QStringLiteral("not a domain name: %1").arg(domain));
    UserDefaults defaults(domain);
    const std::optional<QVariantMap> content = defaults.persistentDomainForName(domain);
    if (!content)
        return notFound(QStringLiteral("Domain %1 does not exist").arg(domain));
    if (args.size() == 1) {
        defaults.removePersistentDomainForName(domain);
        return Success;
    }
    if (!content->contains(args[1]))
        return notFound(QStringLiteral("The domain/default pair of (%1, %2) does not exist").arg(domain, args[1]));
    defaults.removeObjectForKey(args[1]);
    return defaults.synchronize() ? Success : NotFound;
}

} // namespace

int main(int argc, char** argv) {
    DocuvaneFetchIdentity::install();
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage();
    const QString verb = args.takeFirst();
    if (verb == QLatin1String("--help") || verb == QLatin1String("-h")) {
        std::fputs(kUsage, stdout);
        return Success;
    }
    if (verb == QLatin1String("read"))
        return read(args);
    if (verb == QLatin1String("write"))
        return write(args);
    if (verb == QLatin1String("delete"))
        return remove(args);
    return usage(QStringLiteral("unknown command: %1").arg(verb));
}
