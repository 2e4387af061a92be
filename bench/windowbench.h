#pragma once

// What the benchmarks that drive the real window share.

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// Sleeps in the event loop: a loop of processEvents would spin and be measured as the window's.
inline void runFor(qint64 ms)
{
    QEventLoop loop;
    QTimer::singleShot(int(ms), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// A box (the port failed to open, say) would wait for a user who is not there: it is printed and
// the benchmark ends with status 2.
inline void exitOnBox(QTimer &watch, QObject *context, const char *bench)
{
    QObject::connect(&watch, &QTimer::timeout, context, [bench] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            std::printf("%s: the window says: %s\n", bench, qPrintable(box->text()));
            std::fflush(stdout);
            std::_Exit(2);
        }
    });
    watch.start(500);
}

// The user answers OK to every confirmation.
inline void answerConfirmations(QTimer &answerer, QObject *context)
{
    QObject::connect(&answerer, &QTimer::timeout, context, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            box->button(QMessageBox::Ok)->click();
    });
    answerer.start(10);
}

// The times at which a file grew to each of its first count bytes, seen through inotify.
inline void watchGrowth(const QByteArray &path, qsizetype count,
                        std::vector<std::chrono::steady_clock::time_point> &times,
                        const std::atomic<bool> &stop)
{
    const int in = inotify_init1(IN_CLOEXEC);
    if (in < 0 || inotify_add_watch(in, path.constData(), IN_MODIFY) < 0)
        return;
    while (!stop && qsizetype(times.size()) < count) {
        pollfd p{in, POLLIN, 0};
        if (::poll(&p, 1, 50) != 1)
            continue;
        char events[4096];
        if (::read(in, events, sizeof events) <= 0)
            break;
        struct stat st
        {
        };
        if (::stat(path.constData(), &st) == 0)
            while (qsizetype(times.size()) < std::min<qsizetype>(st.st_size, count))
                times.push_back(std::chrono::steady_clock::now());
    }
    ::close(in);
}
