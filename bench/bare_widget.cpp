// The baseline for login_bench startup: a bare Qt widget program that shows one window,
// then prints the monotonic time it was shown and the shared libraries it had loaded.
#include <QApplication>
#include <QFile>
#include <QSet>
#include <QWidget>
#include <cstdio>
#include <ctime>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(400, 300);
    window.show();
    QCoreApplication::processEvents();
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    QSet<QByteArray> libraries;
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (maps.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : maps.readAll().split('\n')) {
            const QByteArray path = line.mid(line.indexOf('/'));
            if (line.contains('/') && path.contains(".so"))
                libraries.insert(path);
        }
    }
    std::printf("%lld %lld\n", qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec, qint64(libraries.size()));
    return 0;
}
