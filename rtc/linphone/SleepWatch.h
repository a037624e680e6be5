// Tells the engine when the machine has woken from sleep, long enough for a home router to have
// forgotten the phone's binding. The desktop says so on the system bus (logind's
// PrepareForSleep(false) on resume); where there is no logind (or no system bus), a timer that
// fires much later than it was due tells the same: CLOCK_BOOTTIME counts the time asleep,
// whether the machine was suspended (CLOCK_MONOTONIC stops) or the process stopped.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

namespace rtc::lin {

class SleepWatch : public QObject {
    Q_OBJECT
public:
    // `woke` runs on the UI thread with the time spent asleep, in milliseconds.
    explicit SleepWatch(std::function<void(qint64)> woke);

    // Milliseconds of CLOCK_BOOTTIME.
    static qint64 bootMs();

private Q_SLOTS:
    void prepareForSleep(bool sleeping);

private:
    void tick();

    std::function<void(qint64)> woke_;
    QTimer timer_;
    qint64 lastTick_ = 0;
    qint64 asleepSince_ = -1;
};

} // namespace rtc::lin
