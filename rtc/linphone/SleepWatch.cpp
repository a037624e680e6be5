#include "rtc/linphone/SleepWatch.h"

#include <QDBusConnection>
#include <QLoggingCategory>

#include <ctime>

Q_LOGGING_CATEGORY(lcSleepWatch, "orvane.network", QtWarningMsg)

namespace rtc::lin {

namespace {

constexpr int kTickMs = 5000;
// Later than this past its due time, the timer slept: by then a binding kept by keep-alives
// every 15 s may be gone.
constexpr qint64 kLateMs = 10000;

} // namespace

qint64 SleepWatch::bootMs() {
    timespec ts = {};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<qint64>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

SleepWatch::SleepWatch(std::function<void(qint64)> woke) : woke_(std::move(woke)) {
    lastTick_ = bootMs();
    timer_.setInterval(kTickMs);
    // A coarse timer may be merged with others' wake-ups: it is only ever compared with 10 s.
    timer_.setTimerType(Qt::VeryCoarseTimer);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
    timer_.start();
    QDBusConnection bus = QDBusConnection::systemBus();
    const bool logind =
        bus.isConnected() &&
        bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                    QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                    SLOT(prepareForSleep(bool)));
    qCInfo(lcSleepWatch, "sleep noticed %s",
           logind ? "from logind and from late timers" : "from late timers");
}

void SleepWatch::prepareForSleep(bool sleeping) {
    if (sleeping) {
        asleepSince_ = bootMs();
        return;
    }
    const qint64 now = bootMs();
    const qint64 asleep = asleepSince_ >= 0 ? now - asleepSince_ : 0;
    asleepSince_ = -1;
    lastTick_ = now; // the late timer must not report the same sleep again
    woke_(asleep);
}

void SleepWatch::tick() {
    const qint64 now = bootMs();
    const qint64 late = now - lastTick_ - kTickMs;
    lastTick_ = now;
    if (late > kLateMs && asleepSince_ < 0)
        woke_(late);
}

} // namespace rtc::lin
