#include "DVException.h"

#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QtDebug>

#include <dlfcn.h>
#include <execinfo.h>

#include <mutex>

namespace {

constexpr int kMaxFrames = 64;
const QString kStackTraceKey = QStringLiteral("NSStackTraceKey");

std::mutex g_toolMutex;
QString g_symbolTool = QStringLiteral("/usr/bin/addr2line");

QString captureStack() {
    void* frames[kMaxFrames];
    const int count = ::backtrace(frames, kMaxFrames);
    QStringList addresses;
    // Frame 0 is this function and frame 1 the constructor: start at the code that made the exception.
    for (int i = 2; i < count; ++i)
        addresses.append(QStringLiteral("0x%1").arg(reinterpret_cast<quintptr>(frames[i]), 0, 16));
    return addresses.join(QLatin1Char(' '));
}

struct ModuleAddress {
    QString module;
    quintptr offset = 0;
};

ModuleAddress locate(quintptr address) {
    Dl_info info{};
    // A return address points after the call; one byte back lies inside the calling line.
    if (::dladdr(reinterpret_cast<void*>(address - 1), &info) == 0 || !info.dli_fname)
        return {};
    return {QString::fromLocal8Bit(info.dli_fname), address - 1 - reinterpret_cast<quintptr>(info.dli_fbase)};
}

// Runs the symbol tool over one module's offsets; returns one "symbol (in module) (file:line)" line each.
QStringList symbolise(const QString& tool, const QString& module, const QList<quintptr>& offsets, bool& started) {
    QStringList arguments{QStringLiteral("-f"), QStringLiteral("-C"), QStringLiteral("-e"), module};
    for (quintptr offset : offsets)
        arguments.append(QStringLiteral("0x%1").arg(offset, 0, 16));
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForStarted()) {
        started = false;
        return {};
    }
    process.waitForFinished();
    const QStringList output = QString::fromLocal8Bit(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    const QString moduleName = QFileInfo(module).fileName();
    QStringList lines;
    for (qsizetype i = 0; i + 1 < output.size(); i += 2) {
        const QString& function = output[i];
        const QString& place = output[i + 1];
        lines.append(QStringLiteral("%1 (in %2) (%3)").arg(function, moduleName, place));
    }
    return lines;
}

} // namespace

DVException::DVException(QString name, QString reason, QVariantMap userInfo)
    : _name(std::move(name))
    , _reason(std::move(reason))
    , _userInfo(std::move(userInfo))
    , _what(_reason.toUtf8()) {
    if (!_userInfo.contains(kStackTraceKey))
        _userInfo.insert(kStackTraceKey, captureStack());
}

QString DVException::symbolToolPath() {
    std::lock_guard lock(g_toolMutex);
    return g_symbolTool;
}

void DVException::setSymbolToolPath(const QString& path) {
    std::lock_guard lock(g_toolMutex);
    g_symbolTool = path;
}

QString DVException::backtrace() const {
    const QVariant trace = _userInfo.value(kStackTraceKey);
    if (!trace.isValid())
        return QStringLiteral("No stack trace found");
    const QString tool = symbolToolPath();
    if (!QFileInfo::exists(tool)) {
        return QStringLiteral("<stackTrace>%1</stackTrace>").arg(trace.toString()) +
               QStringLiteral("  <error>I could not find \"%1\"</error>").arg(tool);
    }
    try {
        return prettyBacktrace(trace.toString());
    } catch (const std::exception& e) {
        qWarning().noquote() << QStringLiteral("Exception: %1").arg(QString::fromUtf8(e.what()));
        qWarning().noquote() << QStringLiteral("(%1)").arg(QStringLiteral("No stack trace found"));
        return QString(QLatin1String(""));
    }
}

QString DVException::prettyBacktrace(const QString& rawTrace) {
    const QString tool = symbolToolPath();
    // The tool wants module-relative addresses, so group the frames by module, keeping their order.
    QStringList moduleOrder;
    QMap<QString, QList<quintptr>> offsetsByModule;
    QList<std::pair<QString, qsizetype>> framePlaces;
    for (const QString& token : rawTrace.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        bool ok = false;
        const quintptr address = token.toULongLong(&ok, 16);
        const ModuleAddress where = ok ? locate(address) : ModuleAddress{};
        if (where.module.isEmpty())
            continue;
        if (!offsetsByModule.contains(where.module))
            moduleOrder.append(where.module);
        QList<quintptr>& offsets = offsetsByModule[where.module];
        framePlaces.append({where.module, offsets.size()});
        offsets.append(where.offset);
    }

    QMap<QString, QStringList> linesByModule;
    for (const QString& module : moduleOrder) {
        bool started = true;
        linesByModule.insert(module, symbolise(tool, module, offsetsByModule.value(module), started));
        if (!started)
            return rawTrace;
    }
    QStringList toolOutput;
    for (const auto& [module, index] : framePlaces)
        toolOutput.append(linesByModule.value(module).value(index));
    return formatSymbolLines(toolOutput.join(QLatin1Char('\n')));
}

QString DVException::formatSymbolLines(const QString& toolOutput) {
    QStringList lines;
    for (const QString& line : toolOutput.split(QLatin1Char('\n'))) {
        const QStringList pieces = line.split(QStringLiteral(" (in"));
        if (pieces.size() != 2)
            continue;
        const QString location = QStringLiteral("(in") + pieces[1];
        lines.append(location.rightJustified(48) + QStringLiteral("  ") + pieces[0]);
    }
    return QLatin1Char('\n') + lines.join(QLatin1Char('\n'));
}
