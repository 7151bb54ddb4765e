// The user service manager's environment calls on the session bus, for the environment
// tests: prints "ready" once the name is taken, then one line per call received
// ("SetEnvironment A=1" or "UnsetEnvironment A"); ends when its standard input closes.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QObject>
#include <QStringList>

#include <cstdio>

#include "serveuntilclosed.h"

class UserManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.systemd1.Manager")
public slots:
    Q_SCRIPTABLE void SetEnvironment(const QStringList &assignments) { Say("SetEnvironment", assignments); }
    Q_SCRIPTABLE void UnsetEnvironment(const QStringList &names) { Say("UnsetEnvironment", names); }

private:
    static void Say(const char *call, const QStringList &args)
    {
        std::printf("%s %s\n", call, args.join(QLatin1Char('|')).toUtf8().constData());
        std::fflush(stdout);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    UserManager manager;
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/systemd1"), &manager, QDBusConnection::ExportScriptableSlots)
        || !bus.registerService(QStringLiteral("org.freedesktop.systemd1")))
        return 1;
    return ServeUntilInputCloses();
}

#include "usermanager.moc"
