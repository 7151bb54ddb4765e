#pragma once

// The end of a helper that serves on the session bus: says "ready" on standard output,
// then serves until its standard input closes (the test that started it is done).
#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

inline int ServeUntilInputCloses()
{
    std::printf("ready\n");
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [] {
        char c;
        if (::read(STDIN_FILENO, &c, 1) <= 0)
            QCoreApplication::quit();
    });
    return QCoreApplication::exec();
}
