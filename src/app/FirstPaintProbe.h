#pragma once

// Start-up benchmark hook, inert unless ACCTSET_BENCH_FIRST_PAINT=1: at the first paint of the
// watched window it prints the wall clock (ns since the epoch) and the peak resident memory, then
// quits. The benchmark driver took the clock just before starting the process.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QWidget>

class FirstPaintProbe : public QObject {
public:
    static void watch(QWidget* window) {
        const char* on = std::getenv("ACCTSET_BENCH_FIRST_PAINT");
        if (!on || std::strcmp(on, "1") != 0)
            return;
        window->installEventFilter(new FirstPaintProbe(window));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            std::printf("first-paint-ns %lld peak-kb %ld\n",
                        static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec, peakKb());
            std::fflush(stdout);
            QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                      Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    using QObject::QObject;

    static long peakKb() {
        std::FILE* f = std::fopen("/proc/self/status", "r");
        if (!f)
            return -1;
        char line[256];
        long kb = -1;
        while (std::fgets(line, sizeof line, f)) {
            if (std::strncmp(line, "VmHWM:", 6) == 0) {
                kb = std::strtol(line + 6, nullptr, 10);
                break;
            }
        }
        std::fclose(f);
        return kb;
    }

    bool seen_ = false;
};
