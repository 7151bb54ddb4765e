// The single-instance guard's decision in a second copy, in microseconds.
//   guard_bench [copies] [iterations]
// A first copy of this program is started and registers (limit 1). Then:
//  - "second copy": COPIES fresh processes of this program each time their one Loaded()
//    (open the block, check, and as surplus ask the first copy forward);
//  - "in process": the same decision repeated ITERATIONS times in this process, warm;
//  - "register":   Loaded() with limit 2, so that the copy registers (and then withdraws).
#include "components/adpInstanceControl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double Micro(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1000.0;
}

// Times one Loaded() of a fresh guard on a fresh window.
double TimeDecision(quint32 limit)
{
    QWidget window;
    TadpInstanceControl guard(&window);
    guard.setMaxInstances(limit);
    QElapsedTimer timer;
    timer.start();
    guard.Loaded();
    return Micro(timer);
}

void Report(const char *what, std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) { return samples[size_t(q * double(samples.size() - 1))]; };
    std::printf("%-12s n=%-5zu median %8.1f us   p10 %8.1f us   p90 %8.1f us\n", what, samples.size(), at(0.5),
                at(0.1), at(0.9));
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A desktop session has a runtime folder; without one Qt warns on every lookup.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid()) {
        QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    }
    QApplication app(argc, argv);
    const QStringList args = app.arguments();

    if (args.value(1) == QLatin1String("--hold")) {
        QWidget window;
        TadpInstanceControl guard(&window);
        guard.Loaded();
        std::printf("ready\n");
        std::fflush(stdout);
        // Serves the requests until the driver closes our input.
        QSocketNotifier input(0, QSocketNotifier::Read);
        QObject::connect(&input, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        return app.exec();
    }
    if (args.value(1) == QLatin1String("--second")) {
        std::printf("%.3f\n", TimeDecision(1));
        return 0;
    }

    const int copies = args.value(1, QStringLiteral("50")).toInt();
    const int iterations = args.value(2, QStringLiteral("2000")).toInt();

    QProcess first;
    first.start(app.applicationFilePath(), {QStringLiteral("--hold")});
    if (!first.waitForReadyRead(10000) || !first.readLine().startsWith("ready")) {
        std::fprintf(stderr, "the first copy did not start\n");
        return 1;
    }

    std::vector<double> second;
    for (int i = 0; i < copies; ++i) {
        QProcess copy;
        copy.start(app.applicationFilePath(), {QStringLiteral("--second")});
        if (copy.waitForFinished(10000))
            second.push_back(copy.readAllStandardOutput().trimmed().toDouble());
    }

    std::vector<double> warm, registering;
    for (int i = 0; i < iterations; ++i)
        warm.push_back(TimeDecision(1));
    for (int i = 0; i < iterations; ++i)
        registering.push_back(TimeDecision(2));

    first.closeWriteChannel();
    first.waitForFinished(5000);

    Report("second copy", second);
    Report("in process", warm);
    Report("register", registering);
    return 0;
}
