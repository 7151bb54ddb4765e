// A desktop's idle-time service on the session bus, for the idle-time tests.
//   idleservice gnome|kde MILLISECONDS
// Prints "ready" once the name is taken; ends when its standard input closes.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QObject>

#include "serveuntilclosed.h"

class GnomeIdleMonitor : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Mutter.IdleMonitor")
public:
    quint64 idle = 0;
public slots:
    Q_SCRIPTABLE quint64 GetIdletime() { return idle; }
};

class KdeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    quint32 idle = 0;
public slots:
    Q_SCRIPTABLE quint32 GetSessionIdleTime() { return idle; }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3)
        return 2;
    QDBusConnection bus = QDBusConnection::sessionBus();
    GnomeIdleMonitor gnome;
    KdeScreenSaver kde;
    bool ok = false;
    if (args[1] == QLatin1String("gnome")) {
        gnome.idle = args[2].toULongLong();
        ok = bus.registerObject(QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"), &gnome, QDBusConnection::ExportScriptableSlots)
            && bus.registerService(QStringLiteral("org.gnome.Mutter.IdleMonitor"));
    } else {
        kde.idle = args[2].toUInt();
        ok = bus.registerObject(QStringLiteral("/ScreenSaver"), &kde, QDBusConnection::ExportScriptableSlots)
            && bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver"));
    }
    if (!ok)
        return 1;
    return ServeUntilInputCloses();
}

#include "idleservice.moc"
