#include "platform/envstore.h"

#include "platform/atomicfile.h"

#include <QDir>
#include <QFile>

#include <systemd/sd-bus.h>

namespace platform {

namespace {

// The per-user store is the user service manager's environment.d folder; machine
// scope is the system-wide one. TAVROLOGIN_MACHINE_ENVIRONMENT_D moves the latter for tests.
QString StoreFolder(bool machineWide)
{
    if (machineWide) {
        const QByteArray over = qgetenv("TAVROLOGIN_MACHINE_ENVIRONMENT_D");
        return over.isEmpty() ? QStringLiteral("/etc/environment.d") : QFile::decodeName(over);
    }
    QByteArray config = qgetenv("XDG_CONFIG_HOME");
    if (config.isEmpty())
        return QDir::homePath() + QStringLiteral("/.config/environment.d");
    return QFile::decodeName(config) + QStringLiteral("/environment.d");
}

QString StoreFile(bool machineWide)
{
    return StoreFolder(machineWide) + QStringLiteral("/60-tavrologin.conf");
}

// The user manager's generator unquotes a double-quoted value ("\\", "\"", "\`" and "\$"
// lose their backslash) and then expands "$NAME" and "${...}" in the result; only "$$"
// survives that as one "$". A value is written quoted so that blanks, quotes and "="
// come back as they are.
QByteArray Quote(const QString &value)
{
    QByteArray out("\"");
    for (const char c : value.toUtf8()) {
        if (c == '$') {
            out.append("$$");
            continue;
        }
        if (c == '\\' || c == '"' || c == '`')
            out.append('\\');
        out.append(c);
    }
    out.append('"');
    return out;
}

// Rewrites the store with NAME set to VALUE (or removed when VALUE is null). Lines of
// other variables stay as they are; the file is replaced whole or not at all.
bool Rewrite(bool machineWide, const QString &name, const QString *value, bool createFolder)
{
    const QString folder = StoreFolder(machineWide);
    if (!QDir(folder).exists()) {
        if (!createFolder)
            return !value; // nothing stored, nothing to remove
        if (!QDir().mkpath(folder))
            return false;
    }
    const QString path = StoreFile(machineWide);
    QList<QByteArray> lines;
    QFile in(path);
    const bool exists = in.exists();
    if (!exists && !value)
        return true;
    if (exists) {
        if (!in.open(QIODevice::ReadOnly))
            return false;
        lines = in.readAll().split('\n');
        in.close();
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
    }
    const QByteArray prefix = name.toUtf8() + '=';
    bool replaced = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!lines[i].startsWith(prefix))
            continue;
        if (value && !replaced) {
            lines[i] = prefix + Quote(*value);
            replaced = true;
        } else {
            lines.removeAt(i--);
        }
    }
    if (value && !replaced)
        lines.append(prefix + Quote(*value));

    QByteArray bytes;
    for (const QByteArray &line : lines)
        bytes += line + '\n';
    return ReplaceFileContents(path, bytes);
}

} // namespace

void SetProcessVariable(const QString &name, const QString &value)
{
    qputenv(name.toLocal8Bit().constData(), value.toLocal8Bit());
}

void UnsetProcessVariable(const QString &name)
{
    qunsetenv(name.toLocal8Bit().constData());
}

QString EnvironmentValueProblem(const QString &value)
{
    // One variable per line, and the generator has no escape for control characters.
    for (const QChar c : value) {
        const QChar::Category kind = c.category();
        if (kind == QChar::Other_Control || kind == QChar::Separator_Line || kind == QChar::Separator_Paragraph)
            return QStringLiteral("the value holds a line break or control character");
    }
    if (!value.isValidUtf16())
        return QStringLiteral("the value is not valid text");
    return QString();
}

bool StoreEnvironmentVariable(bool machineWide, const QString &name, const QString &value)
{
    if (!EnvironmentValueProblem(value).isEmpty())
        return false;
    // The machine folder is the system's: never create it, as the registry key is never created.
    return Rewrite(machineWide, name, &value, !machineWide);
}

bool RemoveEnvironmentVariable(bool machineWide, const QString &name)
{
    return Rewrite(machineWide, name, nullptr, false);
}

void BroadcastEnvironmentChange(const QString &name, const QString *value)
{
    // Tell the running user service manager, when a session bus exists; best effort.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") && qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    // One call on a connection of its own, closed at once: no bus thread stays behind.
    sd_bus *bus = nullptr;
    if (sd_bus_open_user(&bus) < 0)
        return;
    const QByteArray assignment = (value ? name + QLatin1Char('=') + *value : name).toUtf8();
    sd_bus_set_method_call_timeout(bus, 5000000);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_call_method(bus, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                       "org.freedesktop.systemd1.Manager", value ? "SetEnvironment" : "UnsetEnvironment", &error,
                       nullptr, "as", 1, assignment.constData());
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
}

} // namespace platform
