#include "DevServerOptions.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>

namespace {

bool takesValue(const QString& name) {
    static const QStringList names{
        QStringLiteral("--documents"),   QStringLiteral("--user"),           QStringLiteral("--password"),
        QStringLiteral("--port"),        QStringLiteral("--destination-id"), QStringLiteral("--ticket-ttl"),
        QStringLiteral("--request-log"), QStringLiteral("--state"),          QStringLiteral("--appcast-version")};
    return names.contains(name);
}

bool fail(QString* problem, const QString& text) {
    if (problem)
        *problem = text;
    return false;
}

bool apply(DevServerOptions& options, const QString& name, const QString& value, QString* problem) {
    if (name == QLatin1String("--documents")) {
        options.documentsFolder = value;
    } else if (name == QLatin1String("--user")) {
        if (value.isEmpty())
            return fail(problem, QStringLiteral("--user must not be empty"));
        options.user = value;
    } else if (name == QLatin1String("--password")) {
        options.password = value;
    } else if (name == QLatin1String("--port")) {
        bool ok = false;
        const int port = value.toInt(&ok);
        if (!ok || port < 0 || port > 65535)
            return fail(problem, QStringLiteral("--port takes a number from 0 to 65535, not \"%1\"").arg(value));
        options.port = port;
    } else if (name == QLatin1String("--destination-id")) {
        bool ok = false;
        options.destinationId = value.toLongLong(&ok);
        if (!ok)
            return fail(problem, QStringLiteral("--destination-id takes a whole number, not \"%1\"").arg(value));
    } else if (name == QLatin1String("--ticket-ttl")) {
        bool ok = false;
        const double seconds = value.toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds <= 0)
            return fail(problem,
                        QStringLiteral("--ticket-ttl takes a positive number of seconds, not \"%1\"").arg(value));
        options.ticketTtlSeconds = seconds;
    } else if (name == QLatin1String("--request-log")) {
        if (value.isEmpty())
            return fail(problem, QStringLiteral("--request-log needs a file name"));
        options.requestLogPath = value;
    } else if (name == QLatin1String("--appcast-version")) {
        static const QRegularExpression version(QStringLiteral("^[0-9A-Za-z][0-9A-Za-z.+_-]{0,39}$"));
        if (!version.match(value).hasMatch())
            return fail(problem,
                        QStringLiteral("--appcast-version takes a version such as 1.2.3, not \"%1\"").arg(value));
        options.appcastVersion = value;
    } else if (name == QLatin1String("--state")) {
        if (value.isEmpty())
            return fail(problem, QStringLiteral("--state needs a file name"));
        options.statePath = value;
    }
    return true;
}

bool checkFolderOf(const QString& option, const QString& file, QString* problem) {
    const QFileInfo folder(QFileInfo(file).absolutePath());
    if (!folder.isDir())
        return fail(problem, QStringLiteral("%1: the folder %2 does not exist").arg(option, folder.filePath()));
    if (QFileInfo(file).isDir())
        return fail(problem, QStringLiteral("%1: %2 is a folder, not a file").arg(option, file));
    return true;
}

} // namespace

std::optional<DevServerOptions> DevServerOptions::parse(const QStringList& arguments, QString* problem) {
    DevServerOptions options;
    QStringList seen;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        QString value;
        bool inlineValue = false;
        if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
            options.helpRequested = true;
            return options;
        }
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        if (name.startsWith(QLatin1String("--")) && equals > 0) {
            value = name.mid(equals + 1);
            name = name.left(equals);
            inlineValue = true;
        }
        if (!takesValue(name)) {
            fail(problem, QStringLiteral("unknown argument \"%1\"").arg(arguments[i]));
            return std::nullopt;
        }
        if (seen.contains(name)) {
            fail(problem, QStringLiteral("%1 is given twice").arg(name));
            return std::nullopt;
        }
        seen.append(name);
        if (!inlineValue) {
            if (i + 1 >= arguments.size()) {
                fail(problem, QStringLiteral("%1 needs a value").arg(name));
                return std::nullopt;
            }
            value = arguments[++i];
        }
        if (!apply(options, name, value, problem))
            return std::nullopt;
    }

    for (const char* required : {"--documents", "--user", "--password"}) {
        if (!seen.contains(QLatin1String(required))) {
            fail(problem, QStringLiteral("%1 is required").arg(QLatin1String(required)));
            return std::nullopt;
        }
    }
    if (!QFileInfo(options.documentsFolder).isDir()) {
        fail(problem, QStringLiteral("--documents: %1 is not a folder").arg(options.documentsFolder));
        return std::nullopt;
    }
    if (!options.statePath.isEmpty() && !checkFolderOf(QStringLiteral("--state"), options.statePath, problem))
        return std::nullopt;
    if (!options.requestLogPath.isEmpty() &&
        !checkFolderOf(QStringLiteral("--request-log"), options.requestLogPath, problem))
        return std::nullopt;
    return options;
}

QString DevServerOptions::usage() {
    return QStringLiteral(
        "usage: docuvane-devserver --documents DIR --user EMAIL --password PASSWORD [--port N]\n"
        "                          [--destination-id N] [--ticket-ttl SECONDS] [--request-log FILE]\n"
        "                          [--state FILE] [--appcast-version V]\n"
        "\n"
        "A development stand-in for the Docuvane document service on 127.0.0.1.\n"
        "\n"
        "  --documents DIR        every file under DIR waits for transfer; a file's folder relative to DIR is\n"
        "                         its \"path\" (\"Inbox\" for files directly in DIR); hidden files are skipped\n"
        "  --user, --password     the one account's e-mail address and password\n"
        "  --port N               port to listen on; 0 (the default) takes a free one\n"
        "  --destination-id N     the account's delivery destination (default 2, the desktop client)\n"
        "  --ticket-ttl SECONDS   session tickets expire this long after login (default: never)\n"
        "  --request-log FILE     append one JSON object per request: method, path with query, body\n"
        "  --state FILE           keep document ids and transferred marks in FILE across restarts\n"
        "  --appcast-version V    serve an update feed at /appcast.xml naming version V, whose download\n"
        "                         page is /download on this server\n"
        "\n"
        "The first line on standard output is \"listening on http://127.0.0.1:<port>\".\n"
        "Control endpoint (not written to the request log):\n"
        "  POST   /devserver/faults   {\"op\":\"download\",\"fault\":\"drop\",\"count\":2} or an array of such;\n"
        "                             fault: drop, http500, stall (\"seconds\"), invalid-utf8, non-json,\n"
        "                             exception (\"text\"), truncate; op: an operation name or \"*\"\n"
        "  GET    /devserver/faults   the faults still pending\n"
        "  DELETE /devserver/faults   forget all pending faults\n"
        "  POST   /devserver/expire-tickets   every ticket issued so far expires now\n"
        "\n"
        "Exit status: 0 after SIGTERM or SIGINT, 1 when it cannot listen, 2 for a bad command line or an\n"
        "unreadable state file.\n");
}
